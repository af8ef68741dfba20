// The supplementary services swap hold, redirect and forward: one table per
// function for its checks and requests (nothing sent on a refusal), and their
// completion by confirmation, refusal, time-out and line close, against the
// simulated exchange in this process on a fake clock. The exchange leaves
// these requests unanswered; tests answer them by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/provider/component/service_component_fixture.h"

namespace {

using tktest::kNoCall;
using tktest::ServiceComponent;
using tktest::TapiRecorder;
using namespace kvarsp;

// A LINEFORWARDLIST of `entries` copies of one entry (country code 49), the
// terminated destination after them; rows spoil it through SetDword/Truncate.
struct ForwardList {
  ForwardList(DWORD mode, std::u16string_view destination, DWORD entries = 1) {
    const size_t head = 8 + 24 * size_t{entries};
    bytes.resize(head + 2 * (destination.size() + 1));
    const LINEFORWARD entry{mode, 0, 0, 49, static_cast<DWORD>(2 * (destination.size() + 1)), static_cast<DWORD>(head)};
    for (DWORD i = 0; i < entries; ++i) std::memcpy(&bytes[8 + 24 * i], &entry, sizeof entry);
    std::memcpy(&bytes[head], destination.data(), 2 * destination.size());
    SetDword(0, static_cast<DWORD>(bytes.size()));
    SetDword(4, entries);
  }
  void SetDword(size_t at, DWORD value) { std::memcpy(&bytes[at], &value, sizeof value); }
  // Shrinks the buffer itself, so that a read past dwTotalSize is caught.
  void Truncate(DWORD size) {
    bytes.resize(size);
    if (size >= 4) SetDword(0, size);
  }
  const LINEFORWARDLIST* get() const { return reinterpret_cast<const LINEFORWARDLIST*>(bytes.data()); }
  std::vector<uint8_t> bytes;
};

TEST_F(ServiceComponent, SwapHoldNeedsOneConnectedAndOneHeldCallOfOneLineAndNamesTheConnectedFirst) {
  OpenLine* second = OpenSecondLine();
  struct Case {
    uint32_t stateA, stateB;
    uint16_t pbxB;
    bool sameCall, otherLine;
    LONG expected;
  };
  const Case cases[] = {
      {LINECALLSTATE_CONNECTED, kNoCall, 2, false, false, LINEERR_INVALCALLHANDLE},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 2, true, false, LINEERR_INVALCALLSTATE},  // the same call twice
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 2, false, true, LINEERR_INVALCALLHANDLE},
      {LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLD, 2, false, false, LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_CONNECTED, 2, false, false, LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_RINGBACK, LINECALLSTATE_ONHOLD, 2, false, false, LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 0, false, false, LINEERR_OPERATIONFAILED},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, 2, false, false, 0},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLSTATE_CONNECTED, 2, false, false, 0},
      {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLDPENDCONF, 2, false, false, 0},
  };
  DRV_REQUESTID requestId = 0x10;
  for (const Case& c : cases) {
    ++requestId;
    SCOPED_TRACE(testing::Message() << "row " << requestId - 0x10);
    const TspCall* a = Call(1, c.stateA);
    const TspCall* b = c.sameCall ? a : Call(c.pbxB, c.stateB, c.otherLine ? second : nullptr);
    vnl::Message request;
    ASSERT_EQ(
        Sent(provider.services.SwapHold(requestId, Handle(a), Handle(b)), requestId, vnl::kAlternateCallReq, request),
        c.expected);
    if (c.expected == 0) {
      const bool aConnected = c.stateA == LINECALLSTATE_CONNECTED;
      EXPECT_EQ(request.callId, aConnected ? 1 : c.pbxB);
      EXPECT_EQ(request.heldCallId, aConnected ? c.pbxB : 1);
      Confirm(vnl::kAlternateCallConf, request.refId, 0);
      EXPECT_EQ(WaitCompletion(requestId), 0);
      // The new states come from the exchange's indications, not from the confirmation.
      EXPECT_EQ(Locked([&] { return a->callState; }), c.stateA);
    }
    NextRow();
  }
}

TEST_F(ServiceComponent, RedirectNeedsAnOfferedOrAcceptedCallAndSendsItsFilteredDigits) {
  struct Case {
    uint32_t state;
    uint16_t pbxCallId;
    const char16_t* destination;
    LONG expected;
  };
  const Case cases[] = {
      {kNoCall, 1, u"21", LINEERR_INVALCALLHANDLE},
      {LINECALLSTATE_CONNECTED, 1, u"21", LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_DIALTONE, 1, u"21", LINEERR_INVALCALLSTATE},
      {LINECALLSTATE_OFFERING, 1, nullptr, LINEERR_INVALADDRESS},
      {LINECALLSTATE_ACCEPTED, 1, u" - -", LINEERR_INVALADDRESS},
      {LINECALLSTATE_OFFERING, 1, u"21$", LINEERR_DIALBILLING},
      {LINECALLSTATE_OFFERING, 0, u"21", LINEERR_OPERATIONFAILED},
      {LINECALLSTATE_OFFERING, 0x55, u"2-1 ", 0},
      {LINECALLSTATE_ACCEPTED, 0x56, u"(21)", 0},
  };
  DRV_REQUESTID requestId = 0x40;
  for (const Case& c : cases) {
    ++requestId;
    SCOPED_TRACE(testing::Message() << "row " << requestId - 0x40);
    const TspCall* call = Call(c.pbxCallId, c.state);
    vnl::Message request;
    ASSERT_EQ(Sent(provider.services.Redirect(requestId, Handle(call), c.destination, 49), requestId,
                   vnl::kRedirectCallReq, request),
              c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(request.callId, c.pbxCallId);
      EXPECT_EQ(request.destAddress, "21");
      Confirm(vnl::kRedirectCallConf, request.refId, 1);  // RESULT 1 counts as success too
      EXPECT_EQ(WaitCompletion(requestId), 0);
    }
    NextRow();
  }
}

