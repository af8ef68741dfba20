#include "tapi/host/callback_record.h"

#include <cstdio>

#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace tapihost {
namespace {

const char* messageName(DWORD msg) {
  switch (msg) {
    case LINE_ADDRESSSTATE: return "LINE_ADDRESSSTATE";
    case LINE_CALLINFO: return "LINE_CALLINFO";
    case LINE_CALLSTATE: return "LINE_CALLSTATE";
    case LINE_CLOSE: return "LINE_CLOSE";
    case LINE_DEVSPECIFIC: return "LINE_DEVSPECIFIC";
    case LINE_LINEDEVSTATE: return "LINE_LINEDEVSTATE";
    case LINE_CREATE: return "LINE_CREATE";
    case LINE_REMOVE: return "LINE_REMOVE";
    case LINE_NEWCALL: return "LINE_NEWCALL";
    default: return nullptr;
  }
}

}  // namespace

std::string describe(const CallbackRecord& r) {
  char buf[256];
  if (r.kind == CallbackRecord::Kind::Completion) {
    std::snprintf(buf, sizeof buf, "ASYNC_COMPLETION(%u, 0x%x)", r.requestId, static_cast<DWORD>(r.result));
    return buf;
  }
  const char* name = messageName(r.msg);
  char msg[32];
  if (!name) {
    std::snprintf(msg, sizeof msg, "message %u", r.msg);
    name = msg;
  }
  std::snprintf(buf, sizeof buf, "%s%s(htLine %p, htCall %p, 0x%zx, 0x%zx, 0x%zx)",
                r.kind == CallbackRecord::Kind::LineCreate ? "line-create callback " : "", name,
                static_cast<const void*>(r.htLine), static_cast<const void*>(r.htCall), static_cast<size_t>(r.param1),
                static_cast<size_t>(r.param2), static_cast<size_t>(r.param3));
  return buf;
}

}  // namespace tapihost
