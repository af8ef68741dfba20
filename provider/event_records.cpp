#include "provider/event_records.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "platform/printf_format.h"
#include "provider/trace.h"
#include "tapi/tapi_names.h"

namespace kvarsp {

using tapi::LineEventName;
using tapi::TapiFamily;
using tapi::TapiFlagWord;
using tapi::TapiValueName;

namespace {

std::string Format(const char* format, ...) TK_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer);
}

// Only the low 32 bits of an event parameter carry a DWORD value.
DWORD DwordOf(DWORD_PTR param) { return static_cast<DWORD>(param); }

// A multi-line record: the event name, "  (", one line per member, "  )".
class MultiLineRecord {
 public:
  explicit MultiLineRecord(const char* eventName) : text_(eventName) { text_ += "\n  ("; }

  void Line(std::string_view member, std::string_view value) {
    text_ += "\n  ";
    text_ += member;
    text_ += " = ";
    text_ += value;
  }
  void Handle(std::string_view member, size_t handle) { Line(member, Format("0x%zx", handle)); }
  void Number(std::string_view member, size_t value) { Line(member, Format("%zu", value)); }
  void Value(std::string_view member, TapiFamily family, DWORD_PTR value) {
    Line(member, TapiValueName(family, DwordOf(value)));
  }
  // Further names of the word line up under the first: two blanks, the
  // member and " = " lie before it.
  void Flags(std::string_view member, TapiFamily family, DWORD_PTR flags) {
    Line(member, TapiFlagWord(family, DwordOf(flags), 2 + member.size() + 3));
  }

  std::string Finish() { return text_ + "\n  )"; }

 private:
  std::string text_;
};

std::string CallStateRecord(HTAPILINE htLine, HTAPICALL htCall, DWORD_PTR state, DWORD_PTR detail,
                            DWORD_PTR mediaMode) {
  MultiLineRecord record("LINE_CALLSTATE");
  record.Handle("htLine", TraceHandle(htLine));
  record.Handle("htCall", TraceHandle(htCall));
  record.Value("dwLineCallState", TapiFamily::LineCallState, state);
  switch (DwordOf(state)) {
    case LINECALLSTATE_OFFERING:
      record.Flags("dwOfferingMode", TapiFamily::LineOfferingMode, detail);
      break;
    case LINECALLSTATE_DIALTONE:
      record.Flags("dwDialToneMode", TapiFamily::LineDialToneMode, detail);
      break;
    case LINECALLSTATE_BUSY:
      record.Flags("dwBusyMode", TapiFamily::LineBusyMode, detail);
      break;
    case LINECALLSTATE_SPECIALINFO:
      record.Flags("dwSpecialInfo", TapiFamily::LineSpecialInfo, detail);
      break;
    case LINECALLSTATE_CONNECTED:
      record.Flags("dwConnectedMode", TapiFamily::LineConnectedMode, detail);
      break;
    case LINECALLSTATE_DISCONNECTED:
      record.Flags("dwDisconnectMode", TapiFamily::LineDisconnectMode, detail);
      break;
    case LINECALLSTATE_CONFERENCED:
      record.Handle("htConfCall", TraceHandle(detail));
      break;
    default:
      record.Line("dwParam2", "<not used>");
      break;
  }
  record.Flags("dwMediaMode", TapiFamily::LineMediaMode, mediaMode);
  return record.Finish();
}

std::string LineDevStateRecord(HTAPILINE htLine, DWORD_PTR states, DWORD_PTR ringMode, DWORD_PTR ringCount) {
  MultiLineRecord record("LINE_LINEDEVSTATE");
  record.Handle("htLine", TraceHandle(htLine));
  record.Flags("dwLineDevState", TapiFamily::LineDevState, states);
  if (DwordOf(states) & LINEDEVSTATE_RINGING) {
    record.Number("dwRingMode", ringMode);
    record.Number("dwRingCount", ringCount);
  }
  return record.Finish();
}

std::string AddressStateRecord(HTAPILINE htLine, DWORD_PTR addressId, DWORD_PTR states) {
  MultiLineRecord record("LINE_ADDRESSSTATE");
  record.Handle("htLine", TraceHandle(htLine));
  record.Number("dwAddressID", addressId);
  record.Flags("dwAddressState", TapiFamily::LineAddressState, states);
  return record.Finish();
}

std::string CallInfoRecord(HTAPILINE htLine, HTAPICALL htCall, DWORD_PTR states) {
  MultiLineRecord record("LINE_CALLINFO");
  record.Handle("htLine", TraceHandle(htLine));
  record.Handle("htCall", TraceHandle(htCall));
  record.Flags("dwCallInfoState", TapiFamily::LineCallInfoState, states);
  return record.Finish();
}

}  // namespace

std::string LineEventRecord(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR param1, DWORD_PTR param2,
                            DWORD_PTR param3) {
  switch (msg) {
    case LINE_CALLSTATE:
      return CallStateRecord(htLine, htCall, param1, param2, param3);
    case LINE_LINEDEVSTATE:
      return LineDevStateRecord(htLine, param1, param2, param3);
    case LINE_ADDRESSSTATE:
      return AddressStateRecord(htLine, param1, param2);
    case LINE_CALLINFO:
      return CallInfoRecord(htLine, htCall, param1);
    case LINE_CLOSE:
      return Format("LINE_CLOSE( htLine = 0x%zx )", TraceHandle(htLine));
    case LINE_CREATE:
      return Format("LINE_CREATE( hProviderHandle = 0x%zx, dwTempDeviceID = %zu )", TraceHandle(param1),
                    TraceHandle(param2));
    case LINE_REMOVE:
      return Format("LINE_REMOVE( dwDeviceID = %zu )", TraceHandle(param1));
    case LINE_NEWCALL:
      return Format("LINE_NEWCALL( htLine = 0x%zx, hdCall = 0x%zx, htCall * = 0x%016zX )", TraceHandle(htLine),
                    TraceHandle(param1), TraceHandle(param2));
    default:
      break;
  }
  const char* name = LineEventName(msg);
  if (std::string_view(name) == "<unknown>") return "Unknown message from TSP to TAPI";
  return Format("%s( dwParam1 = 0x%zx, dwParam2 = 0x%zx, dwParam3 = 0x%zx )", name,
                TraceHandle(param1), TraceHandle(param2), TraceHandle(param3));
}

}  // namespace kvarsp
