// A stand-in for the link dialog library VNLUI.DLL: Vnl2ConfigDialog shows
// nothing, counts its calls in KVARUI_FAKE_LINK_CALLS and returns
// KVARUI_FAKE_LINK_RESULT (0 when unset).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/export.h"
#include "platform/window.h"

extern "C" TK_EXPORT int32_t Vnl2ConfigDialog(platform::WindowHandle) {
  const char* calls = std::getenv("KVARUI_FAKE_LINK_CALLS");
  setenv("KVARUI_FAKE_LINK_CALLS", std::to_string(calls != nullptr ? std::atoi(calls) + 1 : 1).c_str(), 1);
  const char* result = std::getenv("KVARUI_FAKE_LINK_RESULT");
  return result != nullptr ? std::atoi(result) : 0;
}
