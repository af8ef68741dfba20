#include "platform/clock.h"

#include <gtest/gtest.h>

#include "platform/fake_clock.h"
#if !defined(_WIN32)
#include "tests/support/child_process.h"
#endif

namespace {

using platform::SystemTime;

TEST(FakeClock, TickWrapsLikeTheSystemTickCount) {
  platform::FakeClock clock(0xFFFFFFF0u);
  clock.advance(0x0F);
  EXPECT_EQ(clock.tickCount(), 0xFFFFFFFFu);
  clock.advance(1);
  EXPECT_EQ(clock.tickCount(), 0u);
  clock.advance(0x20);
  EXPECT_EQ(clock.tickCount(), 0x20u);
}

TEST(FakeClock, CalendarTimeMovesWithTheTick) {
  platform::FakeClock clock;
  clock.setUtcTime({2024, 2, 0, 28, 23, 59, 59, 999});
  clock.setUtcOffsetMinutes(60);
  clock.advance(1);
  SystemTime utc = clock.utcTime();
  EXPECT_EQ(utc, (SystemTime{2024, 2, 4, 29, 0, 0, 0, 0}));  // leap day, a Thursday
  SystemTime local = clock.localTime();
  EXPECT_EQ(local, (SystemTime{2024, 2, 4, 29, 1, 0, 0, 0}));
}

TEST(Clock, CalendarConversionRoundTripsAcrossCenturiesAndLeapYears) {
  struct Case {
    SystemTime t;
    int64_t millis;
  } cases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
      {{2000, 2, 2, 29, 12, 0, 0, 5}, 951825600005},  // 2000 is a leap year
      {{2100, 3, 1, 1, 0, 0, 0, 0}, 4107542400000},   // 2100 is not
      {{1969, 12, 3, 31, 23, 59, 59, 999}, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::unixMillisFromSystemTime(c.t), c.millis);
    EXPECT_EQ(platform::systemTimeFromUnixMillis(c.millis), c.t);
  }
}

TEST(Clock, RealClockReadingsAreSane) {
  SystemTime utc = platform::utcTime();
  EXPECT_GE(utc.year, 2024);
  EXPECT_GE(utc.month, 1);
  EXPECT_LE(utc.month, 12);
  EXPECT_LT(utc.milliseconds, 1000);
  uint32_t a = platform::tickCount();
  uint32_t b = platform::systemClock().tickCount();
  EXPECT_LT(static_cast<uint32_t>(b - a), 1000u);
}

#if !defined(_WIN32)  // Windows: WindowsClock.ReadingsAgreeWithTheSystemAndTheOffsetShiftsAChild
TEST(Clock, TickOffsetShiftsAWholeProcessTowardsTheWrap) {
  tktest::ChildProcess child;
  const uint32_t offset = 0xFFFF0000u;
  uint32_t before = platform::tickCount();
  ASSERT_TRUE(child.start(TK_TEST_CHILD, {"tick"}, {{"TK_TICK_OFFSET", "0xFFFF0000"}}));
  auto line = child.readLine();
  uint32_t after = platform::tickCount();
  ASSERT_TRUE(line);
  uint32_t childTick = static_cast<uint32_t>(std::stoul(*line)) - offset;
  EXPECT_LE(static_cast<uint32_t>(childTick - before), static_cast<uint32_t>(after - before) + 1000u);
  EXPECT_EQ(child.wait(), 0);
}
#endif

}  // namespace
