#pragma once
// How a window handle is made: the owning process id in the high 32 bits and
// a per-process serial number in the low 32 bits. The serial starts at a
// random value, so a handle kept from a process that has ended does not name
// a window of a later process that happens to get the same id.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/window.h"

namespace platform::wnd {

static_assert(sizeof(WindowHandle) == sizeof(uint64_t), "window handles carry 64 bits");

inline uint64_t handleValue(WindowHandle window) { return reinterpret_cast<uintptr_t>(window); }
inline WindowHandle handleFromValue(uint64_t value) { return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(value)); }
inline uint32_t handleProcessId(WindowHandle window) { return static_cast<uint32_t>(handleValue(window) >> 32); }
inline WindowHandle makeHandle(uint32_t processId, uint32_t serial) {
  return handleFromValue((static_cast<uint64_t>(processId) << 32) | serial);
}

// The calling process's id.
uint32_t ownProcessId();
// The next handle of a window of this process.
WindowHandle nextWindowHandle();

// Class and message names compare without regard to (ASCII) case.
std::string lowerCase(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

// The handle as 16 hexadecimal digits, the name of its file in the window directory.
std::string handleHex(WindowHandle window);

}  // namespace platform::wnd
