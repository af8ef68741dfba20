#include "tapi/host/callback_record.h"

#include <cstdio>

#include "tapi/tapi_names.h"

namespace tapihost {

std::string describe(const CallbackRecord& r) {
  char buf[256];
  if (r.kind == CallbackRecord::Kind::Completion) {
    std::snprintf(buf, sizeof buf, "ASYNC_COMPLETION(%u, 0x%x)", r.requestId, static_cast<DWORD>(r.result));
    return buf;
  }
  std::string name = tapi::LineMessageText(r.msg);
  std::snprintf(buf, sizeof buf, "%s%s(htLine %p, htCall %p, 0x%zx, 0x%zx, 0x%zx)",
                r.kind == CallbackRecord::Kind::LineCreate ? "line-create callback " : "", name.c_str(),
                static_cast<const void*>(r.htLine), static_cast<const void*>(r.htCall), static_cast<size_t>(r.param1),
                static_cast<size_t>(r.param2), static_cast<size_t>(r.param3));
  return buf;
}

}  // namespace tapihost
