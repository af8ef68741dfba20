// The provider's basic call operations against a configured line table, lines
// opened directly in the call model and a link double that records what the
// provider asks the exchange for: the order of their checks, their error
// codes, what they send, store and report, and what TAPI's callbacks see.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/provider/started_provider.h"
#include "tests/support/trace_capture.h"
#include "tests/support/wait_until.h"

namespace {

using kvarsp::CallBlob;
using kvarsp::TspCall;

// Device 100: line 10, numbers 4711 and 4712, hands-free as the call
// parameters say; 101: line 11, hands-free forced on; 102: line 12, forced off.
constexpr DWORD kAsParams = 100, kForcedOn = 101, kForcedOff = 102;

// What TAPI's callbacks received, in order: completions (msg 0) and events.
struct Seen {
  DRV_REQUESTID requestId = 0;
  LONG result = 0;
  HTAPICALL htCall = nullptr;
  DWORD msg = 0;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
};
std::mutex seenMutex;
std::vector<Seen> seen;

void OnCompletion(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(seenMutex);
  seen.push_back({id, result, nullptr, 0, 0, 0});
}
void OnEvent(HTAPILINE, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  std::lock_guard lock(seenMutex);
  seen.push_back({0, 0, htCall, msg, p1, p2});
}

HTAPICALL Ht(uintptr_t v) { return reinterpret_cast<HTAPICALL>(v); }

// LINECALLPARAMS of the given size, voice, address by ID.
struct CallParams {
  explicit CallParams(DWORD total = sizeof(LINECALLPARAMS)) : bytes(std::max<size_t>(total, 256), 0) {
    get()->dwTotalSize = total;
    get()->dwBearerMode = LINEBEARERMODE_VOICE;
    get()->dwAddressMode = LINEADDRESSMODE_ADDRESSID;
  }
  LINECALLPARAMS* get() { return reinterpret_cast<LINECALLPARAMS*>(bytes.data()); }
  std::vector<uint8_t> bytes;
};

using kvarsp_test::Zeroed;

class CallOps : public kvarsp_test::StartedProvider {
 protected:
  CallOps() : StartedProvider(OnCompletion) {}
  void SetUp() override {
    {
      std::lock_guard lock(seenMutex);
      seen.clear();
    }
    StartedProvider::SetUp();
    kvarsp::ConfigTables& config = provider.state.config;
    config.Clear();
    config.AddLine({10, u"20", true, kvarsp::kHandsfreeAsCallParams});
    config.AddMsnIndex(0, 1);
    config.AddMsnIndex(0, 2);
    config.AddLine({11, u"21", true, kvarsp::kHandsfreeForceOn});
    config.AddLine({12, u"22", true, kvarsp::kHandsfreeForceOff});
    config.AddMsn(1, u"4711");
    config.AddMsn(2, u"4712");
    provider.state.devices.Build(100, 256, config);
  }
  HDRVLINE Open(DWORD deviceId, DWORD version = 0x20000) {
    return OpenInModel(deviceId, 0x1000 + deviceId, OnEvent, version, static_cast<uint16_t>(deviceId - 90)).hdLine();
  }

  // A bound call in a state, known to the exchange by pbxCallId (0: unknown).
  const TspCall* AddCall(HDRVLINE hdLine, DWORD state, uint16_t pbxCallId = 0x40, uintptr_t htCall = 0) {
    ScopedLock lock(&provider.state.lock);
    auto& calls = provider.state.calls;
    const TspCall* call = calls.CreateCall(*calls.FindLine(hdLine), Ht(htCall ? htCall : 0xC000 + ++callCount_), u"", 0,
                                           LINECALLORIGIN_OUTBOUND);
    if (pbxCallId != 0) calls.BindPbxCall(*call, pbxCallId);
    if (state) calls.SetCallState(*call, state, 0);
    return call;
  }
  size_t CallCount() {
    ScopedLock lock(&provider.state.lock);
    return provider.state.calls.Calls().size();
  }

