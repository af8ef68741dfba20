#include "tapi/host/host_event.h"

#include <cstdio>

#include "tapi/tapi_names.h"

namespace tapihost {

HostEvent hostEventFrom(const CallbackRecord& record, std::optional<uint32_t> deviceId) {
  HostEvent e;
  static_cast<CallbackRecord&>(e) = record;
  e.sequence = 0;
  e.threadId = 0;
  e.deviceId = deviceId;
  e.name = record.kind == HostEvent::Kind::Completion ? std::string("ASYNC_COMPLETION") : tapi::LineMessageText(record.msg);
  return e;
}

std::string describe(const HostEvent& e) {
  char buf[256];
  if (e.kind == HostEvent::Kind::Completion) {
    std::snprintf(buf, sizeof buf, "#%llu ASYNC_COMPLETION request %u result 0x%x",
                  static_cast<unsigned long long>(e.sequence), e.requestId, static_cast<DWORD>(e.result));
    return buf;
  }
  char device[24] = "-";
  if (e.deviceId) std::snprintf(device, sizeof device, "%u", *e.deviceId);
  std::snprintf(buf, sizeof buf, "#%llu %s line %s htCall %p (0x%zx, 0x%zx, 0x%zx)",
                static_cast<unsigned long long>(e.sequence), e.name.c_str(), device,
                static_cast<const void*>(e.htCall), static_cast<size_t>(e.param1), static_cast<size_t>(e.param2),
                static_cast<size_t>(e.param3));
  return buf;
}

}  // namespace tapihost
