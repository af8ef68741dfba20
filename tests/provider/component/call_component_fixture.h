#pragma once
// The link component set-up with one open line (device 0, extension 10, TAPI
// htLine 0x100) for call requests and call supervision. The simulated
// exchange leaves the call requests unanswered; tests answer them with
// hand-built confirmations. Calls are put into their states through the call
// model, as the exchange's indications would.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/provider/component/link_component_fixture.h"

namespace tktest {

class CallComponent : public LinkComponent {
 protected:
  const HTAPILINE kHtLine = TapiLine(0x100);

  void SetUp() override {
    LinkComponent::SetUp();
    for (uint8_t type : {vnl::kCallEstablishReq, vnl::kDialReq, vnl::kAnswerCallReq, vnl::kDisconnectReq})
      engine.Ignore(type, true);
    HDRVLINE hdLine = nullptr;
    ASSERT_EQ(provider.lineOps.LineOpen(0, kHtLine, &hdLine, 0x20000, TapiRecorder::OnEvent), 0);
    line = provider.state.calls.FindLine(hdLine);
    ASSERT_NE(line, nullptr);
    sentBefore = layer2.Sent().size();
  }

  static HTAPICALL TapiCall(uintptr_t n) { return reinterpret_cast<HTAPICALL>(0x5000 + n); }

  // TSPI_lineMakeCall's part around the request: the call is created, the
  // request sent, and the call made unbound until the confirmation; a failed
  // request deletes it again. Null when the request failed.
  const kvarsp::TspCall* MakeCall(DRV_REQUESTID requestId, std::u16string_view digits, uint8_t options = 0) {
    return Locked([&]() -> const kvarsp::TspCall* {
      const kvarsp::TspCall* call =
          provider.state.calls.CreateCall(*line, TapiCall(requestId), digits, 0, LINECALLORIGIN_OUTBOUND);
      if (client.MakeCall(requestId, *line, *call, digits, options) != 0) {
        provider.state.calls.DeleteCall(call);
        return nullptr;
      }
      provider.state.calls.Unbind(*call);
      return call;
    });
  }

  // A call the exchange named with pbxCallId, in the given state.
  const kvarsp::TspCall* OutgoingCall(uint16_t pbxCallId, uint32_t state) {
    return Locked([&] {
      kvarsp::CallModel& calls = provider.state.calls;
      const kvarsp::TspCall* call = calls.CreateCall(*line, TapiCall(pbxCallId), u"", 0, LINECALLORIGIN_OUTBOUND);
      calls.BindPbxCall(*call, pbxCallId);
      calls.SetCallState(*call, state, 0);
      return call;
    });
  }
  const kvarsp::TspCall* OfferedCall(uint16_t pbxCallId, uint32_t state = LINECALLSTATE_OFFERING) {
    return Locked([&] {
      const kvarsp::TspCall* call =
          provider.state.calls.CreateOfferedCall(*line, pbxCallId, u"4711", LINECALLORIGIN_INBOUND);
      provider.state.calls.SetCallState(*call, state, 0);
      return call;
    });
  }
  bool CallExists(const kvarsp::TspCall* call) {
    return Locked([&] {
      for (const kvarsp::TspCall* c : provider.state.calls.Calls())
        if (c == call) return true;
      return false;
    });
  }

  // A confirmation as the exchange would send it.
  void Confirm(uint8_t type, uint8_t refId, uint8_t result, std::optional<uint16_t> callId = std::nullopt) {
    std::vector<vnl::Param> params{vnl::Param::Result(result)};
    if (callId) params.push_back(vnl::Param::Word(vnl::kCallId, *callId));
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vnl::BuildMessage(type, refId, params, bytes), vnl::BuildStatus::Ok);
    layer2.Inject(bytes);
  }

  // The messages sent since the line was open, decoded.
  std::vector<vnl::Message> SentSinceOpen() {
    std::vector<vnl::Message> out;
    const auto sent = layer2.Sent();
    for (size_t i = sentBefore; i < sent.size(); ++i) {
      vnl::Message m;
      vnl::DecodeMessage(sent[i], false, m, [](std::string_view) {});
      out.push_back(m);
    }
    return out;
  }
  // The CALL_IDs of the VNL_DISCONNECT_REQs sent since the line was open.
  std::vector<uint16_t> Disconnects() {
    std::vector<uint16_t> ids;
    for (const vnl::Message& m : SentSinceOpen())
      if (m.type == vnl::kDisconnectReq) ids.push_back(m.callId);
    return ids;
  }
  // The last message sent, decoded; its type must be `type`.
  vnl::Message LastSent(uint8_t type) {
    auto sent = SentSinceOpen();
    if (sent.empty()) {
      ADD_FAILURE() << "nothing sent";
      return {};
    }
    EXPECT_EQ(sent.back().type, type);
    return sent.back();
  }

  // The completions TAPI received for a request, in order.
  std::vector<LONG> Completions(DRV_REQUESTID requestId) {
    std::vector<LONG> results;
    for (const TapiSeen& s : TapiRecorder::Instance().Seen())
      if (s.msg == 0 && s.param1 == requestId) results.push_back(static_cast<LONG>(s.param2));
    return results;
  }
  // The first completion of a request once everything queued so far reached TAPI.
  std::optional<LONG> WaitCompletion(DRV_REQUESTID requestId) {
    DeliverEvents();
    const std::vector<LONG> results = Completions(requestId);
    if (results.empty()) return std::nullopt;
    return results.front();
  }
  // dwParam3 of every LINE_LINEDEVSTATE RINGING, in order.
  std::vector<DWORD_PTR> RingCounts() {
    std::vector<DWORD_PTR> counts;
    for (const TapiSeen& e : TapiRecorder::Instance().Of(LINE_LINEDEVSTATE))
      if (e.param1 == LINEDEVSTATE_RINGING) counts.push_back(e.param3);
    return counts;
  }

  kvarsp::OpenLine* line = nullptr;
  size_t sentBefore = 0;
};

}  // namespace tktest
