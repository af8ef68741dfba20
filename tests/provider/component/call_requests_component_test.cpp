// The call requests (make call, dial, answer, drop, the drop of a call that
// stands for two exchange calls) with their confirmations, refusals,
// time-outs and aborts, and the provider's own supervision of its calls on
// the 500 ms tick (ring repetition, no-answer time-out, setup watch), against
// the simulated exchange in this process on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "provider/vnl/call_supervision.h"
#include "tests/provider/component/call_component_fixture.h"

namespace {

using tktest::CallComponent;
using tktest::TapiRecorder;
using tktest::TapiSeen;
using namespace kvarsp;

// ---- make call ---------------------------------------------------------------

TEST_F(CallComponent, AConfirmedMakeCallCompletesBeforeDialtoneAndBindsTheExchangesCallId) {
  const TspCall* call = MakeCall(0x11, u"0123", 0x20);
  ASSERT_NE(call, nullptr);
  const vnl::Message request = LastSent(vnl::kCallEstablishReq);
  EXPECT_EQ(request.lineId, 10);
  EXPECT_EQ(request.destAddress, "0123");
  EXPECT_EQ(request.callOptions, 0x20);
  EXPECT_EQ(client.transactions().Count(), 1u);

  Confirm(vnl::kCallEstablishConf, request.refId, 0, 0x1234);
  ASSERT_EQ(WaitCompletion(0x11), 0);
  DeliverEvents();
  // The completion comes first, then the call's first state.
  const std::vector<TapiSeen> seen = TapiRecorder::Instance().Seen();
  auto completion =
      std::find_if(seen.begin(), seen.end(), [](const TapiSeen& s) { return s.msg == 0 && s.param1 == 0x11; });
  auto dialtone = std::find_if(seen.begin(), seen.end(), [](const TapiSeen& s) {
    return s.msg == LINE_CALLSTATE && s.param1 == LINECALLSTATE_DIALTONE;
  });
  ASSERT_NE(dialtone, seen.end());
  EXPECT_LT(completion, dialtone);
  EXPECT_EQ(dialtone->param2, 0u);

  Locked([&] {
    EXPECT_TRUE(call->bound);
    EXPECT_NE(call->hdCall(), nullptr);
    EXPECT_TRUE(call->pbxCallIdValid);
    EXPECT_EQ(call->pbxCallId, 0x1234);
    EXPECT_EQ(call->callState, static_cast<uint32_t>(LINECALLSTATE_DIALTONE));
    EXPECT_EQ(provider.state.calls.FindCallByPbxId(0x1234, line), call);
  });
  EXPECT_EQ(client.transactions().Count(), 0u);
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_CALLESTABLISH_CONF( RefID: " + std::to_string(request.refId) +
                       ", RESULT: 0, CALL_ID: 4660 )"));
}

TEST_F(CallComponent, ARefusedMakeCallDeletesTheCallAndFails) {
  const TspCall* call = MakeCall(0x12, u"99");
  ASSERT_NE(call, nullptr);
  Confirm(vnl::kCallEstablishConf, LastSent(vnl::kCallEstablishReq).refId, 255);
  ASSERT_EQ(WaitCompletion(0x12), LINEERR_OPERATIONFAILED);
  EXPECT_FALSE(CallExists(call));
  EXPECT_EQ(client.transactions().Count(), 0u);
  DeliverEvents();
  EXPECT_EQ(TapiRecorder::Instance().Count(kHtLine, LINE_CALLSTATE, LINECALLSTATE_DIALTONE), 0u);
}

