// The VNL engine's shell and command language: one table of commands (and
// the requests that show their effect) with their exact results and the
// blocks they send; then what only the shell does: sending after the lock
// (a failed send, a sink that calls back in), serialising several threads
// and the waits that other threads end.
#include <gtest/gtest.h>

#include <thread>

#include "exchange/hex_text.h"
#include "exchange/vnl_engine.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/exchange/recording_events.h"
#include "tests/exchange/three_line_config.h"

namespace {

using exchange::VnlEngine;
using exchangetest::RecordingBlocks;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

Bytes Hex(std::string_view text) { return exchange::ParseHex(text).value(); }

class VnlEngineTest : public ::testing::Test {
 protected:
  exchangetest::RecordingEvents events;
  VnlEngine engine{exchangetest::ThreeLineConfig(), &events};
  RecordingBlocks out;
};

// "VERB ARGS" runs a command ("ok ..." / "error ..." / "none" when the
// engine does not know it); "rx HEX" hands the engine a block. Then the
// blocks sent, each as "> HEX".
struct CommandRow {
  std::string input;
  Lines expected;
};

const CommandRow kCommands[] = {
    // Faults.
    {"refuse-start c0 c2", {"ok refuse-start c0c2"}},
    {"rx 00050006 000130 010110", {"> 0105000c d003ffc0c2 000130 0202544b"}},
    {"refuse-start", {"ok refuse-start off"}},
    {"rx 00050006 000130 010110", {"> 0105000a d00100 000130 0202544b"}},
    {"refuse-start c", {"error refuse-start: usage: refuse-start [DETAIL ...] (hex bytes, none = accept)"}},
    {"refuse-register b0", {"ok refuse-register b0"}},
    {"rx 10010003 10010a", {"> 11010004 d002ffb0"}},
    {"refuse-register", {"ok refuse-register off"}},
    {"refuse-unregister 91", {"ok refuse-unregister 91"}},
    {"rx 12020003 10010a", {"> 13020004 d002ff91"}},
    {"refuse-unregister x",
     {"error refuse-unregister: usage: refuse-unregister [DETAIL ...] (hex bytes, none = accept)"}},
    {"refuse-unregister", {"ok refuse-unregister off"}},
    {"end-ind off", {"ok end-ind off"}},
    {"rx 04030003 0f0100", {"> 05030003 d00100"}},
    {"end-ind maybe", {"error end-ind: usage: end-ind on|off"}},
    {"end-ind on", {"ok end-ind on"}},
    {"ignore vnl_getaddresslist_req on", {"ok ignore vnl_getaddresslist_req on"}},
    {"rx ae040000", {}},
    {"ignore VNL_GETADDRESSLIST_REQ off", {"ok ignore VNL_GETADDRESSLIST_REQ off"}},
    {"ignore all on", {"ok ignore all on"}},
    {"rx 00050006 000130 010110", {}},
    {"ignore all off", {"ok ignore all off"}},
    {"ignore VNL_REGISTER_CONF on",
     {"error ignore: 'VNL_REGISTER_CONF' is not a request name such as VNL_REGISTER_REQ"}},
    {"ignore VNL_BOGUS_REQ on", {"error ignore: 'VNL_BOGUS_REQ' is not a request name such as VNL_REGISTER_REQ"}},
    {"ignore all", {"error ignore: usage: ignore NAME|all on|off"}},
    // Forwarding: a registered line is told.
    {"rx 10060003 10010b", {"> 11060003 d00100"}},
    {"forward 11 noanswer 0301999", {"ok forward 11 noanswer 0301999", "> 6a01000f 10010b 520112 3007 30333031393939"}},
    {"forward 0x0b none", {"ok forward 11 none", "> 6a020006 10010b 520100"}},
    {"forward 99 busy 1", {"error forward: no line 99"}},
    {"forward 11 sometimes 1", {"error forward: usage: forward LINE none|unconditional|busy|noanswer [DEST]"}},
    {"forward 11 none 1", {"error forward: usage: forward LINE none|unconditional|busy|noanswer [DEST]"}},
    {"forward 11", {"error forward: usage: forward LINE none|unconditional|busy|noanswer [DEST]"}},
    {"forward 11 busy 1\x01", {"error forward: destination holds a control character"}},
    {"forward 11 busy \xCE\xA9", {"error forward: destination has characters outside Windows-1252"}},
    {"vnl-status",
     {"ok vnl-status started=no registered=11 line-list=8 end-ind=on received=VNL_START_REQ:3,VNL_END_REQ:1,"
      "VNL_REGISTER_REQ:2,VNL_UNREGISTER_REQ:1,VNL_GETADDRESSLIST_REQ:1"}},
    {"vnl-status now", {"error vnl-status: no arguments expected"}},
    // Calls.
    {"party \"0301 999\" busy", {"ok party 0301 999 busy"}},
    {"party 0302 noanswer", {"ok party 0302 noanswer"}},
    {"party * answer 200 hangup-after 1000", {"ok party * answer 200 hangup-after 1000"}},
    {"rx 2007000d 10010b 3008 3033303120393939",
     {"> 21070007 d0010011020001",
      "> 68030011 1102000120011630083033303120393939",
      "> 6804000a 11020001200122400101",
      "> 6805000a 110200012001140f0114"}},
    {"rx 10080003 10010a", {"> 11080003 d00100"}},
    {"incoming \"20\" \"0301234567\"",
     {"ok incoming call=2",
      "> 60060007 10010a11020002",
      "> 6807001c 11020002200111320933303132333435363734010440010131023230",
      "> 68080007 11020002200112"}},
    {"incoming 4711 0301 internal ring-timeout 50",
     {"ok incoming call=3 also=4",
      "> 60090007 10010a11020003",
      "> 680a0019 11020003200111320430333031340103400102310434373131",
      "> 680b0007 11020003200112",
      "> 600c0007 10010b11020004",
      "> 680d0019 11020004200111320430333031340103400102310434373131",
      "> 680e0007 11020004200112"}},
    {"hangup 2", {"ok hangup 2", "> 680f000a 110200022001180f0100", "> 62100004 11020002"}},
    {"hangup 2", {"error hangup: no call 2"}},
    {"rx 20090009 10010a 3004 30333032",
     {"> 21090007 d0010011020005",
      "> 6811000d 11020005200116300430333032",
      "> 6812000a 11020005200122400101",
      "> 68130007 11020005200117"}},
    {"answer 5", {"ok answer 5", "> 68140010 11020005200113350430333032360100"}},
    {"answer 5", {"error answer: call 5 is no call of the PC to a simulated party that rings"}},
    {"clear-after 0", {"ok clear-after 0"}},
    {"calls",
     {"ok calls 4: call 1 line=11 state=busy party=0301 999; call 3 line=10 state=accepted party=0301; call 4 "
      "line=11 state=accepted party=0301; call 5 line=10 state=connected party=0302"}},
    // Words the commands refuse.
    {"party 123",
     {"error party: usage: party NUMBER|* answer [AFTER-MS] [hangup-after MS] [charge AMOUNT [CURRENCY]] | busy | "
      "reject | noanswer | unreachable"}},
    {"party 123 sometimes",
     {"error party: unknown behaviour 'sometimes' (usage: party NUMBER|* answer [AFTER-MS] [hangup-after MS] "
      "[charge AMOUNT [CURRENCY]] | busy | reject | noanswer | unreachable)"}},
    {"party \"123 busy", {"error party: unterminated quote or bad escape"}},
    {"party \"4\x01\" busy", {"error party: bad number '4\x01'"}},
    {"incoming 20",
     {"error incoming: usage: incoming TARGET FROM [internal|external] [hangup-after MS] [ring-timeout MS]"}},
    {"incoming 20 0301 sideways",
     {"error incoming: unexpected 'sideways' (usage: incoming TARGET FROM [internal|external] [hangup-after MS] "
      "[ring-timeout MS])"}},
    {"incoming 20 0301 ring-timeout", {"error incoming: ring-timeout needs a time in ms"}},
    {"incoming 99 0301", {"error incoming: no line address or MSN '99'"}},
    {"hangup x", {"error hangup: usage: hangup CALL"}},
    {"hangup 0", {"error hangup: usage: hangup CALL"}},
    {"hangup 77", {"error hangup: no call 77"}},
    {"calls now", {"error calls: no arguments expected"}},
    {"clear-after -1", {"error clear-after: usage: clear-after MS (0 = keep until the PC disconnects)"}},
    {"wait-registered", {"error wait-registered: usage: wait-registered LINE [MS]"}},
    {"wait-registered 99", {"error wait-registered: no line with ID or address '99'"}},
    {"wait-registered 20 x", {"error wait-registered: bad time"}},
    {"wait-call-state 1", {"error wait-call-state: usage: wait-call-state CALL STATE [MS]"}},
    {"wait-call-state 1 ringing",
     {"error wait-call-state: unknown state 'ringing' (idle, offering, connected, ...)"}},
    {"wait-call-state 0 idle", {"error wait-call-state: bad call ID '0'"}},
    {"wait-call-state 1 idle 10 20", {"error wait-call-state: usage: wait-call-state CALL STATE [MS]"}},
    // Waits whose condition holds or cannot come.
    {"wait-registered \"20\" 10000", {"ok wait-registered 20"}},
    {"wait-registered 11 10000", {"ok wait-registered 11"}},
    {"wait-registered 22 20", {"error wait-registered: timed out"}},
    {"wait-call-state 5 CONNECTED 0", {"ok wait-call-state 5 CONNECTED"}},
    {"wait-call-state 5 busy 20", {"error wait-call-state: timed out in state connected"}},
    {"wait-call-state 99 connected 20", {"error wait-call-state: timed out"}},
    {"wait-call-state 2 idle 0", {"ok wait-call-state 2 idle"}},
    {"wait-call-state 2 connected 60000", {"error wait-call-state: call 2 has ended"}},
    // Hold, refusals by request type, the no-answer time.
    {"hold 5", {"ok hold 5", "> 68150007 11020005200120"}},
    {"hold 5", {"error hold: call 5 is not connected"}},
    {"hold", {"error hold: usage: hold CALL"}},
    {"refuse VNL_ALTERNATECALL_REQ 90 01", {"ok refuse VNL_ALTERNATECALL_REQ 255 9001"}},
    {"rx 3c0a0008 11020005 12020003", {"> 3d0a0005 d003ff9001"}},
    {"refuse VNL_ALTERNATECALL_REQ off", {"ok refuse VNL_ALTERNATECALL_REQ off"}},
    {"rx 3c0b0008 11020005 12020003", {"> 3d0b0003 d001ff"}},  // call 3 is not held
    {"refuse VNL_ALTERNATECALL_CONF 90",
     {"error refuse: 'VNL_ALTERNATECALL_CONF' is not a request name such as VNL_REGISTER_REQ"}},
    {"refuse VNL_ALTERNATECALL_REQ zz",
     {"error refuse: bad detail bytes (usage: refuse NAME [DETAIL ...]|off (hex bytes; none = RESULT 255 alone))"}},
    {"noanswer-after 100", {"ok noanswer-after 100"}},
    {"noanswer-after", {"error noanswer-after: usage: noanswer-after MS"}},
    // Park: the parked list, the party leaving.
    {"rx 400c0004 11020005", {"> 410c0007 d00100 43020001", "> 68160007 11020005200110", "> 62170004 11020005"}},
    {"parked", {"ok parked 1: parked 1 party=0302"}},
    {"calls",
     {"ok calls 4: call 1 line=11 state=busy party=0301 999; call 3 line=10 state=accepted party=0301; call 4 "
      "line=11 state=accepted party=0301; parked 1 party=0302"}},
    {"hangup-parked 1", {"ok hangup-parked 1"}},
    {"hangup-parked 1", {"error hangup-parked: no simulated party parked at 1"}},
    {"hangup-parked 0", {"error hangup-parked: usage: hangup-parked PARK-ADDRESS"}},
    {"parked now", {"error parked: no arguments expected"}},
    {"parked", {"ok parked 0"}},
    // Not this engine's.
    {"rule 01 02", {"none"}},
};

TEST_F(VnlEngineTest, CommandsGiveTheirResultsAndTheirEffects) {
  for (const CommandRow& row : kCommands) {
    Lines seen;
    if (row.input.rfind("rx ", 0) == 0) {
      engine.OnBlock(Hex(row.input.substr(3)), out);
    } else {
      std::string_view line = row.input;
      size_t space = line.find(' ');
      std::string_view verb = line.substr(0, space);
      std::string_view args = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
      auto result = engine.OnCommand(verb, args, out);
      seen.push_back(result ? (result->ok ? "ok " : "error ") + result->text : "none");
    }
    for (const Bytes& block : out.Take()) seen.push_back("> " + exchange::ToHex(block));
    Lines expected;
    for (std::string line : row.expected) {
      if (line.rfind("> ", 0) == 0) line = "> " + exchange::ToHex(Hex(line.substr(2)));
      expected.push_back(line);
    }
    std::string actual;
    for (const std::string& line : seen) actual += "\n  \"" + line + "\",";
    EXPECT_EQ(seen, expected) << row.input << ", actual:" << actual;
  }
  EXPECT_EQ(events.Count("call 1 line=11 state=busy party=0301 999"), 2u) << "each calls reports each call as an event";
}

TEST_F(VnlEngineTest, HelpNamesEveryCommand) {
  const std::string help = engine.CommandHelp();
  for (const CommandRow& row : kCommands) {
    std::string verb = row.input.substr(0, row.input.find(' '));
    if (verb == "rx" || verb == "rule") continue;
    EXPECT_NE(help.find("  " + verb + " "), std::string::npos) << verb;
  }
}

TEST_F(VnlEngineTest, AFailedSendIsReportedWithTheBlocksLine) {
  engine.OnBlock(Hex("10020003 10010a"), out);
  out.connected = false;
  ASSERT_TRUE(engine.SetForwarding(10, exchange::kForwardBusy, "1", out));
  EXPECT_EQ(events.Count("vnl-send-failed VNL_LINEINFO_IND ref=1 line=10 state=busy"), 1u);
  engine.OnBlock(Hex("00050006 000130 010110"), out);
  EXPECT_EQ(events.Count("vnl-send-failed VNL_START_CONF ref=5 result=0"), 1u);
  EXPECT_EQ(out.Take().size(), 3u) << "every block was offered";
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
      engine_.OnBlock(Bytes{vnl::kLineInfoResp, block[1], 0x00, 0x03, 0xD0, 0x01, 0x00}, *this);
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
  EXPECT_EQ(sink.registeredSeen, 1u) << "the registration is made before its confirmation is sent";
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
      RecordingBlocks sink;
      for (int i = 0; i < kRounds; ++i) {
        uint8_t line = static_cast<uint8_t>(10 + (i + t) % 3);
        Bytes request{static_cast<uint8_t>(i % 2 ? vnl::kUnregisterReq : vnl::kRegisterReq),
                      static_cast<uint8_t>(i % 255 + 1), 0x00, 0x03, vnl::kLineId, 0x01, line};
        engine.OnBlock(request, sink);
        engine.SetForwarding(line, exchange::kForwardBusy, "1", sink);
        engine.OnTick(static_cast<uint32_t>(i), sink);
        (void)engine.RegisteredLines();
      }
      size_t confirmations = 0;
      for (const Bytes& block : sink.Take()) {
        confirmations += block[0] == vnl::kRegisterConf || block[0] == vnl::kUnregisterConf;
      }
      EXPECT_EQ(confirmations, static_cast<size_t>(kRounds));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(engine.ReceivedCount(vnl::kRegisterReq) + engine.ReceivedCount(vnl::kUnregisterReq),
            static_cast<size_t>(kThreads * kRounds));
}

TEST_F(VnlEngineTest, WaitsEndWhenAnotherThreadBringsTheRegistrationOrTheState) {
  VnlEngine::CommandResult waited;
  std::thread waiter([&] { waited = engine.OnWaitCommand("wait-registered", "21").value(); });
  engine.OnBlock(Hex("10010003 10010a"), out);
  engine.OnBlock(Hex("10020003 10010b"), out);
  waiter.join();
  EXPECT_EQ(waited.text, "wait-registered 21");

  engine.OnBlock(Hex("20030007 10010a 30023231"), out);
  std::thread stateWaiter([&] { waited = engine.OnWaitCommand("wait-call-state", "1 connected").value(); });
  engine.OnBlock(Hex("26040004 11020002"), out);
  stateWaiter.join();
  EXPECT_EQ(waited.text, "wait-call-state 1 connected");

  std::thread endWaiter([&] { waited = engine.OnWaitCommand("wait-call-state", "1 busy 60000").value(); });
  engine.OnBlock(Hex("24050004 11020001"), out);
  auto start = std::chrono::steady_clock::now();
  endWaiter.join();
  EXPECT_EQ(waited.text, "wait-call-state: call 1 has ended");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "an ended call is not waited for";
  EXPECT_TRUE(engine.WaitRegistered(10, 0ms));
  EXPECT_FALSE(engine.WaitCallState(2, exchange::kCallConnected, 0ms)) << "call 2 was disconnected by the far end";
}

}  // namespace