  // Waits until the completion of requestId has reached TAPI; everything
  // queued before it has then been delivered too.
  std::vector<Seen> WaitForCompletion(DRV_REQUESTID requestId) {
    auto completed = [&] {
      std::lock_guard lock(seenMutex);
      for (const Seen& s : seen)
        if (s.msg == 0 && s.requestId == requestId) return true;
      return false;
    };
    EXPECT_TRUE(tktest::waitUntil(completed)) << "request " << requestId;
    std::lock_guard lock(seenMutex);
    return seen;
  }
  static LONG CompletionOf(const std::vector<Seen>& events, DRV_REQUESTID requestId) {
    for (const Seen& s : events)
      if (s.msg == 0 && s.requestId == requestId) return s.result;
    return 1;  // none
  }
  // Lets everything queued so far reach TAPI: a marker completion goes last.
  std::vector<Seen> Settle() {
    const DRV_REQUESTID marker = 0x7777 + ++markers_;
    provider.state.events.QueueCompletion(nullptr, marker, 0);
    return WaitForCompletion(marker);
  }

  tktest::TraceCapture trace;

 private:
  int callCount_ = 0;
  int markers_ = 0;
};

// --- Make call ---------------------------------------------------------------------

TEST_F(CallOps, MakeCallSendsTheFilteredDigitsAndLeavesAnUnboundCall) {
  const HDRVLINE hdLine = Open(kAsParams);
  CallParams params;
  params.get()->dwCallParamFlags = LINECALLPARAMFLAGS_SECURE | LINECALLPARAMFLAGS_ORIGOFFHOOK;
  params.get()->dwAddressID = 1;
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(provider.callOps.MakeCall(0x31, hdLine, Ht(0xCA11), &hdCall, u"0 (123) 456-78", 49, params.get()), 0x31);

  ASSERT_EQ(link.callRequests.size(), 1u);
  const auto& request = link.callRequests[0];
  EXPECT_EQ(request.what, "make");
  EXPECT_EQ(request.requestId, 0x31u);
  EXPECT_EQ(request.digits, u"012345678");
  EXPECT_EQ(request.callOptions, 0x24);

  ScopedLock lock(&provider.state.lock);
  auto calls = provider.state.calls.Calls();
  ASSERT_EQ(calls.size(), 1u);
  const TspCall* call = calls[0];
  EXPECT_EQ(request.call, call);
  EXPECT_FALSE(call->bound);
  EXPECT_EQ(hdCall, reinterpret_cast<HDRVCALL>(call->handle));
  EXPECT_NE(hdCall, nullptr);
  // Unbound, TAPI's handle finds nothing until the exchange confirms.
  EXPECT_EQ(provider.state.calls.FindCall(hdCall), nullptr);
  EXPECT_EQ(call->htCall, Ht(0xCA11));
  EXPECT_EQ(call->origin, LINECALLORIGIN_OUTBOUND);
  EXPECT_EQ(call->countryCode, 49u);
  EXPECT_EQ(call->dialledNumber, u"");
  EXPECT_EQ(call->callParamFlags, LINECALLPARAMFLAGS_SECURE | LINECALLPARAMFLAGS_ORIGOFFHOOK);
  EXPECT_EQ(call->addressId, 1u);
  EXPECT_FALSE(call->noAnswerTimer.IsRunning());
}

TEST_F(CallOps, MakeCallOptionsFollowTheLinesHandsfreeMode) {
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(provider.callOps.MakeCall(1, Open(kForcedOn), Ht(0xA), &hdCall, u"", 0, nullptr), 1);
  CallParams offHook;
  offHook.get()->dwCallParamFlags = LINECALLPARAMFLAGS_ORIGOFFHOOK | LINECALLPARAMFLAGS_BLOCKID;
  ASSERT_EQ(provider.callOps.MakeCall(2, Open(kForcedOff), Ht(0xB), &hdCall, nullptr, 0, offHook.get()), 2);
  ASSERT_EQ(provider.callOps.MakeCall(3, Open(kAsParams), Ht(0xC), &hdCall, u"5", 0, nullptr), 3);

  ASSERT_EQ(link.callRequests.size(), 3u);
  EXPECT_EQ(link.callRequests[0].callOptions, 0x20);
  EXPECT_EQ(link.callRequests[0].digits, u"");
  EXPECT_EQ(link.callRequests[1].callOptions, 0x10);
  EXPECT_EQ(link.callRequests[1].digits, u"");
  EXPECT_EQ(link.callRequests[2].callOptions, 0x00);
}

TEST_F(CallOps, MakeCallFailuresLeaveNoCallBehind) {
  const HDRVLINE hdLine = Open(kAsParams);
  HDRVCALL hdCall = nullptr;
  EXPECT_EQ(provider.callOps.MakeCall(1, nullptr, Ht(0xA), &hdCall, u"1", 0, nullptr), LINEERR_INVALLINEHANDLE);
  // The digit filter refuses before any call exists.
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"123W4", 0, nullptr), LINEERR_DIALDIALTONE);
  EXPECT_EQ(CallCount(), 0u);
  // Refused call parameters take the new call away again.
  CallParams data;
  data.get()->dwBearerMode = LINEBEARERMODE_DATA;
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"1", 0, data.get()), LINEERR_INVALBEARERMODE);
  CallParams address;
  address.get()->dwAddressID = 2;
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"1", 0, address.get()), LINEERR_INVALADDRESSID);
  EXPECT_EQ(CallCount(), 0u);
  EXPECT_TRUE(link.callRequests.empty());
  // So does a request the link could not send.
  link.callRequestResult = LINEERR_OPERATIONFAILED;
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"1", 0, nullptr), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(CallCount(), 0u);
  link.callRequestResult = LINEERR_NOMEM;
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"1", 0, nullptr), LINEERR_NOMEM);
  EXPECT_EQ(CallCount(), 0u);
}

