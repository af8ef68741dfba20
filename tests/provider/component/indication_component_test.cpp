// The exchange's indications against opened lines, on the real protocol
// client with the simulated exchange in this process: new calls, call
// states and parties, call ends, forwarding, charging, conferences, and the
// exact answers the provider sends back.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "provider/vnl/call_state_tables.h"
#include "tests/provider/component/indication_fixture.h"

namespace {

using tktest::IndicationComponent;
using tktest::LineEventSeen;
using tktest::TapiLine;
using namespace kvarsp;

// Devices 0 and 1 are the exchange's lines 10 and 11.
constexpr uint16_t kLine0 = 10;
constexpr uint16_t kLine1 = 11;

vnl::Message WithOrig(std::string address, std::optional<uint8_t> type) {
  vnl::Message m;
  m.origAddress = std::move(address);
  if (!m.origAddress.empty()) m.Set(vnl::kOrigAddress);
  if (type) {
    m.origAddressType = *type;
    m.Set(vnl::kOrigAddressType);
  }
  return m;
}

TEST_F(IndicationComponent, ANewCallOnALineNotOpenedIsRefusedAsUnknownLine) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  Inject(NewCall(7, kLine1, 0x1234));
  EXPECT_EQ(LastSent(vnl::kNewCallResp), Refused(vnl::kNewCallResp, 7, 0x80));
  EXPECT_EQ(CallById(0x1234), nullptr);
  EXPECT_TRUE(Events().Of(LINE_NEWCALL).empty());
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 11, CALL_ID: 4660, REFCALL_ID: 0 )"));

  Inject(NewCall(8, kLine0, 0x1234));
  EXPECT_EQ(LastSent(vnl::kNewCallResp), Applied(vnl::kNewCallResp, 8));
  const TspCall* call = CallById(0x1234);
  ASSERT_NE(call, nullptr);
  EXPECT_TRUE(call->offeredByExchange);
  EXPECT_EQ(call->addressId, 0u);
  EXPECT_EQ(call->callState, static_cast<uint32_t>(LINECALLSTATE_UNKNOWN)) << "no state before the first report";
  const auto newCalls = Events().Of(LINE_NEWCALL);
  ASSERT_EQ(newCalls.size(), 1u);
  EXPECT_EQ(newCalls[0].htLine, TapiLine(0x100));
  EXPECT_EQ(newCalls[0].param1, reinterpret_cast<DWORD_PTR>(call->hdCall()));
  EXPECT_EQ(call->htCall, reinterpret_cast<HTAPICALL>(0x7000)) << "TAPI's handle written back";
}

TEST_F(IndicationComponent, ANewCallTapiCannotTakeIsRefusedWithoutDetailAndForgotten) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  Events().AnswerNewCalls(false);
  Inject(NewCall(9, kLine0, 0x20));
  EXPECT_EQ(LastSent(vnl::kNewCallResp), Refused(vnl::kNewCallResp, 9));
  EXPECT_EQ(CallById(0x20), nullptr);
  EXPECT_TRUE(provider.state.calls.Calls().empty());
}

class OfferingByVersion : public IndicationComponent, public ::testing::WithParamInterface<std::pair<DWORD, DWORD>> {};

