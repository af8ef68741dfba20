// The exchange's VNL engine: every answer is decoded with the codec and
// checked byte by byte; refusals, silence and forwarding indications are
// injected through the engine's setters and its commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "exchange/vnl_engine.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/exchange/decode_answer.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::ExchangeConfig;
using exchange::VnlEngine;
using exchangetest::Bytes;
using exchangetest::Decode;
using exchangetest::Hex;

class CollectingSink : public exchange::BlockSink {
 public:
  bool SendBlock(std::span<const uint8_t> block) override {
    std::lock_guard lock(mutex_);
    sent.emplace_back(block.begin(), block.end());
    return connected;
  }
  std::vector<Bytes> Sent() {
    std::lock_guard lock(mutex_);
    return sent;
  }
  bool connected = true;
  std::vector<Bytes> sent;

 private:
  std::mutex mutex_;
};

ExchangeConfig TestConfig() {
  ExchangeConfig config;
  config.protocolVersion = 0x30;
  config.manufacturer = "TK";
  config.lines = {{10, "20", exchange::kForwardNone, ""},
                  {11, "21", exchange::kForwardBusy, "0301234"},
                  {12, "22", exchange::kForwardNone, ""}};
  config.msns = {{1, "4711", {10, 11}}};
  return config;
}

class VnlEngineTest : public ::testing::Test {
 protected:
  explicit VnlEngineTest(ExchangeConfig config = TestConfig()) : engine(std::move(config), &events) {}

  // The blocks the engine answers one request (given in hex) with.
  std::vector<Bytes> Send(const std::string& hex) {
    out.sent.clear();
    engine.OnBlock(Hex(hex), out);
    return out.sent;
  }
  // The one answer to a request.
  Bytes Answer(const std::string& hex) {
    auto answers = Send(hex);
    EXPECT_EQ(answers.size(), 1u) << hex;
    return answers.empty() ? Bytes{} : answers.front();
  }
  bool Saw(const std::string& line) const { return events.Count(line) > 0; }

  exchangetest::RecordingEvents events;
  VnlEngine engine;
  CollectingSink out;
};

// START_REQ, RefID 5: LINK_PROTOCOL_VERSION 0x30, DRIVER_TYPE 16.
const char* kStartReq = "00050006 000130 010110";

TEST_F(VnlEngineTest, StartIsConfirmedWithTheExchangesVersionAndManufacturer) {
  Bytes answer = Answer(kStartReq);
  EXPECT_EQ(answer, Hex("0105000a d00100 000130 0202544b"));
  vnl::Message conf = Decode(answer);
  EXPECT_EQ(conf.type, vnl::kStartConf);
  EXPECT_EQ(conf.refId, 5);
  EXPECT_EQ(conf.result, 0);
  EXPECT_EQ(conf.linkProtocolVersion, 0x30);
  EXPECT_EQ(conf.manufacturerInfo, "TK");
  EXPECT_TRUE(engine.Started());
  EXPECT_EQ(engine.ReceivedCount(vnl::kStartReq), 1u);
  EXPECT_EQ(events.Lines(),
            (std::vector<std::string>{"vnl-rx VNL_START_REQ ref=5", "vnl-tx VNL_START_CONF ref=5 result=0"}));
}

TEST_F(VnlEngineTest, AVersionAboveTheExchangesOwnIsRefused) {
  vnl::Message lower = Decode(Answer("00010003 000120"));
  EXPECT_EQ(lower.result, 0);
  vnl::Message higher = Decode(Answer("00020003 000131"));
  EXPECT_EQ(higher.refId, 2);
  EXPECT_EQ(higher.result, 255);
  EXPECT_EQ(higher.resultDetails, Bytes{0xC0});
  EXPECT_EQ(higher.linkProtocolVersion, 0x30) << "the exchange still tells its own version";
  EXPECT_FALSE(engine.Started());
  EXPECT_TRUE(Saw("vnl-tx VNL_START_CONF ref=2 result=255 details=c0"));
}

TEST_F(VnlEngineTest, InjectedStartRefusalsCarryExactlyTheirDetails) {
  for (const Bytes& details : {Bytes{0xC0}, Bytes{0xC1}, Bytes{0xC2}, Bytes{0xFF}, Bytes{0xC0, 0xC2}}) {
    engine.RefuseStart(details);
    vnl::Message conf = Decode(Answer(kStartReq));
    EXPECT_EQ(conf.result, 255);
    EXPECT_EQ(conf.resultDetails, details);
    EXPECT_FALSE(engine.Started());
  }
  engine.RefuseStart({});
  EXPECT_EQ(Answer(kStartReq), Hex("0105000a d00100 000130 0202544b"));
  EXPECT_TRUE(engine.Started());
}

