// The line commands against an in-process exchange: result lines, argument
// checking, and that each command reaches the transport or the engine.
#include <gtest/gtest.h>

#include <memory>

#include "exchange/command_interpreter.h"
#include "exchange/lan_exchange.h"
#include "exchange/script_engine.h"
#include "platform/fake_clock.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::CommandInterpreter;
using exchange::LanExchange;
using exchangetest::FrameClient;
using exchangetest::Hex;

class CommandInterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exchange_.SetKeepalivePeriod(0);
    std::string error;
    ASSERT_TRUE(exchange_.Listen("127.0.0.1", 0, false, &error)) << error;
    ASSERT_TRUE(exchange_.Start());
  }
  void TearDown() override { exchange_.Stop(); }

  std::string Run(const std::string& line) {
    auto outcome = interpreter_.Execute(line);
    return outcome ? outcome->line : "(none)";
  }

  void Connect(FrameClient& client) {
    ASSERT_TRUE(client.Connect(exchange_.Port()));
    ASSERT_EQ(Run("wait-connected 10000"), "ok wait-connected");
  }

  platform::FakeClock clock_;
  exchangetest::RecordingEvents events_;
  exchange::ScriptEngine engine_{events_};
  LanExchange exchange_{engine_, events_, clock_};
  int quits_ = 0;
  CommandInterpreter interpreter_{exchange_, [this] { ++quits_; }};
};

TEST_F(CommandInterpreterTest, BlankLinesAndCommentsAreNoCommands) {
  EXPECT_FALSE(interpreter_.Execute(""));
  EXPECT_FALSE(interpreter_.Execute("   \t\r"));
  EXPECT_FALSE(interpreter_.Execute("# send 01"));
}

TEST_F(CommandInterpreterTest, WrongArgumentsGiveAnErrorNamingTheCommand) {
  const std::vector<std::pair<std::string, std::string>> wrong = {
      {"send 0", "error send: bad hex"},
      {"raw", "error raw: bad hex"},
      {"bad-tag xyz", "error bad-tag: bad hex"},
      {"frame", "error frame: a tag is needed"},
      {"frame c5c5 00", "error frame: bad tag"},
      {"keepalive", "error keepalive: usage: keepalive MS"},
      {"keepalive -1", "error keepalive: bad period"},
      {"drop-on-missed maybe", "error drop-on-missed: usage: on|off"},
      {"stop-echo now", "error stop-echo: no arguments expected"},
      {"split 1", "error split: usage: split N [PAUSE-MS], N at least 2"},
      {"split", "error split: usage: split N [PAUSE-MS]"},
      {"split-at 0", "error split-at: bad offset list"},
      {"split-at 1,", "error split-at: bad offset list"},
      {"merge x", "error merge: bad hold time"},
      {"wait-connected soon", "error wait-connected: bad time"},
      {"wait-block", "error wait-block: usage: wait-block HEX-PREFIX|* [MS]"},
      {"wait-block 1 5", "error wait-block: usage: wait-block HEX-PREFIX|* [MS]"},
      {"sleep", "error sleep: usage: sleep MS"},
      {"sleep 99999999", "error sleep: usage: sleep MS"},
      {"frobnicate", "error frobnicate: unknown command (try help)"},
      {"rule zz", "error rule: bad pattern 'zz'"},
  };
  for (const auto& [command, expected] : wrong) {
    auto outcome = interpreter_.Execute(command);
    ASSERT_TRUE(outcome) << command;
    EXPECT_FALSE(outcome->ok) << command;
    EXPECT_EQ(outcome->line, expected) << command;
  }
}

TEST_F(CommandInterpreterTest, SendingWithoutAClientFailsAndWaitsTimeOut) {
  EXPECT_EQ(Run("send 01"), "error send: not sent (no connection?)");
  EXPECT_EQ(Run("raw 01"), "error raw: not sent (no connection?)");
  EXPECT_EQ(Run("drop"), "error drop: no connection");
  EXPECT_EQ(Run("wait-connected 0"), "error wait-connected: timed out");
  EXPECT_EQ(Run("wait-disconnected 0"), "ok wait-disconnected");
  EXPECT_EQ(Run("wait-block * 0"), "error wait-block: timed out");
}

TEST_F(CommandInterpreterTest, StatusShowsSettingsChangedByCommands) {
  EXPECT_EQ(Run("keepalive 1500"), "ok keepalive 1500");
  EXPECT_EQ(Run("drop-on-missed on"), "ok drop-on-missed on");
  EXPECT_EQ(Run("stop-echo"), "ok stop-echo");
  std::string status = Run("status");
  for (const char* field : {"ok status connected=no", " engine=script", " answering=no", " keepalive-ms=1500",
                            " drop-on-missed=yes", " connections=0", " blocks-received=0"}) {
    EXPECT_NE(status.find(field), std::string::npos) << field << " in " << status;
  }
  EXPECT_NE(status.find(" listening=127.0.0.1:" + std::to_string(exchange_.Port())), std::string::npos);
  Run("start-echo");
  EXPECT_NE(Run("status").find(" answering=yes"), std::string::npos);
}

TEST_F(CommandInterpreterTest, ScenarioCommandsDriveAConnectedClient) {
  EXPECT_EQ(Run("rule 10??0003* 11[1]0003d00100"), "ok rule 1");
  FrameClient client;
  Connect(client);

  EXPECT_EQ(Run("send 0a 0b"), "ok send");
  EXPECT_EQ(client.ReceiveExactly(5), Hex("c500020a0b"));
  EXPECT_EQ(Run("frame c7 0102"), "ok frame");
  EXPECT_EQ(Run("bad-tag"), "ok bad-tag");
  EXPECT_EQ(Run("raw ff"), "ok raw");
  EXPECT_EQ(client.ReceiveExactly(10), Hex("c7000201 02c6000100 ff"));

  ASSERT_TRUE(client.SendHex("c5000710050003100105"));
  EXPECT_EQ(Run("wait-block 1005 10000"), "ok wait-block 10050003100105");
  EXPECT_EQ(client.ReceiveExactly(10), Hex("c5000711050003d00100")) << "answered by the rule";

  EXPECT_EQ(Run("drop"), "ok drop");
  EXPECT_EQ(Run("wait-disconnected 0"), "ok wait-disconnected");
  EXPECT_TRUE(client.WaitClosed());
}

TEST_F(CommandInterpreterTest, SerialAndUsbCommandsAreNotOnTheLan) {
  for (std::string verb : {"corrupt", "drop-frame", "silent", "send-frame", "repeat-iframe", "service-answer",
                           "frame-trace", "zero-write", "fail-read", "unplug", "plug"}) {
    EXPECT_EQ(Run(verb + " 1"), "error " + verb + ": not on this link");
  }
}

TEST_F(CommandInterpreterTest, QuitCallsBackAndMarkEchoesItsText) {
  auto outcome = interpreter_.Execute("quit");
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->quit);
  EXPECT_EQ(outcome->line, "ok quit");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(Run("mark step 2"), "ok mark step 2");
}

}  // namespace