TEST_F(CallComponent, AnUnansweredMakeCallFailsBetween5000And5500MsAndALateConfirmationIsIgnored) {
  const TspCall* call = MakeCall(0x13, u"5");
  ASSERT_NE(call, nullptr);
  const uint8_t refId = LastSent(vnl::kCallEstablishReq).refId;
  layer2.Tick(10);  // 5000 ms: not yet past the deadline
  DeliverEvents();
  EXPECT_TRUE(Completions(0x13).empty());
  EXPECT_TRUE(CallExists(call));

  layer2.Tick(1);
  ASSERT_EQ(WaitCompletion(0x13), LINEERR_OPERATIONFAILED);
  EXPECT_FALSE(CallExists(call));
  EXPECT_TRUE(TraceHas("VNL_CALLESTABLISH_CONF Timeout"));

  Confirm(vnl::kCallEstablishConf, refId, 0, 0x77);
  DeliverEvents();
  EXPECT_EQ(Completions(0x13).size(), 1u);
  EXPECT_EQ(TapiRecorder::Instance().Count(kHtLine, LINE_CALLSTATE, LINECALLSTATE_DIALTONE), 0u);
  EXPECT_TRUE(Locked([&] { return provider.state.calls.Calls().empty(); }));
}

TEST_F(CallComponent, ACallClosedBeforeItsConfirmationFailsAndTheExchangesCallIsDisconnected) {
  const TspCall* call = MakeCall(0x14, u"7");
  ASSERT_NE(call, nullptr);
  const uint8_t refId = LastSent(vnl::kCallEstablishReq).refId;
  Locked([&] { provider.state.calls.DeleteCall(call); });  // TAPI closed the unbound call
  Confirm(vnl::kCallEstablishConf, refId, 0, 0x88);
  ASSERT_EQ(WaitCompletion(0x14), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x88});
  EXPECT_TRUE(Locked([&] { return provider.state.calls.Calls().empty(); }));
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(CallComponent, ConfirmationsOfAnotherKindAreRejectedAndFailTheRequest) {
  const TspCall* call = MakeCall(0x15, u"1");
  ASSERT_NE(call, nullptr);
  Confirm(vnl::kDisconnectConf, LastSent(vnl::kCallEstablishReq).refId, 0);
  ASSERT_EQ(WaitCompletion(0x15), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas("MsgRefID and MsgType do not fit together (in VNL_DISCONNECT_CONF)"));
  EXPECT_FALSE(CallExists(call));

  // A make-call confirmation for a drop binds nothing: the drop fails as on
  // its time-out, which gives the call up.
  const TspCall* connected = OutgoingCall(0x31, LINECALLSTATE_CONNECTED);
  ASSERT_EQ(Locked([&] { return client.Drop(0x16, *line, *connected); }), 0);
  Confirm(vnl::kCallEstablishConf, LastSent(vnl::kDisconnectReq).refId, 0, 0x99);
  ASSERT_EQ(WaitCompletion(0x16), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas("MsgRefID and MsgType do not fit together (in VNL_CALLESTABLISH_CONF)"));
  Locked([&] {
    EXPECT_EQ(connected->callState, static_cast<uint32_t>(LINECALLSTATE_IDLE));
    EXPECT_EQ(provider.state.calls.FindCallByPbxId(0x99), nullptr);
  });
  DeliverEvents();
  EXPECT_EQ(TapiRecorder::Instance().Count(kHtLine, LINE_CALLSTATE, LINECALLSTATE_DIALTONE), 0u);
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(CallComponent, LinkLossFailsAPendingMakeCall) {
  const TspCall* call = MakeCall(0x17, u"3");
  layer2.LoseLink();
  EXPECT_EQ(WaitCompletion(0x17), LINEERR_OPERATIONFAILED);
  EXPECT_FALSE(CallExists(call));
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(CallComponent, CloseCallHandsTheProviderLockBackWhileItDrainsTheCallsEvents) {
  const TspCall* call = OutgoingCall(0x301, LINECALLSTATE_CONNECTED);
  const HTAPICALL htCall = call->htCall;
  // The first event waits on the delivery thread until the close drains the
  // second, then tries the provider lock, bounded.
  bool lockFree = false;
  tktest::GatedEvents::Hook() = [&] {
    tktest::GatedEvents::Hook() = nullptr;
    if (!TapiTraceSoon("Not all events for call 0x5301 (htCall) sent to TAPI, waiting ...")) return;
    for (int i = 0; i < 5000 && !lockFree; ++i) {
      lockFree = provider.state.lock.TryLock();
      if (lockFree) provider.state.lock.Unlock();
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  for (DWORD_PTR state : {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD})
    ASSERT_TRUE(provider.state.events.QueueEvent(kHtLine, tktest::GatedEvents::OnEvent, kHtLine, htCall, LINE_CALLSTATE,
                                                 state, 0, 0));
  EXPECT_EQ(provider.callOps.CloseCall(call->hdCall()), 0);
  DeliverEvents();
  EXPECT_EQ(TapiRecorder::Instance().Count(kHtLine, LINE_CALLSTATE, LINECALLSTATE_ONHOLD), 1u);
  EXPECT_TRUE(lockFree);
}

// ---- dial, answer, drop -----------------------------------------------------

struct SimpleRequest {
  const char* name;
  uint8_t requestType;
  uint8_t confirmationType;
  uint32_t callState;
  const char* timeoutText;
};

class SimpleRequests : public CallComponent, public ::testing::WithParamInterface<SimpleRequest> {
 protected:
  // Sends the request for a call the exchange calls 0x42.
  LONG Send(DRV_REQUESTID requestId) {
    const SimpleRequest& p = GetParam();
    return Request(requestId, p.callState == LINECALLSTATE_ACCEPTED ? OfferedCall(0x42, p.callState)
                                                                    : OutgoingCall(0x42, p.callState));
  }
  LONG Request(DRV_REQUESTID requestId, const TspCall* call) {
    return Locked([&] {
      switch (GetParam().requestType) {
        case vnl::kDialReq: return client.Dial(requestId, *line, *call, u"123", u"1-2-3");
        case vnl::kAnswerCallReq: return client.Answer(requestId, *line, *call, 0x40);
        default: return client.Drop(requestId, *line, *call);
      }
    });
  }
};

TEST_P(SimpleRequests, AConfirmationCompletesWith0) {
  ASSERT_EQ(Send(0x21), 0);
  const vnl::Message request = LastSent(GetParam().requestType);
  EXPECT_EQ(request.callId, 0x42);
  Confirm(GetParam().confirmationType, request.refId, 1);  // RESULT 1 is success too
  ASSERT_EQ(WaitCompletion(0x21), 0);
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_P(SimpleRequests, ARefusalCompletesWithOperationFailedAndLeavesTheCall) {
  ASSERT_EQ(Send(0x22), 0);
  Confirm(GetParam().confirmationType, LastSent(GetParam().requestType).refId, 255);
  ASSERT_EQ(WaitCompletion(0x22), LINEERR_OPERATIONFAILED);
  const TspCall* call = Locked([&] { return provider.state.calls.FindCallByPbxId(0x42); });
  ASSERT_NE(call, nullptr);
  Locked([&] { EXPECT_EQ(call->callState, GetParam().callState); });
}

TEST_P(SimpleRequests, NoConfirmationFailsAfter5000Ms) {
  ASSERT_EQ(Send(0x23), 0);
  layer2.Tick(10);
  DeliverEvents();
  EXPECT_TRUE(Completions(0x23).empty());
  layer2.Tick(1);
  ASSERT_EQ(WaitCompletion(0x23), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas(GetParam().timeoutText));
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_P(SimpleRequests, ACallWithoutCallIdSendsNothing) {
  const TspCall* call = MakeCall(0x24, u"1");  // not yet named by the exchange
  ASSERT_NE(call, nullptr);
  const size_t sent = layer2.Sent().size();
  EXPECT_EQ(Request(0x25, call), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(layer2.Sent().size(), sent);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SimpleRequests,
    ::testing::Values(
        SimpleRequest{"Dial", vnl::kDialReq, vnl::kDialConf, LINECALLSTATE_DIALTONE, "VNL_DIAL_CONF Timeout"},
        SimpleRequest{"Answer", vnl::kAnswerCallReq, vnl::kAnswerCallConf, LINECALLSTATE_ACCEPTED,
                      "VNL_ANSWER_CONF Timeout"},
        SimpleRequest{"Drop", vnl::kDisconnectReq, vnl::kDisconnectConf, LINECALLSTATE_CONNECTED,
                      "VNL_DISCONNECT_CONF Timeout"}),
    [](const ::testing::TestParamInfo<SimpleRequest>& info) { return std::string(info.param.name); });

TEST_F(CallComponent, ADropTimeOutClosesTheCallAsIfTheExchangeHadEndedIt) {
  const TspCall* bound = OutgoingCall(0x51, LINECALLSTATE_CONNECTED);
  const TspCall* unbound = OfferedCall(0x52, LINECALLSTATE_CONNECTED);
  Locked([&] {
    provider.state.calls.Unbind(*unbound);  // TAPI closed it; the exchange still knows it
    EXPECT_EQ(client.Drop(0x31, *line, *bound), 0);
    EXPECT_EQ(client.Drop(0x32, *line, *unbound), 0);
  });
  layer2.Tick(11);
  ASSERT_EQ(WaitCompletion(0x31), LINEERR_OPERATIONFAILED);
  ASSERT_EQ(WaitCompletion(0x32), LINEERR_OPERATIONFAILED);
  ASSERT_TRUE(CallExists(bound));
  Locked([&] {
    EXPECT_EQ(bound->callState, static_cast<uint32_t>(LINECALLSTATE_IDLE));
    EXPECT_FALSE(bound->pbxCallIdValid);
  });
  EXPECT_FALSE(CallExists(unbound));
  DeliverEvents();
  EXPECT_EQ(TapiRecorder::Instance().Count(kHtLine, LINE_CALLSTATE, LINECALLSTATE_IDLE), 1u);
}

// A conference call object standing for the exchange calls 0x61 and 0x62.
class DropTwo : public CallComponent {
 protected:
  void SetUp() override {
    CallComponent::SetUp();
    root = Locked([&] { return provider.state.calls.CreateConferenceCall(*line, TapiCall(0x60), 0); });
    ASSERT_EQ(Locked([&] { return client.DropTwo(0x41, *line, *root, 0x61, 0x62); }), 0);
    first = LastSent(vnl::kDisconnectReq);
  }
  const TspCall* root = nullptr;
  vnl::Message first;
};

TEST_F(DropTwo, SendsTheSecondDisconnectAfterTheFirstConfirmationAndCompletesOnceAfterIt) {
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x61});
  Confirm(vnl::kDisconnectConf, first.refId, 255);  // a refusal does not stop the second
  EXPECT_EQ(Disconnects(), (std::vector<uint16_t>{0x61, 0x62}));
  DeliverEvents();
  EXPECT_TRUE(Completions(0x41).empty());
  EXPECT_EQ(client.transactions().Count(), 1u);

  Confirm(vnl::kDisconnectConf, LastSent(vnl::kDisconnectReq).refId, 0);
  ASSERT_EQ(WaitCompletion(0x41), 0);
  DeliverEvents();
  EXPECT_EQ(Completions(0x41).size(), 1u);
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(DropTwo, ATimeOutOfTheSecondFailsTheRequestAndKeepsTheConferenceCall) {
  Confirm(vnl::kDisconnectConf, first.refId, 0);
  layer2.Tick(11);
  ASSERT_EQ(WaitCompletion(0x41), LINEERR_OPERATIONFAILED);
  ASSERT_TRUE(CallExists(root));
  Locked([&] { EXPECT_EQ(root->callState, static_cast<uint32_t>(LINECALLSTATE_ONHOLDPENDCONF)); });
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(CallComponent, LineCloseFailsEveryOpenRequestOfTheLine) {
  const TspCall* connected = OutgoingCall(0x71, LINECALLSTATE_CONNECTED);
  ASSERT_NE(MakeCall(0x51, u"1"), nullptr);
  ASSERT_EQ(Locked([&] { return client.Dial(0x52, *line, *connected, u"2", u"2"); }), 0);
  ASSERT_EQ(Close(0), 0);
  EXPECT_EQ(WaitCompletion(0x51), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(WaitCompletion(0x52), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(client.transactions().Count(), 0u);
  EXPECT_TRUE(Locked([&] { return provider.state.calls.Calls().empty(); }));
}

// ---- supervision ------------------------------------------------------------

TEST_F(CallComponent, TheNoAnswerTimeOutDisconnectsARingbackCallOnceButNotAConnectedOne) {
  const TspCall* ringing = OutgoingCall(0x81, LINECALLSTATE_RINGBACK);
  const TspCall* connected = OutgoingCall(0x82, LINECALLSTATE_CONNECTED);
  Locked([&] {
    provider.state.calls.StartNoAnswerTimer(*ringing, 10000);
    provider.state.calls.StartNoAnswerTimer(*connected, 10000);
  });
  layer2.Tick(20);
  EXPECT_TRUE(Disconnects().empty());
  layer2.Tick(1);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x81});
  EXPECT_EQ(client.transactions().Count(), 0u);  // nobody waits for its confirmation
  Locked([&] {
    EXPECT_TRUE(ringing->noAnswerDropped);
    EXPECT_FALSE(ringing->noAnswerTimer.IsRunning());
    EXPECT_FALSE(connected->noAnswerDropped);
    EXPECT_TRUE(connected->noAnswerTimer.IsRunning());  // kept, expired
  });
  layer2.Tick(4);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x81});
  // The connected call moving back to ringback finds its expired timer.
  Locked([&] { provider.state.calls.SetCallState(*connected, LINECALLSTATE_PROCEEDING, 0); });
  layer2.Tick(1);
  EXPECT_EQ(Disconnects(), (std::vector<uint16_t>{0x81, 0x82}));
}

TEST_F(CallComponent, TheSetupWatchDisconnectsACallLeftOfferingForThreeMinutesOnce) {
  const TspCall* call = OfferedCall(0x91);
  clock.advance(kSetupWatchMs - 500);
  layer2.Tick(1);  // exactly 180000 ms
  EXPECT_TRUE(Disconnects().empty());
  layer2.Tick(1);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x91});
  Locked([&] { EXPECT_TRUE(call->watchDropSent); });
  layer2.Tick(3);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x91});

  Confirm(vnl::kDisconnectConf, LastSent(vnl::kDisconnectReq).refId, 0);
  Locked([&] {
    EXPECT_FALSE(call->watchDropSent);
    EXPECT_TRUE(call->watchDropDone);
    EXPECT_EQ(call->callState, static_cast<uint32_t>(LINECALLSTATE_OFFERING));  // the exchange closes it
  });
  layer2.Tick(20);
  EXPECT_EQ(Disconnects(), std::vector<uint16_t>{0x91});
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(CallComponent, ARefusedMismatchedOrUnansweredWatchDisconnectClosesTheCall) {
  const TspCall* refused = OfferedCall(0xA1);
  const TspCall* mismatched = OfferedCall(0xA3);
  const TspCall* unanswered = OfferedCall(0xA2);
  clock.advance(kSetupWatchMs);
  layer2.Tick(1);
  ASSERT_EQ(Disconnects(), (std::vector<uint16_t>{0xA2, 0xA3, 0xA1}));  // newest first
  const auto refIdOf = [&](uint16_t callId) {
    for (const vnl::Message& m : SentSinceOpen())
      if (m.type == vnl::kDisconnectReq && m.callId == callId) return m.refId;
    ADD_FAILURE() << callId;
    return uint8_t{0};
  };
  Confirm(vnl::kDisconnectConf, refIdOf(0xA1), 255);
  // A confirmation of another kind ends the watch drop as its time-out would.
  Confirm(vnl::kCallEstablishConf, refIdOf(0xA3), 0, 0x55);
  EXPECT_TRUE(TraceHas("MsgRefID and MsgType do not fit together (in VNL_CALLESTABLISH_CONF)"));
  Locked([&] {
    for (const TspCall* closed : {refused, mismatched}) {
      EXPECT_TRUE(closed->watchDropDone);
      EXPECT_FALSE(closed->watchDropSent);
      EXPECT_EQ(closed->callState, static_cast<uint32_t>(LINECALLSTATE_IDLE));
      EXPECT_FALSE(closed->pbxCallIdValid);
    }
    EXPECT_EQ(unanswered->callState, static_cast<uint32_t>(LINECALLSTATE_OFFERING));
  });
  layer2.Tick(11);
  Locked([&] {
    EXPECT_TRUE(unanswered->watchDropDone);
    EXPECT_FALSE(unanswered->watchDropSent);
    EXPECT_EQ(unanswered->callState, static_cast<uint32_t>(LINECALLSTATE_IDLE));
  });
  EXPECT_TRUE(TraceHas("VNL_DISCONNECT_CONF Timeout"));
  EXPECT_EQ(Disconnects().size(), 3u);
}

TEST_F(CallComponent, TheSetupWatchTakesAtMost20CallsPerTickInListOrder) {
  for (uint16_t id = 1; id <= 25; ++id) OfferedCall(0x100 + id);
  OutgoingCall(0x200, LINECALLSTATE_CONNECTED);  // not being set up
  // Newest of all, in dial tone, but not named by the exchange: it cannot be
  // disconnected and takes none of the 20 places.
  const TspCall* unnamed = OutgoingCall(0x201, LINECALLSTATE_DIALTONE);
  Locked([&] { provider.state.calls.ForgetPbxCall(*unnamed); });
  clock.advance(kSetupWatchMs);
  layer2.Tick(1);
  std::vector<uint16_t> expected;
  for (uint16_t id = 25; id >= 6; --id) expected.push_back(0x100 + id);  // the newest 20
  EXPECT_EQ(Disconnects(), expected);
  layer2.Tick(1);
  for (uint16_t id = 5; id >= 1; --id) expected.push_back(0x100 + id);
  EXPECT_EQ(Disconnects(), expected);
  layer2.Tick(1);
  EXPECT_EQ(Disconnects().size(), 25u);
}

TEST_F(CallComponent, ACallRingsEvery4000MsWhileOfferedOrAccepted) {
  const TspCall* call = OfferedCall(0xB1);
  Locked([&] { provider.state.calls.StartRinging(*call); });
  layer2.Tick(8);  // 4000 ms: not past the interval
  DeliverEvents();
  EXPECT_EQ(RingCounts(), std::vector<DWORD_PTR>{0});
  layer2.Tick(1);
  DeliverEvents();
  EXPECT_EQ(RingCounts(), (std::vector<DWORD_PTR>{0, 1}));
  Locked([&] { provider.state.calls.SetCallState(*call, LINECALLSTATE_ACCEPTED, 0); });
  layer2.Tick(8);
  DeliverEvents();
  EXPECT_EQ(RingCounts(), (std::vector<DWORD_PTR>{0, 1, 2}));

  Locked([&] { provider.state.calls.SetCallState(*call, LINECALLSTATE_CONNECTED, 0); });
  layer2.Tick(20);
  DeliverEvents();
  EXPECT_EQ(RingCounts(), (std::vector<DWORD_PTR>{0, 1, 2}));
}

}  // namespace
