// Transfers, conference, park, unpark and pickup: one table per function for
// its checks and requests (nothing sent on a refusal), the call objects they
// make (kept only when the exchange confirms), park's VARSTRING, the blind
// transfer's wait for its consultation call, and line close with everything
// pending. The simulated exchange ignores or refuses; tests answer by hand.
// (Park and unpark across two lines run whole-chain in service_scenarios_test.)
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "provider/vnl/transfer_requests.h"
#include "tests/provider/component/service_component_fixture.h"

namespace {

using tktest::kNoCall;
using tktest::ServiceComponent;
using tktest::TapiRecorder;
using namespace kvarsp;

constexpr uint16_t kConsultation = 0x60;  // the CALL_ID the exchange gives a new call

// LINECALLPARAMS for a voice call on address 0, with a one-step transfer
// target when one is given; totalSize 0 means the whole structure.
std::vector<uint8_t> CallParams(const char16_t* target, DWORD totalSize = 0) {
  const std::u16string text = target ? target : u"";
  std::vector<uint8_t> bytes(sizeof(LINECALLPARAMS) + 2 * (text.size() + 1));
  auto* p = reinterpret_cast<LINECALLPARAMS*>(bytes.data());
  p->dwTotalSize = totalSize ? totalSize : static_cast<DWORD>(bytes.size());
  p->dwBearerMode = LINEBEARERMODE_VOICE;
  p->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  p->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
  if (target) {
    p->dwCallParamFlags = LINECALLPARAMFLAGS_ONESTEPTRANSFER;
    p->dwTargetAddressOffset = sizeof(LINECALLPARAMS);
    p->dwTargetAddressSize = static_cast<DWORD>(2 * (text.size() + 1));
    std::memcpy(bytes.data() + sizeof(LINECALLPARAMS), text.data(), 2 * text.size());
  }
  return bytes;
}

class TransferComponent : public ServiceComponent {
 protected:
  const TspCall* Newest() {
    return Locked([&] { return provider.state.calls.Calls().front(); });
  }
  // The simulated exchange answers every request; a call from the fixture's
  // line to the far party `number`, which answers.
  const TspCall* ConnectedCallTo(DRV_REQUESTID id, const char16_t* number) {
    engine.Ignore(exchange::VnlEngine::kAllRequests, false);
    const std::string wire(number, number + std::char_traits<char16_t>::length(number));
    EXPECT_TRUE(layer2.Command("party", wire + " noanswer").has_value());
    const TspCall* call = MakeCall(id, number);
    layer2.Pump();
    EXPECT_TRUE(layer2.Command("answer", std::to_string(call->pbxCallId)).has_value());
    layer2.Pump();
    EXPECT_EQ(call->callState, LINECALLSTATE_CONNECTED);
    return call;
  }
  std::string ExchangeCalls() { return layer2.Command("calls", "")->text; }
  LONG SetupTransfer(DRV_REQUESTID id, const TspCall* call, const std::vector<uint8_t>* params, HDRVCALL& consult) {
    const auto* p = params ? reinterpret_cast<const LINECALLPARAMS*>(params->data()) : nullptr;
    return provider.services.SetupTransfer(id, Handle(call), TapiCall(0x900 + id), &consult, p);
  }
};

TEST_F(TransferComponent, BlindTransferNeedsOneConnectedCallAndDigits) {
  struct Case {
    uint32_t state;
    uint16_t pbxCallId;
    bool secondCall;
    const char16_t* destination;
    LONG expected;
  };
  const Case cases[] = {
      {kNoCall, 1, false, u"21", LINEERR_INVALCALLHANDLE},
      {LINECALLSTATE_ONHOLD, 1, false, u"21", LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_CONNECTED, 1, true, u"21", LINEERR_INVALLINESTATE},
      {LINECALLSTATE_CONNECTED, 1, false, u" - -", LINEERR_INVALADDRESS},
      {LINECALLSTATE_CONNECTED, 1, false, u"2@1", LINEERR_DIALQUIET},
      {LINECALLSTATE_CONNECTED, 0, false, u"21", LINEERR_OPERATIONFAILED},
      {LINECALLSTATE_CONNECTED, 5, false, u"2-1", 0},
  };
  DRV_REQUESTID requestId = 0x10;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << ++requestId - 0x10);
    const TspCall* call = Call(c.pbxCallId, c.state);
    if (c.secondCall) Call(9, LINECALLSTATE_ONHOLD);
    vnl::Message request;
    ASSERT_EQ(Sent(provider.services.BlindTransfer(requestId, Handle(call), c.destination, 0), requestId,
                   vnl::kTransferReq, request),
              c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(request.callId, c.pbxCallId);
      EXPECT_EQ(request.destAddress, "21");
      EXPECT_EQ(request.callOptions, 0);
      // A second blind transfer of the same call is refused while the first runs.
      EXPECT_EQ(provider.services.BlindTransfer(0x1F, Handle(call), u"22", 0), LINEERR_INVALCALLSTATE);
    }
    NextRow();
  }
}

