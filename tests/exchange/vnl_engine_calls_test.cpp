// The VNL engine's calls: requests as bytes, every answer and indication
// decoded and checked (exact bytes for one of each), RefIDs and CALL_IDs,
// the call commands and their waits.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "exchange/vnl_engine.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/exchange/call_messages.h"
#include "tests/exchange/decode_answer.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::VnlEngine;
using exchangetest::Bytes;
using exchangetest::Decode;
using exchangetest::Describe;
using exchangetest::Hex;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

class Sink : public exchange::BlockSink {
 public:
  bool SendBlock(std::span<const uint8_t> block) override {
    std::lock_guard lock(mutex_);
    sent_.emplace_back(block.begin(), block.end());
    return true;
  }
  std::vector<Bytes> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Bytes> sent_;
};

exchange::ExchangeConfig TestConfig(bool lineList16 = false) {
  exchange::ExchangeConfig config;
  config.lineList16 = lineList16;
  config.lines = {{10, "20", exchange::kForwardNone, ""},
                  {11, "21", exchange::kForwardNone, ""},
                  {300, "30", exchange::kForwardNone, ""}};
  config.msns = {{1, "4711", {10, 11}}};
  return config;
}

class VnlEngineCallsTest : public ::testing::Test {
 protected:
  explicit VnlEngineCallsTest(bool lineList16 = false)
      : lineId16(lineList16), engine(TestConfig(lineList16), &events) {
    engine.OnTick(kStart, out);
  }

  // Sends a request (hex) and returns the answers, described.
  Lines Send(const std::string& hex) {
    engine.OnBlock(Hex(hex), out);
    return Taken();
  }
  Lines Tick(uint32_t ms) {
    engine.OnTick(kStart + ms, out);
    return Taken();
  }
  Lines Taken() {
    Lines lines;
    for (const Bytes& block : out.Take()) {
      vnl::Message message = Decode(block, lineId16);
      std::string text = Describe(message);
      if (message.Has(vnl::kResult)) {
        text += " result=" + std::to_string(message.result);
        for (uint8_t detail : message.resultDetails) text += " " + exchangetest::HexByte(detail);
      }
      lines.push_back(text + " ref=" + std::to_string(message.refId));
    }
    return lines;
  }
  VnlEngine::CommandResult Command(std::string_view verb, std::string_view args) {
    return engine.OnCommand(verb, args, out).value_or(VnlEngine::CommandResult{false, "(unknown)"});
  }
  bool Saw(const std::string& line) const { return events.Count(line) > 0; }

  static constexpr uint32_t kStart = 5000;
  bool lineId16;
  exchangetest::RecordingEvents events;
  VnlEngine engine;
  Sink out;
};

TEST_F(VnlEngineCallsTest, AnOutgoingCallIsConfirmedWithItsCallIdAndReportedByteForByte) {
  Send("10010003 10010a");
  engine.OnBlock(Hex("20020009 10010a 3004 30313233"), out);
  auto blocks = out.Take();
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0], Hex("21020007 d00100 11020001"));
  EXPECT_EQ(blocks[1], Hex("6801000d 11020001 200116 300430313233"));
  EXPECT_EQ(blocks[2], Hex("6802000a 11020001 200122 400101"));
  EXPECT_EQ(blocks[3], Hex("68030007 11020001 200117"));
  EXPECT_TRUE(Saw("vnl-rx VNL_CALLESTABLISH_REQ ref=2 line=10"));
  EXPECT_TRUE(Saw("vnl-tx VNL_CALLESTABLISH_CONF ref=2 result=0 call=1"));
  EXPECT_TRUE(Saw("call 1 dialing line=10 party=0123"));
  EXPECT_TRUE(Saw("vnl-tx VNL_CALLINFO_IND ref=1 call=1 state=dialing"));

  EXPECT_TRUE(Tick(999).empty());
  engine.OnTick(kStart + 1000, out);
  blocks = out.Take();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], Hex("68040010 11020001 200113 350430313233 360100"));
  EXPECT_TRUE(Saw("call 1 connected line=10 party=0123"));

  engine.OnBlock(Hex("24030004 11020001"), out);
  blocks = out.Take();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], Hex("25030003 d00100"));
  EXPECT_EQ(blocks[1], Hex("62050004 11020001"));
  EXPECT_TRUE(Saw("vnl-tx VNL_CLOSECALL_IND ref=5 call=1"));
  EXPECT_TRUE(engine.Calls().empty());
}

