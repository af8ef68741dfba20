#include "tapi/host/event_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/fake_clock.h"
#include "platform/wait.h"
#include "tapi/tapi.h"

namespace {

using tapihost::EventLog;
using tapihost::HostEvent;

HostEvent LineEvent(DWORD msg, DWORD_PTR param1 = 0) {
  HostEvent e;
  e.kind = HostEvent::Kind::LineEvent;
  e.msg = msg;
  e.param1 = param1;
  return e;
}

HostEvent Completion(DRV_REQUESTID id, LONG result) {
  HostEvent e;
  e.kind = HostEvent::Kind::Completion;
  e.requestId = id;
  e.result = result;
  return e;
}

auto IsMsg(DWORD msg) {
  return [msg](const HostEvent& e) { return e.kind == HostEvent::Kind::LineEvent && e.msg == msg; };
}

TEST(EventLog, EachReaderSeesEveryEventOnceInOrderOfArrival) {
  platform::FakeClock clock;
  EventLog log(clock);
  EXPECT_EQ(log.append(LineEvent(LINE_CALLSTATE, 1)), 1u);
  EXPECT_EQ(log.append(LineEvent(LINE_CALLSTATE, 2)), 2u);

  size_t a = 0, b = 0;
  auto first = log.since(a);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].param1, 1u);
  EXPECT_EQ(first[1].sequence, 2u);
  EXPECT_TRUE(log.since(a).empty());

  log.append(LineEvent(LINE_CLOSE));
  auto next = log.since(a);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].msg, LINE_CLOSE);
  // Another reader is not disturbed by the first.
  EXPECT_EQ(log.since(b).size(), 3u);
}

TEST(EventLog, WaitFindsAnEventThatArrivedBeforeTheWaitAndMovesPastIt) {
  platform::FakeClock clock;
  EventLog log(clock);
  log.append(LineEvent(LINE_LINEDEVSTATE));
  log.append(LineEvent(LINE_CALLSTATE, 1));
  log.append(LineEvent(LINE_CALLSTATE, 2));

  size_t cursor = 0;
  auto found = log.waitFor(cursor, IsMsg(LINE_CALLSTATE), 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->sequence, 2u);
  EXPECT_EQ(cursor, 2u);
  // The next wait starts after the match, not at the beginning.
  found = log.waitFor(cursor, IsMsg(LINE_CALLSTATE), 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->param1, 2u);
  EXPECT_EQ(cursor, 3u);
  EXPECT_FALSE(log.waitFor(cursor, IsMsg(LINE_CALLSTATE), 0));
  EXPECT_EQ(cursor, 3u);
}

TEST(EventLog, TheTimeOutIsMeasuredOnTheInjectedClock) {
  platform::FakeClock clock(0xFFFFF000);  // the deadline lies beyond the tick's wrap
  EventLog log(clock);
  log.append(LineEvent(LINE_LINEDEVSTATE));

  // The waiter signals each look at an event and its end.
  std::atomic<int> looks{0};
  platform::Event looked(platform::Event::Reset::Auto), done(platform::Event::Reset::Manual);
  std::optional<HostEvent> result;
  size_t cursor = 0;
  std::thread waiter([&] {
    result = log.waitFor(
        cursor,
        [&](const HostEvent&) {
          ++looks;
          looked.set();
          return false;
        },
        5000);
    done.set();
  });
  // The waiter has looked at the event that was there before it started.
  ASSERT_TRUE(looked.wait(10000));

  clock.advance(4999);
  log.append(LineEvent(LINE_CLOSE));
  // It looked at the new event at 4999 ms and went on waiting.
  ASSERT_TRUE(looked.wait(10000));
  EXPECT_FALSE(done.isSet());

  clock.advance(1);
  ASSERT_TRUE(done.wait(10000));
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(cursor, 0u);  // a time-out consumes nothing
  EXPECT_EQ(looks.load(), 2);
}

TEST(EventLog, AWaiterWakesForAnEventFromAnotherThread) {
  EventLog log;  // the real clock, with a generous deadline
  size_t cursor = 0;
  std::thread provider([&] {
    log.append(LineEvent(LINE_LINEDEVSTATE));
    log.append(Completion(7, 0));
  });
  auto found = log.waitFor(
      cursor, [](const HostEvent& e) { return e.kind == HostEvent::Kind::Completion; }, 10000);
  provider.join();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->requestId, 7u);
  EXPECT_EQ(cursor, 2u);
}

TEST(EventLog, HousekeepingRunsBeforeTheEventsItCouldHaveSeenAreLookedAt) {
  platform::FakeClock clock;
  EventLog log(clock);
  uint64_t created = log.append(LineEvent(LINE_CREATE));
  int rounds = 0;
  auto housekeeping = [&] {
    ++rounds;
    log.update(created, [](HostEvent& e) { e.deviceId = 2; });
  };
  size_t cursor = 0;
  auto found = log.waitFor(cursor, IsMsg(LINE_CREATE), 0, housekeeping);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->deviceId, 2u);
  EXPECT_EQ(rounds, 1);

  size_t reader = 0;
  auto events = log.since(reader, housekeeping);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(rounds, 2);
  EXPECT_FALSE(log.update(99, [](HostEvent&) {}));
}