TEST_P(OfferingByVersion, AnOfferedCallIsAnnouncedReportedOfferingAndRings) {
  const auto [version, mode] = GetParam();
  ASSERT_EQ(OpenAt(0, version), 0);
  const TspCall* call = Offer(kLine0, 0x31, {});
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(LastSent(vnl::kCallInfoResp), Applied(vnl::kCallInfoResp, 2));

  const HTAPICALL htCall = reinterpret_cast<HTAPICALL>(0x7000);
  EXPECT_EQ(StatesOf(htCall), (std::vector<std::pair<DWORD_PTR, DWORD_PTR>>{{LINECALLSTATE_OFFERING, mode}}));
  const auto seen = Events().Seen();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().msg, static_cast<DWORD>(LINE_NEWCALL)) << "LINE_NEWCALL comes first";
  const auto rings = Events().Of(LINE_LINEDEVSTATE);
  auto ring =
      std::find_if(rings.begin(), rings.end(), [](const LineEventSeen& e) { return e.param1 == LINEDEVSTATE_RINGING; });
  ASSERT_NE(ring, rings.end());
  EXPECT_EQ(ring->param2, 1u);
  EXPECT_EQ(ring->param3, 0u) << "the first ring counts 0";
  EXPECT_TRUE(call->ringTimer.IsRunning());
  EXPECT_EQ(call->origin, static_cast<uint32_t>(LINECALLORIGIN_INBOUND));
  EXPECT_EQ(CallInfoCount(htCall, LINECALLINFOSTATE_ORIGIN), 1u);

  // A second report of the same state neither rings again nor reports again.
  Inject(CallInfo(3, 0x31, 0x11));
  EXPECT_EQ(StatesOf(htCall).size(), 1u);
  EXPECT_EQ(call->ringCount, 1u);
  EXPECT_TRUE(
      TraceHas("TK -> PC: VNL_CALLINFO_IND( RefID: 3,\n            CALL_ID: 49,\n"
               "            CALL_STATE: \"offering\",\n            DEST_ADDRESS: \"\","));
}

INSTANTIATE_TEST_SUITE_P(LineVersions, OfferingByVersion,
                         ::testing::Values(std::pair<DWORD, DWORD>{0x10003, 0},
                                           std::pair<DWORD, DWORD>{0x20000, LINEOFFERINGMODE_ACTIVE}));

TEST_F(IndicationComponent, AnInternalCallerTypeOrAnExternalCallTypeSetsTheOrigin) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* internal = Offer(kLine0, 0x41, WithOrig("21", 3));
  ASSERT_NE(internal, nullptr);
  EXPECT_EQ(internal->origin, static_cast<uint32_t>(LINECALLORIGIN_INTERNAL));

  vnl::Message external;
  external.callType = 0x01;
  external.Set(vnl::kCallType);
  const TspCall* call = Offer(kLine0, 0x42, external);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->origin, static_cast<uint32_t>(LINECALLORIGIN_EXTERNAL));
  EXPECT_EQ(call->reason, static_cast<uint32_t>(LINECALLREASON_DIRECT));

  // The type's origin is forced also on a call whose origin is known, and a
  // listed CALL_REASON replaces the type's reason.
  struct Update {
    uint8_t callType;
    std::optional<uint8_t> callReason;
    DWORD reason;
  };
  const Update updates[] = {{0x02, std::nullopt, LINECALLREASON_DIRECT},
                            {0x11, 0x12, LINECALLREASON_FWDNOANSWER},
                            {0x21, 0x40, LINECALLREASON_REDIRECT}};  // 0x40 is not listed
  uint8_t refId = 5;
  for (const Update& u : updates) {
    vnl::Message m = CallInfo(refId++, 0x42, 0x12);
    m.callType = u.callType;
    m.Set(vnl::kCallType);
    if (u.callReason) {
      m.callReason = *u.callReason;
      m.Set(vnl::kCallReason);
    }
    Inject(m);
    EXPECT_EQ(call->origin, static_cast<uint32_t>(LINECALLORIGIN_INTERNAL)) << int(u.callType);
    EXPECT_EQ(call->reason, u.reason) << int(u.callType);
  }
}

