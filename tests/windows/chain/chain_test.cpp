// The whole Windows chain under Wine: a test host loads kvarsp64.tsp by its
// TSPI exports; the provider loads vnlsock.dll, which loads vnl2d32.dll,
// which starts VNL2C64.EXE; that reaches the simulated exchange (the Linux
// tksim, started by chain_wine.sh) over loopback TCP. Calls are made,
// answered and dropped through all of it, and a lost connection reaches the
// host as a closed line.
//
// The deliverables are copied into the case's system directory and loaded
// from there only (TK_MODULE_PATH), as they would all lie in one system
// folder on Windows: VNL2C64.EXE, started from there, then maps the very
// vnl2d32.dll file the host loaded, and with it the one shared data area.
//
// The link control process reads the real registry, so the configuration
// goes into the Wine prefix's own HKEY_LOCAL_MACHINE and is removed again
// after each case (no other Windows test writes these keys).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/common/link_config.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/tcp_socket.h"
#include "platform/window.h"
#include "tapi/host/provider_harness.h"
#include "tests/link/control/loopback_link.h"

namespace {

using tapihost::CallbackRecord;

constexpr DWORD kVersion = 0x20000;
constexpr DWORD kProviderId = 4;
constexpr char kControlClass[] = "VNL2ControlProg";
constexpr char16_t kProviderKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider4";

// Two lines: extension 10 "20" (which also takes MSN 4711) and 11 "21".
const char* kProviderConfiguration = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider4]
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000000
)";

// What the chain loads, by the names it loads them by.
const char* const kDeliverables[] = {"kvarsp64.tsp", "vnlsock.dll", "vnl2d32.dll", "VNL2C64.exe"};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string programFolder() {
  const std::string program = platform::moduleFileName(nullptr);
  return program.substr(0, program.find_last_of("\\/"));
}

