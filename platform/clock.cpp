// The clock: the tick count with its offset, the process's real Clock object
// and the calendar arithmetic are the same on every system; the readings of
// the system's counters are the POSIX ones below, the Win32 ones in
// win32/clock_win32.cpp.
#include "platform/clock.h"

#include <cstdlib>
#include <ctime>

#include "platform/clock_internal.h"

namespace platform {
namespace {

uint32_t tickOffset() {
  static const uint32_t offset = [] {
    const char* v = std::getenv("TK_TICK_OFFSET");
    return v ? static_cast<uint32_t>(std::strtoull(v, nullptr, 0)) : 0u;
  }();
  return offset;
}

#if !defined(_WIN32)
SystemTime fromTm(const std::tm& tm, long nanos) {
  SystemTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);  // no leap seconds
  t.milliseconds = static_cast<uint16_t>(nanos / 1000000);
  return t;
}
#endif

class RealClock : public Clock {
 public:
  uint32_t tickCount() const override { return platform::tickCount(); }
  SystemTime localTime() const override { return platform::localTime(); }
  SystemTime utcTime() const override { return platform::utcTime(); }
};

// Days since 1970-01-01 of a civil date, and back (after H. Hinnant's algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

uint32_t tickCount() { return internal::systemTickMs() + tickOffset(); }

#if !defined(_WIN32)
uint32_t internal::systemTickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

SystemTime localTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return fromTm(tm, ts.tv_nsec);
}

SystemTime utcTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  gmtime_r(&ts.tv_sec, &tm);
  return fromTm(tm, ts.tv_nsec);
}
#endif

Clock& systemClock() {
  static RealClock clock;
  return clock;
}

SystemTime systemTimeFromUnixMillis(int64_t millis) {
  int64_t days = millis >= 0 ? millis / 86400000 : -((-millis + 86399999) / 86400000);
  int64_t msOfDay = millis - days * 86400000;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, year, month, day);
  SystemTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  t.hour = static_cast<uint16_t>(msOfDay / 3600000);
  t.minute = static_cast<uint16_t>(msOfDay / 60000 % 60);
  t.second = static_cast<uint16_t>(msOfDay / 1000 % 60);
  t.milliseconds = static_cast<uint16_t>(msOfDay % 1000);
  return t;
}

int64_t unixMillisFromSystemTime(const SystemTime& t) {
  int64_t days = daysFromCivil(t.year, t.month, t.day);
  return days * 86400000 + t.hour * 3600000LL + t.minute * 60000LL + t.second * 1000LL + t.milliseconds;
}

}  // namespace platform
