#include "provider/call_model.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/fake_clock.h"
#include "tests/provider/recording_sink.h"

namespace {

using kvarsp::CallBlob;
using kvarsp::CallCounts;
using kvarsp::CallModel;
using kvarsp::OpenLine;
using kvarsp::PartyRole;
using kvarsp::TspCall;
using tktest::RecordingSink;

// Two addresses per device, named "21" and "22".
class TwoAddresses : public kvarsp::LineAddresses {
 public:
  uint32_t AddressCount(uint32_t) const override { return 2; }
  std::optional<uint32_t> MatchAddress(uint32_t, std::u16string_view number) const override {
    if (number == u"21") return 0;
    if (number == u"22") return 1;
    return std::nullopt;
  }
};

void EventProc(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

HTAPILINE Ht(uintptr_t v) { return reinterpret_cast<HTAPILINE>(v); }
HTAPICALL HtCall(uintptr_t v) { return reinterpret_cast<HTAPICALL>(v); }

struct CallModelTest : ::testing::Test {
  OpenLine& Open(uintptr_t htLine, uint32_t deviceId = 0) {
    OpenLine line;
    line.deviceId = deviceId;
    line.tspiVersion = 0x20000;
    line.htLine = Ht(htLine);
    line.eventProc = EventProc;
    return model.AddLine(line);
  }
  // The events queued since the last call.
  std::vector<tktest::QueuedEntry> Take() {
    auto out = sink.entries;
    sink.entries.clear();
    return out;
  }

  platform::FakeClock clock;
  RecordingSink sink;
  TwoAddresses addresses;
  CallModel model{sink, addresses, clock};
};

TEST_F(CallModelTest, CallHandlesCountUpByFourAndAreNeverReused) {
  OpenLine& line = Open(0x100);
  std::vector<uintptr_t> handles;
  for (int i = 0; i < 3; ++i) {
    const TspCall* call = model.CreateCall(line, HtCall(0x200 + i), u"", 0, LINECALLORIGIN_OUTBOUND);
    handles.push_back(reinterpret_cast<uintptr_t>(call->hdCall()));
    model.DeleteCall(call);
  }
  const TspCall* offered = model.CreateOfferedCall(line, 7, u"21", LINECALLORIGIN_EXTERNAL);
  handles.push_back(reinterpret_cast<uintptr_t>(offered->hdCall()));
  EXPECT_EQ(handles, (std::vector<uintptr_t>{1, 5, 9, 13}));
}

TEST_F(CallModelTest, HandleValidation) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  EXPECT_EQ(model.ValidateLine(line.hdLine()), 0);
  EXPECT_EQ(model.ValidateLine(reinterpret_cast<HDRVLINE>(uintptr_t{0x101})), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(model.ValidateLine(nullptr), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(model.ValidateCall(call->hdCall()), 0);
  EXPECT_EQ(model.ValidateAddress(line, 1), 0);
  EXPECT_EQ(model.ValidateAddress(line, 2), LINEERR_INVALADDRESSID);

  // An unbound call is not a valid handle, and is found again once bound.
  HDRVCALL hdCall = call->hdCall();
  model.Unbind(*call);
  EXPECT_EQ(model.ValidateCall(hdCall), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(model.FindCall(hdCall), nullptr);
  model.Bind(*call);
  EXPECT_EQ(model.FindCall(hdCall), call);
  model.DeleteCall(call);
  EXPECT_EQ(model.ValidateCall(hdCall), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(model.ValidateCall(nullptr), LINEERR_INVALCALLHANDLE);
}

TEST_F(CallModelTest, SettingAStateReportsTheStateAndChangedCounts) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  model.SetAddressId(*call, 1, false);

  model.SetCallState(*call, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
  auto events = Take();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].msg, LINE_CALLSTATE);
  EXPECT_EQ(events[0].htCall, HtCall(0x200));
  EXPECT_EQ(events[0].param1, LINECALLSTATE_DIALTONE);
  EXPECT_EQ(events[0].param2, LINEDIALTONEMODE_NORMAL);
  EXPECT_EQ(events[0].param3, LINEMEDIAMODE_INTERACTIVEVOICE);
  EXPECT_EQ(events[1].msg, LINE_LINEDEVSTATE);
  EXPECT_EQ(events[1].param1, LINEDEVSTATE_NUMCALLS);
  EXPECT_EQ(events[2].msg, LINE_ADDRESSSTATE);
  EXPECT_EQ(events[2].param1, 1u);
  EXPECT_EQ(events[2].param2, LINEADDRESSSTATE_NUMCALLS);
  EXPECT_EQ(model.CountLine(line), (CallCounts{1, 0, 0}));

  // Active to active: the counts stay, only the state is reported.
  model.SetCallState(*call, LINECALLSTATE_CONNECTED, 0);
  EXPECT_EQ(sink.messages(), (std::vector<DWORD>{LINE_CALLSTATE}));
  Take();
  // The same state and mode again, or state 0: nothing at all.
  model.SetCallState(*call, LINECALLSTATE_CONNECTED, 0);
  model.SetCallState(*call, 0, 0);
  EXPECT_TRUE(Take().empty());
  // Active to on hold moves the call between counts.
  model.SetCallState(*call, LINECALLSTATE_ONHOLD, 0);
  EXPECT_EQ(sink.messages(), (std::vector<DWORD>{LINE_CALLSTATE, LINE_LINEDEVSTATE, LINE_ADDRESSSTATE}));
  EXPECT_EQ(model.CountLine(line), (CallCounts{0, 1, 0}));
  EXPECT_EQ(model.CountAddress(line, 0), (CallCounts{}));
}

TEST_F(CallModelTest, UnboundCallsNeitherReportNorCount) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"123", 0, 0);
  model.Unbind(*call);
  model.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  model.SetAppSpecific(*call, 5, true);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(call->callState, LINECALLSTATE_DIALTONE);
  EXPECT_EQ(model.CountLine(line), CallCounts{});
}

TEST_F(CallModelTest, ConferencedStoresModeZeroButReportsTheConferenceHandle) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  model.SetCallState(*call, LINECALLSTATE_CONNECTED, 0);
  Take();
  model.SetCallState(*call, LINECALLSTATE_CONFERENCED, 0x777);
  auto events = Take();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].param2, 0x777u);
  EXPECT_EQ(call->callStateMode, 0u);
  // Reported again with the same handle is no change.
  model.SetCallState(*call, LINECALLSTATE_CONFERENCED, 0x777);
  EXPECT_TRUE(Take().empty());
}

