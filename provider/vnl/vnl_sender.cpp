#include "provider/vnl/vnl_sender.h"

#include <new>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "provider/trace.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace kvarsp {
namespace {

// Protocol texts are ANSI on the wire; the trace takes UTF-8. The text is
// built only when the protocol trace is on.
template <typename Text>
void TraceProtocolText(Text text) {
  if (VnlTraceOn()) traceVnl("%s", platform::ansiToUtf8(text()).c_str());
}

std::string Ansi(std::u16string_view text) { return platform::wideToAnsi(text); }

vnl::Message Request(uint8_t type) {
  vnl::Message m;
  m.type = type;
  return m;
}

vnl::Message LineRequest(uint8_t type, uint16_t lineId) {
  vnl::Message m = Request(type);
  m.lineId = lineId;
  return m;
}

vnl::Message CallRequest(uint8_t type, uint16_t callId) {
  vnl::Message m = Request(type);
  m.callId = callId;
  return m;
}

// The requests on an active call and a held one.
vnl::Message CallPairRequest(uint8_t type, uint16_t callId, uint16_t heldCallId) {
  vnl::Message m = CallRequest(type, callId);
  m.heldCallId = heldCallId;
  return m;
}

}  // namespace

int VnlSender::iVnlIntfBuildAndSend(bool useGivenRefId, uint8_t type, uint8_t& refId,
                                    std::span<const vnl::Param> params) {
  try {
    std::vector<uint8_t> message;
    message.reserve(vnl::kMaxMessage);
    if (!useGivenRefId) refId = refIds_.Next();
    if (vnl::BuildMessage(type, refId, params, message) != vnl::BuildStatus::Ok) return 0;
    return link_.SendBlock(message) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int VnlSender::SendRequest(const vnl::Message& request, bool lineId16, uint8_t& refId) {
  try {
    TraceProtocolText([&] { return vnl::DecodedTraceText(request); });
    std::vector<vnl::Param> params = vnl::ParamsOf(request, lineId16);
    return iVnlIntfBuildAndSend(false, request.type, refId, params);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void VnlSender::SendResponse(uint8_t type, uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  try {
    TraceProtocolText([&] {
      return vnl::ResponseTraceText((std::string("PC -> TK: ") + vnl::MessageName(type)).c_str(), result, details);
    });
    vnl::Param param = vnl::Param::Result(result, details);
    iVnlIntfBuildAndSend(true, type, refId, std::span(&param, 1));
  } catch (const std::bad_alloc&) {
  }
}

int VnlSender::iSendStartReq(uint8_t protocolVersion, uint8_t driverType, std::u16string_view manufacturer,
                             uint8_t& refId) {
  vnl::Message m = Request(vnl::kStartReq);
  m.linkProtocolVersion = protocolVersion;
  m.driverType = driverType;
  m.manufacturerInfo = Ansi(manufacturer);
  return SendRequest(m, false, refId);
}

int VnlSender::iSendEndReq(uint8_t cause, uint8_t& refId) {
  vnl::Message m = Request(vnl::kEndReq);
  m.cause = cause;
  return SendRequest(m, false, refId);
}

int VnlSender::iSendGetAddressListReq(uint8_t& refId) {
  return SendRequest(Request(vnl::kGetAddressListReq), false, refId);
}

int VnlSender::iSendRegisterReq(bool lineId16, uint16_t lineId, uint8_t& refId) {
  return SendRequest(LineRequest(vnl::kRegisterReq, lineId), lineId16, refId);
}

int VnlSender::iSendUnregisterReq(bool lineId16, uint16_t lineId, uint8_t& refId) {
  return SendRequest(LineRequest(vnl::kUnregisterReq, lineId), lineId16, refId);
}

int VnlSender::iSendGetLineInfoReq(bool lineId16, uint16_t lineId, uint8_t& refId) {
  return SendRequest(LineRequest(vnl::kGetLineInfoReq, lineId), lineId16, refId);
}

int VnlSender::iSendCallEstablishReq(bool lineId16, uint16_t lineId, std::u16string_view destination,
                                     uint8_t callOptions, uint8_t& refId) {
  vnl::Message m = LineRequest(vnl::kCallEstablishReq, lineId);
  m.destAddress = Ansi(destination);
  m.callOptions = callOptions;
  return SendRequest(m, lineId16, refId);
}

int VnlSender::iSendDialReq(uint16_t callId, std::u16string_view destination, uint8_t& refId) {
  vnl::Message m = CallRequest(vnl::kDialReq, callId);
  m.destAddress = Ansi(destination);
  return SendRequest(m, false, refId);
}

int VnlSender::iSendDisconnectReq(uint16_t callId, uint8_t& refId) {
  return SendRequest(CallRequest(vnl::kDisconnectReq, callId), false, refId);
}

int VnlSender::iSendAnswerCallReq(uint16_t callId, uint8_t callOptions, uint8_t& refId) {
  vnl::Message m = CallRequest(vnl::kAnswerCallReq, callId);
  m.callOptions = callOptions;
  return SendRequest(m, false, refId);
}

int VnlSender::iSendPickupCallReq(bool lineId16, uint16_t lineId, std::u16string_view pickupAddress,
                                  uint8_t callOptions, uint8_t& refId) {
  vnl::Message m = LineRequest(vnl::kPickupCallReq, lineId);
  m.pickupAddress = Ansi(pickupAddress);
  m.callOptions = callOptions;
  return SendRequest(m, lineId16, refId);
}

int VnlSender::iSendTransferReq(uint16_t callId, std::u16string_view destination, uint8_t callOptions,
                                uint8_t& refId) {
  vnl::Message m = CallRequest(vnl::kTransferReq, callId);
  m.destAddress = Ansi(destination);
  m.callOptions = callOptions;
  return SendRequest(m, false, refId);
}

int VnlSender::iSend3PtyConferenceReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId) {
  return SendRequest(CallPairRequest(vnl::k3PtyConferenceReq, callId, heldCallId), false, refId);
}

int VnlSender::iSendCompleteTransferReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId) {
  return SendRequest(CallPairRequest(vnl::kCompleteTransferReq, callId, heldCallId), false, refId);
}

int VnlSender::iSendAlternateCallReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId) {
  return SendRequest(CallPairRequest(vnl::kAlternateCallReq, callId, heldCallId), false, refId);
}

int VnlSender::iSendParkCallReq(uint16_t callId, uint8_t& refId) {
  return SendRequest(CallRequest(vnl::kParkCallReq, callId), false, refId);
}

int VnlSender::iSendUnparkCallReq(bool lineId16, uint16_t lineId, uint16_t parkAddress, uint8_t callOptions,
                                  uint8_t& refId) {
  vnl::Message m = LineRequest(vnl::kUnparkCallReq, lineId);
  m.parkAddress = parkAddress;
  m.callOptions = callOptions;
  return SendRequest(m, lineId16, refId);
}

int VnlSender::iSendSetForwardReq(bool lineId16, uint16_t lineId, uint8_t forwardingType,
                                  std::u16string_view destination, uint8_t& refId) {
  vnl::Message m = LineRequest(vnl::kSetForwardReq, lineId);
  m.forwardingType = forwardingType;
  m.destAddress = Ansi(destination);
  return SendRequest(m, lineId16, refId);
}

int VnlSender::iSendRedirectCallReq(uint16_t callId, std::u16string_view destination, uint8_t& refId) {
  vnl::Message m = CallRequest(vnl::kRedirectCallReq, callId);
  m.destAddress = Ansi(destination);
  return SendRequest(m, false, refId);
}

void VnlSender::SendEndResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  SendResponse(vnl::kEndResp, result, details, refId);
}

void VnlSender::SendNewCallResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  SendResponse(vnl::kNewCallResp, result, details, refId);
}

void VnlSender::SendCloseCallResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  SendResponse(vnl::kCloseCallResp, result, details, refId);
}

void VnlSender::SendCallInfoResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  SendResponse(vnl::kCallInfoResp, result, details, refId);
}

void VnlSender::SendLineInfoResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId) {
  SendResponse(vnl::kLineInfoResp, result, details, refId);
}

}  // namespace kvarsp