TEST_F(IndicationComponent, CallerNumbersGetTheDialPrefixesOfTheirType) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  // A type without number gets the flags of an empty number and no number.
  struct Case {
    uint16_t callId;
    const char* number;
    uint8_t type;
    const char16_t* stored;  // null: none
    DWORD flags;
  };
  const Case cases[] = {
      {0x51, "301234", 4, u"00301234", LINECALLPARTYID_ADDRESS},
      {0x52, "4930", 5, u"0004930", LINECALLPARTYID_ADDRESS},
      {0x53, "21", 3, u"21", LINECALLPARTYID_ADDRESS},
      {0x54, "301234", 2, u"301234", LINECALLPARTYID_BLOCKED},
      {0x55, "301234", 0, u"301234", LINECALLPARTYID_ADDRESS},
      {0x56, "", 2, nullptr, LINECALLPARTYID_BLOCKED},
      {0x57, "", 0, nullptr, LINECALLPARTYID_UNAVAIL},
      {0x58, "", 9, nullptr, LINECALLPARTYID_UNKNOWN},
  };
  for (const Case& c : cases) {
    const TspCall* call = Offer(kLine0, c.callId, WithOrig(c.number, c.type));
    ASSERT_NE(call, nullptr) << c.callId;
    const PartyId& caller = call->party(PartyRole::Caller);
    EXPECT_EQ(caller.flags, c.flags) << c.callId;
    EXPECT_EQ(caller.number, c.stored ? std::optional<std::u16string>(c.stored) : std::nullopt) << c.callId;
    if (c.stored) {
      EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_CALLERID), 1u) << c.callId;
    }
  }
  // Neither number nor type: the caller stays unknown and unreported.
  const TspCall* silent = Offer(kLine0, 0x59, {});
  ASSERT_NE(silent, nullptr);
  EXPECT_EQ(silent->party(PartyRole::Caller), PartyId{});
  EXPECT_EQ(CallInfoCount(silent->htCall, LINECALLINFOSTATE_CALLERID), 0u);
}

// A connected call that the exchange then reports disconnected: the cause
// decides the mode, the provider's own no-answer drop wins from TSPI 0x20000 on.
struct DisconnectCase {
  DWORD tspiVersion;
  std::optional<uint8_t> cause;
  bool noAnswerDropped;
  DWORD mode;
};

class DisconnectModes : public IndicationComponent, public ::testing::WithParamInterface<DisconnectCase> {};

TEST_P(DisconnectModes, TheCauseOrTheNoAnswerDropGivesTheMode) {
  const DisconnectCase& c = GetParam();
  ASSERT_EQ(OpenAt(0, c.tspiVersion), 0);
  const TspCall* call = Offer(kLine0, 0x61, {});
  ASSERT_NE(call, nullptr);
  Inject(CallInfo(3, 0x61, 0x13));
  if (c.noAnswerDropped) Locked([&] { provider.state.calls.NoAnswerDisconnectSent(*call); });
  vnl::Message disconnected = CallInfo(4, 0x61, 0x18);
  if (c.cause) {
    disconnected.cause = *c.cause;
    disconnected.Set(vnl::kCause);
  }
  Inject(disconnected);
  EXPECT_EQ(StatesOf(call->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_DISCONNECTED, c.mode}));
}

INSTANTIATE_TEST_SUITE_P(Causes, DisconnectModes,
                         ::testing::Values(DisconnectCase{0x20000, 0x14, false, LINEDISCONNECTMODE_BUSY},
                                           DisconnectCase{0x20000, std::nullopt, false, LINEDISCONNECTMODE_UNKNOWN},
                                           DisconnectCase{0x20000, 0x00, true, LINEDISCONNECTMODE_NOANSWER},
                                           DisconnectCase{0x10004, 0x00, true, LINEDISCONNECTMODE_NORMAL}));

TEST_F(IndicationComponent, ADisconnectedReportForAnIdleCallLeavesItIdle) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = Offer(kLine0, 0x71, {});
  ASSERT_NE(call, nullptr);
  Inject(CallInfo(3, 0x71, 0x10));
  Inject(CallInfo(4, 0x71, 0x18));
  EXPECT_EQ(call->callState, static_cast<uint32_t>(LINECALLSTATE_IDLE));
  EXPECT_EQ(call->callStateMode, 0u);
  EXPECT_EQ(StatesOf(call->htCall), (std::vector<std::pair<DWORD_PTR, DWORD_PTR>>{
                                        {LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE}, {LINECALLSTATE_IDLE, 0}}));
  EXPECT_EQ(LastSent(vnl::kCallInfoResp), Applied(vnl::kCallInfoResp, 4));
}

