// The link with the exchange from line open to line close, and the dialog's
// link requests, against the simulated exchange in this process on a fake
// clock, on the test's thread: handshakes, registration, time-outs measured on
// the clock, refusals, the turn and link loss.
#include <gtest/gtest.h>

#include "provider/vnl/link_session.h"
#include "tests/provider/component/link_component_fixture.h"
#include "tests/provider/vnl/vnl_test_bytes.h"

namespace {

using tktest::GatedEvents;
using tktest::LinkComponent;
using tktest::TapiLine;
using tktest::TapiRecorder;
using namespace kvarsp;

TEST_F(LinkComponent, TwoLinesShareOneStartAndTheLastCloseEndsTheLink) {
  ASSERT_EQ(Open(0), 0);
  ASSERT_EQ(Open(1), 0);
  EXPECT_EQ(layer2.SentTypes(), (std::vector<uint8_t>{vnl::kStartReq, vnl::kRegisterReq, vnl::kGetLineInfoReq,
                                                       vnl::kRegisterReq, vnl::kGetLineInfoReq}));
  EXPECT_EQ(vnltest::Hex(layer2.Sent()[1]), "10 02 00 03 10 01 0A");  // VNL_REGISTER_REQ, RefID 2, line 10
  EXPECT_EQ(engine.RegisteredLines(), (std::vector<uint16_t>{10, 11}));
  EXPECT_EQ(Open(0), LINEERR_RESOURCEUNAVAIL);  // already open

  ASSERT_EQ(Close(0), 0);
  EXPECT_TRUE(layer2.Connected());
  ASSERT_EQ(Close(1), 0);
  EXPECT_EQ(SentCount(vnl::kUnregisterReq), 2u);
  EXPECT_EQ(SentCount(vnl::kEndReq), 1u);
  EXPECT_EQ(SentCount(vnl::kEndResp), 1u);  // the exchange's VNL_END_IND was answered
  ASSERT_GE(VnlTraceIndex("Waiting for VNL_END_IND"), 0);
  EXPECT_GT(VnlTraceIndex("VNL_END_IND received"), VnlTraceIndex("Waiting for VNL_END_IND"));
  EXPECT_FALSE(layer2.Connected());
  EXPECT_EQ(client.session().StartCount(), 0);
}

TEST_F(LinkComponent, LineCloseHandsTapiTheLinesEventsBeforeItsHandleBecomesInvalid) {
  ASSERT_EQ(Open(0), 0);
  const HTAPILINE htLine = TapiLine(0x100);
  // The first event is held on the delivery thread until the close waits for
  // the second, still queued one.
  bool closeWaited = false;
  GatedEvents::Hook() = [&] {
    GatedEvents::Hook() = nullptr;
    closeWaited = TapiTraceSoon("Not all events/async completions for line 0x100 sent to TAPI, waiting ...");
  };
  for (DWORD_PTR state : {LINEDEVSTATE_OTHER, LINEDEVSTATE_CONNECTED})
    ASSERT_TRUE(provider.state.events.QueueEvent(htLine, GatedEvents::OnEvent, htLine, nullptr, LINE_LINEDEVSTATE,
                                                 state, 0, 0));
  EXPECT_EQ(Close(0), 0);
  DeliverEvents();
  EXPECT_TRUE(closeWaited) << "the close returned with the line's events still queued";
  EXPECT_EQ(TapiRecorder::Instance().Count(htLine, LINE_LINEDEVSTATE, LINEDEVSTATE_CONNECTED), 1u);
}

TEST_F(LinkComponent, ARequestWithoutAnswerTimesOutOnTheScanAfter5000Ms) {
  engine.Ignore(vnl::kRegisterReq, true);
  const uint32_t sent = clock.tickCount();  // the confirmation of the start comes without a tick
  EXPECT_EQ(Open(0), LINEERR_OPERATIONFAILED);
  // 5000 ms are not yet past the deadline: the eleventh scan times it out.
  EXPECT_EQ(Elapsed(sent), 5500u);
  EXPECT_TRUE(TraceHas("Timeout"));
  // The failed open gave its link reference back: the link was ended.
  EXPECT_EQ(SentCount(vnl::kEndReq), 1u);
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(LinkComponent, AConfirmationAfterItsTimeOutIsIgnored) {
  layer2.Hold(true);
  const uint32_t sent = clock.tickCount();
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), static_cast<uint32_t>(kvarsp::kStartTimeout));
  EXPECT_EQ(Elapsed(sent), 5500u);
  EXPECT_FALSE(layer2.Connected());