TEST_F(VnlEngineCallsTest, UnknownLinesAndCallsAreRefusedWithTheirDetails) {
  EXPECT_EQ(Send("20010003 10010a"), Lines{"VNL_CALLESTABLISH_CONF result=255 80 ref=1"}) << "not registered";
  EXPECT_EQ(Send("20020000"), Lines{"VNL_CALLESTABLISH_CONF result=255 80 ref=2"}) << "no LINE_ID";
  EXPECT_EQ(Send("22030006 11020007 3000"), Lines{"VNL_DIAL_CONF result=255 81 ref=3"});
  EXPECT_EQ(Send("24040004 11020007"), Lines{"VNL_DISCONNECT_CONF result=255 81 ref=4"});
  EXPECT_EQ(Send("26050004 11020007"), Lines{"VNL_ANSWERCALL_CONF result=255 81 ref=5"});
  EXPECT_TRUE(Saw("vnl-tx VNL_DISCONNECT_CONF ref=4 result=255 details=81"));
  EXPECT_EQ(Send("34060003 10010a"), Lines{"VNL_PICKUPCALL_CONF result=255 ref=6"}) << "still not carried out";
}

TEST_F(VnlEngineCallsTest, DialToneThenADialAndTheLineInfoListsTheCalls) {
  Send("10010003 10010a");
  EXPECT_EQ(Send("20020003 10010a"), (Lines{"VNL_CALLESTABLISH_CONF 1 result=0 ref=2", "CALLINFO 1 dialtone ref=1"}));
  EXPECT_EQ(Send("22030009 11020001 3003 303330"),
            (Lines{"VNL_DIAL_CONF result=0 ref=3", "CALLINFO 1 dialing DEST=030 ref=2",
                   "CALLINFO 1 proceeding TYPE=01 ref=3", "CALLINFO 1 delivered ref=4"}));
  Send("20040003 10010a");
  EXPECT_EQ(Send("a2050003 10010a"), Lines{"VNL_GETLINEINFO_CONF 1 result=0 ref=5"});
  engine.OnBlock(Hex("a2060003 10010a"), out);
  vnl::Message conf = Decode(out.Take().at(0));
  EXPECT_EQ(conf.callIds, (std::vector<uint16_t>{1, 2}));
}

TEST_F(VnlEngineCallsTest, AnIncomingCallFromTheCommandIsAnsweredAndHungUp) {
  Send("10010003 10010a");
  auto result = Command("incoming", "\"20\" \"0301234567\"");
  EXPECT_TRUE(result.ok) << result.text;
  EXPECT_EQ(result.text, "incoming call=1");
  auto blocks = out.Take();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0], Hex("60010007 10010a 11020001"));
  EXPECT_EQ(Describe(Decode(blocks[1])), "CALLINFO 1 offering ORIG=301234567/4 TYPE=01 EXT=20");
  EXPECT_EQ(Describe(Decode(blocks[2])), "CALLINFO 1 accepted");
  EXPECT_TRUE(Saw("vnl-tx VNL_NEWCALL_IND ref=1 line=10 call=1"));

  // The PC's responses are taken and counted; a refusal is reported.
  EXPECT_TRUE(Send("61010003 d00100").empty());
  EXPECT_TRUE(Send("69020004 d002ff81").empty());
  EXPECT_TRUE(Send("69030004 d0020280").empty());
  EXPECT_EQ(engine.ReceivedCount(vnl::kNewCallResp), 1u);
  EXPECT_EQ(engine.ReceivedCount(vnl::kCallInfoResp), 2u);
  EXPECT_TRUE(Saw("vnl-refused VNL_CALLINFO_RESP ref=2 details=81"));
  EXPECT_TRUE(Saw("vnl-refused VNL_CALLINFO_RESP ref=3 result=2 details=80"));
  EXPECT_EQ(events.Count("vnl-refused VNL_NEWCALL_RESP ref=1"), 0u);

  EXPECT_EQ(Send("26040004 11020001"),
            (Lines{"VNL_ANSWERCALL_CONF result=0 ref=4", "CALLINFO 1 connected CONN=301234567/4 ref=4"}));
  result = Command("hangup", "1");
  EXPECT_EQ(result.text, "hangup 1");
  EXPECT_EQ(Taken(), Lines{"CALLINFO 1 disconnected CAUSE=00 ref=5"});
  EXPECT_TRUE(Saw("vnl-tx VNL_CALLINFO_IND ref=5 call=1 state=disconnected cause=0x00"));
  result = Command("hangup", "1");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.text, "hangup: the party of call 1 has already left");
  EXPECT_EQ(Send("24050004 11020001"), (Lines{"VNL_DISCONNECT_CONF result=0 ref=5", "CLOSECALL 1 ref=6"}));
}

