#pragma once
// A clock for tests: it stands still until the test moves it. The tick count
// and the calendar time move together; the tick can be set anywhere, such
// as a few milliseconds before the 32-bit wrap.
#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace platform {

class FakeClock : public Clock {
 public:
  // Starts at tick 0 on 2024-01-01 00:00:00.000 UTC, local time = UTC.
  FakeClock();
  explicit FakeClock(uint32_t tick);

  uint32_t tickCount() const override { return tick_.load(); }
  SystemTime localTime() const override;
  SystemTime utcTime() const override;

  // Moves tick and time forward; the tick wraps like the real one.
  void advance(uint32_t milliseconds);
  void setTick(uint32_t tick) { tick_.store(tick); }
  void setUtcTime(const SystemTime& utc) { utcMillis_.store(unixMillisFromSystemTime(utc)); }
  // Local time = UTC + offset (e.g. 60 for Central European winter time).
  void setUtcOffsetMinutes(int minutes) { offsetMinutes_.store(minutes); }

 private:
  std::atomic<uint32_t> tick_;
  std::atomic<int64_t> utcMillis_;
  std::atomic<int> offsetMinutes_{0};
};

}  // namespace platform
