#pragma once
// The supplementary services against the call component: every service
// request is left unanswered by the simulated exchange (tests answer by
// hand, or let the exchange refuse), calls are put into their states
// through the call model, and the exchange's reports are injected.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/provider/component/call_component_fixture.h"

namespace tktest {

constexpr uint32_t kNoCall = 0;  // a state standing for an unknown call handle

class ServiceComponent : public CallComponent {
 protected:
  static constexpr uint8_t kServiceRequests[] = {
      vnl::kAlternateCallReq, vnl::kRedirectCallReq, vnl::kSetForwardReq, vnl::kTransferReq,
      vnl::kCompleteTransferReq, vnl::k3PtyConferenceReq, vnl::kParkCallReq, vnl::kUnparkCallReq,
      vnl::kPickupCallReq};

  void SetUp() override {
    CallComponent::SetUp();
    for (uint8_t type : kServiceRequests) engine.Ignore(type, true);
  }
  // The exchange refuses requests of this type (RESULT 255) instead of ignoring them.
  void Refuse(uint8_t type) {
    engine.Ignore(type, false);
    engine.Refuse(type, std::vector<uint8_t>{});
  }

  // Opens line 1 beside the fixture's line; nothing counts as sent so far.
  kvarsp::OpenLine* OpenSecondLine() {
    EXPECT_EQ(Open(1), 0);
    sentBefore = layer2.Sent().size();
    return Locked([&] { return provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(TapiLine(0x101))); });
  }
  // A call on `onLine` (default: the fixture's line) in the state, with
  // CALL_ID pbxCallId (0: none yet); null for kNoCall.
  const kvarsp::TspCall* Call(uint16_t pbxCallId, uint32_t state, kvarsp::OpenLine* onLine = nullptr) {
    if (state == kNoCall) return nullptr;
    return Locked([&] {
      kvarsp::CallModel& calls = provider.state.calls;
      const kvarsp::TspCall* call =
          calls.CreateCall(onLine ? *onLine : *line, TapiCall(0x100 + pbxCallId), u"", 0, LINECALLORIGIN_OUTBOUND);
      if (pbxCallId != 0) calls.BindPbxCall(*call, pbxCallId);
      calls.SetCallState(*call, state, 0);
      return call;
    });
  }
  static HDRVCALL Handle(const kvarsp::TspCall* call) {
    return call ? call->hdCall() : reinterpret_cast<HDRVCALL>(0x7777);
  }
  size_t CallCount() {
    return Locked([&] { return provider.state.calls.Calls().size(); });
  }
  void DeleteCalls() {
    Locked([&] {
      for (const kvarsp::TspCall* call : provider.state.calls.Calls()) provider.state.calls.DeleteCall(call);
    });
  }
  // Between the rows of a table: no calls, nothing sent so far, the
  // service requests ignored again.
  void NextRow() {
    DeleteCalls();
    for (uint8_t type : kServiceRequests) {
      engine.Refuse(type, std::nullopt);
      engine.Ignore(type, true);
    }
    sentBefore = layer2.Sent().size();
  }
  LONG Forward(DRV_REQUESTID requestId, const LINEFORWARDLIST* list, DWORD addressId = 0) {
    HDRVCALL consult = reinterpret_cast<HDRVCALL>(0x99);
    const LONG rc = provider.services.Forward(requestId, line->hdLine(), addressId == 0, addressId, list, &consult);
    EXPECT_EQ(consult, nullptr);  // no consultation call, whatever the result
    return rc;
  }
  // 0 and the request when it was sent (rc is the request ID), else rc and
  // nothing may have been sent.
  LONG Sent(LONG rc, DRV_REQUESTID requestId, uint8_t type, vnl::Message& request) {
    if (rc != static_cast<LONG>(requestId)) {
      EXPECT_TRUE(SentSinceOpen().empty());
      return rc;
    }
    request = LastSent(type);
    return 0;
  }

  // VNL_CALLINFO_IND with only CALL_ID and CALL_STATE.
  void ReportState(uint16_t callId, uint8_t callState) {
    Inject(vnl::kCallInfoInd, 0x80, {vnl::Param::Word(vnl::kCallId, callId), vnl::Param::Byte(vnl::kCallState, callState)});
  }
  // A message from the exchange with these parameters.
  void Inject(uint8_t type, uint8_t refId, const std::vector<vnl::Param>& params) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vnl::BuildMessage(type, refId, params, bytes), vnl::BuildStatus::Ok);
    layer2.Inject(bytes);
  }
};

}  // namespace tktest