TEST_F(VnlEngineCallsTest, ExtensionToExtensionWithRefIdsOfTheExchangesOwn) {
  Send("10010003 10010a");
  Send("10020003 10010b");
  EXPECT_EQ(Send("20030007 10010a 30023231"),
            (Lines{"VNL_CALLESTABLISH_CONF 1 result=0 ref=3", "CALLINFO 1 dialing DEST=21 ref=1",
                   "CALLINFO 1 proceeding TYPE=02 ref=2", "NEWCALL 2 line=11 ref=3",
                   "CALLINFO 2 offering ORIG=20/3 TYPE=02 EXT=21 ref=4", "CALLINFO 2 accepted ref=5",
                   "CALLINFO 1 delivered ref=6"}));
  EXPECT_EQ(Send("26040004 11020002"),
            (Lines{"VNL_ANSWERCALL_CONF result=0 ref=4", "CALLINFO 2 connected CONN=20/3 ref=7",
                   "CALLINFO 1 connected CONN=21/3 ref=8"}));
  // Unregistering line 11 ends its call; line 10 learns it.
  EXPECT_EQ(Send("12050003 10010b"),
            (Lines{"VNL_UNREGISTER_CONF result=0 ref=5", "CALLINFO 1 disconnected CAUSE=00 ref=9"}));
  EXPECT_TRUE(Saw("call 2 idle line=11 party=20"));
}

TEST_F(VnlEngineCallsTest, AStartAnEndOrALostConnectionEndsEveryCall) {
  Send("10010003 10010a");
  Send("20020003 10010a");
  Send("00030003 000130");
  EXPECT_TRUE(engine.Calls().empty());
  EXPECT_TRUE(Saw("call 1 idle line=10 party=-"));
  EXPECT_EQ(Send("20040003 10010a"), Lines{"VNL_CALLESTABLISH_CONF result=255 80 ref=4"}) << "registration gone";

  Send("10050003 10010a");
  Send("20060003 10010a");
  engine.OnDisconnected();
  EXPECT_TRUE(engine.Calls().empty());
  EXPECT_TRUE(Saw("call 2 idle line=10 party=-"));
  EXPECT_TRUE(out.Take().empty());
}

TEST_F(VnlEngineCallsTest, CommandsTakeQuotedNumbersAndCheckTheirWords) {
  Send("10010003 10010a");
  EXPECT_EQ(Command("party", "\"0301 999\" busy").text, "party 0301 999 busy");
  EXPECT_EQ(Command("party", "* answer 200 hangup-after 1000").text, "party * answer 200 hangup-after 1000");
  EXPECT_EQ(Send("2002000f 10010a 300a 22303330312039393922"),
            (Lines{"VNL_CALLESTABLISH_CONF 1 result=0 ref=2", "CALLINFO 1 dialing DEST=\"0301 999\" ref=1",
                   "CALLINFO 1 proceeding TYPE=01 ref=2", "CALLINFO 1 delivered ref=3"}))
      << "a different number (with its quotes): the default rule";
  EXPECT_EQ(Send("2003000d 10010a 3008 3033303120393939"),
            (Lines{"VNL_CALLESTABLISH_CONF 2 result=0 ref=3", "CALLINFO 2 dialing DEST=0301 999 ref=4",
                   "CALLINFO 2 proceeding TYPE=01 ref=5", "CALLINFO 2 busy CAUSE=14 ref=6"}));

  auto calls = Command("calls", "");
  EXPECT_EQ(calls.text,
            "calls 2: call 1 line=10 state=delivered party=\"0301 999\"; call 2 line=10 state=busy party=0301 999");
  EXPECT_TRUE(Saw("call 2 line=10 state=busy party=0301 999"));
  EXPECT_EQ(Command("answer", "1").text, "answer 1");
  EXPECT_EQ(Taken(), Lines{"CALLINFO 1 connected CONN=\"0301 999\"/0 ref=7"});
  EXPECT_EQ(Command("clear-after", "0").text, "clear-after 0");

  for (auto [verb, args] : std::vector<std::pair<std::string, std::string>>{
           {"party", "123"},
           {"party", "123 sometimes"},
           {"party", "\"123 busy"},
           {"incoming", "20"},
           {"incoming", "20 0301 sideways"},
           {"incoming", "20 0301 ring-timeout"},
           {"incoming", "99 0301"},
           {"incoming", "21 0301"},
           {"hangup", "x"},
           {"hangup", "0"},
           {"hangup", "77"},
           {"answer", "2"},
           {"calls", "now"},
           {"clear-after", "-1"},
           {"wait-registered", ""},
           {"wait-registered", "99"},
           {"wait-registered", "20 x"},
           {"wait-call-state", "1"},
           {"wait-call-state", "1 ringing"},
           {"wait-call-state", "0 idle"}}) {
    auto result = Command(verb, args);
    EXPECT_FALSE(result.ok) << verb << " " << args << ": " << result.text;
    EXPECT_EQ(result.text.rfind(verb + ": ", 0), 0u) << result.text;
  }
  EXPECT_EQ(Command("incoming", "21 0301").text, "incoming: no registered line for '21'");
  EXPECT_NE(engine.CommandHelp().find("incoming TARGET FROM"), std::string::npos);
  EXPECT_NE(engine.CommandHelp().find("wait-call-state CALL STATE"), std::string::npos);
}

