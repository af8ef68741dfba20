#include "platform/fake_clock.h"

namespace platform {

namespace {
constexpr int64_t kJan2024Millis = 1704067200000;  // 2024-01-01 00:00:00 UTC
}

FakeClock::FakeClock() : FakeClock(0) {}

FakeClock::FakeClock(uint32_t tick) : tick_(tick), utcMillis_(kJan2024Millis) {}

SystemTime FakeClock::localTime() const {
  return systemTimeFromUnixMillis(utcMillis_.load() + offsetMinutes_.load() * 60000LL);
}

SystemTime FakeClock::utcTime() const { return systemTimeFromUnixMillis(utcMillis_.load()); }

void FakeClock::advance(uint32_t milliseconds) {
  tick_.fetch_add(milliseconds);  // unsigned: wraps modulo 2^32
  utcMillis_.fetch_add(milliseconds);
}

}  // namespace platform
