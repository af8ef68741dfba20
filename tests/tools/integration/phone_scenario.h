#pragma once
// The fixture of the whole-chain tkphone scenarios: each test has its own
// root folder, tksim (VNL engine) with a three-extension exchange, the
// provider in TAPI's list and the link control process; tkphone runs a
// script against it while the test drives and inspects the exchange. The
// link is the LAN, or with TK_TEST_LINK=serial the serial line. With
// TK_TEST_TAPI=service tkphone works through libtapi32 and the telephony
// service (tapisrv, started for the test's root) instead of loading the
// provider itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "tapi/host/provider_list.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace tktest {

using namespace std::chrono_literals;

// Extensions 20 and 21 are the PC's lines; 22 is a party the exchange plays.
inline const char* kExchangeConfiguration = R"(# the exchange of the call scenarios
line-list 8
line 10 "20"
line 11 "21"
line 12 "22"
msn 1 "4711" lines 10
)";

inline const char* kProviderValues = R"(
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000000
)";

class PhoneScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    const std::string exchangeFile = tktest::currentRoot() + "/exchange.conf";
    tktest::writeFile(exchangeFile, kExchangeConfiguration);
    // TK_TEST_LINK=serial runs every scenario over the serial link (a
    // pseudo-terminal paced at 115200 baud), TK_TEST_LINK=usb over USB
    // (tksim's driver stand-in), instead of the LAN.
    const char* link = std::getenv("TK_TEST_LINK");
    const std::string kind = link ? link : "lan";
    serial = kind == "serial" || kind == "usb";
    if (kind == "serial") {
      ASSERT_TRUE(tksim.StartSerial({"--engine", "vnl", "--exchange-config", exchangeFile}));
      ASSERT_TRUE(tktest::WriteSerialLinkConfiguration(2, tksim.serialPath()));
    } else if (kind == "usb") {
      ASSERT_TRUE(tksim.StartUsb(0, {"--engine", "vnl", "--exchange-config", exchangeFile}));
      ASSERT_TRUE(tktest::WriteUsbLinkConfiguration());
    } else {
      ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0", "--engine", "vnl", "--exchange-config", exchangeFile}));
      ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(tksim.port()));
    }

    // tkphone loads the first provider of TAPI's list.
    const uint32_t id = tapihost::AddProvider(TK_KVARSP_PATH);
    ASSERT_NE(id, 0u);
    const std::string reg = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider" +
                            std::to_string(id) + "]" + kProviderValues;
    ASSERT_EQ(platform::regImport(reg, "provider configuration"), 0);

    const char* tapi = std::getenv("TK_TEST_TAPI");
    service = service || (tapi && std::string(tapi) == "service");
    if (service) {
      tktest::ToolRun started = tktest::runTool(TK_TAPISRV, {});
      ASSERT_EQ(started.exitCode, 0) << started.out << started.err;
    }
  }

  void TearDown() override {
    if (phoneStarted && !exitCode) {
      phone.kill();
      phone.wait(10s);
    }
    if (service) {
      // A test may have stopped the service itself.
      tktest::ToolRun stopped = tktest::runTool(TK_TAPISRV, {"--stop"});
      EXPECT_TRUE(stopped.exitCode == 0 || stopped.err.find("not running") != std::string::npos)
          << stopped.out << stopped.err;
    }
    // No link control process may outlive its test.
    tktest::EndLinkControlProcesses();
  }

  // Starts tkphone on a script (standard error joins its output).
  void StartPhone(const std::string& script) { StartTkphone(phone, "phone", script, service ? "--service" : ""); }
  // Starts a tkphone process on a script written to NAME.script, with one
  // more option (or none).
  void StartTkphone(tktest::ChildProcess& process, const std::string& name, const std::string& script,
                    const std::string& option) {
    const std::string file = tktest::currentRoot() + "/" + name + ".script";
    tktest::writeFile(file, script);
    ASSERT_TRUE(process.start("/bin/sh", {"-c", "exec \"$0\" $2 --script \"$1\" 2>&1", TK_TKPHONE, file, option}));
    if (&process == &phone) phoneStarted = true;
  }
  // Reads tkphone's output until a line holds text; false when it ended or
  // the deadline passed first.
  bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout = 30s) {
    return ReadUntil(phone, output, text, timeout);
  }
  // The same for any tkphone process, collecting its output in *collected.
  static bool ReadUntil(tktest::ChildProcess& process, std::string& collected, const std::string& text,
                        std::chrono::milliseconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int lines = 0; lines < 10000; ++lines) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      std::optional<std::string> line = process.readLine(left);
      if (!line) return false;
      collected += *line + "\n";
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
  // Checkpoints: a script holds at kHold until the test, having looked at
  // the exchange, calls Release() (a caller rings line 1, extension 21, and
  // gives up after 100 ms: one call more in tkphone's numbering), and ends
  // with kHoldToEnd until EndLink() drops the exchange's link (the provider
  // then closes both lines).
  static constexpr const char* kHold = "wait CALLSTATE OFFERING line=1 30000\nwait CALLSTATE IDLE line=1\n";
  static constexpr const char* kHoldToEnd = "wait CLOSE line=0 30000\ntry close 0\ntry close 1\n";
  bool ReachHold() { return ReadUntil("> wait CALLSTATE OFFERING line=1 30000"); }
  bool ReachEnd() { return ReadUntil("> wait CLOSE line=0 30000"); }
  std::string Release() { return tksim.Command("incoming 21 \"0309999\" external ring-timeout 100"); }
  // The LAN's connection is closed; a serial or USB link is taken down by
  // the exchange's DISC.
  std::string EndLink() { return tksim.Command(serial ? "send-frame disc" : "drop"); }

  // The exchange's CALL_ID from "ok incoming call=N".
  static std::string CallIdOf(const std::string& answer) {
    const size_t at = answer.find("call=");
    return at == std::string::npos ? "" : answer.substr(at + 5);
  }

  tktest::TksimPeer tksim;
  tktest::ChildProcess phone;
  bool phoneStarted = false;
  bool serial = false;  // the link runs the frame protocol (TK_TEST_LINK=serial or usb)
  bool service = false;  // through tapisrv (TK_TEST_TAPI=service, or set before SetUp)
  std::optional<int> exitCode;
  std::string output;
};

}  // namespace tktest
