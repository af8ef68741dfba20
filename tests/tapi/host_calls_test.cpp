#include "tapi/host/host_calls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tapi/host/struct_text.h"

namespace {

using tapihost::HostCall;
using tapihost::HostCalls;
using tapihost::HostEvent;
using tapihost::TelephonyHost;
using ::testing::IsEmpty;

const std::string kProviderPath = std::string(TK_FAKE_PROVIDER_DIR) + "/fakesp_calls.tsp";

class HostCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host.Load(kProviderPath, 3, &error)) << error;
    ASSERT_EQ(host.Start(), 0);
    ASSERT_EQ(host.OpenLine(0), 0);
  }
  void TearDown() override {
    EXPECT_EQ(host.Stop(), 0);
    EXPECT_THAT(host.violations(), IsEmpty());
  }

  std::optional<HostEvent> WaitState(HTAPICALL htCall, DWORD state) {
    return host.WaitEvent(cursor, [&](const HostEvent& e) {
      return e.msg == LINE_CALLSTATE && e.htCall == htCall && e.param1 == state;
    });
  }
  // Offers a call on line 0 and returns its htCall.
  HTAPICALL Offer() {
    auto ring = TSPI_CALL_ASYNC(host, TSPI_lineDevSpecific, *host.LineHandle(0), DWORD{0}, HDRVCALL{}, LPVOID{},
                                DWORD{0});
    EXPECT_TRUE(ring.accepted());
    auto newCall = host.WaitEvent(cursor, [](const HostEvent& e) { return e.msg == LINE_NEWCALL; });
    EXPECT_TRUE(newCall);
    return newCall ? newCall->newHtCall : nullptr;
  }
  std::u16string Text(const std::vector<uint8_t>& buffer, DWORD offset, DWORD size) {
    return tapihost::structText(buffer, offset, size, STRINGFORMAT_UNICODE);
  }

  TelephonyHost host;
  HostCalls calls{host};
  size_t cursor = 0;
};