TEST_F(IndicationComponent, OnHoldChangesNoStateButUpdatesTheParties) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = Offer(kLine0, 0x72, WithOrig("21", 3));
  ASSERT_NE(call, nullptr);
  Inject(CallInfo(3, 0x72, 0x13));
  const size_t statesBefore = StatesOf(call->htCall).size();

  vnl::Message hold = CallInfo(4, 0x72, 0x19);
  hold.connectedAddress = "301234";
  hold.Set(vnl::kConnectedAddress);
  hold.connectedAddressType = 4;
  hold.Set(vnl::kConnectedAddressType);
  hold.redirectingAddress = "22";
  hold.Set(vnl::kRedirectingAddress);
  hold.redirectionAddress = "4930";
  hold.Set(vnl::kRedirectionAddress);
  hold.redirectionAddressType = 5;
  hold.Set(vnl::kRedirectionAddressType);
  Inject(hold);
  EXPECT_EQ(StatesOf(call->htCall).size(), statesBefore);
  EXPECT_EQ(call->callState, static_cast<uint32_t>(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(call->party(PartyRole::Connected).number, std::optional<std::u16string>(u"00301234"));
  EXPECT_EQ(call->party(PartyRole::Redirecting).number, std::optional<std::u16string>(u"22"));
  EXPECT_EQ(call->party(PartyRole::Redirecting).flags, static_cast<uint32_t>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(call->party(PartyRole::Redirection).number, std::optional<std::u16string>(u"0004930"));
  EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_CONNECTEDID), 2u) << "copied from the caller, then named";
  EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_REDIRECTINGID), 1u);
  EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_REDIRECTIONID), 1u);
}

TEST_F(IndicationComponent, AConnectedIncomingCallWithoutConnectedPartyIsConnectedToItsCaller) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = Offer(kLine0, 0x73, WithOrig("4930", 5));
  ASSERT_NE(call, nullptr);
  {
    ScopedLock lock(&provider.state.lock);
    provider.state.calls.StartNoAnswerTimer(*call, 30000);
  }
  Inject(CallInfo(3, 0x73, 0x13));
  EXPECT_EQ(call->party(PartyRole::Connected), call->party(PartyRole::Caller));
  EXPECT_EQ(call->party(PartyRole::Connected).number, std::optional<std::u16string>(u"0004930"));
  EXPECT_FALSE(call->noAnswerTimer.IsRunning()) << "connected stops the no-answer timer";
  EXPECT_EQ(StatesOf(call->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_CONNECTED, 1}));
}

TEST_F(IndicationComponent, AnOutgoingCallCollectsTheDialledDigitsAndIgnoresCallerAndExternalNumbers) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = nullptr;
  {
    ScopedLock lock(&provider.state.lock);
    OpenLine* line = provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(TapiLine(0x100)));
    ASSERT_NE(line, nullptr);
    call = provider.state.calls.CreateCall(*line, reinterpret_cast<HTAPICALL>(0x9000), u"", 0, LINECALLORIGIN_OUTBOUND);
    provider.state.calls.BindPbxCall(*call, 0x81);
  }
  Inject(CallInfo(3, 0x81, 0x15));
  EXPECT_EQ(StatesOf(call->htCall).back(),
            (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL}));
  vnl::Message digits = CallInfo(4, 0x81, 0x16);
  digits.destAddress = "12";
  digits.Set(vnl::kDestAddress);
  digits.externalAddress = "999";
  digits.Set(vnl::kExternalAddress);
  digits.origAddress = "20";
  digits.Set(vnl::kOrigAddress);
  Inject(digits);
  digits.refId = 5;
  digits.destAddress = "3P4";
  Inject(digits);
  EXPECT_EQ(call->dialledNumber, u"123P4");
  EXPECT_EQ(call->party(PartyRole::Called).number, std::optional<std::u16string>(u"1234"));
  EXPECT_EQ(call->party(PartyRole::Called).flags, static_cast<uint32_t>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(call->party(PartyRole::Caller), PartyId{});
  EXPECT_EQ(call->origin, static_cast<uint32_t>(LINECALLORIGIN_OUTBOUND));

  // Once it rings at the far end, digits are no longer appended.
  Inject(CallInfo(6, 0x81, 0x17));
  digits.refId = 7;
  digits.callState = 0x17;
  digits.destAddress = "5";
  Inject(digits);
  EXPECT_EQ(call->dialledNumber, u"123P4");
  // An external-call type does not turn an outgoing call around.
  vnl::Message external = CallInfo(8, 0x81, 0x13);
  external.callType = 0x01;
  external.Set(vnl::kCallType);
  Inject(external);
  EXPECT_EQ(call->origin, static_cast<uint32_t>(LINECALLORIGIN_OUTBOUND));
}