TEST_F(ServiceComponent, ForwardReadsTheUntrustedListWithinItsSizeAndSendsTheForwardingType) {
  struct Case {
    DWORD mode;
    const char16_t* destination;
    DWORD entries;
    std::function<void(ForwardList&)> spoil;
    DWORD addressId;
    LONG expected;
    int type;  // FORWARDING_TYPE sent, -1 when nothing is
    const char* sentDigits;
  };
  const auto none = [](ForwardList&) {};
  const auto noList = [](ForwardList& l) { l.bytes.clear(); };
  const Case cases[] = {
      {LINEFORWARDMODE_UNCOND, u"21", 1, none, 2, LINEERR_INVALADDRESSID, -1, ""},  // two addresses: 0, 1
      {LINEFORWARDMODE_UNCOND, u"21", 2, none, 0, LINEERR_INVALPARAM, -1, ""},
      {LINEFORWARDMODE_UNCONDINTERNAL, u"21", 1, none, 0, LINEERR_INVALPARAM, -1, ""},
      {0, u"21", 1, none, 0, LINEERR_INVALPARAM, -1, ""},
      {LINEFORWARDMODE_BUSY, u"21", 1, [](ForwardList& l) { l.SetDword(8 + 16, 0); }, 0, LINEERR_INVALADDRESS, -1, ""},
      {LINEFORWARDMODE_BUSY, u"21", 1, [](ForwardList& l) { l.SetDword(8 + 20, 0); }, 0, LINEERR_INVALADDRESS, -1, ""},
      {LINEFORWARDMODE_BUSY, u"21", 1, [](ForwardList& l) { l.SetDword(8 + 16, 100); }, 0, LINEERR_INVALADDRESS, -1,
       ""},
      {LINEFORWARDMODE_BUSY, u"21", 1,
       [](ForwardList& l) {
         l.SetDword(8 + 16, 0x20);  // offset + size wraps around to 0x10
         l.SetDword(8 + 20, 0xFFFFFFF0);
       },
       0, LINEERR_INVALADDRESS, -1, ""},
      {LINEFORWARDMODE_NOANSW, u"  ", 1, none, 0, LINEERR_INVALADDRESS, -1, ""},
      {LINEFORWARDMODE_NOANSW, u"2W1", 1, none, 0, LINEERR_DIALDIALTONE, -1, ""},
      {LINEFORWARDMODE_UNCOND, u"21", 1, [](ForwardList& l) { l.Truncate(7); }, 0, LINEERR_STRUCTURETOOSMALL, -1, ""},
      {LINEFORWARDMODE_UNCOND, u"21", 1, [](ForwardList& l) { l.Truncate(31); }, 0, LINEERR_STRUCTURETOOSMALL, -1, ""},
      {LINEFORWARDMODE_UNCOND, u"2-1", 1, none, 1, 0, 0, "21"},
      {LINEFORWARDMODE_BUSY, u"22", 1, none, 0, 0, 1, "22"},
      {LINEFORWARDMODE_NOANSW, u"*23#", 1, none, 0, 0, 2, "*23#"},
      {LINEFORWARDMODE_UNCOND, u"21", 0, none, 0, 0, 3, ""},  // no entries: cancel
      {LINEFORWARDMODE_UNCOND, u"21", 1, noList, 0, 0, 3, ""},
  };
  DRV_REQUESTID requestId = 0x60;
  for (const Case& c : cases) {
    ++requestId;
    SCOPED_TRACE(testing::Message() << "row " << requestId - 0x60);
    ForwardList list(c.mode, c.destination, c.entries);
    c.spoil(list);
    vnl::Message request;
    ASSERT_EQ(Sent(Forward(requestId, list.bytes.empty() ? nullptr : list.get(), c.addressId), requestId,
                   vnl::kSetForwardReq, request),
              c.expected);
    EXPECT_EQ(c.type < 0 ? -1 : int{request.forwardingType}, c.type);
    EXPECT_EQ(request.destAddress, c.sentDigits);
    if (c.type >= 0) {
      EXPECT_EQ(request.lineId, 10);
    }
    sentBefore = layer2.Sent().size();
  }
  const HDRVLINE unknown = reinterpret_cast<HDRVLINE>(tktest::TapiLine(0x1FF));
  EXPECT_EQ(provider.services.Forward(0x70, unknown, 1, 0, nullptr, nullptr), LINEERR_INVALLINEHANDLE);
  Locked([&] { line->outOfService = true; });
  EXPECT_EQ(Forward(0x71, nullptr), LINEERR_INVALLINESTATE);
  EXPECT_TRUE(SentSinceOpen().empty());
}