TEST_F(CallOps, MakeCallRefusesAutomaticTransferOnNewerLines) {
  CallParams params;
  params.get()->dwPredictiveAutoTransferStates = LINECALLSTATE_CONNECTED;
  HDRVCALL hdCall = nullptr;
  // Checked before the digits.
  EXPECT_EQ(provider.callOps.MakeCall(1, Open(kAsParams), Ht(0xA), &hdCall, u"W", 0, params.get()), LINEERR_INVALPARAM);
  EXPECT_TRUE(trace.contains("TSPI_lineMakeCall() - Automatic transfer not supported"));
  // An older line has no such member.
  EXPECT_EQ(provider.callOps.MakeCall(2, Open(kForcedOn, 0x10004), Ht(0xB), &hdCall, u"1", 0, params.get()), 2);
  // Nor has a structure that ends before it.
  CallParams shortParams(112);
  shortParams.get()->dwPredictiveAutoTransferStates = LINECALLSTATE_CONNECTED;
  EXPECT_EQ(provider.callOps.MakeCall(3, Open(kForcedOff), Ht(0xC), &hdCall, u"1", 0, shortParams.get()), 3);
}

TEST_F(CallOps, MakeCallDependsOnTheCallsOfTheLine) {
  const HDRVLINE hdLine = Open(kAsParams);
  HDRVCALL hdCall = nullptr;
  const TspCall* held = AddCall(hdLine, LINECALLSTATE_ONHOLD);
  EXPECT_EQ(provider.callOps.MakeCall(1, hdLine, Ht(0xA), &hdCall, u"1", 0, nullptr), 1);
  AddCall(hdLine, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(provider.callOps.MakeCall(2, hdLine, Ht(0xB), &hdCall, u"1", 0, nullptr), LINEERR_INVALLINESTATE);
  Locked([&](auto& calls) { calls.SetCallState(*held, LINECALLSTATE_IDLE, 0); });
  const HDRVLINE other = Open(kForcedOn);
  Locked([&](auto& calls) { calls.FindLine(other)->outOfService = true; });
  EXPECT_EQ(provider.callOps.MakeCall(3, other, Ht(0xC), &hdCall, u"1", 0, nullptr), LINEERR_INVALLINESTATE);
  EXPECT_EQ(link.callRequests.size(), 1u);
}

TEST_F(CallOps, MakeCallStartsTheNoAnswerTimerOnNewerLines) {
  CallParams params;
  params.get()->dwNoAnswerTimeout = 30;
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(provider.callOps.MakeCall(1, Open(kAsParams), Ht(0xA), &hdCall, u"1", 0, params.get()), 1);
  ASSERT_EQ(provider.callOps.MakeCall(2, Open(kForcedOn, 0x10004), Ht(0xB), &hdCall, u"1", 0, params.get()), 2);
  params.get()->dwNoAnswerTimeout = 0;
  ASSERT_EQ(provider.callOps.MakeCall(3, Open(kForcedOff), Ht(0xC), &hdCall, u"1", 0, params.get()), 3);
  ASSERT_EQ(link.callRequests.size(), 3u);

  ScopedLock lock(&provider.state.lock);
  const TickTimer& timer = link.callRequests[0].call->noAnswerTimer;
  ASSERT_TRUE(timer.IsRunning());
  EXPECT_EQ(timer.StartTick(), clock.tickCount());
  EXPECT_EQ(timer.EndTick() - timer.StartTick(), 30000u);
  EXPECT_FALSE(timer.HasExpired(clock.tickCount() + 30000));
  EXPECT_TRUE(timer.HasExpired(clock.tickCount() + 30001));
  EXPECT_FALSE(link.callRequests[1].call->noAnswerTimer.IsRunning());
  EXPECT_FALSE(link.callRequests[2].call->noAnswerTimer.IsRunning());
}

// --- Dial, accept, answer ------------------------------------------------------------

TEST_F(CallOps, DialSendsTheDigitsAndKeepsTheCallersText) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_DIALTONE, 0x41);
  EXPECT_EQ(provider.callOps.DialCall(5, call->hdCall(), u"12-34 ,5", 0), 5);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "dial");
  EXPECT_EQ(link.callRequests[0].call, call);
  EXPECT_EQ(link.callRequests[0].digits, u"12345");
  EXPECT_EQ(link.callRequests[0].dialString, u"12-34 ,5");

  link.callRequestResult = LINEERR_OPERATIONFAILED;
  EXPECT_EQ(provider.callOps.DialCall(6, call->hdCall(), u"1", 0), LINEERR_OPERATIONFAILED);
}