TEST_F(VnlEngineCallsTest, WaitsEndWhenTheRegistrationOrTheStateComes) {
  // Already true: at once.
  Send("10010003 10010a");
  EXPECT_EQ(Command("wait-registered", "\"20\" 10000").text, "wait-registered 20");
  EXPECT_EQ(Command("wait-registered", "10 10000").text, "wait-registered 10") << "by line ID";
  EXPECT_EQ(Command("wait-registered", "21 20").text, "wait-registered: timed out");

  // Registered from another thread while waiting.
  VnlEngine::CommandResult waited;
  std::thread waiter([&] { waited = *engine.OnWaitCommand("wait-registered", "21"); });
  Send("10020003 10010b");
  waiter.join();
  EXPECT_EQ(waited.text, "wait-registered 21");

  Send("20030007 10010a 30023231");
  std::thread stateWaiter([&] { waited = *engine.OnWaitCommand("wait-call-state", "1 connected"); });
  Send("26040004 11020002");
  stateWaiter.join();
  EXPECT_EQ(waited.text, "wait-call-state 1 connected");
  EXPECT_EQ(Command("wait-call-state", "1 CONNECTED 0").text, "wait-call-state 1 CONNECTED");
  EXPECT_EQ(Command("wait-call-state", "1 busy 20").text, "wait-call-state: timed out in state connected");
  EXPECT_EQ(Command("wait-call-state", "9 connected 20").text, "wait-call-state: timed out");

  Send("24050004 11020001");
  EXPECT_EQ(Command("wait-call-state", "1 idle 0").text, "wait-call-state 1 idle") << "an ended call is idle";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Command("wait-call-state", "1 connected 60000").text, "wait-call-state: call 1 has ended");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "an ended call is not waited for";
}

class VnlEngineCalls16Test : public VnlEngineCallsTest {
 protected:
  VnlEngineCalls16Test() : VnlEngineCallsTest(true) {}
};

TEST_F(VnlEngineCalls16Test, SixteenBitLineIdsInRequestsAndNewCallIndications) {
  Send("10010004 1002012c");
  auto result = Command("incoming", "30 \"+4930123\" hangup-after 100");
  EXPECT_EQ(result.text, "incoming call=1");
  auto blocks = out.Take();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0], Hex("60010008 1002012c 11020001"));
  EXPECT_EQ(Describe(Decode(blocks[1], true)), "CALLINFO 1 offering ORIG=4930123/5 TYPE=01 EXT=30");
  EXPECT_EQ(Send("26020004 11020001"),
            (Lines{"VNL_ANSWERCALL_CONF result=0 ref=2", "CALLINFO 1 connected CONN=4930123/5 ref=4"}));
  EXPECT_EQ(Tick(100), Lines{"CALLINFO 1 disconnected CAUSE=00 ref=5"});
  EXPECT_EQ(Send("20030004 1002012c"), (Lines{"VNL_CALLESTABLISH_CONF 2 result=0 ref=3", "CALLINFO 2 dialtone ref=6"}));
}

}  // namespace
