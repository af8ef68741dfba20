#pragma once
// Waitable objects and waiting on them with the semantics of
// WaitForSingleObject / WaitForMultipleObjects:
// - with several objects, the first signalled one in argument order wins;
// - a wait that returns an auto-reset event consumes its signal, so exactly
//   one waiter is released per set;
// - with waitAll, the wait returns only when every object is signalled at the
//   same moment, and then consumes all of them together;
// - a time-out in milliseconds, kInfinite for none, 0 to test without waiting.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr size_t kMaximumWaitObjects = 64;

struct Waiter;

// Base of everything a thread can wait for (events, threads, ...). State
// changes happen under one process-wide wait lock, which makes a wait on
// several objects atomic.
class Waitable {
 public:
  Waitable() = default;
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;
  virtual ~Waitable();

 protected:
  // Both are called with the wait lock held.
  virtual bool isSignaledLocked() const = 0;
  virtual void consumeLocked() {}

  // Changes state under the wait lock and wakes the waiters of this object.
  template <typename Fn>
  void changeState(Fn&& fn);

 private:
  friend uint32_t waitForMultiple(std::span<Waitable* const>, bool, uint32_t);
  void lockWaitLock();
  void notifyAndUnlock();
  std::vector<Waiter*> waiters_;
};

template <typename Fn>
void Waitable::changeState(Fn&& fn) {
  lockWaitLock();
  fn();
  notifyAndUnlock();
}

// An event object, manual-reset (stays set until reset) or auto-reset (one
// released wait resets it).
class Event : public Waitable {
 public:
  enum class Reset { Manual, Auto };
  explicit Event(Reset reset, bool initiallySet = false);

  void set();
  void reset();
  // Looks at the state without consuming it.
  bool isSet() const;
  // Convenience: waitForSingle(*this, timeout) == kWaitObject0.
  bool wait(uint32_t timeoutMs = kInfinite);

 private:
  bool isSignaledLocked() const override { return signaled_; }
  void consumeLocked() override {
    if (reset_ == Reset::Auto) signaled_ = false;
  }
  const Reset reset_;
  bool signaled_;
};

// Returns kWaitObject0 + index of the object that ended the wait (the first
// signalled in order; with waitAll, kWaitObject0), kWaitTimeout, or
// kWaitFailed for no objects, more than kMaximumWaitObjects, or a null entry.
uint32_t waitForMultiple(std::span<Waitable* const> objects, bool waitAll, uint32_t timeoutMs);
uint32_t waitForMultiple(std::initializer_list<Waitable*> objects, bool waitAll, uint32_t timeoutMs);
uint32_t waitForSingle(Waitable& object, uint32_t timeoutMs);

}  // namespace platform