TEST_F(CallOps, DialChecksHandleStateCallIdAndDigitsInThatOrder) {
  const HDRVLINE hdLine = Open(kAsParams);
  EXPECT_EQ(provider.callOps.DialCall(5, reinterpret_cast<HDRVCALL>(uintptr_t{0x999}), u"1", 0),
            LINEERR_INVALCALLHANDLE);
  for (DWORD state : {LINECALLSTATE_IDLE, LINECALLSTATE_OFFERING, LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED}) {
    const TspCall* call = AddCall(hdLine, state, 0);
    EXPECT_EQ(provider.callOps.DialCall(5, call->hdCall(), u"W", 0), LINEERR_INVALCALLSTATE) << state;
  }
  const TspCall* root;
  Locked([&](auto& calls) {
    root = calls.CreateConferenceCall(*calls.FindLine(hdLine), Ht(0xC0F), 0);
    calls.SetCallState(*root, LINECALLSTATE_CONNECTED, 0);
  });
  EXPECT_EQ(provider.callOps.DialCall(5, root->hdCall(), u"1", 0), LINEERR_INVALCALLSTATE);
  const TspCall* unknown = AddCall(hdLine, LINECALLSTATE_DIALING, 0);
  EXPECT_EQ(provider.callOps.DialCall(5, unknown->hdCall(), u"W", 0), LINEERR_OPERATIONFAILED);
  const TspCall* known = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x42);
  EXPECT_EQ(provider.callOps.DialCall(5, known->hdCall(), u"1$", 0), LINEERR_DIALBILLING);
  EXPECT_TRUE(link.callRequests.empty());
}

TEST_F(CallOps, AcceptCompletesAtOnceAndChangesNothing) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* offered = AddCall(hdLine, LINECALLSTATE_OFFERING);
  EXPECT_EQ(provider.callOps.AcceptCall(9, offered->hdCall(), "uui", 3), 9);
  EXPECT_EQ(CompletionOf(WaitForCompletion(9), 9), 0);
  EXPECT_EQ(offered->callState, LINECALLSTATE_OFFERING);
  EXPECT_TRUE(link.callRequests.empty());

  const TspCall* accepted = AddCall(hdLine, LINECALLSTATE_ACCEPTED);
  EXPECT_EQ(provider.callOps.AcceptCall(10, accepted->hdCall(), nullptr, 0), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(provider.callOps.AcceptCall(10, nullptr, nullptr, 0), LINEERR_INVALCALLHANDLE);
}

