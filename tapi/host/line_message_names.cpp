#include "tapi/host/line_message_names.h"

#include "tapi/tapi_constants.h"

namespace tapihost {

const char* lineMessageName(DWORD msg) {
  switch (msg) {
    case LINE_ADDRESSSTATE: return "LINE_ADDRESSSTATE";
    case LINE_CALLINFO: return "LINE_CALLINFO";
    case LINE_CALLSTATE: return "LINE_CALLSTATE";
    case LINE_CLOSE: return "LINE_CLOSE";
    case LINE_DEVSPECIFIC: return "LINE_DEVSPECIFIC";
    case LINE_DEVSPECIFICFEATURE: return "LINE_DEVSPECIFICFEATURE";
    case LINE_GATHERDIGITS: return "LINE_GATHERDIGITS";
    case LINE_GENERATE: return "LINE_GENERATE";
    case LINE_LINEDEVSTATE: return "LINE_LINEDEVSTATE";
    case LINE_MONITORDIGITS: return "LINE_MONITORDIGITS";
    case LINE_MONITORMEDIA: return "LINE_MONITORMEDIA";
    case LINE_MONITORTONE: return "LINE_MONITORTONE";
    case LINE_REPLY: return "LINE_REPLY";
    case LINE_REQUEST: return "LINE_REQUEST";
    case LINE_CREATE: return "LINE_CREATE";
    case LINE_AGENTSPECIFIC: return "LINE_AGENTSPECIFIC";
    case LINE_AGENTSTATUS: return "LINE_AGENTSTATUS";
    case LINE_APPNEWCALL: return "LINE_APPNEWCALL";
    case LINE_PROXYREQUEST: return "LINE_PROXYREQUEST";
    case LINE_REMOVE: return "LINE_REMOVE";
    case LINE_AGENTSESSIONSTATUS: return "LINE_AGENTSESSIONSTATUS";
    case LINE_QUEUESTATUS: return "LINE_QUEUESTATUS";
    case LINE_AGENTSTATUSEX: return "LINE_AGENTSTATUSEX";
    case LINE_GROUPSTATUS: return "LINE_GROUPSTATUS";
    case LINE_PROXYSTATUS: return "LINE_PROXYSTATUS";
    case LINE_NEWCALL: return "LINE_NEWCALL";
    case LINE_CALLDEVSPECIFIC: return "LINE_CALLDEVSPECIFIC";
    case LINE_CALLDEVSPECIFICFEATURE: return "LINE_CALLDEVSPECIFICFEATURE";
    case LINE_CREATEDIALOGINSTANCE: return "LINE_CREATEDIALOGINSTANCE";
    case LINE_SENDDIALOGINSTANCEDATA: return "LINE_SENDDIALOGINSTANCEDATA";
    default: return nullptr;
  }
}

std::string lineMessageText(DWORD msg) {
  if (const char* name = lineMessageName(msg)) return name;
  return "message " + std::to_string(msg);
}

}  // namespace tapihost
