#pragma once
// The provider's side of sending VNL messages: the encoder that builds one
// message and hands it to the link, and one send operation per message the
// provider sends. Every send operation writes its decoded protocol-trace line
// first, then builds and sends; it returns 1 on success and 0 on failure
// (no memory, message full, link not open or the layer-2 send refused), and
// gives back the RefID it used.
#include <cstdint>
#include <span>
#include <string_view>

#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/refid_allocator.h"
#include "provider/vnl/vnl_link.h"

namespace kvarsp {

class VnlSender {
 public:
  VnlSender(VnlLink& link, RefIdAllocator& refIds) : link_(link), refIds_(refIds) {}

  // Builds one message and sends it. With useGivenRefId clear a new RefID is
  // allocated and stored in refId; with it set, refId is used as given (the
  // responses, which echo their indication's RefID).
  int iVnlIntfBuildAndSend(bool useGivenRefId, uint8_t type, uint8_t& refId, std::span<const vnl::Param> params);

  // Requests. Destinations and addresses are wide strings; empty counts as missing.
  int iSendStartReq(uint8_t protocolVersion, uint8_t driverType, std::u16string_view manufacturer, uint8_t& refId);
  int iSendEndReq(uint8_t cause, uint8_t& refId);
  int iSendGetAddressListReq(uint8_t& refId);
  int iSendRegisterReq(bool lineId16, uint16_t lineId, uint8_t& refId);
  int iSendUnregisterReq(bool lineId16, uint16_t lineId, uint8_t& refId);
  int iSendGetLineInfoReq(bool lineId16, uint16_t lineId, uint8_t& refId);
  int iSendCallEstablishReq(bool lineId16, uint16_t lineId, std::u16string_view destination, uint8_t callOptions,
                            uint8_t& refId);
  int iSendDialReq(uint16_t callId, std::u16string_view destination, uint8_t& refId);
  int iSendDisconnectReq(uint16_t callId, uint8_t& refId);
  int iSendAnswerCallReq(uint16_t callId, uint8_t callOptions, uint8_t& refId);
  int iSendPickupCallReq(bool lineId16, uint16_t lineId, std::u16string_view pickupAddress, uint8_t callOptions,
                         uint8_t& refId);
  int iSendTransferReq(uint16_t callId, std::u16string_view destination, uint8_t callOptions, uint8_t& refId);
  int iSend3PtyConferenceReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId);
  int iSendCompleteTransferReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId);
  int iSendAlternateCallReq(uint16_t callId, uint16_t heldCallId, uint8_t& refId);
  int iSendParkCallReq(uint16_t callId, uint8_t& refId);
  int iSendUnparkCallReq(bool lineId16, uint16_t lineId, uint16_t parkAddress, uint8_t callOptions, uint8_t& refId);
  int iSendSetForwardReq(bool lineId16, uint16_t lineId, uint8_t forwardingType, std::u16string_view destination,
                         uint8_t& refId);
  int iSendRedirectCallReq(uint16_t callId, std::u16string_view destination, uint8_t& refId);

  // Responses to indications: one RESULT (at most 19 detail bytes) under the
  // indication's RefID. Whether it went out is not reported.
  void SendEndResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId);
  void SendNewCallResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId);
  void SendCloseCallResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId);
  void SendCallInfoResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId);
  void SendLineInfoResp(uint8_t result, std::span<const uint8_t> details, uint8_t refId);

 private:
  // Traces the request's decoded line, then builds it from its fields under a new RefID.
  int SendRequest(const vnl::Message& request, bool lineId16, uint8_t& refId);
  void SendResponse(uint8_t type, uint8_t result, std::span<const uint8_t> details, uint8_t refId);

  VnlLink& link_;
  RefIdAllocator& refIds_;
};

}  // namespace kvarsp
