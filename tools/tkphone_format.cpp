#include "tools/tkphone_format.h"

#include <cstdio>

#include "platform/codepage.h"
#include "tapi/tapi_constants.h"
#include "tools/tkphone_names.h"

namespace tkphone {
namespace {

using tapihost::HostEvent;

std::string hex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  return buf;
}

DWORD dword(DWORD_PTR value) { return static_cast<DWORD>(value); }

// The event's own part of the text, after line and call.
std::string detailText(const HostEvent& e, const EventContext& c) {
  if (e.kind == HostEvent::Kind::Completion) {
    std::string text = "request " + std::to_string(e.requestId);
    if (!c.command.empty()) text += " of \"" + c.command + "\"";
    text += ": " + ResultText(e.result);
    if (c.parkAddress) text += " park address \"" + *c.parkAddress + "\"";
    return text;
  }
  switch (e.msg) {
    case LINE_CALLSTATE: {
      std::string text = ValueText(TapiFamily::LineCallState, dword(e.param1));
      std::string mode = c.conferenceCall ? "conference call " + std::to_string(*c.conferenceCall)
                                          : CallStateModeText(dword(e.param1), dword(e.param2));
      if (!mode.empty()) text += " (" + mode + ")";
      // An application of the telephony service is not told the media mode
      // (the message's dwParam3 is its privilege there): nothing to show.
      if (e.param3 != 0) text += " media " + FlagsText(TapiFamily::LineMediaMode, dword(e.param3));
      if (e.privilege != 0) text += " privilege " + FlagsText(TapiFamily::LineCallPrivilege, e.privilege);
      return text;
    }
    case LINE_NEWCALL:
      return e.privilege != 0 ? "privilege " + FlagsText(TapiFamily::LineCallPrivilege, e.privilege)
                              : "hdCall " + hex(e.param1);
    case LINE_LINEDEVSTATE:
      if (e.param1 == LINEDEVSTATE_RINGING) {
        return "RINGING mode " + std::to_string(e.param2) + " count " + std::to_string(e.param3);
      }
      return FlagsText(TapiFamily::LineDevState, dword(e.param1));
    case LINE_CALLINFO: return FlagsText(TapiFamily::LineCallInfoState, dword(e.param1));
    case LINE_ADDRESSSTATE:
      return "address " + std::to_string(e.param1) + " " + FlagsText(TapiFamily::LineAddressState, dword(e.param2));
    case LINE_CLOSE: return "";
    default: return "(" + hex(e.param1) + ", " + hex(e.param2) + ", " + hex(e.param3) + ")";
  }
}

}  // namespace

std::string EventText(const HostEvent& e, const EventContext& c) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%4u.%03u]", c.elapsedMs / 1000, c.elapsedMs % 1000);
  std::string text = stamp;
  if (c.line) text += " line " + std::to_string(*c.line);
  if (c.call) text += " call " + std::to_string(*c.call);
  text += " " + e.name;
  std::string detail = detailText(e, c);
  if (!detail.empty()) text += " " + detail;
  return text;
}

std::string EventJson(const HostEvent& e, const EventContext& c) {
  JsonObject json;
  json.Num("time_ms", c.elapsedMs).Str("event", e.name).OptNum("line", c.line).OptNum("call", c.call);
  if (e.kind == HostEvent::Kind::Completion) {
    json.Num("request", e.requestId);
    if (!c.command.empty()) json.Str("command", c.command);
    json.Str("result", ResultText(e.result));
    if (c.parkAddress) json.Str("park_address", *c.parkAddress);
    return json.Num("param1", e.requestId).Num("param2", static_cast<DWORD>(e.result)).Num("param3", 0).Text();
  }
  switch (e.msg) {
    case LINE_CALLSTATE:
      json.Str("state", ValueText(TapiFamily::LineCallState, dword(e.param1)))
          .Str("mode", CallStateModeText(dword(e.param1), dword(e.param2)))
          .Str("media", FlagsText(TapiFamily::LineMediaMode, dword(e.param3)));
      if (e.privilege != 0) json.Str("privilege", FlagsText(TapiFamily::LineCallPrivilege, e.privilege));
      if (c.conferenceCall) json.Num("conference_call", *c.conferenceCall);
      break;
    case LINE_LINEDEVSTATE: json.Str("state", FlagsText(TapiFamily::LineDevState, dword(e.param1))); break;
    case LINE_CALLINFO: json.Str("info", FlagsText(TapiFamily::LineCallInfoState, dword(e.param1))); break;
    case LINE_ADDRESSSTATE:
      json.Num("address", e.param1).Str("state", FlagsText(TapiFamily::LineAddressState, dword(e.param2)));
      break;
    default: break;
  }
  return json.Num("param1", e.param1).Num("param2", e.param2).Num("param3", e.param3).Text();
}

std::string JsonString(std::string_view text) {
  // JSON text is UTF-8: bytes that are not become U+FFFD.
  const std::string utf8 =
      platform::isValidUtf8(text) ? std::string(text) : platform::wideToUtf8(platform::utf8ToWide(text));
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        // C0 controls, DEL and the C1 controls (U+0080..U+009F, which some
        // terminals obey) are written as escapes.
        unsigned escaped = 0x100;
        if (c < 0x20 || c == 0x7F) {
          escaped = c;
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
          escaped = static_cast<unsigned char>(utf8[++i]);
        }
        if (escaped < 0x100) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", escaped);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
      }
    }
  }
  return out + "\"";
}

void JsonObject::key(std::string_view key) {
  if (body_.size() > 1) body_ += ",";
  body_ += JsonString(key) + ":";
}

JsonObject& JsonObject::Str(std::string_view k, std::string_view value) {
  key(k);
  body_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Num(std::string_view k, uint64_t value) {
  key(k);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Null(std::string_view k) {
  key(k);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view k, std::string_view json) {
  key(k);
  body_ += json;
  return *this;
}

JsonObject& JsonObject::OptNum(std::string_view k, const std::optional<uint32_t>& value) {
  return value ? Num(k, *value) : Null(k);
}

}  // namespace tkphone