TEST_F(TransferComponent, SetupTransferMakesAnUnboundConsultationCallOnlyWhenTheRequestGoesOut) {
  struct Case {
    uint32_t state;
    uint16_t pbxCallId;
    bool secondCall;
    int params;  // 0 none, 1 too small, 2 one-step "2$", 3 one-step "2-2"
    LONG expected;
    const char* sentDigits;
  };
  const Case cases[] = {
      {kNoCall, 1, false, 0, LINEERR_INVALCALLHANDLE, ""},
      {LINECALLSTATE_DIALTONE, 1, false, 0, LINEERR_INVALCALLSTATE, ""},
      {LINECALLSTATE_CONNECTED, 1, true, 0, LINEERR_INVALLINESTATE, ""},
      {LINECALLSTATE_CONNECTED, 1, false, 1, LINEERR_INVALCALLPARAMS, ""},
      {LINECALLSTATE_CONNECTED, 1, false, 2, LINEERR_DIALBILLING, ""},
      {LINECALLSTATE_CONNECTED, 0, false, 0, LINEERR_OPERATIONFAILED, ""},
      {LINECALLSTATE_CONNECTED, 1, false, 0, 0, ""},
      {LINECALLSTATE_CONNECTED, 1, false, 3, 0, "22"},
  };
  const std::vector<uint8_t> params[] = {{}, CallParams(nullptr, 8), CallParams(u"2$"), CallParams(u"2-2")};
  DRV_REQUESTID requestId = 0x20;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << ++requestId - 0x20);
    const TspCall* call = Call(c.pbxCallId, c.state);
    if (c.secondCall) Call(9, LINECALLSTATE_ONHOLD);
    const size_t callsBefore = CallCount();
    HDRVCALL consult = nullptr;
    vnl::Message request;
    ASSERT_EQ(Sent(SetupTransfer(requestId, call, c.params ? &params[c.params] : nullptr, consult), requestId,
                   vnl::kTransferReq, request),
              c.expected);
    EXPECT_EQ(CallCount(), callsBefore + (c.expected == 0));
    if (c.expected == 0) {
      EXPECT_EQ(request.callId, 1);
      EXPECT_EQ(request.destAddress, c.sentDigits);
      const TspCall* made = Newest();
      EXPECT_EQ(consult, reinterpret_cast<HDRVCALL>(made->handle));
      EXPECT_EQ(made->hdCall(), nullptr);  // unbound until the exchange confirms it
    }
    NextRow();
  }
}