  layer2.Hold(false);  // the late VNL_START_CONF arrives now
  EXPECT_TRUE(TraceHas("VNL_START_CONF"));
  EXPECT_EQ(client.session().StartCount(), 0);
  EXPECT_EQ(client.transactions().Count(), 0u);
}

// The real waiter drives the session's timer from the injected clock: the
// wait for VNL_END_IND ends after its 5000 ms, and a wait for a confirmation
// that no tick ends stops at its bound with the time-out's code.
TEST_F(LinkComponent, TheRealWaiterEndsTheWaitsOnTheClockWithoutTicks) {
  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  tktest::SteppingEventWaiter real{layer2, clock, 100};
  waiter.instead = &real;

  engine.SetEndIndication(false);
  uint32_t since = clock.tickCount();
  EXPECT_EQ(Ui(UIREQ_PBX_DISCONNECT), static_cast<uint32_t>(kvarsp::kEndIndMissing));
  EXPECT_EQ(Elapsed(since), kvarsp::kEndIndicationWaitMs);
  EXPECT_TRUE(TraceHas("Timeout VNL_END_IND"));

  layer2.Hold(true);
  since = clock.tickCount();
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), static_cast<uint32_t>(kvarsp::kStartTimeout));
  EXPECT_EQ(Elapsed(since), kTxnWaitBoundMs);
  EXPECT_FALSE(layer2.Connected());
  EXPECT_EQ(client.transactions().Count(), 0u);
  layer2.Discard();
  waiter.instead = nullptr;
}

TEST_F(LinkComponent, TheTurnLetsOneOperationWaitAtATime) {
  std::optional<int> first, second, third;
  StartLinkOp([](LinkSession& s, LinkDone done) { s.Start(0x30, std::move(done)); }, first);
  StartLinkOp([](LinkSession& s, LinkDone done) { s.RegisterLine(false, 10, std::move(done)); }, second);
  StartLinkOp([](LinkSession& s, LinkDone done) { s.RegisterLine(false, 11, std::move(done)); }, third);
  // The others wait for their turn instead of sending.
  EXPECT_EQ(layer2.SentTypes(), std::vector<uint8_t>{vnl::kStartReq});
  EXPECT_EQ(client.session().Queued(), 2u);

  layer2.Pump();  // each confirmation starts the next operation
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(third, 0);
  EXPECT_EQ(layer2.SentTypes(), (std::vector<uint8_t>{vnl::kStartReq, vnl::kRegisterReq, vnl::kRegisterReq}));
  EXPECT_FALSE(client.session().Busy());
}

struct StartRefusal {
  std::vector<uint8_t> details;
  int code;
};

class StartRefusals : public LinkComponent, public ::testing::WithParamInterface<StartRefusal> {};

TEST_P(StartRefusals, TheLastTellingDetailDecidesTheCode) {
  engine.RefuseStart(GetParam().details);
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), static_cast<uint32_t>(GetParam().code));
  EXPECT_EQ(layer2.Connected(), GetParam().code == 0);
  EXPECT_EQ(client.session().StartCount(), GetParam().code == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    LinkStart, StartRefusals,
    ::testing::Values(StartRefusal{{0xC0}, 4}, StartRefusal{{0xC1}, 5}, StartRefusal{{0xC2}, 0},
                      StartRefusal{{0xFF}, 7}, StartRefusal{{0x12}, 8}, StartRefusal{{0xC0, 0xC2}, 0},
                      StartRefusal{{0xC2, 0xC1, 0x33}, 5}));

TEST_F(LinkComponent, ALineOpenRefusedAtTheStartFailsAndSendsNothingMore) {
  engine.RefuseStart({0xC0});
  EXPECT_EQ(Open(0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(layer2.SentTypes(), std::vector<uint8_t>{vnl::kStartReq});
  EXPECT_TRUE(provider.state.calls.Lines().empty());
  layer2.RefuseOpen(true);
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), static_cast<uint32_t>(kvarsp::kStartOpenFailed));
}

TEST_F(LinkComponent, AnEndWithoutEndIndicationReturns32After5000Ms) {
  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  engine.SetEndIndication(false);
  const uint32_t confirmed = clock.tickCount();  // VNL_END_CONF comes without a tick
  EXPECT_EQ(Ui(UIREQ_PBX_DISCONNECT), static_cast<uint32_t>(kvarsp::kEndIndMissing));
  EXPECT_EQ(Elapsed(confirmed), kvarsp::kEndIndicationWaitMs);
  ASSERT_GE(VnlTraceIndex("Waiting for VNL_END_IND"), 0);
  EXPECT_GT(VnlTraceIndex("Timeout VNL_END_IND"), VnlTraceIndex("Waiting for VNL_END_IND"));
  EXPECT_FALSE(layer2.Connected());
  EXPECT_EQ(client.session().StartCount(), 0);
}

