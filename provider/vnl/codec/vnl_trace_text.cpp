#include "provider/vnl/codec/vnl_trace_text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/printf_format.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace vnl {
namespace {

// Continuation lines of a decoded message line up under its first parameter.
constexpr const char* kNext = ",\n            ";

std::string Format(const char* format, ...) TK_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return text;
}

// Texts are printed as they came, up to an embedded NUL as the C string they become.
std::string Quoted(const std::string& text) { return "\"" + std::string(text.c_str()) + "\""; }

std::string HexBytes(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) text += Format("%02x ", b);
  return text;
}

uint8_t Detail(const Message& m, size_t index) {
  return index < m.resultDetails.size() ? m.resultDetails[index] : 0;
}

std::string RequestText(const Message& m) {
  const std::string head = std::string("PC -> TK: ") + MessageName(m.type) + "( ";
  const std::string dest = "DEST_ADDRESS: " + Quoted(m.destAddress);
  const std::string options = Format("CALL_OPTIONS: 0x%02x", m.callOptions);
  const std::string lineId = Format("LINE_ID: %u", m.lineId);
  const std::string callId = Format("CALL_ID: %u", m.callId);
  switch (m.type) {
    case kStartReq:
      return head + Format("LINK_PROTOCOL_VERSION: 0x%02x", m.linkProtocolVersion) + kNext +
             Format("DRIVER_TYPE: %d", m.driverType) + kNext + "MANUFACTURER_INFO: " + Quoted(m.manufacturerInfo) +
             " )";
    case kEndReq:
      return head + Format("CAUSE: %u", m.cause) + " )";
    case kRegisterReq:
    case kUnregisterReq:
    case kGetLineInfoReq:
      return head + lineId + " )";
    case kCallEstablishReq:
      return head + lineId + kNext + dest + kNext + options + " )";
    case kDialReq:
    case kRedirectCallReq:
      return head + callId + kNext + dest + " )";
    case kDisconnectReq:
    case kParkCallReq:
      return head + callId + " )";
    case kAnswerCallReq:
      return head + callId + kNext + options + " )";
    case kPickupCallReq:
      return head + lineId + kNext + "PICKUP_ADDRESS: " + Quoted(m.pickupAddress) + kNext + options + " )";
    case kTransferReq:
      return head + callId + kNext + dest + kNext + options + " )";
    case k3PtyConferenceReq:
    case kCompleteTransferReq:
    case kAlternateCallReq:
      return head + callId + kNext + Format("HELDCALL_ID: %u", m.heldCallId) + " )";
    case kUnparkCallReq:
      return head + lineId + kNext + Format("PARK_ADDRESS: %u", m.parkAddress) + kNext + options + " )";
    case kSetForwardReq:
      return head + lineId + kNext + Format("FORWARDING_TYPE: %u", m.forwardingType) + kNext + dest + " )";
    case kGetAddressListReq:
      return std::string("PC -> TK: ") + MessageName(m.type) + "()";
    default:
      return {};
  }
}

std::string CallIdList(const Message& m) {
  std::string text;
  for (size_t i = 0; i < m.callIds.size(); ++i) {
    if (i > 0) text += ", ";
    text += Format("%u", m.callIds[i]);
  }
  return text;
}

std::string ConfirmationText(const Message& m) {
  const std::string text = std::string("TK -> PC: ") + MessageName(m.type);
  switch (m.type) {
    case kStartConf:
      return ConfirmationTraceText(text.c_str(), m,
                                   Format("LINK_PROTOCOL_VERSION: 0x%02x", m.linkProtocolVersion) + kNext +
                                       "MANUFACTURER_INFO: " + Quoted(m.manufacturerInfo));
    case kCallEstablishConf:
    case kPickupCallConf:
    case kTransferConf:
    case kUnparkCallConf:
      return ConfirmationTraceText(text.c_str(), m, Format("CALL_ID: %u", m.callId));
    case kParkCallConf:
      return ConfirmationTraceText(text.c_str(), m, Format("PARK_ADDRESS: %u", m.parkAddress));
    case kGetLineInfoConf:
      return ConfirmationTraceText(text.c_str(), m,
                                   "CALL_ID: " + CallIdList(m) + kNext + Format("LINE_STATE: %u", m.lineState) +
                                       ", DEST_ADDRESS: " + Quoted(m.destAddress));
    case kGetCallInfoConf:
      return text + Format("( %d, 0x%x, 0x%x, 0x%x, 0x%x, 0x%04x, 0x%x, ", m.refId, m.result, Detail(m, 0),
                           Detail(m, 1), m.callState, m.lineId, m.refCallId) +
             Quoted(m.origAddress) + Format(", 0x%x, ", m.origAddressType) + Quoted(m.connectedAddress) +
             Format(", 0x%x, ", m.connectedAddressType) + Quoted(m.redirectingAddress) +
             Format(", 0x%x, ", m.redirectingAddressType) + Quoted(m.destAddress) + " )";
    case kGetCtiCapsConf:
      return text + Format("( %d, 0x%x, 0x%x, 0x%x, ", m.refId, m.result, Detail(m, 0), Detail(m, 1)) + "\"" +
             HexBytes(m.ctiCaps1) + "\", \"" + HexBytes(m.ctiCaps2) + "\" )";
    default:
      return ConfirmationTraceText(text.c_str(), m, {});
  }
}