TEST_F(CallModelTest, ConnectedConferenceRootIsNotAnActiveCall) {
  OpenLine& line = Open(0x100);
  const TspCall* root = model.CreateConferenceCall(line, HtCall(0x300), 0);
  EXPECT_TRUE(Take().empty());  // created without any event
  EXPECT_EQ(root->callState, LINECALLSTATE_ONHOLDPENDCONF);
  EXPECT_EQ(model.CountLine(line), (CallCounts{0, 0, 1}));
  model.SetCallState(*root, LINECALLSTATE_CONNECTED, 0);
  EXPECT_EQ(model.CountLine(line), CallCounts{});
}

TEST_F(CallModelTest, MaskedLineAndAddressStatesAreNotQueued) {
  OpenLine& line = Open(0x100);
  line.lineStateMask = LINEDEVSTATE_RINGING;
  line.addressStateMask = 0;
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  model.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  EXPECT_EQ(sink.messages(), (std::vector<DWORD>{LINE_CALLSTATE}));
  EXPECT_TRUE(model.SendLineEvent(&line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING | LINEDEVSTATE_OTHER));
  EXPECT_FALSE(model.SendLineEvent(&line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_OTHER));
  EXPECT_TRUE(model.SendLineEvent(&line, nullptr, LINE_CLOSE));
  // A line without callback, or no line, drops everything.
  line.eventProc = nullptr;
  EXPECT_FALSE(model.SendLineEvent(&line, nullptr, LINE_CLOSE));
  EXPECT_FALSE(model.SendLineEvent(nullptr, nullptr, LINE_CLOSE));
}

