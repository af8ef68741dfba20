#include "provider/event_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fake_clock.h"
#include "platform/thread.h"
#include "tests/support/trace_capture.h"
#include "tests/support/wait_until.h"

namespace {

using kvarsp::CAsyncComplEvent2Tapi;

HTAPILINE Line(uintptr_t value) { return reinterpret_cast<HTAPILINE>(value); }
HTAPICALL Call(uintptr_t value) { return reinterpret_cast<HTAPICALL>(value); }

// What TAPI's callbacks saw, in order. A completion is recorded with msg kCompletion.
constexpr DWORD kCompletion = 0xFFFFFFFF;
struct Delivery {
  DWORD msg;
  DWORD_PTR a;  // completion: request ID; event: dwParam1
  DWORD_PTR b;  // completion: result;     event: dwParam2
  std::string thread;
};

class Recorder {
 public:
  void add(Delivery d) {
    std::lock_guard lock(m_);
    deliveries_.push_back(std::move(d));
  }
  std::vector<Delivery> all() {
    std::lock_guard lock(m_);
    return deliveries_;
  }
  size_t count() { return all().size(); }

 private:
  std::mutex m_;
  std::vector<Delivery> deliveries_;
};

// The callbacks are plain function pointers, so they reach the test through these.
Recorder* gRecorder = nullptr;
platform::Event* gGate = nullptr;
constexpr DWORD_PTR kGateParam = 0x6A7E;          // an event with this dwParam1 blocks until the gate opens
constexpr uintptr_t kNewHtCall = 0xCA11CA11CA11;  // TAPI's handle for a new call

void RecordCompletion(DRV_REQUESTID requestId, LONG result) {
  gRecorder->add({kCompletion, requestId, static_cast<DWORD_PTR>(result), platform::currentThreadName()});
}

void RecordEvent(HTAPILINE, HTAPICALL, DWORD msg, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR) {
  gRecorder->add({msg, param1, param2, platform::currentThreadName()});
  if (msg == LINE_NEWCALL && param2 != 0) *reinterpret_cast<HTAPICALL*>(param2) = Call(kNewHtCall);
  if (param1 == kGateParam) gGate->wait(10000);
}

void OtherCompletion(DRV_REQUESTID, LONG) { gRecorder->add({kCompletion, 0, 0, "other callback"}); }

class EventQueueTest : public ::testing::Test {
 protected:
  EventQueueTest() {
    gRecorder = &recorder_;
    gGate = &gate_;
  }
  ~EventQueueTest() override { gate_.set(); }

  // The delivery thread sits in the gate event's callback once this returns.
  void QueueGate() {
    ASSERT_TRUE(queue_->QueueEvent(Line(1), RecordEvent, Line(1), nullptr, LINE_DEVSPECIFIC, kGateParam, 0, 0));
    ASSERT_TRUE(tktest::waitUntil([&] { return recorder_.count() >= 1; }));
  }
  bool QueuedForLine(HTAPILINE line) {
    probing_ = true;
    int before = sleeps_;
    queue_->WaitForLine(line);
    probing_ = false;
    return sleeps_ != before;
  }
  void QueueSimpleEvent(HTAPILINE line, DWORD_PTR param1, HTAPICALL htCall = nullptr) {
    ASSERT_TRUE(queue_->QueueEvent(line, RecordEvent, line, htCall, LINE_CALLSTATE, param1, 0, 0));
  }

  tktest::TraceCapture trace_;  // outlives the queue and its thread
  Recorder recorder_;
  platform::Event gate_{platform::Event::Reset::Manual};
  platform::FakeClock clock_;
  // The drain waits' pauses: counted, moving the fake clock; a probe jumps past the limit.
  int sleeps_ = 0;
  std::vector<uint32_t> sleepLengths_;
  bool probing_ = false;
  std::function<void()> onSleep_;
  std::unique_ptr<CAsyncComplEvent2Tapi> queue_ =
      std::make_unique<CAsyncComplEvent2Tapi>(clock_, [this](uint32_t ms) {
        ++sleeps_;
        sleepLengths_.push_back(ms);
        clock_.advance(probing_ ? 6000 : ms);
        if (onSleep_) onSleep_();
      });
};

TEST_F(EventQueueTest, LifecycleStartsOnceStopsAndStartsAFreshThreadAgain) {
  EXPECT_FALSE(queue_->Stop());  // no thread yet
  EXPECT_FALSE(queue_->IsRunning());
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  EXPECT_TRUE(queue_->IsRunning());
  EXPECT_EQ(trace_.count("'Events2Tapi' successfully initialized"), 1u);
  EXPECT_TRUE(tktest::waitUntil([&] { return trace_.count("'Events2Tapi' thread started") == 1; }));

  // A second initialisation fails and keeps the first callback.
  EXPECT_EQ(queue_->bInitialize(OtherCompletion), 0);
  ASSERT_TRUE(queue_->QueueCompletion(nullptr, 7, 0, true));
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.all()[0].thread, "Events2Tapi");