TEST_F(CallOps, AnswerOnlyAnAcceptedCall) {
  const HDRVLINE hdLine = Open(kForcedOn);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_OFFERING, 0x51);
  EXPECT_EQ(provider.callOps.AnswerCall(4, call->hdCall(), nullptr, 0), LINEERR_INVALCALLSTATE);
  Locked([&](auto& calls) { calls.SetCallState(*call, LINECALLSTATE_ACCEPTED, 0); });
  EXPECT_EQ(provider.callOps.AnswerCall(4, call->hdCall(), nullptr, 0), 4);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "answer");
  EXPECT_EQ(link.callRequests[0].call, call);
  EXPECT_EQ(link.callRequests[0].callOptions, 0x40);

  // On a line that leaves hands-free to the call, answering asks for nothing.
  const TspCall* other = AddCall(Open(kAsParams), LINECALLSTATE_ACCEPTED, 0x52);
  EXPECT_EQ(provider.callOps.AnswerCall(5, other->hdCall(), nullptr, 0), 5);
  EXPECT_EQ(link.callRequests.back().callOptions, 0x00);
}

TEST_F(CallOps, AnswerNeedsRoomOnTheLineAndACallId) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_ACCEPTED, 0);
  // Without a call ID there is nothing to answer at the exchange.
  EXPECT_EQ(provider.callOps.AnswerCall(4, call->hdCall(), nullptr, 0), LINEERR_OPERATIONFAILED);
  const TspCall* held = AddCall(hdLine, LINECALLSTATE_ONHOLD, 0x60);
  // The accepted call and a held one are two calls already.
  EXPECT_EQ(provider.callOps.AnswerCall(4, call->hdCall(), nullptr, 0), LINEERR_INVALLINESTATE);
  Locked([&](auto& calls) { calls.SetCallState(*held, LINECALLSTATE_IDLE, 0); });
  EXPECT_EQ(provider.callOps.AnswerCall(4, call->hdCall(), nullptr, 0), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(link.callRequests.empty());
}

// --- Drop ----------------------------------------------------------------------------

TEST_F(CallOps, DropOfAnEndedCallCompletesWithoutTheExchange) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_DISCONNECTED, 0x70, 0xD15C);
  EXPECT_EQ(provider.callOps.DropCall(11, call->hdCall(), nullptr, 0), 11);
  EXPECT_EQ(call->callState, LINECALLSTATE_IDLE);
  auto events = WaitForCompletion(11);
  EXPECT_EQ(CompletionOf(events, 11), 0);
  // TAPI heard of IDLE before the completion.
  bool idleFirst = false;
  for (const Seen& s : events) {
    if (s.msg == 0 && s.requestId == 11) break;
    if (s.msg == LINE_CALLSTATE && s.htCall == Ht(0xD15C) && s.param1 == LINECALLSTATE_IDLE) idleFirst = true;
  }
  EXPECT_TRUE(idleFirst);

  EXPECT_EQ(provider.callOps.DropCall(12, call->hdCall(), nullptr, 0), 12);  // now IDLE
  EXPECT_EQ(CompletionOf(WaitForCompletion(12), 12), 0);
  EXPECT_TRUE(link.callRequests.empty());
}

TEST_F(CallOps, DropAsksTheExchangeByCallId) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x71);
  EXPECT_EQ(provider.callOps.DropCall(13, call->hdCall(), nullptr, 0), 13);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "drop");
  EXPECT_EQ(link.callRequests[0].call, call);

  const TspCall* unknown = AddCall(hdLine, LINECALLSTATE_RINGBACK, 0);
  EXPECT_EQ(provider.callOps.DropCall(14, unknown->hdCall(), nullptr, 0), LINEERR_OPERATIONFAILED);
  link.callRequestResult = LINEERR_NOMEM;
  EXPECT_EQ(provider.callOps.DropCall(15, call->hdCall(), nullptr, 0), LINEERR_NOMEM);
  EXPECT_EQ(provider.callOps.DropCall(16, nullptr, nullptr, 0), LINEERR_INVALCALLHANDLE);
}