std::string CallInfoText(const Message& m) {
  std::string text = Format("TK -> PC: VNL_CALLINFO_IND( RefID: %u", m.refId);
  auto number = [&](const char* name, unsigned value) { text += kNext + Format("%s: %u", name, value); };
  auto quoted = [&](const char* name, const std::string& value) {
    text += kNext + std::string(name) + ": " + Quoted(value);
  };
  number("CALL_ID", m.callId);
  quoted("CALL_STATE", m.Has(kCallState) ? CallStateName(m.callState) : "");
  quoted("DEST_ADDRESS", m.destAddress);
  quoted("ORIG_ADDRESS", m.origAddress);
  number("ORIG_ADDRESS_TYPE", m.origAddressType);
  quoted("CONNECTED_ADDRESS", m.connectedAddress);
  number("CONNECTED_ADDRESS_TYPE", m.connectedAddressType);
  quoted("REDIRECTING_ADDRESS", m.redirectingAddress);
  number("REDIRECTING_ADDRESS_TYPE", m.redirectingAddressType);
  number("CALL_TYPE", m.callType);
  number("CAUSE", m.cause);
  number("CALL_REASON", m.callReason);
  quoted("EXTERNAL_ADDRESS", m.externalAddress);
  quoted("REDIRECTION_ADDRESS", m.redirectionAddress);
  number("REDIRECTION_ADDRESS_TYPE", m.redirectionAddressType);
  return text + " )";
}

std::string IndicationText(const Message& m) {
  switch (m.type) {
    case kEndInd:
      return Format("TK -> PC: VNL_END_IND( RefID: %u, CAUSE: %u )", m.refId, m.cause);
    case kFailureInd:
      return ConfirmationTraceText("TK -> PC: VNL_FAILURE_IND", m, {});
    case kNewCallInd:
      return Format("TK -> PC: VNL_NEWCALL_IND( RefID: %u, LINE_ID: %u, CALL_ID: %u, REFCALL_ID: %u )", m.refId,
                    m.lineId, m.callId, m.refCallId);
    case kCloseCallInd:
      return Format("TK -> PC: VNL_CLOSECALL_IND( RefID: %u, CALL_ID: %u )", m.refId, m.callId);
    case kLineInfoInd:
      return Format("TK -> PC: VNL_LINEINFO_IND( RefID: %u, LINE_ID: %u, LINE_STATE: 0x%02x, DEST_ADDRESS: ",
                    m.refId, m.lineId, m.lineState) +
             Quoted(m.destAddress) + " )";
    case kCallInfoInd:
      return CallInfoText(m);
    default:
      return {};
  }
}

}  // namespace

std::string RawTraceLine(bool fromPc, std::span<const uint8_t> bytes) {
  return (fromPc ? "PC -> TK: " : "TK -> PC: ") + HexBytes(bytes);
}

std::string ConfirmationTraceText(const char* text, const Message& m, const std::string& fields) {
  std::string line = Format("%s( RefID: %u, RESULT: %u", text, m.refId, m.result);
  if (!m.resultDetails.empty()) {
    line += Format(" ( %u, %u, %u, %u )", Detail(m, 0), Detail(m, 1), Detail(m, 2), Detail(m, 3));
  }
  if (!fields.empty()) return line + ", " + fields + " )";
  return line + (m.resultDetails.empty() ? " )" : ")");
}

std::string ResponseTraceText(const char* text, uint8_t result, std::span<const uint8_t> details) {
  if (details.empty()) return Format("%s( RESULT: %u )", text, result);
  auto detail = [&](size_t i) -> unsigned { return i < details.size() ? details[i] : 0; };
  return Format("%s( RESULT: %u ( %u, %u, %u, %u ))", text, result, detail(0), detail(1), detail(2), detail(3));
}

std::string DecodedTraceText(const Message& message) {
  Kind kind;
  if (!MessageKind(message.type, kind)) return {};
  switch (kind) {
    case Kind::Request:
      return RequestText(message);
    case Kind::Confirmation:
      return ConfirmationText(message);
    case Kind::Response:
      return ResponseTraceText((std::string("PC -> TK: ") + MessageName(message.type)).c_str(), message.result,
                               message.resultDetails);
    case Kind::Indication:
      return IndicationText(message);
  }
  return {};
}

}  // namespace vnl