TEST_F(IndicationComponent, TheExternalAddressBecomesTheCalledIdOfAnIncomingCall) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  vnl::Message offering;
  offering.externalAddress = "4711";
  offering.Set(vnl::kExternalAddress);
  const TspCall* call = Offer(kLine0, 0x82, offering);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->party(PartyRole::Called).number, std::optional<std::u16string>(u"4711"));
  EXPECT_EQ(call->party(PartyRole::Called).flags, static_cast<uint32_t>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_CALLEDID), 1u);
}

TEST_F(IndicationComponent, CallInfoForAnUnknownCallIsRefusedAsUnknownCall) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  Inject(CallInfo(12, 0x99, 0x13));
  EXPECT_EQ(LastSent(vnl::kCallInfoResp), Refused(vnl::kCallInfoResp, 12, 0x81));
}

TEST_F(IndicationComponent, CloseCallEndsABoundCallDeletesAnUnboundOneAndRefusesAnUnknownOne) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  Inject(CloseCall(20, 0x99));
  EXPECT_EQ(LastSent(vnl::kCloseCallResp), Refused(vnl::kCloseCallResp, 20, 0x81));
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_CLOSECALL_IND( RefID: 20, CALL_ID: 153 )"));

  const TspCall* bound = Offer(kLine0, 0x91, {});
  ASSERT_NE(bound, nullptr);
  Inject(CloseCall(21, 0x91));
  EXPECT_EQ(LastSent(vnl::kCloseCallResp), Applied(vnl::kCloseCallResp, 21));
  EXPECT_EQ(StatesOf(bound->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_IDLE, 0}));
  EXPECT_FALSE(bound->pbxCallIdValid);
  EXPECT_EQ(CallById(0x91), nullptr);

  const TspCall* unbound = Offer(kLine0, 0x92, {});
  ASSERT_NE(unbound, nullptr);
  {
    ScopedLock lock(&provider.state.lock);
    provider.state.calls.Unbind(*unbound);  // TAPI closed it while the exchange still had it
  }
  const size_t eventsBefore = Events().Seen().size();
  Inject(CloseCall(22, 0x92));
  EXPECT_EQ(LastSent(vnl::kCloseCallResp), Applied(vnl::kCloseCallResp, 22));
  EXPECT_EQ(Events().Seen().size(), eventsBefore) << "nothing reported for a call TAPI no longer has";
  const auto calls = provider.state.calls.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), unbound), 0);
}

TEST_F(IndicationComponent, LineInfoSetsTheForwardingAndReportsItForEveryAddress) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  Inject(LineInfo(30, kLine1, 0x10, "22"));
  EXPECT_EQ(LastSent(vnl::kLineInfoResp), Refused(vnl::kLineInfoResp, 30, 0x80)) << "line 11 is not open";

  Inject(LineInfo(31, kLine0, 0x11, "22"));
  EXPECT_EQ(LastSent(vnl::kLineInfoResp), Applied(vnl::kLineInfoResp, 31));
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_LINEINFO_IND( RefID: 31, LINE_ID: 10, LINE_STATE: 0x11, DEST_ADDRESS: \"22\" )"));
  auto forwards = Events().Of(LINE_ADDRESSSTATE);
  ASSERT_EQ(forwards.size(), 2u) << "two addresses (MSNs 4711 and 4712)";
  EXPECT_EQ(forwards[0].param1, 0u);
  EXPECT_EQ(forwards[1].param1, 1u);
  for (const LineEventSeen& e : forwards) EXPECT_EQ(e.param2, LINEADDRESSSTATE_FORWARD);
  OpenLine* line = provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(TapiLine(0x100)));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->forwardMode, static_cast<uint32_t>(LINEFORWARDMODE_BUSY));
  EXPECT_EQ(line->forwardDestination, std::optional<std::u16string>(u"22"));

  Inject(LineInfo(32, kLine0, 0x11, "22"));
  EXPECT_EQ(Events().Of(LINE_ADDRESSSTATE).size(), 2u) << "no change, no report";

  // Forwarding without destination is none.
  Inject(LineInfo(33, kLine0, 0x10, ""));
  EXPECT_EQ(line->forwardMode, 0u);
  EXPECT_FALSE(line->forwardDestination.has_value());
  EXPECT_EQ(Events().Of(LINE_ADDRESSSTATE).size(), 4u);
  EXPECT_EQ(LastSent(vnl::kLineInfoResp), Applied(vnl::kLineInfoResp, 33));
}