class ConferenceDrop : public CallOps {
 protected:
  void SetUp() override {
    CallOps::SetUp();
    hdLine = Open(kAsParams);
    ScopedLock lock(&provider.state.lock);
    auto& calls = provider.state.calls;
    root = calls.CreateConferenceCall(*calls.FindLine(hdLine), Ht(0xC0F), 0);
    calls.BecomeConferenceRoot(*root, 0x81);
    calls.SetCallState(*root, LINECALLSTATE_CONNECTED, 0);
    lock.Unlock();
    older = AddCall(hdLine, LINECALLSTATE_CONFERENCED, 0x81);
    newer = AddCall(hdLine, LINECALLSTATE_CONFERENCED, 0x82);
    for (const TspCall* member : {older, newer}) calls.JoinConference(*member, *root);
  }
  HDRVLINE hdLine = nullptr;
  const TspCall* root = nullptr;
  const TspCall* older = nullptr;
  const TspCall* newer = nullptr;
};

TEST_F(ConferenceDrop, TheRootDropsBothMembersInListOrder) {
  EXPECT_EQ(provider.callOps.DropCall(21, root->hdCall(), nullptr, 0), 21);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "drop-two");
  EXPECT_EQ(link.callRequests[0].call, root);
  // The call list is newest first.
  EXPECT_EQ(link.callRequests[0].firstCallId, 0x82);
  EXPECT_EQ(link.callRequests[0].secondCallId, 0x81);
}

TEST_F(ConferenceDrop, TheRootNeedsBothMembersWithCallIds) {
  auto& calls = provider.state.calls;
  calls.ForgetPbxCall(*newer);
  EXPECT_EQ(provider.callOps.DropCall(22, root->hdCall(), nullptr, 0), LINEERR_OPERATIONFAILED);
  calls.BindPbxCall(*newer, 0x82);
  calls.LeaveConference(*newer, false);
  EXPECT_EQ(provider.callOps.DropCall(22, root->hdCall(), nullptr, 0), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(link.callRequests.empty());
}

TEST_F(ConferenceDrop, CallsPreparedForTheConferenceAreDroppedWithIt) {
  auto& calls = provider.state.calls;
  for (const TspCall* member : {older, newer}) {
    calls.LeaveConference(*member, false);
    calls.PrepareConference(*member, *root);
  }
  EXPECT_EQ(provider.callOps.DropCall(26, root->hdCall(), nullptr, 0), 26);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "drop-two");
}

