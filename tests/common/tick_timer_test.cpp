#include "common/tick_timer.h"

#include <gtest/gtest.h>

#include "platform/fake_clock.h"

namespace {

TEST(TickTimer, StoppedUntilStartedAndAZeroDurationStops) {
  TickTimer t;
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.HasExpired(123456));
  t.Start(1000, 5000);
  EXPECT_TRUE(t.IsRunning());
  t.Start(2000, 0);
  EXPECT_FALSE(t.IsRunning());
  EXPECT_FALSE(t.HasExpired(999999));
  t.Start(1000, 5000);
  t.Stop();
  EXPECT_FALSE(t.IsRunning());
}

TEST(TickTimer, ExpiresOnlyOnceMoreThanItsDurationHasPassed) {
  platform::FakeClock clock(1000);
  TickTimer t;
  t.Start(clock, 5000);
  EXPECT_EQ(t.StartTick(), 1000u);
  EXPECT_EQ(t.EndTick(), 6000u);
  clock.advance(5000);
  EXPECT_FALSE(t.HasExpired(clock));  // the end tick itself has not expired
  clock.advance(1);
  EXPECT_TRUE(t.HasExpired(clock));
  clock.advance(100000);
  EXPECT_TRUE(t.HasExpired(clock));
}

TEST(TickTimer, ExpiryAcrossTheWrapWhenStartedBeforeIt) {
  // Started 2 s before the wrap with 5 s: ends 3 s after it.
  platform::FakeClock clock(0xFFFFFFFFu - 1999);
  TickTimer t;
  t.Start(clock, 5000);
  EXPECT_LT(t.EndTick(), t.StartTick());
  clock.advance(1999);  // the last tick before the wrap
  EXPECT_FALSE(t.HasExpired(clock));
  clock.advance(1);  // tick 0
  EXPECT_FALSE(t.HasExpired(clock));
  clock.advance(2999);  // 4999 ms in
  EXPECT_FALSE(t.HasExpired(clock));
  clock.advance(2);  // 5001 ms in
  EXPECT_TRUE(t.HasExpired(clock));
}

TEST(TickTimer, ExpiryAcrossTheWrapWhenItEndsJustBeforeIt) {
  // Ends before the wrap, but the first check comes after it.
  platform::FakeClock clock(0xFFFFFFFFu - 5000);
  TickTimer t;
  t.Start(clock, 4000);
  EXPECT_GT(t.EndTick(), t.StartTick());
  clock.advance(3999);
  EXPECT_FALSE(t.HasExpired(clock));
  clock.advance(1500);  // past the wrap, 5499 ms in
  EXPECT_LT(clock.tickCount(), t.StartTick());
  EXPECT_TRUE(t.HasExpired(clock));
}

}  // namespace