TEST_F(IndicationComponent, ChargingInformationIsStoredAsTextAndReported) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = Offer(kLine0, 0xA1, {});
  ASSERT_NE(call, nullptr);
  vnl::Message charge = CallInfo(3, 0xA1, 0x13);
  charge.charging.amount = 1250;
  charge.charging.exponent = 0;
  charge.charging.currency = "EUR";
  charge.Set(vnl::kChargingInfo);
  Inject(charge);
  const std::string text = "1" + EnvironmentDecimalPoint() + "250 EUR";
  std::vector<uint8_t> expected(text.begin(), text.end());
  expected.push_back(0);
  EXPECT_EQ(call->blob(CallBlob::ChargingInfo), expected);
  EXPECT_EQ(CallInfoCount(call->htCall, LINECALLINFOSTATE_CHARGINGINFO), 1u);
  EXPECT_EQ(LastSent(vnl::kCallInfoResp), Applied(vnl::kCallInfoResp, 3));
}

TEST_F(IndicationComponent, AConferenceTheExchangeReportsIsMadeJoinedAndDissolved) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* first = Offer(kLine0, 0xB1, {});
  ASSERT_NE(first, nullptr);
  Inject(CallInfo(3, 0xB1, 0x13));
  Inject(CallInfo(4, 0xB1, 0x20));  // held for the second call
  const TspCall* second = Offer(kLine0, 0xB2, {});
  ASSERT_NE(second, nullptr);
  Inject(CallInfo(5, 0xB2, 0x13));
  ASSERT_EQ(Events().Of(LINE_NEWCALL).size(), 2u);

  Inject(CallInfo(6, 0xB1, 0x21));
  const auto newCalls = Events().Of(LINE_NEWCALL);
  ASSERT_EQ(newCalls.size(), 3u) << "a conference call announced";
  const TspCall* conference = provider.state.calls.FindCall(reinterpret_cast<HDRVCALL>(newCalls[2].param1));
  ASSERT_NE(conference, nullptr);
  EXPECT_TRUE(conference->conferenceRoot);
  EXPECT_EQ(conference->conferencePbxCallId, 0xB2) << "known by the connected call's CALL_ID";
  EXPECT_EQ(conference->origin, static_cast<uint32_t>(LINECALLORIGIN_CONFERENCE));
  EXPECT_EQ(StatesOf(conference->htCall), (std::vector<std::pair<DWORD_PTR, DWORD_PTR>>{{LINECALLSTATE_CONNECTED, 1}}));
  const DWORD_PTR conferenceHandle = reinterpret_cast<DWORD_PTR>(conference->htCall);
  EXPECT_EQ(StatesOf(first->htCall).back(),
            (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_CONFERENCED, conferenceHandle}));
  EXPECT_TRUE(first->conferenceMember);
  EXPECT_EQ(first->savedCallState, static_cast<uint32_t>(LINECALLSTATE_ONHOLDPENDTRANSFER));
  EXPECT_EQ(CallById(0xB2), second) << "the conference call does not hide the member's CALL_ID";

  Inject(CallInfo(7, 0xB2, 0x21));
  EXPECT_EQ(Events().Of(LINE_NEWCALL).size(), 3u) << "the connected conference call is joined";
  EXPECT_EQ(StatesOf(second->htCall).back(),
            (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_CONFERENCED, conferenceHandle}));
  EXPECT_EQ(second->conferenceHdCall, conference->handle);

  // The second member hangs up: the first gets back what it had, the conference ends.
  Inject(CallInfo(8, 0xB2, 0x18));
  EXPECT_EQ(StatesOf(first->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_ONHOLDPENDTRANSFER, 0}));
  EXPECT_EQ(StatesOf(conference->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_IDLE, 0}));
  EXPECT_FALSE(first->conferenceMember);
  EXPECT_FALSE(second->conferenceMember);
  EXPECT_EQ(second->callState, static_cast<uint32_t>(LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(LastSent(vnl::kCallInfoResp), Applied(vnl::kCallInfoResp, 8));
}

TEST_F(IndicationComponent, AConferenceMemberTheExchangeClosesEndsTheConference) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* first = Offer(kLine0, 0xC1, {});
  const TspCall* second = Offer(kLine0, 0xC2, {});
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  Inject(CallInfo(3, 0xC1, 0x20));
  Inject(CallInfo(4, 0xC2, 0x13));
  Inject(CallInfo(5, 0xC2, 0x21));
  Inject(CallInfo(6, 0xC1, 0x21));
  ASSERT_TRUE(first->conferenceMember);
  const TspCall* conference =
      provider.state.calls.FindCall(reinterpret_cast<HDRVCALL>(Events().Of(LINE_NEWCALL).back().param1));
  ASSERT_NE(conference, nullptr);
  ASSERT_TRUE(conference->conferenceRoot);

  Inject(CloseCall(7, 0xC2));  // no idle report first
  EXPECT_EQ(StatesOf(conference->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_IDLE, 0}));
  EXPECT_EQ(StatesOf(first->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_ONHOLDPENDTRANSFER, 0}));
  EXPECT_FALSE(first->conferenceMember);
}