  EXPECT_TRUE(queue_->Stop());
  EXPECT_FALSE(queue_->IsRunning());
  EXPECT_EQ(trace_.count("'Events2Tapi' thread terminated"), 1u);  // ended before Stop returned
  EXPECT_EQ(trace_.count("'Events2Tapi' successfully shutdown"), 1u);
  EXPECT_FALSE(queue_->Stop());

  ASSERT_EQ(queue_->bInitialize(OtherCompletion), 1);
  EXPECT_TRUE(tktest::waitUntil([&] { return trace_.count("'Events2Tapi' thread started") == 2; }));
  ASSERT_TRUE(queue_->QueueCompletion(nullptr, 8, 0, true));
  EXPECT_EQ(recorder_.all().back().thread, "other callback");
}

TEST_F(EventQueueTest, OneGlobalOrderOnTheDeliveryThreadWithItsTraceRecords) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  QueueGate();
  // Queued while the thread is busy: they pile up and must come out in order.
  QueueSimpleEvent(Line(2), 0x21);
  QueueSimpleEvent(Line(3), 0x31);
  ASSERT_TRUE(queue_->QueueCompletion(Line(4), 0x12, LINEERR_INVALCALLHANDLE));
  QueueSimpleEvent(Line(2), 0x22);
  gate_.set();
  ASSERT_TRUE(tktest::waitUntil([&] { return recorder_.count() == 5; }));

  auto d = recorder_.all();
  EXPECT_EQ(d[1].a, 0x21u);
  EXPECT_EQ(d[2].a, 0x31u);
  EXPECT_EQ(d[3].msg, kCompletion);
  EXPECT_EQ(d[3].a, 0x12u);
  EXPECT_EQ(static_cast<LONG>(d[3].b), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(d[4].a, 0x22u);
  ASSERT_NE(platform::currentThreadName(), "Events2Tapi");
  for (const Delivery& each : d) EXPECT_EQ(each.thread, "Events2Tapi");

  EXPECT_EQ(trace_.count("ASYNC_COMPLETION( 0x12, LINEERR_INVALCALLHANDLE )"), 1u);
  EXPECT_EQ(trace_.count("ASYNC_COMPLETION() return"), 1u);
  EXPECT_EQ(trace_.count(kvarsp::LineEventRecord(Line(3), nullptr, LINE_CALLSTATE, 0x31, 0, 0)), 1u);
  EXPECT_TRUE(tktest::waitUntil([&] { return trace_.count("LINE_CALLSTATE return") == 3; }));
}

TEST_F(EventQueueTest, ManyProducersLoseNothingAndKeepEachProducersOrder) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  constexpr int kProducers = 4, kPerProducer = 300;
  std::atomic<int> failures{0};
  std::vector<std::unique_ptr<platform::Thread>> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.push_back(std::make_unique<platform::Thread>());
    producers.back()->start([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        bool ok = (i % 3 == 2) ? queue_->QueueCompletion(Line(p), static_cast<DRV_REQUESTID>(p << 16 | i), 0)
                               : queue_->QueueEvent(Line(p), RecordEvent, Line(p), nullptr, LINE_CALLINFO,
                                                    static_cast<DWORD_PTR>(p << 16 | i), 0, 0, i % 50 == 0);
        if (!ok) ++failures;
      }
    });
  }
  for (auto& t : producers) ASSERT_TRUE(t->join(10000));
  EXPECT_EQ(failures.load(), 0);
  ASSERT_TRUE(tktest::waitUntil([&] { return recorder_.count() == size_t{kProducers * kPerProducer}; }));
  std::map<int, int> next;
  for (const Delivery& d : recorder_.all()) {
    int producer = static_cast<int>(d.a >> 16), index = static_cast<int>(d.a & 0xffff);
    EXPECT_EQ(index, next[producer]) << "producer " << producer;
    next[producer] = index + 1;
  }
}

TEST_F(EventQueueTest, NewCallWaitsUntilTapiHasWrittenTheCallHandle) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  HTAPICALL htCall = nullptr;
  ASSERT_TRUE(queue_->QueueEvent(Line(0x40), RecordEvent, Line(0x40), nullptr, LINE_NEWCALL, 0x99,
                                 reinterpret_cast<DWORD_PTR>(&htCall), 0, true));
  EXPECT_EQ(htCall, Call(kNewHtCall));  // written by the callback before the producer went on
  ASSERT_EQ(recorder_.count(), 1u);
  EXPECT_EQ(recorder_.all()[0].thread, "Events2Tapi");
  EXPECT_TRUE(tktest::waitUntil([&] { return trace_.count("LINE_NEWCALL( *htCall = 0xca11ca11ca11 ) return") == 1; }));

  // No pointer to read through: 0 is logged. No callback: nothing delivered, yet the producer goes on.
  ASSERT_TRUE(queue_->QueueEvent(Line(0x40), RecordEvent, Line(0x40), nullptr, LINE_NEWCALL, 0x9a, 0, 0, true));
  EXPECT_TRUE(tktest::waitUntil([&] { return trace_.count("LINE_NEWCALL( *htCall = 0x0 ) return") == 1; }));
  EXPECT_TRUE(queue_->QueueEvent(Line(0x40), nullptr, Line(0x40), nullptr, LINE_CLOSE, 0, 0, 0, true));
  EXPECT_EQ(recorder_.count(), 2u);
  EXPECT_EQ(trace_.count("LINE_CLOSE( htLine = 0x40 )"), 0u);
}

