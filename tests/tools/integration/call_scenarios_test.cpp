// Calls from the shell: tkphone scripts run the provider plug-in through the
// whole LAN stack against the simulated exchange (tksim, VNL engine), which
// plays the other parties. Each test has its own root folder, exchange and
// link control process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/common/link_config.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/window.h"
#include "tapi/host/provider_list.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;


// Extensions 20 and 21 are the PC's lines; 22 is a party the exchange plays.
const char* kExchangeConfiguration = R"(# the exchange of the call scenarios
line-list 8
line 10 "20"
line 11 "21"
line 12 "22"
msn 1 "4711" lines 10
)";

const char* kProviderValues = R"(
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000000
)";

class CallScenarios : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    const std::string exchangeFile = tktest::currentRoot() + "/exchange.conf";
    tktest::writeFile(exchangeFile, kExchangeConfiguration);
    ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0", "--engine", "vnl", "--exchange-config", exchangeFile}));

    ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(tksim.port()));

    // tkphone loads the first provider of TAPI's list.
    const uint32_t id = tapihost::AddProvider(TK_KVARSP_PATH);
    ASSERT_NE(id, 0u);
    const std::string reg = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider" +
                            std::to_string(id) + "]" + kProviderValues;
    ASSERT_EQ(platform::regImport(reg, "provider configuration"), 0);
  }

  void TearDown() override {
    if (phoneStarted && !exitCode) {
      phone.kill();
      phone.wait(10s);
    }
    // No link control process may outlive its test.
    tktest::EndLinkControlProcesses();
  }

  // Starts tkphone on a script (standard error joins its output).
  void StartPhone(const std::string& script) {
    const std::string file = tktest::currentRoot() + "/phone.script";
    tktest::writeFile(file, script);
    ASSERT_TRUE(phone.start("/bin/sh", {"-c", "exec \"$0\" --script \"$1\" 2>&1", TK_TKPHONE, file}));
    phoneStarted = true;
  }
  // Reads tkphone's output until a line holds text; false when it ended or
  // the deadline passed first.
  bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int lines = 0; lines < 10000; ++lines) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      std::optional<std::string> line = phone.readLine(left);
      if (!line) return false;
      output += *line + "\n";
      if (line->find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Reads the rest of tkphone's output and its exit code.
  int Finish(std::chrono::milliseconds timeout = 40s) {
    ReadUntil("\x01 never printed", timeout);
    exitCode = phone.wait(5s);
    return exitCode.value_or(-1);
  }
  // The exchange's CALL_ID from "ok incoming call=N".
  static std::string CallIdOf(const std::string& answer) {
    const size_t at = answer.find("call=");
    return at == std::string::npos ? "" : answer.substr(at + 5);
  }

  tktest::TksimPeer tksim;
  tktest::ChildProcess phone;
  bool phoneStarted = false;
  std::optional<int> exitCode;
  std::string output;
};

TEST_F(CallScenarios, AnIncomingCallIsAcceptedAnsweredAndDropped) {
  StartPhone(R"(open 0
wait CALLSTATE OFFERING line=0 20000
info 1
try accept 1
wait CALLSTATE ACCEPTED call=1
answer 1
wait CALLSTATE CONNECTED call=1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 0
)");
  ASSERT_THAT(tksim.Command("wait-registered 20 20000"), HasSubstr("ok"));
  const std::string answer = tksim.Command("incoming 20 \"0301234\" external");
  ASSERT_EQ(answer.rfind("ok incoming", 0), 0u) << answer;
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 0 call 1 LINE_NEWCALL"));
  // The exchange reports the national number 301234 (type 4); the provider
  // puts the outside-line prefix "0" and the long-distance prefix "0" in front.
  EXPECT_THAT(output, HasSubstr("  caller ADDRESS \"00301234\""));
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE CONNECTED"));
  EXPECT_TRUE(tksim.WaitEvent("call " + CallIdOf(answer) + " connected", 10s));
}

TEST_F(CallScenarios, AnOutgoingCallIsAnsweredByTheExtension) {
  ASSERT_THAT(tksim.Command("party 22 answer 500"), HasSubstr("ok"));
  StartPhone(R"(open 1
call 1 22
wait CALLSTATE CONNECTED call=1 15000
info 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
close 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 1 call 1 ASYNC_COMPLETION request"));
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE RINGBACK"));
  EXPECT_THAT(output, HasSubstr("  called "));
  EXPECT_THAT(output, HasSubstr("\"22\""));
}

TEST_F(CallScenarios, ABusyExtensionGivesBusy) {
  ASSERT_THAT(tksim.Command("party 22 busy"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE BUSY|DISCONNECTED call=1 15000
status 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  const bool busy = output.find("LINE_CALLSTATE BUSY") != std::string::npos ||
                    output.find("LINE_CALLSTATE DISCONNECTED (BUSY)") != std::string::npos;
  EXPECT_TRUE(busy) << output;
  EXPECT_THAT(output, Not(HasSubstr("LINE_CALLSTATE CONNECTED")));
}

TEST_F(CallScenarios, AnUnansweredCallRingsUntilItIsDropped) {
  ASSERT_THAT(tksim.Command("party 22 noanswer"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE RINGBACK call=1 15000
sleep 1500
status 1
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("> status 1: RINGBACK"));
  EXPECT_THAT(output, Not(HasSubstr("LINE_CALLSTATE CONNECTED")));
}

TEST_F(CallScenarios, TheFarEndHangsUp) {
  ASSERT_THAT(tksim.Command("party 22 answer 300 hangup-after 1000"), HasSubstr("ok"));
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait CALLSTATE DISCONNECTED call=1 15000
drop 1
wait CALLSTATE IDLE call=1
dealloc 1
)");
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("call 1 LINE_CALLSTATE DISCONNECTED"));
}

TEST_F(CallScenarios, ALostLinkEndsTheCallAndClosesTheLine) {
  StartPhone(R"(open 0
call 0 22
wait CALLSTATE CONNECTED call=1 15000
wait CALLSTATE IDLE call=1 20000
wait CLOSE line=0 20000
try close 0
)");
  ASSERT_TRUE(ReadUntil("LINE_CALLSTATE CONNECTED")) << output;
  ASSERT_EQ(tksim.Command("drop").rfind("ok", 0), 0u);
  EXPECT_EQ(Finish(), 0) << output;
  EXPECT_THAT(output, HasSubstr("line 0 call 1 LINE_CALLSTATE IDLE"));
  EXPECT_THAT(output, HasSubstr("line 0 LINE_CLOSE"));
}

}  // namespace