TEST_F(TransferComponent, CompleteTransferNeedsOneHeldCallAndOneThatQualifiesForTheMode) {
  OpenLine* second = OpenSecondLine();
  struct Case {
    uint32_t stateA, stateB;
    uint16_t pbxB;
    bool otherLine;
    DWORD mode;
    LONG expected;
    uint8_t type;
    uint16_t callId, heldCallId;
  };
  constexpr DWORD kTransfer = LINETRANSFERMODE_TRANSFER, kConference = LINETRANSFERMODE_CONFERENCE;
  const Case cases[] = {
      {LINECALLSTATE_CONNECTED, kNoCall, 2, false, 0, LINEERR_INVALCALLHANDLE, 0, 0, 0},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 2, true, 0, LINEERR_INVALCALLHANDLE, 0, 0, 0},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 2, false, 4, LINEERR_OPERATIONFAILED, 0, 0, 0},
      {LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLD, 2, false, 0, LINEERR_INVALCALLSTATE, 0, 0, 0},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_CONNECTED, 2, false, 0, LINEERR_INVALCALLSTATE, 0, 0, 0},
      {LINECALLSTATE_DIALTONE, LINECALLSTATE_ONHOLD, 2, false, kTransfer, LINEERR_INVALCALLSTATE, 0, 0, 0},
      {LINECALLSTATE_RINGBACK, LINECALLSTATE_ONHOLD, 2, false, kConference, LINEERR_INVALCALLSTATE, 0, 0, 0},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 0, false, 0, LINEERR_OPERATIONFAILED, 0, 0, 0},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLSTATE_RINGBACK, 2, false, 0, 0, vnl::kCompleteTransferReq, 2, 1},
      {LINECALLSTATE_BUSY, LINECALLSTATE_ONHOLD, 2, false, kTransfer, 0, vnl::kCompleteTransferReq, 1, 2},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLDPENDTRANSFER, 2, false, kConference, 0, vnl::k3PtyConferenceReq,
       1, 2},
  };
  DRV_REQUESTID requestId = 0x30;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << ++requestId - 0x30);
    const TspCall* a = Call(1, c.stateA);
    const TspCall* b = Call(c.pbxB, c.stateB, c.otherLine ? second : nullptr);
    HDRVCALL conf = reinterpret_cast<HDRVCALL>(0x99);
    vnl::Message request;
    ASSERT_EQ(Sent(provider.services.CompleteTransfer(requestId, Handle(a), Handle(b), TapiCall(0x990), &conf, c.mode),
                   requestId, c.type, request),
              c.expected);
    const bool conference = c.type == vnl::k3PtyConferenceReq;
    EXPECT_EQ(conf != nullptr, conference);
    if (c.expected == 0) {
      EXPECT_EQ(request.callId, c.callId);
      EXPECT_EQ(request.heldCallId, c.heldCallId);
    }
    if (conference) {
      const TspCall* root = Newest();
      EXPECT_EQ(conf, root->hdCall());
      EXPECT_TRUE(root->conferenceRoot);
      EXPECT_EQ(root->callState, LINECALLSTATE_ONHOLDPENDCONF);
      EXPECT_TRUE(a->pendingConference && b->pendingConference);
    }
    NextRow();
  }
}

