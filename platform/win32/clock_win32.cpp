// The system's time readings on Windows: the tick count is GetTickCount
// (milliseconds since boot, wrapping after 49.7 days; clock.cpp adds
// TK_TICK_OFFSET as on Linux), local and UTC time come from GetLocalTime and
// GetSystemTime, whose SYSTEMTIME has the members of platform::SystemTime.
// No state, no threads.
#include <windows.h>

#include "platform/clock.h"
#include "platform/clock_internal.h"

namespace platform {
namespace {

SystemTime fromSystemTime(const SYSTEMTIME& st) {
  SystemTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.dayOfWeek = st.wDayOfWeek;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.milliseconds = st.wMilliseconds;
  return t;
}

}  // namespace

uint32_t internal::systemTickMs() { return GetTickCount(); }

SystemTime localTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return fromSystemTime(st);
}

SystemTime utcTime() {
  SYSTEMTIME st;
  GetSystemTime(&st);
  return fromSystemTime(st);
}

}  // namespace platform