TEST_F(VnlEngineTest, EndIsConfirmedThenIndicatedUnderTheExchangesOwnRefId) {
  Send(kStartReq);
  Send("10010003 10010a");
  auto answers = Send("04090003 0f0100");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0], Hex("05090003 d00100"));
  EXPECT_EQ(answers[1], Hex("06010003 0f0100"));
  vnl::Message ind = Decode(answers[1]);
  EXPECT_EQ(ind.type, vnl::kEndInd);
  EXPECT_TRUE(ind.Has(vnl::kCause));
  EXPECT_FALSE(engine.Started());
  EXPECT_TRUE(engine.RegisteredLines().empty()) << "the end of the link ends its registrations";
  EXPECT_TRUE(Saw("vnl-tx VNL_END_IND ref=1 cause=0"));

  // The PC's response is taken without answer.
  EXPECT_TRUE(Send("07010003 d00100").empty());
  EXPECT_TRUE(Saw("vnl-rx VNL_END_RESP ref=1"));
  EXPECT_EQ(engine.ReceivedCount(vnl::kEndResp), 1u);
}

TEST_F(VnlEngineTest, EndIndicationCanBeSilenced) {
  engine.SetEndIndication(false);
  EXPECT_EQ(Send("04030003 0f0100"), std::vector<Bytes>{Hex("05030003 d00100")});
  engine.SetEndIndication(true);
  EXPECT_EQ(Send("04040003 0f0100").size(), 2u);
}

TEST_F(VnlEngineTest, OwnRefIdsRunFromOneToTwoFiftyFiveAndNeverZero) {
  std::vector<uint8_t> refs;
  for (int i = 0; i < 256; ++i) {
    auto answers = Send("04090003 0f0100");
    ASSERT_EQ(answers.size(), 2u);
    refs.push_back(answers[1][1]);
  }
  EXPECT_EQ(refs.front(), 1);
  EXPECT_EQ(refs[254], 255);
  EXPECT_EQ(refs[255], 1);
  EXPECT_EQ(std::count(refs.begin(), refs.end(), 0), 0);
}

TEST_F(VnlEngineTest, AddressListWithEightBitLinesAndAddresses) {
  Bytes answer = Answer("ae020000");
  EXPECT_EQ(answer, Hex("af02001e d00100"
                        "0c000c 0a023230 0b023231 0c023232"
                        "0d0009 0107 34373131 00 0a0b"));
  vnl::Message conf = Decode(answer);
  EXPECT_EQ(conf.result, 0);
  EXPECT_FALSE(conf.lineList16);
  EXPECT_TRUE(conf.Has(vnl::kLineList));
  EXPECT_TRUE(conf.Has(vnl::kMsnList));
  EXPECT_TRUE(Saw("vnl-rx VNL_GETADDRESSLIST_REQ ref=2"));
  EXPECT_TRUE(Saw("vnl-tx VNL_GETADDRESSLIST_CONF ref=2 result=0"));
}

class VnlEngineLongAddressTest : public VnlEngineTest {
 protected:
  static ExchangeConfig Config() {
    ExchangeConfig config;
    config.lines = {{1, "1234567890123456789012345", 0, ""}, {2, "22", 0, ""}};
    config.msns = {{9, "0815", {1, 2}}};
    return config;
  }
  VnlEngineLongAddressTest() : VnlEngineTest(Config()) {}
};

TEST_F(VnlEngineLongAddressTest, ALongAddressIsSentWholeAndTheNextEntryFollowsIt) {
  vnl::Message conf = Decode(Answer("ae010000"));
  ASSERT_EQ(conf.lineList.size(), 2u + 25 + 2 + 2);
  // Walk the list entry by entry, as a reader of LINE_LIST does.
  std::vector<std::pair<int, std::string>> entries;
  size_t i = 0;
  for (int guard = 0; guard < 10 && i + 2 <= conf.lineList.size(); ++guard) {
    uint8_t id = conf.lineList[i];
    uint8_t length = conf.lineList[i + 1];
    ASSERT_LE(i + 2 + length, conf.lineList.size());
    entries.emplace_back(id, std::string(conf.lineList.begin() + i + 2, conf.lineList.begin() + i + 2 + length));
    i += 2 + length;
  }
  EXPECT_EQ(entries, (std::vector<std::pair<int, std::string>>{{1, "1234567890123456789012345"}, {2, "22"}}));
  EXPECT_EQ(conf.msnList, Hex("0907 30383135 00 0102"));
}