TEST_F(TransferComponent, ParkChecksTheVarStringAndWritesTheParkAddressIntoIt) {
  struct Case {
    DWORD mode, size;  // size 0: no VARSTRING
    uint32_t state;
    uint16_t pbxCallId;
    LONG expected;
    uint8_t result;  // of the confirmation
    uint16_t parkAddress;
    const char16_t* text;  // written into the VARSTRING, null for none
  };
  constexpr DWORD kNonDirected = LINEPARKMODE_NONDIRECTED;
  const Case cases[] = {
      {LINEPARKMODE_DIRECTED, 36, LINECALLSTATE_CONNECTED, 1, LINEERR_INVALPARKMODE, 0, 0, nullptr},
      {kNonDirected, 0, LINECALLSTATE_CONNECTED, 1, LINEERR_INVALPOINTER, 0, 0, nullptr},
      {kNonDirected, 35, LINECALLSTATE_CONNECTED, 1, LINEERR_STRUCTURETOOSMALL, 0, 0, nullptr},
      {kNonDirected, 7, LINECALLSTATE_CONNECTED, 1, LINEERR_STRUCTURETOOSMALL, 0, 0, nullptr},  // no dwNeededSize
      {kNonDirected, 36, kNoCall, 1, LINEERR_INVALCALLHANDLE, 0, 0, nullptr},
      {kNonDirected, 36, LINECALLSTATE_DIALTONE, 1, LINEERR_INVALCALLSTATE, 0, 0, nullptr},
      {kNonDirected, 36, LINECALLSTATE_CONNECTED, 0, LINEERR_OPERATIONFAILED, 0, 0, nullptr},
      {kNonDirected, 36, LINECALLSTATE_CONNECTED, 3, 0, 0, 7, u"7"},
      {kNonDirected, 64, LINECALLSTATE_ONHOLD, 3, 0, 1, 12345, u"12345"},
      {kNonDirected, 36, LINECALLSTATE_ONHOLDPENDCONF, 3, 0, 255, 7, nullptr},
  };
  DRV_REQUESTID requestId = 0x40;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << ++requestId - 0x40);
    std::vector<uint8_t> buffer(64, 0);
    auto* vs = reinterpret_cast<VARSTRING*>(buffer.data());
    vs->dwTotalSize = c.size;
    const TspCall* call = Call(c.pbxCallId, c.state);
    vnl::Message request;
    ASSERT_EQ(Sent(provider.services.Park(requestId, Handle(call), c.mode, c.size ? vs : nullptr), requestId,
                   vnl::kParkCallReq, request),
              c.expected);
    EXPECT_EQ(vs->dwNeededSize, c.expected == LINEERR_STRUCTURETOOSMALL && c.size >= 8 ? 36u : 0u);
    if (c.expected == 0) {
      EXPECT_EQ(request.callId, 3);
      Inject(vnl::kParkCallConf, request.refId,
             {vnl::Param::Result(c.result), vnl::Param::Word(vnl::kParkAddress, c.parkAddress)});
      EXPECT_EQ(WaitCompletion(requestId), c.text ? 0 : LINEERR_OPERATIONFAILED);
      const std::u16string text = c.text ? std::u16string(c.text) + u'\0' : u"";
      EXPECT_EQ(vs->dwUsedSize, text.empty() ? 0u : 24 + 2 * text.size());
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data() + 24), vs->dwStringSize / 2), text);
    }
    NextRow();
  }
  // A VARSTRING that shrank before the exchange answered gets no string.
  VARSTRING small{};
  small.dwTotalSize = 30;
  EXPECT_EQ(FillParkAddress(small, 12345), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(small.dwNeededSize, 36u);
  EXPECT_EQ(small.dwUsedSize, 24u);
  EXPECT_EQ(small.dwStringSize, 0u);
}

TEST_F(TransferComponent, UnparkAndPickupCheckTheLineAndAddressBeforeMakingACall) {
  struct Case {
    bool pickup;
    int lineCase;  // 0 open, 1 unknown, 2 out of service
    const char16_t* address;
    LONG expected;
    uint16_t parkAddress;
    const char* pickupAddress;
  };
  const Case cases[] = {
      {false, 1, u"7", LINEERR_INVALLINEHANDLE, 0, ""},
      {false, 2, u"7", LINEERR_INVALLINESTATE, 0, ""},
      {false, 0, u"70000", LINEERR_INVALADDRESS, 0, ""},
      {false, 0, u"12a", LINEERR_INVALADDRESS, 0, ""},
      {false, 0, nullptr, 0, 0, ""},
      {false, 0, u"65535", 0, 65535, ""},
      {true, 1, u"21", LINEERR_INVALLINEHANDLE, 0, ""},
      {true, 2, u"21", LINEERR_INVALLINESTATE, 0, ""},
      {true, 0, u"21$", LINEERR_DIALBILLING, 0, ""},
      {true, 0, nullptr, 0, 0, ""},
      {true, 0, u"2 1", 0, 0, "21"},
  };
  DRV_REQUESTID requestId = 0x50;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << ++requestId - 0x50);
    Locked([&] { line->outOfService = c.lineCase == 2; });
    const HDRVLINE hdLine = c.lineCase == 1 ? reinterpret_cast<HDRVLINE>(tktest::TapiLine(0x1FF)) : line->hdLine();
    HDRVCALL made = nullptr;
    vnl::Message request;
    const LONG rc = c.pickup ? provider.services.Pickup(requestId, hdLine, TapiCall(requestId), &made, c.address)
                             : provider.services.Unpark(requestId, hdLine, TapiCall(requestId), &made, c.address);
    ASSERT_EQ(Sent(rc, requestId, c.pickup ? vnl::kPickupCallReq : vnl::kUnparkCallReq, request), c.expected);
    EXPECT_EQ(CallCount(), c.expected == 0 ? 1u : 0u);
    if (c.expected == 0) {
      EXPECT_EQ(request.lineId, 10);
      EXPECT_EQ(c.pickup ? request.pickupAddress : std::to_string(request.parkAddress),
                c.pickup ? c.pickupAddress : std::to_string(c.parkAddress));
      const TspCall* call = Newest();
      EXPECT_EQ(made, reinterpret_cast<HDRVCALL>(call->handle));
      EXPECT_EQ(call->hdCall(), nullptr);
      EXPECT_EQ(call->reason, c.pickup ? LINECALLREASON_PICKUP : LINECALLREASON_UNPARK);
      EXPECT_EQ(call->origin, LINECALLORIGIN_UNAVAIL);
    }
    NextRow();
  }
}

