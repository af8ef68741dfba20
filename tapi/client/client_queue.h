#pragma once
// The message queue of one application (one lineInitializeEx).
//
// In: LINEMESSAGEs from the connection's reader thread (push), in the order
// the service sent them. Out: with USEEVENT, lineGetMessage takes them
// (take), and the manual-reset event the application got is set exactly
// while the queue holds messages; with a callback, a dispatcher thread of
// the queue's own takes them one at a time and calls the callback, so the
// application sees them in order and never two at once. close() (lineShutdown)
// wakes every waiter and ends the dispatcher; a callback that calls
// lineShutdown itself ends it without waiting for itself.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/thread.h"
#include "platform/wait.h"
#include "tapi/tapi32.h"

namespace tapi32 {

// Owned through shared_ptr: the dispatcher thread keeps its queue alive.
class MessageQueue : public std::enable_shared_from_this<MessageQueue> {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  void push(const LINEMESSAGE& message);
  // The next message within timeoutMs: 0, LINEERR_OPERATIONFAILED on time-out,
  // LINEERR_INVALAPPHANDLE once closed.
  LONG take(LINEMESSAGE* message, uint32_t timeoutMs);

  // Calls callback for every message from now on, on a thread of its own.
  bool startDispatcher(LINECALLBACK callback);
  // The event handed to the application (USEEVENT).
  HANDLE eventHandle() { return static_cast<platform::Waitable*>(&ready_); }
  void close();

 private:
  void dispatch(LINECALLBACK callback);

  std::mutex mutex_;
  std::deque<LINEMESSAGE> messages_;
  platform::Event ready_{platform::Event::Reset::Manual};
  platform::Event closed_{platform::Event::Reset::Manual};
  bool isClosed_ = false;
  platform::Thread dispatcher_;
};

}  // namespace tapi32