TEST(VnlEngine, AnAddressListTooLongForOneMessageIsRefusedNotCut) {
  ExchangeConfig config;
  for (uint16_t id = 0; id < 70; ++id) config.lines.push_back({id, std::string(255, '7'), 0, ""});
  exchangetest::RecordingEvents events;
  VnlEngine engine(std::move(config), &events);
  CollectingSink out;
  engine.OnBlock(Hex("ae010000"), out);
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(out.sent[0], Hex("af010003 d001ff"));
  EXPECT_EQ(events.Count("vnl-tx VNL_GETADDRESSLIST_CONF ref=1 result=255"), 1u);
}

class VnlEngineSixteenBitTest : public VnlEngineTest {
 protected:
  static ExchangeConfig Config() {
    ExchangeConfig config;
    config.lineList16 = true;
    config.lines = {{300, "", exchange::kForwardUnconditional, "77"}, {5, "", 0, ""}};
    config.msns = {{1, "4711", {300, 5}}, {2, "4712", {5}}};
    return config;
  }
  VnlEngineSixteenBitTest() : VnlEngineTest(Config()) {}
};

TEST_F(VnlEngineSixteenBitTest, AddressListUsesSixteenBitIdsInBothLists) {
  Bytes answer = Answer("ae030000");
  EXPECT_EQ(answer, Hex("af030021 d00100"
                        "0e0004 012c 0005"
                        "0d0014 0109 34373131 00 012c 0005  0207 34373132 00 0005"));
  vnl::Message conf = Decode(answer, true);
  EXPECT_TRUE(conf.lineList16);
  EXPECT_TRUE(conf.Has(vnl::kLineList16));
  EXPECT_FALSE(conf.Has(vnl::kLineList));
}