TEST_F(HostCallsTest, AMadeCallGetsTheHostsHandleAndItsEventsNameIt) {
  HTAPICALL first = nullptr, second = nullptr;
  auto made = calls.MakeCall(0, u"22", u"", &first);
  ASSERT_TRUE(made.accepted());
  EXPECT_EQ(host.WaitCompletion(made.requestId), 0);
  auto dialtone = WaitState(first, LINECALLSTATE_DIALTONE);
  ASSERT_TRUE(dialtone);
  EXPECT_EQ(calls.CallOf(*dialtone), (HostCall{first, reinterpret_cast<HDRVCALL>(uintptr_t{0x101}), 0, false}));

  // Each made call has a handle of its own.
  ASSERT_TRUE(calls.MakeCall(0, u"23", u"", &second).accepted());
  EXPECT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(calls.Calls().size(), 2u);

  auto dial = calls.Dial(first, u"45");
  ASSERT_TRUE(dial.accepted());
  ASSERT_TRUE(WaitState(first, LINECALLSTATE_DIALING));
  auto drop = calls.Drop(first);
  ASSERT_TRUE(drop.accepted());
  ASSERT_TRUE(WaitState(first, LINECALLSTATE_IDLE));
  EXPECT_EQ(host.WaitCompletion(drop.requestId), 0);
  EXPECT_EQ(calls.CloseCall(first), 0);
  EXPECT_EQ(calls.Find(first), std::nullopt);
  EXPECT_EQ(calls.CloseCall(first), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(calls.Drop(first).result, LINEERR_INVALCALLHANDLE);
}

TEST_F(HostCallsTest, FailedCallsAreForgotten) {
  HTAPICALL htCall = nullptr;
  // Refused at once.
  auto refused = calls.MakeCall(0, u"555", u"", &htCall);
  EXPECT_EQ(refused.result, LINEERR_INVALADDRESS);
  EXPECT_EQ(calls.Find(htCall), std::nullopt);
  // Refused in the completion.
  auto failed = calls.MakeCall(0, u"666", u"", &htCall);
  ASSERT_TRUE(failed.accepted());
  EXPECT_EQ(host.WaitCompletion(failed.requestId), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(calls.Find(htCall), std::nullopt);
  // A line that is not open.
  auto closed = calls.MakeCall(5, u"22", u"", &htCall);
  EXPECT_EQ(closed.result, LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(closed.requestId, 0u);
  EXPECT_THAT(calls.Calls(), IsEmpty());
}

TEST_F(HostCallsTest, AnOfferedCallIsLearntFromLineNewCallAndAnswered) {
  HTAPICALL htCall = Offer();
  ASSERT_NE(htCall, nullptr);
  auto call = calls.Find(htCall);
  ASSERT_TRUE(call);
  EXPECT_TRUE(call->offered);
  EXPECT_EQ(call->deviceId, 0u);
  ASSERT_TRUE(WaitState(htCall, LINECALLSTATE_OFFERING));

  // Not yet accepted: the provider's refusal comes back unchanged.
  EXPECT_EQ(calls.Answer(htCall).result, LINEERR_INVALCALLSTATE);
  ASSERT_TRUE(calls.Accept(htCall).accepted());
  ASSERT_TRUE(WaitState(htCall, LINECALLSTATE_ACCEPTED));
  auto answer = calls.Answer(htCall);
  ASSERT_TRUE(answer.accepted());
  ASSERT_TRUE(WaitState(htCall, LINECALLSTATE_CONNECTED));

  std::vector<uint8_t> status;
  ASSERT_EQ(calls.GetCallStatus(htCall, status), 0);
  EXPECT_GE(status.size(), sizeof(LINECALLSTATUS));
  EXPECT_EQ(reinterpret_cast<const LINECALLSTATUS*>(status.data())->dwCallState, LINECALLSTATE_CONNECTED);

  // Closing the line ends its calls.
  calls.ForgetLine(0);
  EXPECT_EQ(calls.Find(htCall), std::nullopt);
}

TEST_F(HostCallsTest, CallInfoGrowsToTheNeededSizeAndCarriesTheCallParameters) {
  HTAPICALL offered = Offer();
  std::vector<uint8_t> buffer;  // starts with the fixed part only
  ASSERT_EQ(calls.GetCallInfo(offered, buffer), 0);
  const auto* info = reinterpret_cast<const LINECALLINFO*>(buffer.data());
  EXPECT_EQ(buffer.size(), info->dwNeededSize);
  EXPECT_GT(info->dwNeededSize, sizeof(LINECALLINFO));
  EXPECT_EQ(info->dwCallerIDFlags, LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME);
  EXPECT_EQ(Text(buffer, info->dwCallerIDOffset, info->dwCallerIDSize), u"0301234");
  EXPECT_EQ(Text(buffer, info->dwCallerIDNameOffset, info->dwCallerIDNameSize), u"Anna");

  // The originating address travels in LINECALLPARAMS.
  HTAPICALL made = nullptr;
  ASSERT_TRUE(calls.MakeCall(0, u"0 (123) 45", u"4711", &made).accepted());
  ASSERT_EQ(calls.GetCallInfo(made, buffer), 0);
  info = reinterpret_cast<const LINECALLINFO*>(buffer.data());
  EXPECT_EQ(Text(buffer, info->dwCallerIDOffset, info->dwCallerIDSize), u"4711");
  EXPECT_EQ(Text(buffer, info->dwCalledIDOffset, info->dwCalledIDSize), u"0 (123) 45");

  EXPECT_EQ(calls.GetCallInfo(reinterpret_cast<HTAPICALL>(uintptr_t{0x99}), buffer), LINEERR_INVALCALLHANDLE);
}

TEST_F(HostCallsTest, ServicesThatCreateACallLearnItAndForgetItWhenTheyFail) {
  HTAPICALL unparked = nullptr, consult = nullptr;
  // An unparked call; without an address the provider gets none.
  ASSERT_TRUE(calls.Unpark(0, u"", &unparked).accepted());
  ASSERT_TRUE(WaitState(unparked, LINECALLSTATE_CONNECTED));
  ASSERT_TRUE(calls.Find(unparked));
  EXPECT_NE(calls.Find(unparked)->hdCall, nullptr);
  std::vector<uint8_t> buffer;
  ASSERT_EQ(calls.GetCallInfo(unparked, buffer), 0);
  const auto* info = reinterpret_cast<const LINECALLINFO*>(buffer.data());
  EXPECT_EQ(Text(buffer, info->dwCalledIDOffset, info->dwCalledIDSize), u"(none)");

  // Refused at once, in the completion, or on a line that is not open.
  EXPECT_EQ(calls.Unpark(0, u"555", &unparked).result, LINEERR_INVALADDRESS);
  EXPECT_EQ(calls.Find(unparked), std::nullopt);
  auto failed = calls.Unpark(0, u"666", &unparked);
  EXPECT_EQ(host.WaitCompletion(failed.requestId), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(calls.Find(unparked), std::nullopt);
  EXPECT_EQ(calls.Pickup(5, u"", &unparked).result, LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(calls.Find(unparked), std::nullopt);
  EXPECT_EQ(calls.SetupTransfer(unparked, &consult).result, LINEERR_INVALCALLHANDLE);
}

TEST_F(HostCallsTest, ParkReadsTheAddressTheProviderWroteOnCompletion) {
  HTAPICALL made = nullptr;
  ASSERT_TRUE(calls.MakeCall(0, u"22", u"", &made).accepted());
  auto park = calls.Park(made);
  ASSERT_TRUE(park.accepted());
  EXPECT_EQ(host.WaitCompletion(park.requestId), 0);
  EXPECT_EQ(calls.ParkAddress(park.requestId), u"7");
  EXPECT_EQ(calls.ParkAddress(park.requestId + 1), std::nullopt);
  EXPECT_EQ(calls.Park(reinterpret_cast<HTAPICALL>(uintptr_t{0x99})).result, LINEERR_INVALCALLHANDLE);
}

}  // namespace