// How a request that made a call object ends.
enum class End { Confirmed, Refused, TimedOut };

TEST_F(TransferComponent, CallObjectsMadeForARequestStayOnlyWhenTheExchangeConfirmsIt) {
  struct Service {
    const char* timeoutText;
    uint8_t request, confirmation;
    std::function<const TspCall*(DRV_REQUESTID)> start;  // gives the call object made
    uint32_t confirmedState;
  };
  const TspCall* held = nullptr;
  const TspCall* connected = nullptr;
  HDRVCALL made = nullptr;
  const Service services[] = {
      {"VNL_TRANSFER_CONF Timeout", vnl::kTransferReq, vnl::kTransferConf,
       [&](DRV_REQUESTID id) {
         SetupTransfer(id, Call(1, LINECALLSTATE_CONNECTED), nullptr, made);
         return Newest();
       },
       LINECALLSTATE_DIALTONE},
      {"VNL_3PTYCONFERENCE_CONF Timeout", vnl::k3PtyConferenceReq, vnl::k3PtyConferenceConf,
       [&](DRV_REQUESTID id) {
         connected = Call(1, LINECALLSTATE_CONNECTED);
         held = Call(2, LINECALLSTATE_ONHOLD);
         provider.services.CompleteTransfer(id, Handle(connected), Handle(held), TapiCall(0x990), &made,
                                            LINETRANSFERMODE_CONFERENCE);
         const TspCall* root = Newest();
         ReportState(1, 0x21);  // one member joins before the exchange answers
         return root;
       },
       LINECALLSTATE_CONNECTED},
      {"VNL_UNPARKCALL_CONF Timeout", vnl::kUnparkCallReq, vnl::kUnparkCallConf,
       [&](DRV_REQUESTID id) {
         provider.services.Unpark(id, line->hdLine(), TapiCall(id), &made, u"7");
         return Newest();
       },
       LINECALLSTATE_UNKNOWN},
      {"VNL_PICKUPCALL_CONF Timeout", vnl::kPickupCallReq, vnl::kPickupCallConf,
       [&](DRV_REQUESTID id) {
         provider.services.Pickup(id, line->hdLine(), TapiCall(id), &made, u"");
         return Newest();
       },
       LINECALLSTATE_UNKNOWN},
  };
  DRV_REQUESTID requestId = 0x60;
  for (const Service& s : services) {
    for (End end : {End::Confirmed, End::Refused, End::TimedOut}) {
      SCOPED_TRACE(testing::Message() << s.timeoutText << " end " << static_cast<int>(end));
      ++requestId;
      if (end == End::Refused) Refuse(s.request);
      const size_t traceBefore = trace.Vnl().size();
      const TspCall* call = s.start(requestId);
      layer2.Pump();
      uint8_t refId = 0;
      for (const vnl::Message& m : SentSinceOpen())
        if (m.type == s.request) refId = m.refId;
      if (end == End::Confirmed) Confirm(s.confirmation, refId, 0, kConsultation);
      if (end == End::TimedOut) layer2.Tick(11);
      EXPECT_EQ(WaitCompletion(requestId), end == End::Confirmed ? 0 : LINEERR_OPERATIONFAILED);
      const std::vector<std::string> records = trace.Vnl();
      EXPECT_EQ(AnyHas({records.begin() + traceBefore, records.end()}, s.timeoutText), end == End::TimedOut);
      EXPECT_EQ(CallExists(call), end == End::Confirmed);
      if (end == End::Confirmed) {
        EXPECT_NE(call->hdCall(), nullptr);
        EXPECT_EQ(call->callState, s.confirmedState);
        EXPECT_EQ(call->conferenceRoot ? call->conferencePbxCallId : call->pbxCallId,
                  call->conferenceRoot ? 1 : kConsultation);
      }
      if (held) {  // a failed conference unlinks its members
        EXPECT_EQ(held->pendingConference, end == End::Confirmed);
        EXPECT_EQ(connected->conferenceMember, end == End::Confirmed);
        EXPECT_EQ(connected->callState, end == End::Confirmed ? LINECALLSTATE_CONFERENCED : LINECALLSTATE_CONNECTED);
      }
      EXPECT_EQ(client.transactions().Count(), 0u);
      held = nullptr;
      NextRow();
    }
  }
}

