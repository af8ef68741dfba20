#include "provider/event_queue.h"

#include <mutex>
#include <new>
#include <utility>

#include "common/tick_timer.h"
#include "provider/event_records.h"
#include "provider/trace.h"
#include "tapi/tapi_names.h"

namespace kvarsp {

using tapi::LineEventName;
using tapi::LineResultName;

namespace {

constexpr uint32_t kWaitErrorPauseMs = 100;
constexpr BOOL kFalse = 0;
constexpr BOOL kTrue = 1;

}  // namespace

CAsyncComplEvent2Tapi::CAsyncComplEvent2Tapi(platform::Clock& clock, std::function<void(uint32_t)> sleep)
    : clock_(clock),
      sleep_(std::move(sleep)),
      newItemEvent_(new (std::nothrow) platform::Event(platform::Event::Reset::Auto)),
      stopEvent_(new (std::nothrow) platform::Event(platform::Event::Reset::Auto)) {}

CAsyncComplEvent2Tapi::~CAsyncComplEvent2Tapi() {
  std::lock_guard lifecycle(lifecycleLock_);
  if (thread_.running()) {
    stopEvent_->set();
    DiscardQueued();
    thread_.join(platform::kInfinite);
  }
  DiscardQueued();
}

BOOL CAsyncComplEvent2Tapi::bInitialize(ASYNC_COMPLETION completionCallback) {
  std::lock_guard lifecycle(lifecycleLock_);
  if (thread_.running()) return kFalse;
  if (!newItemEvent_ || !stopEvent_) {
    traceTapi("CAsyncComplEvent2Tapi::bInitialize(): Events not created, returning FALSE");
    return kFalse;
  }
  // Stored before the thread starts, so that it is in place for every
  // completion queued once the thread runs.
  ASYNC_COMPLETION previous = completionCallback_.exchange(completionCallback);
  if (!thread_.start([this] { ThreadMain(); }, "Events2Tapi")) {
    // The platform's thread API reports no error code for a failed start,
    // so both numbers of the record are 0.
    traceTapi("Cannot start 'Events2Tapi' thread, errno = %d, _doserrno = %d", 0, 0);
    completionCallback_.store(previous);
    return kFalse;
  }
  traceTapi("'Events2Tapi' successfully initialized");
  return kTrue;
}

bool CAsyncComplEvent2Tapi::Stop() {
  std::lock_guard lifecycle(lifecycleLock_);
  if (!thread_.running()) return false;
  stopEvent_->set();
  // Entries queued now will not be delivered; releasing their waiting
  // producers here, rather than after the wait, keeps them from waiting on a
  // callback that is slow to return.
  DiscardQueued();
  bool ended = thread_.join(kStopTimeoutMs);
  if (!ended) traceTapi("'Events2Tapi' thread not terminated after timeout");
  DiscardQueued();
  if (ended) traceTapi("'Events2Tapi' successfully shutdown");
  return ended;
}

bool CAsyncComplEvent2Tapi::IsRunning() const { return thread_.running(); }

bool CAsyncComplEvent2Tapi::QueueCompletion(HTAPILINE line, DRV_REQUESTID requestId, LONG result,
                                            bool waitForDelivery) {
  EventQueueItem item;
  item.kind = EventQueueItem::Kind::Completion;
  item.line = line;
  item.completionCallback = completionCallback_.load();
  item.requestId = requestId;
  item.result = result;
  return Enqueue(std::move(item), waitForDelivery);
}

bool CAsyncComplEvent2Tapi::QueueEvent(HTAPILINE line, LINEEVENT callback, HTAPILINE htLine, HTAPICALL htCall,
                                       DWORD msg, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3,
                                       bool waitForDelivery) {
  EventQueueItem item;
  item.kind = EventQueueItem::Kind::LineEvent;
  item.line = line;
  item.eventCallback = callback;
  item.htLine = htLine;
  item.htCall = htCall;
  item.msg = msg;
  item.param1 = param1;
  item.param2 = param2;
  item.param3 = param3;
  return Enqueue(std::move(item), waitForDelivery);
}

bool CAsyncComplEvent2Tapi::Enqueue(EventQueueItem&& item, bool waitForDelivery) {
  // Without the events no thread can ever deliver the entry.
  if (!newItemEvent_ || !stopEvent_) return false;
  std::shared_ptr<DeliveryWait> wait;
  try {
    if (waitForDelivery) {
      wait = std::make_shared<DeliveryWait>();
      item.done = wait;
    }
    std::lock_guard lock(queueLock_);
    queue_.push_back(std::move(item));
    newItemEvent_->set();
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!wait) return true;
  wait->done.wait(platform::kInfinite);
  return wait->delivered.load();
}

void CAsyncComplEvent2Tapi::ThreadMain() {
  traceTapi("'Events2Tapi' thread started");
  for (;;) {
    uint32_t result = platform::waitForMultiple({stopEvent_.get(), newItemEvent_.get()}, false, platform::kInfinite);
    if (result == platform::kWaitObject0) break;
    if (result == platform::kWaitObject0 + 1) {
      for (;;) {
        EventQueueItem item;
        if (!TakeHead(item)) break;
        Deliver(item);
      }
      continue;
    }
    traceTapi("Error WaitForMultipleObjects() in 'Events2Tapi' thread");
    platform::sleepMs(kWaitErrorPauseMs);
  }
  traceTapi("'Events2Tapi' thread terminated");
}

bool CAsyncComplEvent2Tapi::TakeHead(EventQueueItem& item) {
  std::lock_guard lock(queueLock_);
  if (queue_.empty()) return false;
  item = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void CAsyncComplEvent2Tapi::Deliver(const EventQueueItem& item) {
  if (item.kind == EventQueueItem::Kind::Completion) {
    if (item.completionCallback) {
      traceTapi("ASYNC_COMPLETION( 0x%lx, %s )", static_cast<unsigned long>(item.requestId),
                LineResultName(item.result));
      item.completionCallback(item.requestId, item.result);
      traceTapi("ASYNC_COMPLETION() return");
    }
  } else if (item.eventCallback) {
    // The multi-line records are built only when they are wanted.
    if (TapiTraceOn())
      traceTapi("%s",
                LineEventRecord(item.htLine, item.htCall, item.msg, item.param1, item.param2, item.param3).c_str());
    item.eventCallback(item.htLine, item.htCall, item.msg, item.param1, item.param2, item.param3);
    if (item.msg == LINE_NEWCALL) {
      // TAPI has written its handle of the new call through dwParam2.
      const auto* newCall = reinterpret_cast<const HTAPICALL*>(item.param2);
      traceTapi("LINE_NEWCALL( *htCall = 0x%zx ) return", newCall ? TraceHandle(*newCall) : size_t{0});
    } else {
      traceTapi("%s return", LineEventName(item.msg));
    }
  }
  if (item.done) {
    item.done->delivered.store(true);
    item.done->done.set();
  }
}

void CAsyncComplEvent2Tapi::DiscardQueued() {
  std::deque<EventQueueItem> discarded;
  {
    std::lock_guard lock(queueLock_);
    discarded.swap(queue_);
  }
  for (const EventQueueItem& item : discarded) {
    if (item.done) item.done->done.set();  // delivered stays false
  }
}

bool CAsyncComplEvent2Tapi::IsQueued(const std::function<bool(const EventQueueItem&)>& matches) {
  std::lock_guard lock(queueLock_);
  for (const EventQueueItem& item : queue_) {
    if (matches(item)) return true;
  }
  return false;
}

void CAsyncComplEvent2Tapi::DrainWait(const std::function<bool(const EventQueueItem&)>& matches,
                                      const std::function<void()>& traceWaiting) {
  TickTimer limit;
  limit.Start(clock_, kDrainLimitMs);
  while (!limit.HasExpired(clock_)) {
    if (!IsQueued(matches)) return;
    traceWaiting();
    sleep_(kDrainPauseMs);
  }
}

void CAsyncComplEvent2Tapi::WaitForLine(HTAPILINE line) {
  DrainWait([line](const EventQueueItem& item) { return item.line == line; },
            [line] {
              traceTapi("Not all events/async completions for line 0x%zx sent to TAPI, waiting ...",
                        TraceHandle(line));
            });
}

void CAsyncComplEvent2Tapi::WaitForCall(HTAPICALL htCall) {
  DrainWait(
      [htCall](const EventQueueItem& item) {
        return item.kind == EventQueueItem::Kind::LineEvent && item.htCall == htCall;
      },
      [htCall] {
        traceTapi("Not all events for call 0x%zx (htCall) sent to TAPI, waiting ...", TraceHandle(htCall));
      });
}

}  // namespace kvarsp
