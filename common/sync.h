#pragma once
// The provider's lock classes. CSync is the common interface; CCritSec locks
// the threads of one process, CMtx all processes through a named mutex.
// ScopedLock holds a CSync and counts how often it took it, so that code
// that waits can hand its caller's lock back for the wait and retake it.
//
// CCritSec also serves a thread that must never block on it (because the
// holder may be waiting for that very thread): TryLockUntil tries the lock
// and, while another thread holds it, sleeps until the holder's last Unlock
// wakes it, instead of polling.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/critical_section.h"
#include "platform/wait.h"

namespace platform {
class NamedMutex;
}

class CSync {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual ~CSync() = default;
};

class CCritSec : public CSync {
 public:
  void Lock() override;
  void Unlock() override;
  // Takes the lock when it is free (or already held by this thread); never waits.
  bool TryLock();
  // Takes the lock without ever blocking on it: tries, and while another
  // thread holds it waits for that thread to release it, at most retryMs
  // between two tries (a bound for a release that slipped past). false, with
  // the lock not taken, once stop is set (stop is looked at, not consumed:
  // give a manual-reset event). betweenTries, when given, runs after every
  // wait that did not end with stop, before the next try.
  bool TryLockUntil(platform::Event& stop, uint32_t retryMs, const std::function<void()>& betweenTries = {});

 private:
  platform::CriticalSection cs_;
  int depth_ = 0;  // levels the owner holds; only the owner touches it
  std::atomic<int> waiters_{0};
  platform::Event released_{platform::Event::Reset::Auto};
};

class CMtx : public CSync {
 public:
  // Opens the named mutex unowned; every CMtx of the same name, in any
  // process, is the same mutex.
  explicit CMtx(std::u16string_view name);
  ~CMtx() override;

  // Waits without time limit; does nothing when the mutex could not be created.
  void Lock() override;
  void Unlock() override;

 private:
  std::unique_ptr<platform::NamedMutex> mutex_;
};

class ScopedLock {
 public:
  explicit ScopedLock(CSync* sync, bool lockNow = true);
  ~ScopedLock();  // unlocks as often as it is locked
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  void Lock();    // locks and counts one level
  void Unlock();  // nothing at depth 0, else one level less and unlocks
  int Depth() const { return depth_; }

 private:
  CSync* sync_;
  int depth_ = 0;
};
