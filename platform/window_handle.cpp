#include "platform/window_handle.h"

#include "platform/text_internal.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>

namespace platform::wnd {

uint32_t ownProcessId() { return static_cast<uint32_t>(getpid()); }

WindowHandle nextWindowHandle() {
  static std::atomic<uint32_t> serial{[] {
    std::random_device random;
    return static_cast<uint32_t>(random());
  }()};
  uint32_t next = serial.fetch_add(1, std::memory_order_relaxed);
  return makeHandle(ownProcessId(), next);
}

std::string lowerCase(std::string_view text) { return internal::asciiLower(text); }

bool equalsNoCase(std::string_view a, std::string_view b) { return internal::equalsIgnoringAsciiCase(a, b); }

std::string handleHex(WindowHandle window) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(handleValue(window)));
  return text;
}

}  // namespace platform::wnd
