#include "provider/vnl/blocking_link.h"

#include <memory>
#include <new>

namespace kvarsp {
namespace {

// What the caller and the completion share; the completion may come after
// a caller gave up, so it is owned by both.
struct Completion {
  platform::Event event{platform::Event::Reset::Manual};
  bool finished = false;  // under the provider lock
  int result = -1;
};

}  // namespace

void EventLinkWaiter::Wait(platform::Event& finished, const std::function<void()>& driveTimer) {
  while (!finished.wait(kSliceMs)) driveTimer();
}

BlockingLink::BlockingLink(platform::Clock& clock, LinkWaiter* waiter)
    : clock_(clock), waiter_(waiter ? *waiter : eventWaiter_) {}

void BlockingLink::Attach(LinkSession& session, CCritSec& providerLock) {
  session_ = &session;
  providerLock_ = &providerLock;
}

void BlockingLink::ArmTimer(uint32_t dueTick) { due_.store(dueTick); }

void BlockingLink::CancelTimer() { due_.store(kNoTimer); }

void BlockingLink::DriveTimer() {
  const uint64_t due = due_.load();
  if (due == kNoTimer) return;
  if (static_cast<int32_t>(clock_.tickCount() - static_cast<uint32_t>(due)) < 0) return;
  ScopedLock lock(providerLock_);
  session_->OnTimer(clock_.tickCount());
}

int BlockingLink::Run(ScopedLock& lock, int failCode, const std::function<void(LinkDone)>& start) {
  std::shared_ptr<Completion> completion;
  try {
    completion = std::make_shared<Completion>();
    start([completion](int result) {
      completion->result = result;
      completion->finished = true;
      completion->event.set();
    });
  } catch (const std::bad_alloc&) {
    // Nothing throws out of a TSPI operation: without memory for its
    // start, the operation fails (the session kept nothing of it).
    if (!completion || !completion->finished) return failCode;
  }
  if (completion->finished) return completion->result;
  // Every level of the caller's hold is handed back while the exchange
  // answers, and taken again afterwards.
  const int depth = lock.Depth();
  for (int i = 0; i < depth; ++i) lock.Unlock();
  waiter_.Wait(completion->event, [this] { DriveTimer(); });
  for (int i = 0; i < depth; ++i) lock.Lock();
  return completion->result;
}

int BlockingLink::LinkStart(uint8_t protocolVersion, ScopedLock& lock) {
  return Run(lock, kStartFailed, [&](LinkDone done) { session_->Start(protocolVersion, std::move(done)); });
}

int BlockingLink::LinkEnd(ScopedLock& lock) {
  return Run(lock, kEndFailed, [&](LinkDone done) { session_->End(std::move(done)); });
}

int BlockingLink::GetAddressList(ScopedLock& lock) {
  return Run(lock, kAddressListFailed, [&](LinkDone done) { session_->GetAddressList(std::move(done)); });
}

LONG BlockingLink::RegisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return Run(lock, LINEERR_OPERATIONFAILED,
             [&](LinkDone done) { session_->RegisterLine(lineId16, lineId, std::move(done)); });
}

LONG BlockingLink::UnregisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return Run(lock, LINEERR_OPERATIONFAILED,
             [&](LinkDone done) { session_->UnregisterLine(lineId16, lineId, std::move(done)); });
}

LONG BlockingLink::GetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return Run(lock, LINEERR_OPERATIONFAILED,
             [&](LinkDone done) { session_->GetLineInfo(line, lineId16, lineId, std::move(done)); });
}

}  // namespace kvarsp