TEST_F(VnlEngineSixteenBitTest, LineIdsAreWordsInRequestsAndIndications) {
  EXPECT_EQ(Answer("10010004 1002012c"), Hex("11010003 d00100"));
  EXPECT_TRUE(Saw("vnl-rx VNL_REGISTER_REQ ref=1 line=300"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{300});
  // Line info of line 300: unconditional forwarding to 77.
  EXPECT_EQ(Answer("a2020004 1002012c"), Hex("a302000c d00100 1100 520110 30023737"));
  out.sent.clear();
  ASSERT_TRUE(engine.SetForwarding(300, exchange::kForwardNoAnswer, "88", out));
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(out.sent[0], Hex("6a01000b 1002012c 520112 30023838"));
}

TEST_F(VnlEngineTest, RegistrationIsRecordedPerLineAndUnknownLinesAreRefused) {
  EXPECT_EQ(Answer("10010003 10010a"), Hex("11010003 d00100"));
  EXPECT_EQ(Answer("10020003 10010c"), Hex("11020003 d00100"));
  EXPECT_EQ(engine.RegisteredLines(), (std::vector<uint16_t>{10, 12}));
  EXPECT_TRUE(Saw("vnl-rx VNL_REGISTER_REQ ref=1 line=10"));
  EXPECT_TRUE(Saw("vnl-tx VNL_REGISTER_CONF ref=1 result=0"));

  vnl::Message unknown = Decode(Answer("10030003 100163"));
  EXPECT_EQ(unknown.type, vnl::kRegisterConf);
  EXPECT_EQ(unknown.result, 255);
  EXPECT_EQ(unknown.resultDetails, Bytes{0x80});
  EXPECT_EQ(Answer("10040000"), Hex("11040004 d002ff80")) << "no LINE_ID at all";

  EXPECT_EQ(Answer("12050003 10010a"), Hex("13050003 d00100"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{12});
  EXPECT_EQ(Answer("12060003 100163"), Hex("13060004 d002ff80"));
  EXPECT_EQ(engine.ReceivedCount(vnl::kRegisterReq), 4u);
  EXPECT_EQ(engine.ReceivedCount(vnl::kUnregisterReq), 2u);
}

TEST_F(VnlEngineTest, InjectedRegistrationRefusals) {
  engine.RefuseRegister({0x90});
  EXPECT_EQ(Answer("10010003 10010a"), Hex("11010004 d002ff90"));
  EXPECT_TRUE(engine.RegisteredLines().empty());

  engine.RefuseRegister({0xB0});
  EXPECT_EQ(Answer("10020003 10010a"), Hex("11020004 d002ffb0"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{10}) << "b0: registered all the same";
  EXPECT_TRUE(Saw("vnl-tx VNL_REGISTER_CONF ref=2 result=255 details=b0"));

  engine.RefuseUnregister({0xA1, 0xA2});
  EXPECT_EQ(Answer("12030003 10010a"), Hex("13030005 d003ffa1a2"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{10}) << "a refused unregistration keeps the line";

  engine.RefuseUnregister({});
  engine.RefuseRegister({});
  EXPECT_EQ(Answer("12040003 10010a"), Hex("13040003 d00100"));
  EXPECT_EQ(Answer("10050003 10010b"), Hex("11050003 d00100"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{11});
}

TEST_F(VnlEngineTest, LineInfoCarriesTheForwardingStateAndAnEmptyCallList) {
  Bytes busy = Answer("a2070003 10010b");
  EXPECT_EQ(busy, Hex("a3070011 d00100 1100 520111 3007 30333031323334"));
  vnl::Message conf = Decode(busy);
  EXPECT_EQ(conf.type, vnl::kGetLineInfoConf);
  EXPECT_TRUE(conf.Has(vnl::kCallId));
  EXPECT_TRUE(conf.callIds.empty());
  EXPECT_EQ(conf.lineState, 0x11);
  EXPECT_EQ(conf.destAddress, "0301234");

  EXPECT_EQ(Answer("a2080003 10010a"), Hex("a3080008 d00100 1100 520100")) << "no forwarding, no destination";
  EXPECT_EQ(Answer("a2090003 100163"), Hex("a3090004 d002ff80"));
}

TEST_F(VnlEngineTest, ForwardingIsIndicatedOnlyForRegisteredLines) {
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardBusy, "55", out));
  EXPECT_TRUE(out.sent.empty()) << "line 10 is not registered";
  EXPECT_EQ(Answer("a2010003 10010a"), Hex("a301000c d00100 1100 520111 30023535")) << "but the state changed";

  Send("10020003 10010a");
  out.sent.clear();
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardUnconditional, "66", out));
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(out.sent[0], Hex("6a01000a 10010a 520110 30023636"));
  vnl::Message ind = Decode(out.sent[0]);
  EXPECT_EQ(ind.type, vnl::kLineInfoInd);
  EXPECT_EQ(ind.lineId, 10);
  EXPECT_EQ(ind.lineState, 0x10);
  EXPECT_EQ(ind.destAddress, "66");
  EXPECT_TRUE(Saw("vnl-tx VNL_LINEINFO_IND ref=1 line=10 state=unconditional"));

  out.sent.clear();
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardNone, "ignored", out));
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(out.sent[0], Hex("6a020006 10010a 520100")) << "no destination without forwarding";
  EXPECT_TRUE(Send("6b020003 d00100").empty()) << "the response is taken silently";
  EXPECT_TRUE(Saw("vnl-rx VNL_LINEINFO_RESP ref=2"));

  EXPECT_FALSE(engine.SetForwarding(99, exchange::kForwardBusy, "1", out));

  engine.OnDisconnected();
  out.sent.clear();
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardBusy, "1", out));
  EXPECT_TRUE(out.sent.empty()) << "a lost connection ends the registrations";
}

TEST_F(VnlEngineTest, AFailedSendIsReported) {
  Send("10020003 10010a");
  out.connected = false;
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardBusy, "1", out));
  EXPECT_TRUE(Saw("vnl-send-failed VNL_LINEINFO_IND ref=1 line=10 state=busy"));
  Send(kStartReq);
  EXPECT_TRUE(Saw("vnl-send-failed VNL_START_CONF ref=5 result=0"));
}

TEST_F(VnlEngineTest, IgnoredRequestsGetNoAnswerAtAll) {
  engine.Ignore(vnl::kRegisterReq, true);
  EXPECT_TRUE(Send("10010003 10010a").empty());
  EXPECT_TRUE(Saw("vnl-ignored VNL_REGISTER_REQ ref=1"));
  EXPECT_EQ(engine.ReceivedCount(vnl::kRegisterReq), 1u);
  EXPECT_TRUE(engine.RegisteredLines().empty()) << "an ignored request has no effect";
  EXPECT_EQ(Send("ae020000").size(), 1u) << "other requests are answered";

  engine.Ignore(VnlEngine::kAllRequests, true);
  EXPECT_TRUE(Send(kStartReq).empty());
  EXPECT_TRUE(Send("ae030000").empty());
  engine.Ignore(VnlEngine::kAllRequests, false);
  EXPECT_EQ(Send("10040003 10010a").size(), 1u) << "all off also ends the single ignoring";
}

