#pragma once
// The synchronous link operations of the provider (line open and close, the
// dialog's link requests) on top of the asynchronous LinkSession.
// In: an operation with the caller's hold on the provider lock. Out: its
// result code, once the session called its completion.
// Each operation starts under the provider lock; when it did not finish at
// once, every level of the caller's hold is handed back while a LinkWaiter
// waits for the completion, and taken again before the result is read. The
// session's timer requests land here (LinkTimer): the waiter drives them, so
// that the wait for VNL_END_IND ends after its 5000 ms of the injected clock
// and a wait for a confirmation that no tick ends stops at its bound, both
// through the session under the provider lock. Threads: the caller's (a
// TAPI thread) waits; the link interface thread completes.
#include <atomic>
#include <cstdint>
#include <functional>

#include "common/sync.h"
#include "platform/clock.h"
#include "platform/wait.h"
#include "provider/vnl/link_session.h"

namespace kvarsp {

// How an operation's caller waits with the provider lock handed back.
class LinkWaiter {
 public:
  virtual ~LinkWaiter() = default;
  // Returns once `finished` is set. driveTimer takes the provider lock and
  // hands a due timer to the session (nothing when none is due); the wait
  // calls it while it waits.
  virtual void Wait(platform::Event& finished, const std::function<void()>& driveTimer) = 0;
};

// The real waiter: waits on the event in slices and drives the timer after each.
class EventLinkWaiter : public LinkWaiter {
 public:
  static constexpr uint32_t kSliceMs = 20;
  void Wait(platform::Event& finished, const std::function<void()>& driveTimer) override;
};

class BlockingLink : public LinkTimer {
 public:
  // waiter null: an EventLinkWaiter.
  BlockingLink(platform::Clock& clock, LinkWaiter* waiter = nullptr);
  BlockingLink(const BlockingLink&) = delete;
  BlockingLink& operator=(const BlockingLink&) = delete;

  // The session and the provider lock, before the first operation.
  void Attach(LinkSession& session, CCritSec& providerLock);

  int LinkStart(uint8_t protocolVersion, ScopedLock& lock);
  int LinkEnd(ScopedLock& lock);
  int GetAddressList(ScopedLock& lock);
  LONG RegisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock);
  LONG UnregisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock);
  LONG GetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, ScopedLock& lock);

  // LinkTimer (under the provider lock)
  void ArmTimer(uint32_t dueTick) override;
  void CancelTimer() override;

  // Hands a due timer to the session under the provider lock.
  void DriveTimer();

 private:
  // Starts the operation and waits for its result; failCode when it could
  // not be started for want of memory.
  int Run(ScopedLock& lock, int failCode, const std::function<void(LinkDone)>& start);

  platform::Clock& clock_;
  EventLinkWaiter eventWaiter_;
  LinkWaiter& waiter_;
  LinkSession* session_ = nullptr;
  CCritSec* providerLock_ = nullptr;
  // The due tick, or kNoTimer; read by waiters without the provider lock.
  static constexpr uint64_t kNoTimer = ~uint64_t{0};
  std::atomic<uint64_t> due_{kNoTimer};
};

}  // namespace kvarsp
