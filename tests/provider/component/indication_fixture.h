#pragma once
// The exchange's indications against opened lines: the link component whose
// TAPI recorder answers LINE_NEWCALL with a handle, as TAPI does, plus
// builders for the indications and readers for the provider's answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "provider/vnl/codec/vnl_encoder.h"
#include "tests/provider/component/link_component_fixture.h"

namespace tktest {

using LineEventSeen = TapiSeen;

class IndicationComponent : public LinkComponent {
 protected:
  void SetUp() override {
    LinkComponent::SetUp();
    Events().AnswerNewCalls(true);
  }

  static TapiRecorder& Events() { return TapiRecorder::Instance(); }

  // TSPI_lineOpen of a device with TAPI's htLine = 0x100 + device ID.
  LONG OpenAt(DWORD deviceId, DWORD tspiVersion) {
    HDRVLINE hdLine = nullptr;
    return provider.lineOps.LineOpen(deviceId, TapiLine(0x100 + deviceId), &hdLine, tspiVersion, TapiRecorder::OnEvent);
  }

  void Inject(const vnl::Message& m) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vnl::EncodeMessage(m, false, bytes), vnl::BuildStatus::Ok);
    layer2.Inject(bytes);
    DeliverEvents();
  }

  static vnl::Message NewCall(uint8_t refId, uint16_t lineId, uint16_t callId) {
    vnl::Message m;
    m.type = vnl::kNewCallInd;
    m.refId = refId;
    m.lineId = lineId;
    m.Set(vnl::kLineId);
    m.callId = callId;
    m.Set(vnl::kCallId);
    return m;
  }
  static vnl::Message CallInfo(uint8_t refId, uint16_t callId, uint8_t callState) {
    vnl::Message m;
    m.type = vnl::kCallInfoInd;
    m.refId = refId;
    m.callId = callId;
    m.Set(vnl::kCallId);
    m.callState = callState;
    m.Set(vnl::kCallState);
    return m;
  }
  static vnl::Message CloseCall(uint8_t refId, uint16_t callId) {
    vnl::Message m;
    m.type = vnl::kCloseCallInd;
    m.refId = refId;
    m.callId = callId;
    m.Set(vnl::kCallId);
    return m;
  }
  static vnl::Message LineInfo(uint8_t refId, uint16_t lineId, uint8_t lineState, std::string destination) {
    vnl::Message m;
    m.type = vnl::kLineInfoInd;
    m.refId = refId;
    m.lineId = lineId;
    m.Set(vnl::kLineId);
    m.lineState = lineState;
    m.Set(vnl::kLineState);
    m.destAddress = std::move(destination);
    if (!m.destAddress.empty()) m.Set(vnl::kDestAddress);
    return m;
  }

  // The answers as they go on the wire.
  static std::vector<uint8_t> Applied(uint8_t type, uint8_t refId) {
    return {type, refId, 0x00, 0x03, 0xD0, 0x01, 0x00};
  }
  static std::vector<uint8_t> Refused(uint8_t type, uint8_t refId) {
    return {type, refId, 0x00, 0x03, 0xD0, 0x01, 0xFF};
  }
  static std::vector<uint8_t> Refused(uint8_t type, uint8_t refId, uint8_t detail) {
    return {type, refId, 0x00, 0x04, 0xD0, 0x02, 0xFF, detail};
  }
  // The last message of this type the provider sent; empty when none.
  std::vector<uint8_t> LastSent(uint8_t type) {
    const auto sent = layer2.Sent();
    for (auto it = sent.rbegin(); it != sent.rend(); ++it)
      if (!it->empty() && (*it)[0] == type) return *it;
    return {};
  }

  // Offers a call on an opened line as the exchange does: VNL_NEWCALL_IND,
  // then VNL_CALLINFO_IND "offering" with the given extras.
  const kvarsp::TspCall* Offer(uint16_t lineId, uint16_t callId, vnl::Message offering) {
    Inject(NewCall(1, lineId, callId));
    offering.type = vnl::kCallInfoInd;
    offering.refId = 2;
    offering.callId = callId;
    offering.Set(vnl::kCallId);
    offering.callState = 0x11;
    offering.Set(vnl::kCallState);
    Inject(offering);
    return CallById(callId);
  }

  const kvarsp::TspCall* CallById(uint16_t callId) {
    ScopedLock lock(&provider.state.lock);
    return provider.state.calls.FindCallByPbxId(callId);
  }
  // The LINE_CALLSTATE events of one call, as (state, mode).
  std::vector<std::pair<DWORD_PTR, DWORD_PTR>> StatesOf(HTAPICALL htCall) {
    std::vector<std::pair<DWORD_PTR, DWORD_PTR>> out;
    for (const LineEventSeen& e : Events().Of(LINE_CALLSTATE))
      if (e.htCall == htCall) out.emplace_back(e.param1, e.param2);
    return out;
  }
  size_t CallInfoCount(HTAPICALL htCall, DWORD bit) {
    size_t n = 0;
    for (const LineEventSeen& e : Events().Of(LINE_CALLINFO)) n += e.htCall == htCall && e.param1 == bit;
    return n;
  }
};

}  // namespace tktest