TEST(EventLog, WaitCompletionLooksAtEveryEventWhateverTheCursors) {
  platform::FakeClock clock;
  EventLog log(clock);
  log.append(Completion(3, LINEERR_OPERATIONFAILED));
  log.append(Completion(4, 0));
  EXPECT_EQ(log.waitCompletion(3, 0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(log.waitCompletion(4, 0), 0);
  EXPECT_EQ(log.waitCompletion(5, 0), std::nullopt);
}

TEST(EventLog, DiscardFreesWhatReadersPassedAndLaterReadersStartAtTheFirstKept) {
  platform::FakeClock clock;
  EventLog log(clock);
  for (DRV_REQUESTID id = 1; id <= 5; ++id) log.append(Completion(id, 0));
  log.discardBefore(2);  // frees sequences 1 and 2
  EXPECT_EQ(log.size(), 5u);
  EXPECT_EQ(log.kept(), 3u);
  // A reader's cursor, and the sequence of the first event it gets.
  for (auto [cursor, first] : {std::pair<size_t, uint64_t>{0, 3}, {2, 3}, {3, 4}}) {
    size_t reader = cursor, waiter = cursor;
    auto events = log.since(reader);
    auto found = log.waitFor(waiter, [](const HostEvent&) { return true; }, 0);
    ASSERT_TRUE(!events.empty() && found) << cursor;
    EXPECT_EQ(events.front().sequence, first) << cursor;
    EXPECT_EQ(reader, 5u) << cursor;
    EXPECT_EQ(found->sequence, first) << cursor;
    EXPECT_EQ(waiter, first) << cursor;
  }
  EXPECT_EQ(log.waitCompletion(2, 0), std::nullopt);  // freed
  EXPECT_EQ(log.waitCompletion(3, 0), 0);
  EXPECT_FALSE(log.update(2, [](HostEvent&) {}));
  log.discardBefore(99);  // beyond the end: everything; numbering goes on
  EXPECT_EQ(log.kept(), 0u);
  EXPECT_EQ(log.append(LineEvent(LINE_CLOSE)), 6u);
}

TEST(EventLog, WaitCompletionFindsTheFirstKeptCompletionOfItsRequestAfterDiscardsAndUpdates) {
  platform::FakeClock clock;
  EventLog log(clock);
  log.append(Completion(8, LINEERR_OPERATIONFAILED));  // 1
  log.append(LineEvent(LINE_CALLSTATE));              // 2
  log.append(Completion(8, 0));                       // 3: a second completion of the same request
  const uint64_t changed = log.append(Completion(9, LINEERR_INVALCALLHANDLE));  // 4
  log.append(LineEvent(LINE_CLOSE));                                            // 5
  // Step: discard before this cursor, then move event 4 to this request (0 = leave it).
  struct Step {
    size_t discardBefore;
    DRV_REQUESTID moveTo;
    std::optional<LONG> of8, of9, of10;
  };
  const Step steps[] = {
      {0, 0, LINEERR_OPERATIONFAILED, LINEERR_INVALCALLHANDLE, std::nullopt},
      {1, 0, 0, LINEERR_INVALCALLHANDLE, std::nullopt},  // the first of 8 freed: the second counts
      {1, 10, 0, std::nullopt, LINEERR_INVALCALLHANDLE},  // an update moves it to request 10
      {3, 0, std::nullopt, std::nullopt, LINEERR_INVALCALLHANDLE},
      {4, 0, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Step& step : steps) {
    log.discardBefore(step.discardBefore);
    if (step.moveTo) log.update(changed, [&](HostEvent& e) { e.requestId = step.moveTo; });
    EXPECT_EQ(log.waitCompletion(8, 0), step.of8) << step.discardBefore;
    EXPECT_EQ(log.waitCompletion(9, 0), step.of9) << step.discardBefore;
    EXPECT_EQ(log.waitCompletion(10, 0), step.of10) << step.discardBefore;
  }
  // An event made a completion by an update is found; one made something else is not.
  const uint64_t late = log.append(LineEvent(LINE_CLOSE));
  log.update(late, [](HostEvent& e) {
    e.kind = HostEvent::Kind::Completion;
    e.requestId = 11;
  });
  EXPECT_EQ(log.waitCompletion(11, 0), 0);
  log.update(late, [](HostEvent& e) { e.kind = HostEvent::Kind::LineEvent; });
  EXPECT_EQ(log.waitCompletion(11, 0), std::nullopt);
}

TEST(EventLog, AWaiterLooksAgainOnAnEventOrAWakeAndOnTheRealClockWithoutHousekeepingOnlyThen) {
  // The looks of a waiter that waits the whole time for nothing: at the
  // start, and at the end (again when the tick rounds the end down); one
  // that looked every kClockCheckMs would look several times more.
  struct Case {
    bool housekeeping;
    uint64_t fewest, most;
  };
  constexpr uint32_t kWaitMs = 5 * EventLog::kClockCheckMs;
  for (const Case& c : {Case{false, 2, 3}, Case{true, 3, 7}}) {
    EventLog log;  // the real clock
    const uint64_t before = log.looks();
    EXPECT_EQ(log.waitCompletion(5, kWaitMs, c.housekeeping ? EventLog::Housekeeping([] {}) : nullptr), std::nullopt);
    EXPECT_GE(log.looks() - before, c.fewest) << c.housekeeping;
    EXPECT_LE(log.looks() - before, c.most) << c.housekeeping;
  }

  // An event or a wake ends the sleep at once.
  EventLog log;
  platform::Event looked(platform::Event::Reset::Auto);
  std::optional<LONG> result;
  std::thread waiter([&] {
    result = log.waitCompletion(5, 60000);
    looked.set();
  });
  log.wake();
  log.append(Completion(5, 0));
  ASSERT_TRUE(looked.wait(10000));
  waiter.join();
  EXPECT_EQ(result, 0);
}

}  // namespace