// tksim's control port: one command line out, its result line back.
class ExchangeControl {
 public:
  bool Connect(uint16_t port) {
    socket_ = platform::TcpSocket::connect("127.0.0.1", port);
    return socket_.valid();
  }
  std::string Command(const std::string& line) {
    const std::string text = line + "\n";
    if (socket_.send(text.data(), text.size()) < 0) return "";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (size_t newline = buffer_.find('\n'); newline != std::string::npos) {
        std::string answer = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        return answer;
      }
      if (std::chrono::steady_clock::now() >= deadline) return "";
      if (!socket_.waitReadable(100)) continue;
      char chunk[1024];
      const long n = socket_.receive(chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  platform::TcpSocket socket_;
  std::string buffer_;
};

::testing::AssertionResult Ok(const std::string& answer) {
  if (answer.rfind("ok", 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "tksim answered \"" << answer << "\"";
}

class WindowsChain : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string port = environment("TK_CHAIN_EXCHANGE_PORT");
    const std::string controlPort = environment("TK_CHAIN_CONTROL_PORT");
    if (port.empty() || controlPort.empty()) {
      GTEST_SKIP() << "run by chain_wine.sh, which starts tksim and names its ports";
    }
    ASSERT_TRUE(exchange.Connect(static_cast<uint16_t>(std::stoul(controlPort))));

    // Every deliverable into the system directory, and modules from there only.
    const std::string system = platform::systemDir();
    ASSERT_TRUE(platform::ensureDirectory(system));
    for (const char* file : kDeliverables) {
      const std::string from = programFolder() + "\\" + file;
      const std::string to = system + "\\" + file;
      std::error_code error;
      std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
      ASSERT_FALSE(error) << from << ": " << error.message();
    }
    ASSERT_EQ(_putenv_s("TK_MODULE_PATH", system.c_str()), 0);

    ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(static_cast<uint16_t>(std::stoul(port))));
    ASSERT_EQ(platform::regImport(kProviderConfiguration, "provider configuration"), 0);

    ASSERT_TRUE(harness.load(system + "\\kvarsp64.tsp")) << harness.loadError();
    DWORD lines = 0, phones = 0;
    ASSERT_EQ(harness.enumDevices(kProviderId, &lines, &phones), 0);
    ASSERT_EQ(lines, 2u);
    DWORD options = 0;
    ASSERT_EQ(harness.init(kVersion, kProviderId, 0, lines, &options), 0);
    initialised = true;
  }

  void TearDown() override {
    if (initialised) {
      EXPECT_EQ(harness.shutdown(kVersion, kProviderId), 0);
      // With the last line closed the link is released and the control
      // process ends by itself; one that is left is asked to end, and the
      // case fails.
      EXPECT_TRUE(ControlProcessGone()) << "VNL2C64.EXE outlived the provider";
    }
    tktest::EndLinkControlProcesses();
    platform::regDeleteTree(platform::kHkeyLocalMachine, kProviderKey);
    std::u16string linkKey(std::begin(kLinkConfigKey), std::end(kLinkConfigKey) - 1);
    platform::regDeleteTree(platform::kHkeyLocalMachine, linkKey);
  }

  static bool ControlProcessGone() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (platform::findWindow(kControlClass)) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  HDRVLINE Open(DWORD deviceId) {
    HDRVLINE hdLine = nullptr;
    EXPECT_EQ(TSPI_CALL(harness, TSPI_lineOpen, deviceId, harness.htLineFor(deviceId), &hdLine, kVersion,
                        tapihost::ProviderHarness::lineEventCallback()),
              0);
    return hdLine;
  }

  // Waits for the asynchronous request to be accepted and completed with 0.
  ::testing::AssertionResult Completed(const tapihost::AsyncCall& call) {
    if (!call.accepted()) return ::testing::AssertionFailure() << "refused with " << call.result;
    const std::optional<LONG> result = harness.waitForCompletion(call.requestId, 15000);
    if (!result) return ::testing::AssertionFailure() << "request " << call.requestId << " never completed";
    if (*result != 0) return ::testing::AssertionFailure() << "completed with " << *result;
    return ::testing::AssertionSuccess();
  }

  // The first line event that matches, within 15 s.
  std::optional<CallbackRecord> WaitEvent(const std::function<bool(const CallbackRecord&)>& match) {
    std::optional<CallbackRecord> found;
    harness.waitFor(
        [&](const std::vector<CallbackRecord>& records) {
          auto it = std::find_if(records.begin(), records.end(), [&](const CallbackRecord& r) {
            return r.kind == CallbackRecord::Kind::LineEvent && match(r);
          });
          if (it != records.end()) found = *it;
          return found.has_value();
        },
        15000);
    return found;
  }
  bool CallState(HTAPICALL htCall, DWORD state) {
    return WaitEvent([&](const CallbackRecord& r) {
             return r.htCall == htCall && r.msg == LINE_CALLSTATE && r.param1 == state;
           })
        .has_value();
  }

  // Drops the call and lets it go once the provider reports it idle.
  void DropAndDeallocate(HDRVCALL hdCall, HTAPICALL htCall) {
    EXPECT_TRUE(Completed(TSPI_CALL_ASYNC(harness, TSPI_lineDrop, hdCall, static_cast<LPCSTR>(nullptr), DWORD{0})));
    EXPECT_TRUE(CallState(htCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(TSPI_CALL(harness, TSPI_lineCloseCall, hdCall), 0);
  }

  ExchangeControl exchange;
  tapihost::ProviderHarness harness{[](const std::string& violation) { ADD_FAILURE() << violation; }};
  bool initialised = false;
};

// Out and in on one line: extension 22 answers the call the PC makes; an
// outside caller's call to MSN 4711 is offered, accepted, answered and
// dropped.
TEST_F(WindowsChain, ACallIsMadeAnsweredAndDroppedEachWay) {
  ASSERT_TRUE(Ok(exchange.Command("party 22 answer 300")));
  const HDRVLINE hdLine = Open(0);
  ASSERT_NE(hdLine, nullptr);
  ASSERT_TRUE(Ok(exchange.Command("wait-registered 20 20000")));

  // Outgoing: dialled, answered by 22, dropped by the PC.
  const HTAPICALL outgoing = reinterpret_cast<HTAPICALL>(harness.handleTag() | uintptr_t{0x7000});
  HDRVCALL hdCall = nullptr;
  ASSERT_TRUE(Completed(TSPI_CALL_ASYNC(harness, TSPI_lineMakeCall, hdLine, outgoing, &hdCall,
                                        static_cast<LPCWSTR>(u"22"), DWORD{0},
                                        static_cast<LPLINECALLPARAMS>(nullptr))));
  ASSERT_NE(hdCall, nullptr);
  EXPECT_TRUE(CallState(outgoing, LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(Ok(exchange.Command("wait-call-state 1 connected 15000")));
  DropAndDeallocate(hdCall, outgoing);
  EXPECT_TRUE(Ok(exchange.Command("wait-call-state 1 idle 15000")));

  // Incoming: offered to the line, answered by the PC, dropped by the PC.
  const std::string rang = exchange.Command("incoming 4711 \"0301234567\" external");
  ASSERT_TRUE(Ok(rang));
  const std::string callId = rang.substr(rang.find("call=") + 5);
  const std::optional<CallbackRecord> offered =
      WaitEvent([](const CallbackRecord& r) { return r.msg == LINE_NEWCALL; });
  ASSERT_TRUE(offered.has_value());
  const HDRVCALL incoming = reinterpret_cast<HDRVCALL>(offered->param1);
  const HTAPICALL htIncoming = offered->newHtCall;
  EXPECT_TRUE(CallState(htIncoming, LINECALLSTATE_OFFERING));
  // The exchange accepts the call for the line (its telephone rings); only
  // then may the PC answer it.
  EXPECT_TRUE(CallState(htIncoming, LINECALLSTATE_ACCEPTED));
  EXPECT_TRUE(Completed(
      TSPI_CALL_ASYNC(harness, TSPI_lineAnswer, incoming, static_cast<LPCSTR>(nullptr), DWORD{0})));
  EXPECT_TRUE(CallState(htIncoming, LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(Ok(exchange.Command("wait-call-state " + callId + " connected 15000")));
  DropAndDeallocate(incoming, htIncoming);
  EXPECT_TRUE(Ok(exchange.Command("wait-call-state " + callId + " idle 15000")));

  EXPECT_EQ(TSPI_CALL(harness, TSPI_lineClose, hdLine), 0);
  EXPECT_TRUE(harness.violations().empty());
}

// The exchange drops the connection: the Windows socket's end reaches the
// host as an out-of-service line that is then closed.
TEST_F(WindowsChain, ALostConnectionClosesTheLine) {
  const HDRVLINE hdLine = Open(1);
  ASSERT_NE(hdLine, nullptr);
  ASSERT_TRUE(Ok(exchange.Command("wait-registered 21 20000")));
  ASSERT_TRUE(Ok(exchange.Command("drop")));
  const HTAPILINE htLine = harness.htLineFor(1);
  EXPECT_TRUE(WaitEvent([&](const CallbackRecord& r) {
    return r.htLine == htLine && r.msg == LINE_LINEDEVSTATE && r.param1 == LINEDEVSTATE_OUTOFSERVICE;
  }));
  EXPECT_TRUE(WaitEvent([&](const CallbackRecord& r) { return r.htLine == htLine && r.msg == LINE_CLOSE; }));
  EXPECT_EQ(TSPI_CALL(harness, TSPI_lineClose, hdLine), 0);
}

}  // namespace