TEST_F(CallModelTest, SetupWatchStartsAtTheFirstSetupStateOnly) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  clock.setTick(0xFFFFF000u);  // across the wrap of the tick count
  model.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  ASSERT_TRUE(call->setupWatchTimer.IsRunning());
  EXPECT_EQ(call->setupWatchTimer.StartTick(), 0xFFFFF000u);
  clock.advance(1000);
  model.SetCallState(*call, LINECALLSTATE_RINGBACK, 0);
  EXPECT_EQ(call->setupWatchTimer.StartTick(), 0xFFFFF000u);  // not restarted
  clock.advance(kvarsp::kSetupWatchMs - 1000);
  EXPECT_FALSE(call->setupWatchTimer.HasExpired(clock));
  clock.advance(1);
  EXPECT_TRUE(call->setupWatchTimer.HasExpired(clock));

  const TspCall* connected = model.CreateCall(line, HtCall(0x201), u"", 0, 0);
  model.SetCallState(*connected, LINECALLSTATE_CONNECTED, 0);
  EXPECT_FALSE(connected->setupWatchTimer.IsRunning());
}

TEST_F(CallModelTest, StateEntryTimeFollowsTheClock) {
  OpenLine& line = Open(0x100);
  clock.setUtcTime({2026, 12, 0, 7, 10, 0, 0, 0});
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, 0);
  EXPECT_EQ(call->stateEntryTime.hour, 10);
  clock.advance(3600 * 1000);
  model.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  EXPECT_EQ(call->stateEntryTime.hour, 11);
}

TEST_F(CallModelTest, SettersReportRealChangesWhenAsked) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"", 0, LINECALLORIGIN_OUTBOUND);
  model.SetOrigin(*call, LINECALLORIGIN_OUTBOUND, true);  // unchanged
  model.SetReason(*call, LINECALLREASON_DIRECT, false);   // not asked
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(call->reason, LINECALLREASON_DIRECT);

  struct Case {
    std::function<void()> set;
    DWORD bit;
  };
  std::vector<Case> cases = {
      {[&] { model.SetAddressId(*call, 1, true); }, LINECALLINFOSTATE_OTHER},
      {[&] { model.SetCallParamFlags(*call, LINECALLPARAMFLAGS_SECURE, true); }, LINECALLINFOSTATE_OTHER},
      {[&] { model.SetOrigin(*call, LINECALLORIGIN_INTERNAL, true); }, LINECALLINFOSTATE_ORIGIN},
      {[&] { model.SetReason(*call, LINECALLREASON_TRANSFER, true); }, LINECALLINFOSTATE_REASON},
      {[&] { model.SetAppSpecific(*call, 42, true); }, LINECALLINFOSTATE_APPSPECIFIC},
      {[&] { model.SetPartyId(*call, PartyRole::Caller, LINECALLPARTYID_ADDRESS, u"30", std::nullopt, true); },
       LINECALLINFOSTATE_CALLERID},
      {[&] { model.SetPartyId(*call, PartyRole::Redirecting, LINECALLPARTYID_NAME, std::nullopt, u"Ann", true); },
       LINECALLINFOSTATE_REDIRECTINGID},
      {[&] { model.SetBlob(*call, CallBlob::ChargingInfo, {1, 2}, true); }, LINECALLINFOSTATE_CHARGINGINFO},
      {[&] { model.SetBlob(*call, CallBlob::Comment, {3}, true); }, LINECALLINFOSTATE_OTHER},
      {[&] { model.SetBlob(*call, CallBlob::CallData, {4}, true); }, LINECALLINFOSTATE_CALLDATA},
      {[&] { model.SetBlob(*call, CallBlob::HighLevelCompatibility, {5}, true); }, LINECALLINFOSTATE_HIGHLEVELCOMP},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    cases[i].set();
    auto events = Take();
    ASSERT_EQ(events.size(), 1u) << "case " << i;
    EXPECT_EQ(events[0].msg, LINE_CALLINFO) << "case " << i;
    EXPECT_EQ(events[0].htCall, HtCall(0x200));
    EXPECT_EQ(events[0].param1, cases[i].bit) << "case " << i;
    cases[i].set();  // the same value again is no change
    EXPECT_TRUE(Take().empty()) << "case " << i;
  }
}

