#pragma once
// The link component set-up with one open line (device 0, extension 10, TAPI
// htLine 0x100) for call requests and call supervision. The simulated
// exchange leaves the call requests unanswered; tests answer them with
// hand-built confirmations. Calls are put into their states through the call
// model, as the exchange's indications would.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/provider/component/link_component_fixture.h"

namespace tktest {

// Every line event with all its parameters, for checks on dwParam3 (the
// ring count); each is also handed to TapiRecorder, which keeps the one
// order of completions and events.
class RingEventLog {
 public:
  struct Event {
    DWORD msg = 0;
    DWORD_PTR param1 = 0, param2 = 0, param3 = 0;
  };
  static RingEventLog& Instance() {
    static RingEventLog log;
    return log;
  }
  static void OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    {
      std::lock_guard lock(Instance().m_);
      Instance().events_.push_back({msg, p1, p2, p3});
    }
    TapiRecorder::OnEvent(htLine, htCall, msg, p1, p2, p3);
  }
  void Clear() {
    std::lock_guard lock(m_);
    events_.clear();
  }
  // dwParam3 of every LINE_LINEDEVSTATE RINGING, in order.
  std::vector<DWORD_PTR> RingCounts() {
    std::lock_guard lock(m_);
    std::vector<DWORD_PTR> counts;
    for (const Event& e : events_)
      if (e.msg == LINE_LINEDEVSTATE && e.param1 == LINEDEVSTATE_RINGING) counts.push_back(e.param3);
    return counts;
  }

 private:
  std::mutex m_;
  std::vector<Event> events_;
};

class CallComponent : public LinkComponent {
 protected:
  const HTAPILINE kHtLine = TapiLine(0x100);

  void SetUp() override {
    LinkComponent::SetUp();
    RingEventLog::Instance().Clear();
    for (uint8_t type : {vnl::kCallEstablishReq, vnl::kDialReq, vnl::kAnswerCallReq, vnl::kDisconnectReq})
      engine.Ignore(type, true);
    HDRVLINE hdLine = nullptr;
    ASSERT_EQ(provider.LineOpen(0, kHtLine, &hdLine, 0x20000, RingEventLog::OnEvent), 0);
    line = provider.calls().FindLine(hdLine);
    ASSERT_NE(line, nullptr);
    sentBefore = layer2.Sent().size();
  }

  // Runs fn under the provider lock, as TAPI's threads do.
  template <typename Fn>
  auto Locked(Fn&& fn) {
    ScopedLock lock(&provider.lock());
    return fn();
  }

  static HTAPICALL TapiCall(uintptr_t n) { return reinterpret_cast<HTAPICALL>(0x5000 + n); }

  // TSPI_lineMakeCall's part around the request: the call is created, the
  // request sent, and the call made unbound until the confirmation; a failed
  // request deletes it again. Null when the request failed.
  kvarsp::TspCall* MakeCall(DRV_REQUESTID requestId, std::u16string_view digits, uint8_t options = 0) {
    return Locked([&]() -> kvarsp::TspCall* {
      kvarsp::TspCall* call =
          provider.calls().CreateCall(*line, TapiCall(requestId), digits, 0, LINECALLORIGIN_OUTBOUND);
      if (client.MakeCall(requestId, *line, *call, digits, options) != 0) {
        provider.calls().DeleteCall(call);
        return nullptr;
      }
      provider.calls().Unbind(*call);
      return call;
    });
  }

  // A call the exchange named with pbxCallId, in the given state.
  kvarsp::TspCall* OutgoingCall(uint16_t pbxCallId, uint32_t state) {
    return Locked([&] {
      kvarsp::TspCall* call = provider.calls().CreateCall(*line, TapiCall(pbxCallId), u"", 0, LINECALLORIGIN_OUTBOUND);
      call->pbxCallIdValid = true;
      call->pbxCallId = pbxCallId;
      provider.calls().SetCallState(*call, state, 0);
      return call;
    });
  }
  kvarsp::TspCall* OfferedCall(uint16_t pbxCallId, uint32_t state = LINECALLSTATE_OFFERING) {
    return Locked([&] {
      kvarsp::TspCall* call = provider.calls().CreateOfferedCall(*line, pbxCallId, u"4711", LINECALLORIGIN_INBOUND);
      provider.calls().SetCallState(*call, state, 0);
      return call;
    });
  }
  bool CallExists(const kvarsp::TspCall* call) {
    return Locked([&] {
      for (kvarsp::TspCall* c : provider.calls().Calls())
        if (c == call) return true;
      return false;
    });
  }

  // A confirmation as the exchange would send it.
  static std::vector<uint8_t> Confirmation(uint8_t type, uint8_t refId, uint8_t result,
                                           std::optional<uint16_t> callId = std::nullopt) {
    std::vector<vnl::Param> params{vnl::Param::Result(result)};
    if (callId) params.push_back(vnl::Param::Word(vnl::kCallId, *callId));
    std::vector<uint8_t> bytes;
    EXPECT_EQ(vnl::BuildMessage(type, refId, params, bytes), vnl::BuildStatus::Ok);
    return bytes;
  }
  void Confirm(uint8_t type, uint8_t refId, uint8_t result, std::optional<uint16_t> callId = std::nullopt) {
    layer2.Inject(Confirmation(type, refId, result, callId));
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
  // Waits for the first completion of a request and returns it.
  std::optional<LONG> WaitCompletion(DRV_REQUESTID requestId) {
    if (!waitUntil([&] { return !Completions(requestId).empty(); })) return std::nullopt;
    return Completions(requestId).front();
  }
  // Lets the event delivery thread pass everything queued so far: a marker
  // completion queued now arrives after all of it.
  void DrainEvents() {
    static DRV_REQUESTID marker = 0x7F000000;
    const DRV_REQUESTID id = ++marker;
    Locked([&] { provider.calls().Complete(line, id, 0); });
    ASSERT_TRUE(WaitCompletion(id).has_value());
  }

  kvarsp::OpenLine* line = nullptr;
  size_t sentBefore = 0;
};

}  // namespace tktest