TEST_F(LinkComponent, ARegisterConfirmationForALineInformationRequestIsRejected) {
  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  engine.Ignore(vnl::kGetLineInfoReq, true);
  kvarsp::OpenLine* line = Locked([&] {
    kvarsp::OpenLine record;
    record.htLine = TapiLine(0x200);
    return &provider.state.calls.AddLine(record);
  });
  std::optional<int> info;
  StartLinkOp([&](LinkSession& s, LinkDone done) { s.GetLineInfo(*line, false, 10, std::move(done)); }, info);
  ASSERT_EQ(layer2.SentTypes().back(), vnl::kGetLineInfoReq);
  layer2.Inject({vnl::kRegisterConf, LastRefId(), 0x00, 0x03, 0xD0, 0x01, 0x00});
  EXPECT_EQ(info, LINEERR_OPERATIONFAILED) << "no time-out needed";
  EXPECT_TRUE(TraceHas("MsgRefID and MsgType do not fit together (in VNL_REGISTER_CONF)"));
  EXPECT_FALSE(TraceHas("Timeout")) << "the entry's handler is not run";
  EXPECT_EQ(client.transactions().Count(), 0u);
}

TEST_F(LinkComponent, ALineInformationForALineClosedWhileItWaitedForItsTurnSendsNothing) {
  kvarsp::OpenLine* line = Locked([&] {
    kvarsp::OpenLine record;
    record.htLine = TapiLine(0x200);
    return &provider.state.calls.AddLine(record);
  });
  std::optional<int> start, info;
  StartLinkOp([](LinkSession& s, LinkDone done) { s.Start(0x30, std::move(done)); }, start);
  StartLinkOp([&](LinkSession& s, LinkDone done) { s.GetLineInfo(*line, false, 10, std::move(done)); }, info);
  Locked([&] { provider.state.calls.RemoveLine(reinterpret_cast<HDRVLINE>(TapiLine(0x200))); });
  layer2.Pump();
  EXPECT_EQ(start, 0);
  EXPECT_EQ(info, LINEERR_OPERATIONFAILED);
  EXPECT_EQ(layer2.SentTypes(), std::vector<uint8_t>{vnl::kStartReq});
}

TEST_F(LinkComponent, ARefusedRegistrationWithDetailB0CountsAsRegistered) {
  engine.RefuseRegister({0xB0});
  EXPECT_EQ(Open(0), 0);
  engine.RefuseRegister({0x90});
  EXPECT_EQ(Open(1), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TapiTraceHas("TSPI_lineOpen - Cannot register line"));
  EXPECT_EQ(provider.state.calls.Lines().size(), 1u);
  EXPECT_EQ(Close(0), 0);
}

TEST_F(LinkComponent, TheAddressListRefillsTheTablesWithCutAddresses) {
  EXPECT_EQ(Ui(UIREQ_PBX_READ), static_cast<uint32_t>(kvarsp::kAddressListNotStarted));
  EXPECT_TRUE(layer2.Sent().empty());

  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  ASSERT_EQ(Ui(UIREQ_PBX_READ), 0u);
  auto& tables = provider.state.config;
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[0].pbxLineId, 10);
  EXPECT_EQ(tables.lines[0].address, u"20");
  EXPECT_EQ(tables.lines[0].msnCount, 2);
  EXPECT_FALSE(tables.lineId16Bit);
  ASSERT_EQ(tables.msns.size(), 2u);
  EXPECT_EQ(tables.msns[1].address, u"4712");
}

// An exchange that lists its lines with 16-bit IDs, one of them with an
// address longer than the tables keep.
class WideExchange : public LinkComponent {
 protected:
  static exchange::ExchangeConfig Config() {
    exchange::ExchangeConfig config = Exchange();
    config.lineList16 = true;
    config.lines = {{300, "300", 0, ""}, {7, "7", 0, ""}};
    config.msns = {{1, "4711", {300, 7}}, {2, "4712", {7}}};
    return config;
  }
  WideExchange() : LinkComponent(Config()) {}
};

TEST_F(WideExchange, SixteenBitLineListsSwitchTheProviderToSixteenBitLineIds) {
  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  ASSERT_EQ(Ui(UIREQ_PBX_READ), 0u);
  auto& tables = provider.state.config;
  EXPECT_TRUE(tables.lineId16Bit);
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[0].pbxLineId, 300);
  EXPECT_EQ(tables.lines[0].address, u"300");
  EXPECT_EQ(tables.lines[0].msnCount, 1);
  EXPECT_EQ(tables.lines[1].msnCount, 2);
  EXPECT_TRUE(TraceHas("TK -> PC:      Line-ID: 0x012c   Line-Address: \"300\""));
  EXPECT_TRUE(TraceHas("TK -> PC:      MSN Index: 2   MSN: \"4712\""));
}

