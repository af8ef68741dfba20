#pragma once
// The provider's way to TAPI: every asynchronous completion and line event
// goes into one first-in, first-out queue, and one dedicated thread,
// 'Events2Tapi', hands the entries to TAPI's callbacks one by one. TAPI's
// callbacks thus never run under the provider lock or on the link interface
// thread, and TAPI sees completions and events in the one order in which the
// provider queued them.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/thread.h"
#include "platform/wait.h"
#include "provider/event_records.h"  // the records written before each event
#include "provider/event_sink.h"
#include "tapi/tspi.h"

namespace kvarsp {

class CAsyncComplEvent2Tapi : public EventSink {
 public:
  static constexpr uint32_t kStopTimeoutMs = 20000;
  static constexpr uint32_t kDrainLimitMs = 5000;
  static constexpr uint32_t kDrainPauseMs = 15;

  // The clock and the sleep are those of the drain waits (their time limit and
  // their pauses), so that tests can run them on a fake clock.
  explicit CAsyncComplEvent2Tapi(platform::Clock& clock = platform::systemClock(),
                                 std::function<void(uint32_t)> sleep = platform::sleepMs);
  // Stops a thread that still runs. Our threads cannot be killed: this sets
  // the stop event and waits, without time limit, for the current callback to
  // return. Entries still queued are freed undelivered; producers waiting for
  // one of them are released.
  ~CAsyncComplEvent2Tapi() override;

  CAsyncComplEvent2Tapi(const CAsyncComplEvent2Tapi&) = delete;
  CAsyncComplEvent2Tapi& operator=(const CAsyncComplEvent2Tapi&) = delete;

  // Starts the delivery thread and stores the completion callback for the
  // completions queued from now on. FALSE (and nothing changed) while the
  // thread runs, or when it could not be started.
  BOOL bInitialize(ASYNC_COMPLETION completionCallback);

  // Stops the delivery thread (waiting up to kStopTimeoutMs for it) and frees
  // the queued entries undelivered. False at once when no thread runs, and
  // false when the thread did not end in time; bInitialize may follow.
  bool Stop();

  // True while the delivery thread runs (also one that a timed-out Stop left
  // behind, until it ends).
  bool IsRunning() const;

  // With waitForDelivery the producer waits, without time limit, until the
  // entry has been handed to TAPI; the result is then false when a stop
  // discarded the entry instead.
  bool QueueCompletion(HTAPILINE line, DRV_REQUESTID requestId, LONG result,
                       bool waitForDelivery = false) override;
  bool QueueEvent(HTAPILINE line, LINEEVENT callback, HTAPILINE htLine, HTAPICALL htCall, DWORD msg,
                  DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3,
                  bool waitForDelivery = false) override;

  // Drain waits, used before a line or call handle becomes invalid: return
  // once no queued entry belongs to the line (any entry) or to the call (a
  // line event), or after kDrainLimitMs when entries are still queued.
  // An entry the thread is handing to TAPI at that moment is no longer queued.
  void WaitForLine(HTAPILINE line);
  void WaitForCall(HTAPICALL htCall);

 private:
  // Shared by a producer that waits for delivery and its entry.
  struct DeliveryWait {
    platform::Event done{platform::Event::Reset::Auto};
    std::atomic<bool> delivered{false};
  };

  struct EventQueueItem {
    enum class Kind { Completion = 1, LineEvent = 2 };
    Kind kind = Kind::Completion;
    std::shared_ptr<DeliveryWait> done;  // null unless a producer waits
    HTAPILINE line = nullptr;            // the provider line, for the drain waits
    // Completion
    ASYNC_COMPLETION completionCallback = nullptr;
    DRV_REQUESTID requestId = 0;
    LONG result = 0;
    // Line event
    LINEEVENT eventCallback = nullptr;
    HTAPILINE htLine = nullptr;
    HTAPICALL htCall = nullptr;
    DWORD msg = 0;
    DWORD_PTR param1 = 0;
    DWORD_PTR param2 = 0;
    DWORD_PTR param3 = 0;
  };

  bool Enqueue(EventQueueItem&& item, bool waitForDelivery);
  void ThreadMain();
  // Unlinks the head entry under the queue lock; false when the queue is empty.
  bool TakeHead(EventQueueItem& item);
  void Deliver(const EventQueueItem& item);
  // Frees every queued entry undelivered and releases the producers waiting for them.
  void DiscardQueued();
  bool IsQueued(const std::function<bool(const EventQueueItem&)>& matches);
  void DrainWait(const std::function<bool(const EventQueueItem&)>& matches,
                 const std::function<void()>& traceWaiting);

  platform::Clock& clock_;
  const std::function<void(uint32_t)> sleep_;

  platform::CriticalSection queueLock_;  // guards queue_ only
  std::deque<EventQueueItem> queue_;
  // Created with the object; a missing one keeps bInitialize from starting the thread.
  std::unique_ptr<platform::Event> newItemEvent_;
  std::unique_ptr<platform::Event> stopEvent_;

  std::atomic<ASYNC_COMPLETION> completionCallback_{nullptr};
  platform::CriticalSection lifecycleLock_;  // serialises bInitialize, Stop and destruction
  platform::Thread thread_;
};

}  // namespace kvarsp