TEST_F(CallModelTest, PartyNumbersLoseTheirDialModeMarks) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateCall(line, HtCall(0x200), u"P0T30t1p2", 49, 0);
  EXPECT_EQ(call->dialledNumber, u"P0T30t1p2");
  EXPECT_EQ(call->party(PartyRole::Called).flags, LINECALLPARTYID_ADDRESS);
  EXPECT_EQ(call->party(PartyRole::Called).number, u"03012");
  EXPECT_EQ(call->party(PartyRole::Caller).flags, LINECALLPARTYID_UNKNOWN);
  EXPECT_FALSE(call->party(PartyRole::Caller).number.has_value());

  model.SetPartyId(*call, PartyRole::Connected, LINECALLPARTYID_ADDRESS, u"tp55PT", u"Pat", false);
  EXPECT_EQ(call->party(PartyRole::Connected).number, u"55");
  EXPECT_EQ(call->party(PartyRole::Connected).name, u"Pat");  // names keep their letters
  EXPECT_EQ(kvarsp::WideByteSize(call->party(PartyRole::Connected).number), 6u);
}

TEST_F(CallModelTest, OfferedCallIsAnnouncedAndKnowsItsAddress) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateOfferedCall(line, 0x1234, u"22", LINECALLORIGIN_EXTERNAL);
  auto events = Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].msg, LINE_NEWCALL);
  EXPECT_TRUE(events[0].waited);
  EXPECT_EQ(events[0].param1, reinterpret_cast<DWORD_PTR>(call->hdCall()));
  // The htCall TAPI wrote is the one the call reports from now on.
  ASSERT_NE(call->htCall, nullptr);
  EXPECT_TRUE(call->offeredByExchange);
  EXPECT_EQ(call->addressId, 1u);
  EXPECT_EQ(model.FindCallByPbxId(0x1234), call);
  EXPECT_EQ(model.FindCallByPbxId(0x1234, &Open(0x500)), nullptr);
  EXPECT_EQ(model.FindCallByHtCall(call->htCall), call);

  model.SetCallState(*call, LINECALLSTATE_OFFERING, 0);
  EXPECT_EQ(Take()[0].htCall, call->htCall);

  const TspCall* unknown = model.CreateOfferedCall(line, 0x1235, u"99", LINECALLORIGIN_EXTERNAL);
  EXPECT_EQ(unknown->addressId, 0u);
}

TEST_F(CallModelTest, LinkLossIdlesCallsAndClosesEveryLineOnce) {
  OpenLine& a = Open(0x100);
  OpenLine& b = Open(0x200, 1);
  const TspCall* call = model.CreateCall(a, HtCall(0x300), u"", 0, 0);
  model.SetCallState(*call, LINECALLSTATE_CONNECTED, 0);
  Take();
  std::vector<HTAPILINE> aborted;
  model.LinkLost([&](OpenLine& line) { aborted.push_back(line.htLine); });

  // Newest line first; each gets DISCONNECTED, OUTOFSERVICE and LINE_CLOSE.
  auto events = Take();
  std::vector<std::pair<HTAPILINE, DWORD>> seen;
  for (const auto& e : events) seen.push_back({e.htLine, e.msg == LINE_LINEDEVSTATE ? DWORD(e.param1) : e.msg});
  std::vector<std::pair<HTAPILINE, DWORD>> expected = {
      {b.htLine, LINEDEVSTATE_DISCONNECTED}, {b.htLine, LINEDEVSTATE_OUTOFSERVICE}, {b.htLine, LINE_CLOSE},
      {a.htLine, LINE_CALLSTATE},            {a.htLine, LINEDEVSTATE_NUMCALLS},     {a.htLine, LINE_ADDRESSSTATE},
      {a.htLine, LINEDEVSTATE_DISCONNECTED}, {a.htLine, LINEDEVSTATE_OUTOFSERVICE}, {a.htLine, LINE_CLOSE},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(call->callState, LINECALLSTATE_IDLE);
  EXPECT_EQ(aborted, (std::vector<HTAPILINE>{b.htLine, a.htLine}));
  EXPECT_TRUE(a.outOfService && b.outOfService);

  // A second loss closes again but does not report the lines out of service twice.
  model.LinkLost({});
  EXPECT_EQ(sink.messages(), (std::vector<DWORD>{LINE_CLOSE, LINE_CLOSE}));
}

TEST_F(CallModelTest, ClosingALineIdlesAndDeletesOnlyItsCalls) {
  OpenLine& a = Open(0x100);
  OpenLine& b = Open(0x200, 1);
  const TspCall* idle = model.CreateCall(a, HtCall(0x301), u"", 0, 0);
  model.SetCallState(*idle, LINECALLSTATE_IDLE, 0);
  const TspCall* busy = model.CreateCall(a, HtCall(0x302), u"", 0, 0);
  model.SetCallState(*busy, LINECALLSTATE_BUSY, 0);
  const TspCall* other = model.CreateCall(b, HtCall(0x303), u"", 0, 0);
  Take();
  model.CloseCallsOfLine(a);
  auto events = Take();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].msg, LINE_CALLSTATE);
  EXPECT_EQ(events[0].htCall, HtCall(0x302));
  for (const auto& e : events) EXPECT_NE(e.htCall, HtCall(0x301));
  EXPECT_EQ(model.Calls(), (std::vector<const TspCall*>{other}));
}

}  // namespace

