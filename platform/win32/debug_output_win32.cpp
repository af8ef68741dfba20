// The debugger channel of debug output on Windows: each piece goes to
// OutputDebugStringW (a debugger or DebugView shows it; without one the
// system drops it). debug_output.cpp calls it under its own lock, in the
// caller's thread, only when no test sink is set.
#include <windows.h>

#include <string>

#include "platform/win32/core_text_win32.h"

namespace platform::internal {

void writeToDebugger(const std::string& utf8) {
  const std::wstring wide = wincore::widen(utf8);
  OutputDebugStringW(wide.c_str());
}

}  // namespace platform::internal