class LongAddressExchange : public LinkComponent {
 protected:
  static exchange::ExchangeConfig Config() {
    exchange::ExchangeConfig config = Exchange();
    config.lines = {{10, "1234567890123456789012345", 0, ""}, {11, "21", 0, ""}};
    return config;
  }
  LongAddressExchange() : LinkComponent(Config()) {}
};

TEST_F(LongAddressExchange, AnAddressOf25BytesKeeps20AndTheNextLineIsReadWhole) {
  ASSERT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30), 0u);
  ASSERT_EQ(Ui(UIREQ_PBX_READ), 0u);
  auto& tables = provider.state.config;
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[0].address, u"12345678901234567890");
  EXPECT_EQ(tables.lines[1].pbxLineId, 11);
  EXPECT_EQ(tables.lines[1].address, u"21");
}

TEST_F(LinkComponent, ForwardingFromTheLineInformationIsKeptWithTheLine) {
  ASSERT_TRUE(layer2.Command("forward", "10 busy 0301234").has_value());
  ASSERT_EQ(Open(0), 0);
  kvarsp::OpenLine* line = provider.state.calls.FindLineByDevice(0);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->forwardMode, static_cast<uint32_t>(LINEFORWARDMODE_BUSY));
  ASSERT_TRUE(line->forwardDestination.has_value());
  EXPECT_EQ(*line->forwardDestination, u"0301234");
  // Both addresses of the line heard of it.
  DeliverEvents();
  EXPECT_EQ(TapiRecorder::Instance().Count(TapiLine(0x100), LINE_ADDRESSSTATE, 1), 1u);
  EXPECT_EQ(TapiRecorder::Instance().Count(TapiLine(0x100), LINE_ADDRESSSTATE, 0), 1u);
  EXPECT_EQ(Close(0), 0);
}

TEST_F(LinkComponent, LinkLossTakesLinesOutOfServiceAndTheirCloseSendsNothing) {
  ASSERT_EQ(Open(0), 0);
  ASSERT_EQ(Open(1), 0);
  layer2.LoseLink();
  EXPECT_FALSE(layer2.Connected());
  EXPECT_EQ(client.session().StartCount(), 0);
  DeliverEvents();
  for (DWORD device : {0u, 1u}) {
    const HTAPILINE htLine = TapiLine(0x100 + device);
    EXPECT_EQ(TapiRecorder::Instance().Count(htLine, LINE_CLOSE, 0), 1u);
    EXPECT_EQ(TapiRecorder::Instance().Count(htLine, LINE_LINEDEVSTATE, LINEDEVSTATE_DISCONNECTED), 1u);
    EXPECT_EQ(TapiRecorder::Instance().Count(htLine, LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE), 1u);
    // Until TAPI closes it, the line reports itself out of service.
    LINEDEVSTATUS status{};
    status.dwTotalSize = sizeof status;
    ASSERT_EQ(provider.lineOps.GetLineDevStatus(reinterpret_cast<HDRVLINE>(htLine), &status), 0);
    EXPECT_EQ(status.dwDevStatusFlags, 0u);
    EXPECT_EQ(status.dwLineFeatures, 0xC0u);  // opened with version 0x20000
  }
  const size_t sent = layer2.Sent().size();
  EXPECT_EQ(Close(0), 0);
  EXPECT_EQ(Close(1), 0);
  EXPECT_EQ(layer2.Sent().size(), sent);

  // The next open starts the link again.
  ASSERT_EQ(Open(0), 0);
  EXPECT_EQ(SentCount(vnl::kStartReq), 2u);
  EXPECT_EQ(Close(0), 0);
}

TEST_F(LinkComponent, LinkLossEndsAWaitingOperationWith99OnTheNextScan) {
  layer2.Hold(true);
  std::optional<int> connect;
  StartLinkOp([](LinkSession& s, LinkDone done) { s.Start(0x30, std::move(done)); }, connect);
  layer2.LoseLink();
  EXPECT_FALSE(connect.has_value());
  layer2.Tick(1);
  EXPECT_EQ(connect, kvarsp::kLinkDownWhileWaiting);
  EXPECT_TRUE(TraceHas("Layer 2 disconnected"));
  layer2.Discard();
}

}  // namespace