namespace {

// The ring counts (dwParam3 of LINEDEVSTATE_RINGING) among the events.
std::vector<DWORD_PTR> RingCounts(const std::vector<tktest::QueuedEntry>& entries) {
  std::vector<DWORD_PTR> counts;
  for (const auto& e : entries)
    if (e.msg == LINE_LINEDEVSTATE && e.param1 == LINEDEVSTATE_RINGING) counts.push_back(e.param3);
  return counts;
}

}  // namespace

TEST_F(CallModelTest, RingingCatchesUpMissedIntervalsAcrossTheTickWrap) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateOfferedCall(line, 7, u"21", LINECALLORIGIN_EXTERNAL);
  model.SetCallState(*call, LINECALLSTATE_OFFERING, 0);
  clock.setTick(0xFFFFF000);  // 4096 ms before the 32-bit tick count wraps
  Take();

  model.StartRinging(*call);
  EXPECT_EQ(RingCounts(Take()), (std::vector<DWORD_PTR>{0}));
  clock.advance(3999);
  EXPECT_EQ(model.RepeatRinging(*call), 0u);
  clock.advance(2);  // past the wrap, one interval gone
  EXPECT_EQ(model.RepeatRinging(*call), 1u);
  EXPECT_EQ(RingCounts(Take()), (std::vector<DWORD_PTR>{1}));
  // Three intervals missed at once: three rings in one tick, then quiet.
  clock.advance(12000);
  EXPECT_EQ(model.RepeatRinging(*call), 3u);
  EXPECT_EQ(RingCounts(Take()), (std::vector<DWORD_PTR>{2, 3, 4}));
  EXPECT_EQ(model.RepeatRinging(*call), 0u);
}

TEST_F(CallModelTest, RingingAfterALongStallIsBoundedAndOnlyWhileOfferedOrAccepted) {
  OpenLine& line = Open(0x100);
  const TspCall* call = model.CreateOfferedCall(line, 7, u"21", LINECALLORIGIN_EXTERNAL);
  model.SetCallState(*call, LINECALLSTATE_ACCEPTED, 0);
  model.StartRinging(*call);
  clock.advance(0x7FFFFFFF);  // weeks without a tick
  const uint32_t rings = model.RepeatRinging(*call);
  EXPECT_GT(rings, 0u);
  EXPECT_LE(rings, 16u);
  EXPECT_EQ(model.RepeatRinging(*call), 0u);  // the timer starts afresh from now
  clock.advance(4001);
  EXPECT_EQ(model.RepeatRinging(*call), 1u);

  model.SetCallState(*call, LINECALLSTATE_CONNECTED, 1);
  clock.advance(40000);
  EXPECT_EQ(model.RepeatRinging(*call), 0u);
}