TEST_F(VnlEngineTest, RequestsTheExchangeDoesNotCarryOutAreRefused) {
  EXPECT_EQ(Answer("34030003 10010a"), Hex("35030003 d001ff"));
  EXPECT_TRUE(Saw("vnl-tx VNL_PICKUPCALL_CONF ref=3 result=255"));
  EXPECT_EQ(Answer("44040008 10010a 510101 3000"), Hex("45040003 d001ff"));
}

TEST_F(VnlEngineTest, WhatDoesNotDecodeOrIsNoRequestIsReportedAndNotAnswered) {
  EXPECT_TRUE(Send("1001").empty());
  EXPECT_TRUE(Saw("vnl-undecodable shorter than a message header: 1001"));
  EXPECT_TRUE(Send("10010003 10050a").empty()) << "LINE_ID cut short";
  EXPECT_TRUE(Saw("vnl-undecodable Error: Parameter Value not complete: 1001000310050a"));
  EXPECT_TRUE(engine.RegisteredLines().empty());

  EXPECT_TRUE(Send("b0010000").empty());
  EXPECT_TRUE(Saw("vnl-unknown-type 0xb0 ref=1"));
  EXPECT_TRUE(Send("a0020000").empty()) << "a request the protocol lists no layout for";
  EXPECT_TRUE(Saw("vnl-unknown-type 0xa0 ref=2"));

  EXPECT_TRUE(Send("11030003 d00100").empty());
  EXPECT_TRUE(Saw("vnl-unexpected VNL_REGISTER_CONF ref=3"));
  EXPECT_TRUE(Send("6a040003 10010a").empty());
  EXPECT_TRUE(Saw("vnl-unexpected VNL_LINEINFO_IND ref=4"));
}

TEST_F(VnlEngineTest, AnUnknownParameterIsSkippedAndTheRequestAnswered) {
  EXPECT_EQ(Answer("10010006 9901ff 10010a"), Hex("11010003 d00100"));
  EXPECT_TRUE(Saw("vnl-warning VNL_REGISTER_REQ: Invalid parameter type: 0x99"));
  EXPECT_EQ(engine.RegisteredLines(), std::vector<uint16_t>{10});
}

TEST_F(VnlEngineTest, ANewStartOrConnectionBeginsWithoutRegistrations) {
  Send(kStartReq);
  Send("10010003 10010a");
  Send(kStartReq);
  EXPECT_TRUE(engine.RegisteredLines().empty());
  EXPECT_TRUE(engine.Started());
  Send("10020003 10010a");
  engine.OnDisconnected();
  EXPECT_FALSE(engine.Started());
  EXPECT_TRUE(engine.RegisteredLines().empty());
}