TEST_F(TransferComponent, ABlindTransferCompletesWhenItsConsultationCallRingsAndFailsOtherwise) {
  struct Case {
    const char* name;
    std::function<void(const TspCall*, DRV_REQUESTID)> news;  // after the exchange confirmed the transfer
    bool completeSent;
    LONG result;
    End transfer = End::Confirmed;  // how the exchange answers VNL_TRANSFER_REQ
  };
  const auto report = [&](uint8_t state) {
    return [this, state](const TspCall*, DRV_REQUESTID) { ReportState(kConsultation, state); };
  };
  const Case cases[] = {
      {"delivered", report(0x17), true, 0},
      {"connected", report(0x13), true, 0},
      {"busy", report(0x14), false, LINEERR_OPERATIONFAILED},
      {"disconnected", report(0x18), false, LINEERR_OPERATIONFAILED},
      {"transferred call gone",
       [&](const TspCall* call, DRV_REQUESTID) {
         Locked([&] { provider.state.calls.SetCallState(*call, LINECALLSTATE_IDLE, 0); });
         ReportState(kConsultation, 0x17);
       },
       false, LINEERR_OPERATIONFAILED},
      {"no news for 10 s",
       [&](const TspCall*, DRV_REQUESTID id) {
         const uint32_t confirmed = clock.tickCount();
         layer2.Tick(20);  // 10000 ms: still waiting
         EXPECT_FALSE(WaitCompletion(id).has_value());
         layer2.Tick(1);
         EXPECT_LE(Elapsed(confirmed), 10500u);
       },
       false, LINEERR_OPERATIONFAILED},
      {"transfer refused", nullptr, false, LINEERR_OPERATIONFAILED, End::Refused},
      {"transfer unanswered", nullptr, false, LINEERR_OPERATIONFAILED, End::TimedOut},
  };
  DRV_REQUESTID requestId = 0x80;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++requestId;
    const TspCall* call = Call(1, LINECALLSTATE_CONNECTED);
    if (c.transfer == End::Refused) Refuse(vnl::kTransferReq);
    ASSERT_EQ(provider.services.BlindTransfer(requestId, Handle(call), u"21", 0), static_cast<LONG>(requestId));
    layer2.Pump();
    if (c.transfer == End::TimedOut) layer2.Tick(11);
    if (c.transfer == End::Confirmed) {
      Confirm(vnl::kTransferConf, LastSent(vnl::kTransferReq).refId, 0, kConsultation);
      ReportState(1, 0x20);  // the exchange holds the transferred call
      EXPECT_EQ(call->callState, LINECALLSTATE_ONHOLDPENDTRANSFER);
      EXPECT_EQ(client.transferRecords().Count(), 1u);
      c.news(call, requestId);
    }
    if (c.completeSent) {
      const vnl::Message complete = LastSent(vnl::kCompleteTransferReq);
      EXPECT_EQ(complete.callId, kConsultation);
      EXPECT_EQ(complete.heldCallId, 1);
      EXPECT_FALSE(WaitCompletion(requestId).has_value());
      Confirm(vnl::kCompleteTransferConf, complete.refId, 0);
    }
    EXPECT_EQ(WaitCompletion(requestId), c.result);
    const bool consultationMade = c.transfer == End::Confirmed && !c.completeSent;
    EXPECT_EQ(Disconnects(), consultationMade ? std::vector<uint16_t>{kConsultation} : std::vector<uint16_t>{});
    EXPECT_EQ(TraceHas("VNL_TRANSFER_CONF Timeout"), c.transfer == End::TimedOut);
    EXPECT_FALSE(call->blindTransfer || call->blindTransferWait.active);
    layer2.Tick(25);  // nothing more happens for this request
    EXPECT_EQ(Completions(requestId).size(), 1u);
    Inject(vnl::kCloseCallInd, 0x81, {vnl::Param::Word(vnl::kCallId, kConsultation)});
    EXPECT_EQ(client.transferRecords().Count(), 0u);
    NextRow();
  }
}