TEST_F(IndicationComponent, ACallPreparedForAConferenceJoinsThatConferenceCall) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const TspCall* call = Offer(kLine0, 0xC1, {});
  ASSERT_NE(call, nullptr);
  Inject(CallInfo(3, 0xC1, 0x13));
  const TspCall* prepared = nullptr;
  {
    ScopedLock lock(&provider.state.lock);
    OpenLine* line = provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(TapiLine(0x100)));
    prepared = provider.state.calls.CreateConferenceCall(*line, reinterpret_cast<HTAPICALL>(0x9100), 0);
    provider.state.calls.PrepareConference(*call, *prepared);
  }
  Inject(CallInfo(4, 0xC1, 0x21));
  EXPECT_EQ(Events().Of(LINE_NEWCALL).size(), 1u) << "no conference call of its own";
  EXPECT_EQ(StatesOf(call->htCall).back(), (std::pair<DWORD_PTR, DWORD_PTR>{LINECALLSTATE_CONFERENCED, 0x9100}));
  EXPECT_EQ(call->conferenceHdCall, prepared->handle);
  EXPECT_FALSE(call->pendingConference);
  EXPECT_EQ(call->savedCallState, static_cast<uint32_t>(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(call->savedCallStateMode, 1u);
}

TEST_F(IndicationComponent, FailuresAndUnaskedConfirmationsAreOnlyTraced) {
  ASSERT_EQ(OpenAt(0, 0x20000), 0);
  const size_t sentBefore = layer2.Sent().size();
  layer2.Inject({vnl::kFailureInd, 0x05, 0x00, 0x04, 0xD0, 0x02, 0xFF, 0x12});
  layer2.Inject({vnl::kGetCallInfoConf, 0x06, 0x00, 0x09, 0xD0, 0x01, 0x00, 0x20, 0x01, 0x13, 0x10, 0x01, 0x0A});
  layer2.Inject({vnl::kGetCtiCapsConf, 0x07, 0x00, 0x07, 0xD0, 0x01, 0x00, 0x0A, 0x02, 0xAB, 0x01});
  DeliverEvents();
  EXPECT_EQ(layer2.Sent().size(), sentBefore);
  EXPECT_TRUE(Events().Seen().empty());
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_FAILURE_IND( RefID: 5, RESULT: 255 ( 18, 0, 0, 0 ))"));
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_GETCALLINFO_CONF( 6, 0x0, 0x0, 0x0, 0x13, 0x000a, 0x0, \"\", 0x0,"));
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_GETCTICAPS_CONF( 7, 0x0, 0x0, 0x0, \"ab 01 \", \"\" )"));
}

}  // namespace