TEST_F(ServiceComponent, AConfirmedForwardSetsTheLinesForwardingAndReportsEachAddressOnlyWhenItChanged) {
  const auto forwardEvents = [&] {
    DeliverEvents();
    size_t n = 0;
    for (const auto& e : TapiRecorder::Instance().Of(LINE_ADDRESSSTATE)) n += e.param2 == LINEADDRESSSTATE_FORWARD;
    return n;
  };
  ForwardList busy(LINEFORWARDMODE_BUSY, u"2 2");
  // Set, set the same again (no change, no events), cancel.
  const std::vector<std::pair<const LINEFORWARDLIST*, size_t>> steps = {{busy.get(), 2}, {busy.get(), 2}, {nullptr, 4}};
  DRV_REQUESTID requestId = 0x80;
  for (const auto& [list, events] : steps) {
    ++requestId;
    ASSERT_EQ(Forward(requestId, list), static_cast<LONG>(requestId));
    Confirm(vnl::kSetForwardConf, LastSent(vnl::kSetForwardReq).refId, 0);
    EXPECT_EQ(WaitCompletion(requestId), 0);
    EXPECT_EQ(forwardEvents(), events);  // one per address of the line
    Locked([&] {
      EXPECT_EQ(line->forwardMode, list ? LINEFORWARDMODE_BUSY : 0u);
      EXPECT_EQ(line->forwardCountryCode, list ? 49u : 0u);
      EXPECT_EQ(line->forwardDestination.value_or(u"none") == u"22", list != nullptr);
    });
  }
}

// How a request ends other than by success.
enum class End { Refused, TimedOut, LineClosed };

TEST_F(ServiceComponent, EveryServiceFailsExactlyOnceWhenRefusedUnansweredOrItsLineCloses) {
  struct Service {
    const char* confirmationName;
    uint8_t request, confirmation;
    std::function<LONG(DRV_REQUESTID)> start;
  };
  ForwardList list(LINEFORWARDMODE_UNCOND, u"21");
  const Service services[] = {
      {"VNL_ALTERNATECALL_CONF", vnl::kAlternateCallReq, vnl::kAlternateCallConf,
       [&](DRV_REQUESTID id) {
         return provider.services.SwapHold(id, Call(1, LINECALLSTATE_ONHOLD)->hdCall(),
                                           Call(2, LINECALLSTATE_CONNECTED)->hdCall());
       }},
      {"VNL_REDIRECTCALL_CONF", vnl::kRedirectCallReq, vnl::kRedirectCallConf,
       [&](DRV_REQUESTID id) {
         return provider.services.Redirect(id, Call(3, LINECALLSTATE_OFFERING)->hdCall(), u"21", 0);
       }},
      {"VNL_SETFORWARD_CONF", vnl::kSetForwardReq, vnl::kSetForwardConf,
       [&](DRV_REQUESTID id) { return Forward(id, list.get()); }},
  };
  DRV_REQUESTID requestId = 0x90;
  for (const Service& s : services) {
    for (End end : {End::Refused, End::TimedOut, End::LineClosed}) {
      SCOPED_TRACE(testing::Message() << s.confirmationName << " end " << static_cast<int>(end));
      ++requestId;
      ASSERT_EQ(s.start(requestId), static_cast<LONG>(requestId));
      const uint8_t refId = LastSent(s.request).refId;
      const uint32_t sent = clock.tickCount();
      if (end == End::Refused) Confirm(s.confirmation, refId, 255);
      if (end == End::TimedOut) {
        layer2.Tick(10);  // 5000 ms: not yet past the deadline
        EXPECT_FALSE(WaitCompletion(requestId).has_value());
        layer2.Tick(1);
        EXPECT_LE(Elapsed(sent), 5500u);
        EXPECT_TRUE(TraceHas(std::string(s.confirmationName) + " Timeout"));
      }
      if (end == End::LineClosed) {
        ASSERT_EQ(Close(0), 0);
      }
      EXPECT_EQ(WaitCompletion(requestId), LINEERR_OPERATIONFAILED);
      Confirm(s.confirmation, refId, 0);  // late: finds nothing to complete
      DeliverEvents();
      EXPECT_EQ(Completions(requestId).size(), 1u);
      EXPECT_EQ(client.transactions().Count(), 0u);
      DeleteCalls();
      if (end == End::LineClosed) {
        ASSERT_EQ(Open(0), 0);
        line = provider.state.calls.FindLine(reinterpret_cast<HDRVLINE>(kHtLine));
      }
    }
  }
  EXPECT_EQ(Locked([&] { return line->forwardMode; }), 0u);  // nothing confirmed, nothing set
}

}  // namespace
