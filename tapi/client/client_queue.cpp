#include "tapi/client/client_queue.h"

#include "platform/clock.h"
#include "tapi/tapi_constants.h"

namespace tapi32 {

MessageQueue::MessageQueue() = default;

MessageQueue::~MessageQueue() { close(); }

void MessageQueue::push(const LINEMESSAGE& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (isClosed_) return;
  messages_.push_back(message);
  ready_.set();
}

LONG MessageQueue::take(LINEMESSAGE* message, uint32_t timeoutMs) {
  const uint32_t start = platform::tickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (isClosed_) return LINEERR_INVALAPPHANDLE;
      if (!messages_.empty()) {
        *message = messages_.front();
        messages_.pop_front();
        if (messages_.empty()) ready_.reset();
        return 0;
      }
    }
    uint32_t left = timeoutMs;
    if (timeoutMs != platform::kInfinite) {
      const uint32_t spent = platform::tickCount() - start;
      if (spent >= timeoutMs) return LINEERR_OPERATIONFAILED;
      left = timeoutMs - spent;
    }
    if (platform::waitForMultiple({&ready_, &closed_}, false, left) == platform::kWaitTimeout) {
      return LINEERR_OPERATIONFAILED;
    }
  }
}

bool MessageQueue::startDispatcher(LINECALLBACK callback) {
  // The thread lets go of the queue before it ends: when that is the last
  // reference, the queue (and its Thread object) goes while the thread still
  // runs, which detaches it instead of joining itself.
  return dispatcher_.start([self = shared_from_this(), callback]() mutable {
    self->dispatch(callback);
    self.reset();
  }, "tapi32 callback");
}

void MessageQueue::dispatch(LINECALLBACK callback) {
  LINEMESSAGE message{};
  while (take(&message, platform::kInfinite) == 0) {
    callback(message.hDevice, message.dwMessageID, message.dwCallbackInstance, message.dwParam1,
             message.dwParam2, message.dwParam3);
  }
}

void MessageQueue::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isClosed_) return;
    isClosed_ = true;
    messages_.clear();
    ready_.reset();
  }
  closed_.set();
  if (platform::currentThreadId() != dispatcher_.id()) dispatcher_.join();
}

}  // namespace tapi32