TEST_F(VnlEngineTest, CommandsInjectFaultsAndReportState) {
  auto run = [&](std::string_view verb, std::string_view args) {
    auto result = engine.OnCommand(verb, args, out);
    EXPECT_TRUE(result.has_value()) << verb;
    return result.value_or(VnlEngine::CommandResult{false, "(none)"});
  };
  auto ok = [&](std::string_view verb, std::string_view args) {
    auto result = run(verb, args);
    EXPECT_TRUE(result.ok) << verb << " " << args << ": " << result.text;
    return result.text;
  };

  EXPECT_EQ(ok("refuse-start", "c0 c2"), "refuse-start c0c2");
  EXPECT_EQ(Decode(Answer(kStartReq)).resultDetails, (Bytes{0xC0, 0xC2}));
  EXPECT_EQ(ok("refuse-start", ""), "refuse-start off");
  EXPECT_EQ(Decode(Answer(kStartReq)).result, 0);
  EXPECT_FALSE(run("refuse-start", "c").ok);

  EXPECT_EQ(ok("refuse-register", "b0"), "refuse-register b0");
  EXPECT_EQ(Answer("10010003 10010a"), Hex("11010004 d002ffb0"));
  ok("refuse-register", "");
  EXPECT_EQ(ok("refuse-unregister", "91"), "refuse-unregister 91");
  EXPECT_EQ(Answer("12020003 10010a"), Hex("13020004 d002ff91"));
  ok("refuse-unregister", "");

  EXPECT_EQ(ok("end-ind", "off"), "end-ind off");
  EXPECT_EQ(Send("04030003 0f0100").size(), 1u);
  EXPECT_FALSE(run("end-ind", "maybe").ok);

  EXPECT_EQ(ok("ignore", "vnl_getaddresslist_req on"), "ignore vnl_getaddresslist_req on");
  EXPECT_TRUE(Send("ae040000").empty());
  ok("ignore", "VNL_GETADDRESSLIST_REQ off");
  EXPECT_EQ(Send("ae050000").size(), 1u);
  ok("ignore", "all on");
  EXPECT_TRUE(Send(kStartReq).empty());
  ok("ignore", "all off");
  EXPECT_FALSE(run("ignore", "VNL_REGISTER_CONF on").ok) << "not a request";
  EXPECT_FALSE(run("ignore", "VNL_BOGUS_REQ on").ok);

  Send("10060003 10010b");
  out.sent.clear();
  EXPECT_EQ(ok("forward", "11 noanswer 0301999"), "forward 11 noanswer 0301999");
  ASSERT_EQ(out.sent.size(), 1u);
  EXPECT_EQ(Decode(out.sent[0]).destAddress, "0301999");
  EXPECT_EQ(ok("forward", "11 none"), "forward 11 none");
  EXPECT_FALSE(run("forward", "99 busy 1").ok);
  EXPECT_FALSE(run("forward", "11 sometimes 1").ok);
  EXPECT_FALSE(run("forward", "11 none 1").ok);
  EXPECT_FALSE(run("forward", "11").ok);

  std::string status = ok("vnl-status", "");
  EXPECT_NE(status.find("started=no"), std::string::npos) << status << " (ended by the END_REQ)";
  EXPECT_NE(status.find("registered=11"), std::string::npos) << status;
  EXPECT_NE(status.find("VNL_START_REQ:3"), std::string::npos) << status;
  EXPECT_NE(status.find("end-ind=off"), std::string::npos) << status;

  EXPECT_FALSE(engine.OnCommand("rule", "01 02", out).has_value()) << "not this engine's command";
  EXPECT_NE(engine.CommandHelp().find("refuse-start"), std::string::npos);
}

// A sink that calls back into the engine while it sends, as an in-process
// peer does when it answers at once.
class ReenteringSink : public exchange::BlockSink {
 public:
  explicit ReenteringSink(VnlEngine& engine) : engine_(engine) {}
  bool SendBlock(std::span<const uint8_t> block) override {
    ++sent;
    registeredSeen = engine_.RegisteredLines().size();
    if (block[0] == vnl::kLineInfoInd) {
      Bytes response{vnl::kLineInfoResp, block[1], 0x00, 0x03, 0xD0, 0x01, 0x00};
      engine_.OnBlock(response, *this);
    }
    return true;
  }
  int sent = 0;
  size_t registeredSeen = 0;

 private:
  VnlEngine& engine_;
};

TEST_F(VnlEngineTest, ASinkMayCallBackIntoTheEngine) {
  ReenteringSink sink(engine);
  engine.OnBlock(Hex("10010003 10010a"), sink);
  EXPECT_EQ(sink.registeredSeen, 1u);
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardBusy, "1", sink));
  EXPECT_EQ(sink.sent, 2);
  EXPECT_EQ(engine.ReceivedCount(vnl::kLineInfoResp), 1u);
}

TEST_F(VnlEngineTest, CallsFromSeveralThreadsAreSerialised) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      CollectingSink sink;
      for (int i = 0; i < kRounds; ++i) {
        uint8_t line = static_cast<uint8_t>(10 + (i + t) % 3);
        Bytes request{static_cast<uint8_t>(i % 2 ? vnl::kUnregisterReq : vnl::kRegisterReq),
                      static_cast<uint8_t>(i % 255 + 1), 0x00, 0x03, vnl::kLineId, 0x01, line};
        engine.OnBlock(request, sink);
        engine.SetForwarding(line, exchange::kForwardBusy, "1", sink);
        (void)engine.RegisteredLines();
      }
      size_t confirmations = 0;
      for (const Bytes& block : sink.Sent()) {
        confirmations += block[0] == vnl::kRegisterConf || block[0] == vnl::kUnregisterConf;
      }
      EXPECT_EQ(confirmations, static_cast<size_t>(kRounds));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(engine.ReceivedCount(vnl::kRegisterReq) + engine.ReceivedCount(vnl::kUnregisterReq),
            static_cast<size_t>(kThreads * kRounds));
}

}  // namespace
