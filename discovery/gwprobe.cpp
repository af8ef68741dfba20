// gwProbe: asks the user for the exchange's IPv4 address ("TCP/IP settings"),
// optionally found by a search on the local network. One export:
//
//   uint8_t _GetRouterIPAddress(char* buffer, uint32_t size)
//
// buffer holds the current address (may be null); only the low 16 bits of
// size count. Result 0: the confirmed address was written into the buffer
// with its terminating zero; 1: cancelled (or no dialog could be shown),
// buffer unchanged; 2: the confirmed address does not fit, buffer unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "discovery/gwprobe_dialogs.h"
#include "platform/export.h"
#include "platform/ui/resources.h"

extern "C" TK_EXPORT uint8_t _GetRouterIPAddress(char* buffer, uint32_t size) {
  namespace ui = platform::ui;
  const size_t capacity = size & 0xFFFF;
  // The start text ends at the first zero, and never beyond the buffer.
  const std::string start = buffer == nullptr ? std::string() : std::string(buffer, ::strnlen(buffer, capacity));
  discovery::CDlgTcpSetting settings;
  settings.address = discovery::normaliseAddress(start);
  const intptr_t result = ui::DialogBoxParam(discovery::kModuleName, discovery::kDlgTcpSetting, nullptr,
                                             discovery::CDlgTcpSetting::Proc, reinterpret_cast<platform::LParam>(&settings));
  if (result != ui::kIdOk) return 1;
  if (buffer == nullptr || settings.address.size() + 1 > capacity) return 2;
  std::memcpy(buffer, settings.address.c_str(), settings.address.size() + 1);
  return 0;
}
