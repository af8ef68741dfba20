// Keep-alive bookkeeping on a fake clock: when keep-alives fall due, what
// they carry, and how echoes are judged.
#include <gtest/gtest.h>

#include "exchange/keepalive_monitor.h"
#include "platform/fake_clock.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::KeepaliveMonitor;
using exchangetest::Hex;
using Verdict = KeepaliveMonitor::EchoVerdict;

TEST(KeepaliveMonitor, FirstIsDueOnePeriodAfterTheConnectionThenEveryPeriod) {
  platform::FakeClock clock(1000);
  KeepaliveMonitor monitor(clock, 500);
  monitor.Start();
  EXPECT_EQ(monitor.MillisecondsUntilDue(), 500u);
  clock.advance(499);
  EXPECT_FALSE(monitor.Poll().send);
  EXPECT_EQ(monitor.MillisecondsUntilDue(), 1u);
  clock.advance(1);
  auto due = monitor.Poll();
  ASSERT_TRUE(due.send);
  EXPECT_EQ(*due.send, Hex("f20001"));
  EXPECT_FALSE(due.missed);
  EXPECT_FALSE(monitor.Poll().send) << "not twice for one period";
  EXPECT_EQ(monitor.OnEcho(Hex("f20001")), Verdict::Matched);

  clock.advance(500);
  due = monitor.Poll();
  ASSERT_TRUE(due.send);
  EXPECT_EQ(*due.send, Hex("f20002"));
  EXPECT_FALSE(due.missed);
}

TEST(KeepaliveMonitor, AnEchoNotBackByTheNextDueTimeIsMissed) {
  platform::FakeClock clock;
  KeepaliveMonitor monitor(clock, 100);
  monitor.Start();
  clock.advance(100);
  ASSERT_TRUE(monitor.Poll().send);
  EXPECT_TRUE(monitor.Outstanding());
  clock.advance(100);
  auto due = monitor.Poll();
  ASSERT_TRUE(due.missed);
  EXPECT_EQ(*due.missed, Hex("f20001"));
  ASSERT_TRUE(due.send);
  EXPECT_EQ(*due.send, Hex("f20002"));
  // The late echo of the first no longer counts; the second is still awaited.
  EXPECT_EQ(monitor.OnEcho(Hex("f20002")), Verdict::Matched);
  EXPECT_EQ(monitor.OnEcho(Hex("f20001")), Verdict::Unexpected);
}

TEST(KeepaliveMonitor, AnAlteredEchoIsAMismatchAndSettlesTheKeepAlive) {
  platform::FakeClock clock;
  KeepaliveMonitor monitor(clock, 100);
  monitor.Start();
  clock.advance(100);
  ASSERT_TRUE(monitor.Poll().send);
  EXPECT_EQ(monitor.OnEcho(Hex("f20009")), Verdict::Mismatched);
  EXPECT_FALSE(monitor.Outstanding());
  clock.advance(100);
  EXPECT_FALSE(monitor.Poll().missed) << "a mismatch is not reported again as missed";

  // Longer or shorter echoes do not match either.
  EXPECT_EQ(monitor.OnEcho(Hex("f2000200")), Verdict::Mismatched);
  clock.advance(100);
  ASSERT_TRUE(monitor.Poll().send);
  EXPECT_EQ(monitor.OnEcho(Hex("f200")), Verdict::Mismatched);
}

TEST(KeepaliveMonitor, PeriodZeroOrNoConnectionSendsNothing) {
  platform::FakeClock clock;
  KeepaliveMonitor monitor(clock, 0);
  monitor.Start();
  clock.advance(100000);
  EXPECT_FALSE(monitor.Poll().send);
  EXPECT_EQ(monitor.MillisecondsUntilDue(), KeepaliveMonitor::kNever);

  KeepaliveMonitor idle(clock, 100);
  clock.advance(1000);
  EXPECT_FALSE(idle.Poll().send) << "not started";
  idle.Start();
  clock.advance(100);
  ASSERT_TRUE(idle.Poll().send);
  idle.Stop();
  clock.advance(1000);
  auto due = idle.Poll();
  EXPECT_FALSE(due.send);
  EXPECT_FALSE(due.missed);
}

TEST(KeepaliveMonitor, ChangingThePeriodCountsFromNowAndOffForgetsTheOutstanding) {
  platform::FakeClock clock;
  KeepaliveMonitor monitor(clock, 1000);
  monitor.Start();
  clock.advance(900);
  monitor.SetPeriod(300);
  clock.advance(299);
  EXPECT_FALSE(monitor.Poll().send);
  clock.advance(1);
  ASSERT_TRUE(monitor.Poll().send);

  monitor.SetPeriod(0);
  EXPECT_FALSE(monitor.Outstanding());
  monitor.SetPeriod(300);
  clock.advance(300);
  auto due = monitor.Poll();
  EXPECT_FALSE(due.missed);
  EXPECT_TRUE(due.send);
}

TEST(KeepaliveMonitor, ScheduleSurvivesTheTickWrap) {
  platform::FakeClock clock(0xFFFFFF00u);
  KeepaliveMonitor monitor(clock, 0x200);
  monitor.Start();
  clock.advance(0x1FF);
  EXPECT_FALSE(monitor.Poll().send);
  clock.advance(1);
  EXPECT_TRUE(monitor.Poll().send);
}

TEST(KeepaliveMonitor, CounterWrapsAfterSixteenBits) {
  platform::FakeClock clock;
  KeepaliveMonitor monitor(clock, 1);
  monitor.Start();
  std::vector<uint8_t> last;
  for (int i = 0; i < 0x10000; ++i) {
    clock.advance(1);
    auto due = monitor.Poll();
    ASSERT_TRUE(due.send);
    monitor.OnEcho(*due.send);
    last = *due.send;
  }
  EXPECT_EQ(last, Hex("f20000"));
}

}  // namespace
