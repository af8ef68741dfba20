#pragma once
// Time as the system sees it: a 32-bit millisecond tick count that wraps
// after about 49.7 days (like GetTickCount), and local and UTC calendar time
// with milliseconds. Code that measures time-outs reads a Clock it is given,
// so tests can substitute a FakeClock and move time by hand.
#include <cstdint>

namespace platform {

// Calendar time with the members of the Windows SYSTEMTIME record.
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1..12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;

  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// The real clock's readings. The tick count starts near 0 at boot; the
// environment variable TK_TICK_OFFSET (milliseconds, decimal or 0x hex) is
// added to it, so a whole process can be run close to the wrap.
uint32_t tickCount();
SystemTime localTime();
SystemTime utcTime();

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t tickCount() const = 0;
  virtual SystemTime localTime() const = 0;
  virtual SystemTime utcTime() const = 0;
};

// The process's real clock.
Clock& systemClock();

// Calendar arithmetic shared by the real and the fake clock.
// Milliseconds since 1970-01-01 00:00:00 <-> calendar time (proleptic Gregorian).
SystemTime systemTimeFromUnixMillis(int64_t millis);
int64_t unixMillisFromSystemTime(const SystemTime& time);

}  // namespace platform