TEST_F(EventQueueTest, StopDiscardsQueuedEntriesAndReleasesTheirWaitingProducers) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  QueueGate();
  QueueSimpleEvent(Line(2), 0x21);
  std::atomic<int> waitResult{-1};
  platform::Thread producer, stopper;
  producer.start([&] {
    waitResult = queue_->QueueEvent(Line(3), RecordEvent, Line(3), nullptr, LINE_NEWCALL, 0x31, 0, 0, true);
  });
  ASSERT_TRUE(tktest::waitUntil([&] { return QueuedForLine(Line(3)); }));

  std::atomic<bool> stopped{false};
  stopper.start([&] { stopped = queue_->Stop(); });
  // The waiting producer is told that its entry was not delivered, even while
  // the thread is still inside a callback.
  ASSERT_TRUE(tktest::waitUntil([&] { return waitResult.load() != -1; }));
  EXPECT_EQ(waitResult.load(), 0);
  gate_.set();
  ASSERT_TRUE(stopper.join(10000));
  EXPECT_TRUE(stopped.load());
  EXPECT_EQ(recorder_.count(), 1u);  // only the gate event
  EXPECT_FALSE(QueuedForLine(Line(2)));

  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  ASSERT_TRUE(queue_->QueueCompletion(Line(5), 0x55, 0, true));
  auto d = recorder_.all();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[1].a, 0x55u);
}

TEST_F(EventQueueTest, DrainWaitsReturnAtOnceWithoutMatchAndOnceTheMatchesAreDelivered) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  QueueGate();
  QueueSimpleEvent(Line(2), 0x21, Call(0x200));
  ASSERT_TRUE(queue_->QueueCompletion(Line(3), 1, 0));
  queue_->WaitForLine(Line(4));
  queue_->WaitForCall(Call(0x300));
  queue_->WaitForCall(nullptr);  // the completion has no call
  queue_->WaitForLine(Line(1));  // the gate event is being delivered, no longer queued
  EXPECT_EQ(sleeps_, 0);

  onSleep_ = [&] {
    if (sleeps_ != 3) return;
    gate_.set();
    ASSERT_TRUE(tktest::waitUntil([&] { return recorder_.count() == 3; }));
  };
  queue_->WaitForLine(Line(3));
  EXPECT_EQ(sleeps_, 3);
}

TEST_F(EventQueueTest, DrainWaitsGiveUpAfterFiveSecondsOfPauses) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  QueueGate();
  QueueSimpleEvent(Line(0x2a), 0x21, Call(0x2c0));
  // 334 pauses of 15 ms: the first moment more than 5000 ms have passed.
  queue_->WaitForLine(Line(0x2a));
  EXPECT_EQ(sleeps_, 334);
  EXPECT_EQ(trace_.count("Not all events/async completions for line 0x2a sent to TAPI, waiting ..."), 334u);
  queue_->WaitForCall(Call(0x2c0));
  EXPECT_EQ(sleeps_, 668);
  EXPECT_EQ(trace_.count("Not all events for call 0x2c0 (htCall) sent to TAPI, waiting ..."), 334u);
  EXPECT_TRUE(std::all_of(sleepLengths_.begin(), sleepLengths_.end(), [](uint32_t ms) { return ms == 15; }));
}

TEST_F(EventQueueTest, DestructionEndsTheThreadAndReleasesWaitingProducers) {
  ASSERT_EQ(queue_->bInitialize(RecordCompletion), 1);
  QueueGate();
  std::atomic<int> waitResult{-1};
  platform::Thread producer, destroyer;
  producer.start([&] { waitResult = queue_->QueueCompletion(Line(3), 3, 0, true); });
  ASSERT_TRUE(tktest::waitUntil([&] { return QueuedForLine(Line(3)); }));
  destroyer.start([&] { queue_.reset(); });
  ASSERT_TRUE(tktest::waitUntil([&] { return waitResult.load() != -1; }));
  EXPECT_EQ(waitResult.load(), 0);
  gate_.set();
  ASSERT_TRUE(destroyer.join(10000));
  // Joined, not left running: the thread had ended before the object was gone.
  EXPECT_EQ(trace_.count("'Events2Tapi' thread terminated"), 1u);
  EXPECT_EQ(recorder_.count(), 1u);
}

}  // namespace