TEST_F(TransferComponent, LineCloseAndLinkLossCompleteEveryPendingServiceExactlyOnce) {
  for (bool linkLoss : {false, true}) {
    SCOPED_TRACE(linkLoss ? "link loss" : "line close");
    const TspCall* a = Call(1, LINECALLSTATE_CONNECTED);
    ASSERT_EQ(provider.services.BlindTransfer(0xA1, Handle(a), u"21", 0), 0xA1);
    Confirm(vnl::kTransferConf, LastSent(vnl::kTransferReq).refId, 0, kConsultation);
    const TspCall* held = Call(2, LINECALLSTATE_ONHOLD);
    const TspCall* ringing = Call(3, LINECALLSTATE_RINGBACK);
    std::vector<uint8_t> buffer(64, 0);
    auto* parkAddress = reinterpret_cast<VARSTRING*>(buffer.data());
    parkAddress->dwTotalSize = 64;
    HDRVCALL made = nullptr;
    const std::vector<LONG> started = {
        provider.services.Park(0xA2, Handle(a), LINEPARKMODE_NONDIRECTED, parkAddress),
        provider.services.Unpark(0xA3, line->hdLine(), TapiCall(0xA3), &made, u"7"),
        provider.services.Pickup(0xA4, line->hdLine(), TapiCall(0xA4), &made, u""),
        provider.services.CompleteTransfer(0xA5, Handle(ringing), Handle(held), nullptr, &made, 0),
        provider.services.CompleteTransfer(0xA6, Handle(a), Handle(held), TapiCall(0xA6), &made,
                                           LINETRANSFERMODE_CONFERENCE),
    };
    EXPECT_EQ(started, (std::vector<LONG>{0xA2, 0xA3, 0xA4, 0xA5, 0xA6}));
    if (linkLoss) {
      layer2.LoseLink();
    } else {
      ASSERT_EQ(Close(0), 0);
    }
    layer2.Tick(25);
    DeliverEvents();
    for (DRV_REQUESTID id = 0xA1; id <= 0xA6; ++id)
      EXPECT_EQ(Completions(id), std::vector<LONG>{LINEERR_OPERATIONFAILED}) << std::hex << id;
    EXPECT_EQ(client.transactions().Count(), 0u);
    EXPECT_EQ(client.transferRecords().Count(), 0u);
    // What TAPI does not hold is gone; the rest went idle.
    for (const TspCall* call : Locked([&] { return provider.state.calls.Calls(); }))
      EXPECT_TRUE(call->bound && call->callState == LINECALLSTATE_IDLE);
    if (linkLoss) break;
    ASSERT_EQ(Open(0), 0);
    line = provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(kHtLine));
    TapiRecorder::Instance().Clear();
    sentBefore = layer2.Sent().size();
  }
}

// --- Against the simulated exchange ------------------------------------------

TEST_F(TransferComponent, ABlindTransferLeavesTheFarPartyRingingAtTheDestination) {
  const TspCall* call = ConnectedCallTo(0xB1, u"30");
  ASSERT_TRUE(layer2.Command("party", "31 noanswer").has_value());
  ASSERT_EQ(provider.services.BlindTransfer(0xB2, call->hdCall(), u"31", 0), 0xB2);
  layer2.Pump();
  EXPECT_EQ(WaitCompletion(0xB2), 0);
  EXPECT_EQ(call->callState, LINECALLSTATE_IDLE);
  EXPECT_EQ(client.transferRecords().Count(), 0u);  // the consultation call closed
  EXPECT_NE(ExchangeCalls().find("30 31"), std::string::npos) << ExchangeCalls();  // linked, 31 ringing
}

}  // namespace