TEST_F(ConferenceDrop, OnlyTheMemberWithTheConferencesCallIdMayBeDropped) {
  EXPECT_EQ(provider.callOps.DropCall(23, newer->hdCall(), nullptr, 0), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(provider.callOps.DropCall(24, older->hdCall(), nullptr, 0), 24);
  ASSERT_EQ(link.callRequests.size(), 1u);
  EXPECT_EQ(link.callRequests[0].what, "drop");
  EXPECT_EQ(link.callRequests[0].call, older);
  // A conferenced call that belongs to no conference.
  provider.state.calls.LeaveConference(*older, false);
  EXPECT_EQ(provider.callOps.DropCall(25, older->hdCall(), nullptr, 0), LINEERR_OPERATIONUNAVAIL);

  // Call status tells the same.
  provider.state.calls.JoinConference(*older, *root);
  Zeroed<LINECALLSTATUS> status(56);
  ASSERT_EQ(provider.callOps.GetCallStatus(older->hdCall(), status.get()), 0);
  EXPECT_EQ(status.get()->dwCallFeatures & ~0x80200000u, LINECALLFEATURE_DROP);
  ASSERT_EQ(provider.callOps.GetCallStatus(newer->hdCall(), status.get()), 0);
  EXPECT_EQ(status.get()->dwCallFeatures & ~0x80200000u, 0u);
}

TEST_F(CallOps, DropOnCloseAndDropNoOwner) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x90);
  EXPECT_EQ(provider.callOps.DropNoOwner(call->hdCall()), 0);
  EXPECT_EQ(call->callState, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(provider.callOps.DropOnClose(call->hdCall()), 0);
  EXPECT_EQ(call->callState, LINECALLSTATE_IDLE);
  EXPECT_EQ(provider.callOps.DropOnClose(nullptr), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(provider.callOps.DropNoOwner(reinterpret_cast<HDRVCALL>(uintptr_t{0x3})), LINEERR_INVALCALLHANDLE);
  EXPECT_TRUE(link.callRequests.empty());
}

// --- Close ---------------------------------------------------------------------------

TEST_F(CallOps, CloseCallUnbindsACallTheExchangeKnowsAndDeletesOthers) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* known = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x99);
  const TspCall* unknown = AddCall(hdLine, LINECALLSTATE_IDLE, 0);
  const TspCall* zeroId = AddCall(hdLine, LINECALLSTATE_IDLE, 0);
  provider.state.calls.BindPbxCall(*zeroId, 0);  // a valid ID 0 counts as unknown
  const HDRVCALL knownHandle = known->hdCall();

  EXPECT_EQ(provider.callOps.CloseCall(knownHandle), 0);
  EXPECT_EQ(provider.callOps.CloseCall(unknown->hdCall()), 0);
  EXPECT_EQ(provider.callOps.CloseCall(zeroId->hdCall()), 0);
  EXPECT_EQ(provider.callOps.CloseCall(knownHandle), LINEERR_INVALCALLHANDLE);

  ScopedLock lock(&provider.state.lock);
  auto calls = provider.state.calls.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], known);
  EXPECT_FALSE(known->bound);
  EXPECT_EQ(provider.state.calls.FindCall(knownHandle), nullptr);
}

// --- Information and status ------------------------------------------------------------

TEST_F(CallOps, CallInfoChecksItsSizeFirst) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x1234);
  Zeroed<LINECALLINFO> small(323);
  EXPECT_EQ(provider.callOps.GetCallInfo(nullptr, small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetCallInfo() - LINECALLINFO structure too small"));
  EXPECT_EQ(provider.callOps.GetCallInfo(call->hdCall(), small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(small.get()->dwNeededSize, 0u);

  Zeroed<LINECALLINFO> info(324);
  EXPECT_EQ(provider.callOps.GetCallInfo(nullptr, info.get()), LINEERR_INVALCALLHANDLE);
  ASSERT_EQ(provider.callOps.GetCallInfo(call->hdCall(), info.get()), 0);
  EXPECT_EQ(info.get()->dwLineDeviceID, kAsParams);
  EXPECT_EQ(info.get()->dwCallID, 0x1234u);
  EXPECT_EQ(info.get()->dwOrigin, LINECALLORIGIN_OUTBOUND);
  EXPECT_EQ(info.get()->dwNeededSize, 324u);
}

TEST_F(CallOps, CallStatusChecksItsSizeFirstAndCountsTheLine) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x10);
  Zeroed<LINECALLSTATUS> small(55);
  EXPECT_EQ(provider.callOps.GetCallStatus(call->hdCall(), small.get()), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(trace.contains("TSPI_lineGetCallStatus() - LINECALLSTATUS structure too small"));

  Zeroed<LINECALLSTATUS> status(56);
  EXPECT_EQ(provider.callOps.GetCallStatus(nullptr, status.get()), LINEERR_INVALCALLHANDLE);
  ASSERT_EQ(provider.callOps.GetCallStatus(call->hdCall(), status.get()), 0);
  EXPECT_EQ(status.get()->dwCallState, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(status.get()->dwCallFeatures, 0x2008088u | 0x80200000u);
  EXPECT_EQ(status.get()->tStateEntryTime.wYear, clock.utcTime().year);

  // A held call beside it: no more transfers out, but swap and complete.
  AddCall(hdLine, LINECALLSTATE_ONHOLD, 0x11);
  ASSERT_EQ(provider.callOps.GetCallStatus(call->hdCall(), status.get()), 0);
  EXPECT_EQ(status.get()->dwCallFeatures, 0x40080A0u | 0x80200000u);
}

TEST_F(CallOps, AddressIdAppSpecificAndMediaMode) {
  const HDRVLINE hdLine = Open(kAsParams);
  const TspCall* call = AddCall(hdLine, LINECALLSTATE_CONNECTED, 0x10, 0xA5);
  Locked([&](auto& calls) { calls.SetAddressId(*call, 1, false); });
  DWORD addressId = 0;
  EXPECT_EQ(provider.callOps.GetCallAddressID(call->hdCall(), &addressId), 0);
  EXPECT_EQ(addressId, 1u);
  EXPECT_EQ(provider.callOps.GetCallAddressID(nullptr, &addressId), LINEERR_INVALCALLHANDLE);

  EXPECT_EQ(provider.callOps.SetAppSpecific(call->hdCall(), 0x55), 0);
  EXPECT_EQ(provider.callOps.SetAppSpecific(call->hdCall(), 0x55), 0);  // unchanged: no event
  EXPECT_EQ(call->appSpecific, 0x55u);
  EXPECT_EQ(provider.callOps.SetAppSpecific(nullptr, 1), LINEERR_INVALCALLHANDLE);
  auto events = Settle();
  size_t appSpecific = 0;
  for (const Seen& s : events)
    appSpecific += s.msg == LINE_CALLINFO && s.htCall == Ht(0xA5) && s.param1 == LINECALLINFOSTATE_APPSPECIFIC;
  EXPECT_EQ(appSpecific, 1u);

  EXPECT_EQ(provider.callOps.SetMediaMode(call->hdCall(), LINEMEDIAMODE_INTERACTIVEVOICE), 0);
  EXPECT_EQ(provider.callOps.SetMediaMode(call->hdCall(), LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM),
            LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(provider.callOps.SetMediaMode(call->hdCall(), 0), LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(provider.callOps.SetMediaMode(nullptr, LINEMEDIAMODE_INTERACTIVEVOICE), LINEERR_INVALCALLHANDLE);
}

TEST_F(CallOps, SetCallDataOnlyOnNewerLines) {
  const TspCall* call = AddCall(Open(kAsParams), LINECALLSTATE_CONNECTED, 0x10, 0xB6);
  const TspCall* old = AddCall(Open(kForcedOn, 0x10004), LINECALLSTATE_CONNECTED, 0x11);
  const uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(provider.callOps.SetCallData(31, old->hdCall(), const_cast<uint8_t*>(data), 3), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.callOps.SetCallData(31, nullptr, const_cast<uint8_t*>(data), 3), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(provider.callOps.SetCallData(31, call->hdCall(), nullptr, 3), LINEERR_INVALPOINTER);
  EXPECT_EQ(provider.callOps.SetCallData(32, call->hdCall(), const_cast<uint8_t*>(data), 3), 32);
  EXPECT_EQ(call->blob(CallBlob::CallData), (std::vector<uint8_t>{1, 2, 3}));
  auto events = WaitForCompletion(32);
  EXPECT_EQ(CompletionOf(events, 32), 0);
  size_t told = 0;
  for (const Seen& s : events)
    told += s.msg == LINE_CALLINFO && s.htCall == Ht(0xB6) && s.param1 == LINECALLINFOSTATE_CALLDATA;
  EXPECT_EQ(told, 1u);
  // Empty call data clears it.
  EXPECT_EQ(provider.callOps.SetCallData(33, call->hdCall(), nullptr, 0), 33);
  EXPECT_TRUE(call->blob(CallBlob::CallData).empty());
}

TEST_F(CallOps, SetCallParamsAcceptsVoiceOnly) {
  const TspCall* call = AddCall(Open(kAsParams), LINECALLSTATE_CONNECTED, 0x10);
  EXPECT_EQ(provider.callOps.SetCallParams(41, call->hdCall(), LINEBEARERMODE_DATA, 0, 0, nullptr),
            LINEERR_INVALBEARERMODE);
  EXPECT_EQ(provider.callOps.SetCallParams(41, nullptr, LINEBEARERMODE_DATA, 0, 0, nullptr), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(provider.callOps.SetCallParams(42, call->hdCall(), LINEBEARERMODE_VOICE, 64, 64, nullptr), 42);
  EXPECT_EQ(CompletionOf(WaitForCompletion(42), 42), 0);
}

}  // namespace
