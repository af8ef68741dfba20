// VNL2C64 for real: a client in this process goes through VNL2D32 to the
// control process, which reaches the simulated exchange tksim over a
// loopback TCP connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "link/api/vnl2_shared_area.h"
#include "link/common/link_config.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/shared_memory.h"
#include "platform/tcp_socket.h"
#include "platform/window.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/link/control/deaf_peer.h"
#include "tests/link/control/link_log_capture.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/tool_run.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kCti = 0x20;
constexpr char kControlClass[] = "VNL2ControlProg";

// A loopback port nobody listens on any more.
uint16_t UnusedPort() { return platform::TcpListener::listen("127.0.0.1", 0).port(); }

// The control process has gone (its window with it).
bool ControlProcessGone() {
  return tktest::waitUntil([] { return platform::findWindow(kControlClass) == nullptr; }, 5000ms);
}

// The link states the shared area goes through while an open runs.
class StateWatch {
 public:
  explicit StateWatch(Vnl2SharedArea& area)
      : thread_([this, &area] {
          while (!stop_) {
            seen_.insert(std::atomic_ref<int32_t>(area.linkState).load());
            std::this_thread::yield();
          }
        }) {}
  std::set<int32_t> Stop() {
    stop_ = true;
    thread_.join();
    return seen_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::set<int32_t> seen_;
  std::thread thread_;
};

class Vnl2c64Process : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH)) << platform::lastModuleError();
  }
  void TearDown() override {
    // No control process may outlive its test.
    tktest::EndLinkControlProcesses();
    // A client closes its services before it unloads the library: the last
    // close stops the library's watch of the control process.
    for (uint32_t service : kVnl2ServiceOfSlot)
      if (service != 0 && vnl2.closeConnection) vnl2.close(service);
    unsetenv("TK_KEEPALIVE_MS");
    area_.reset();
    vnl2.Unload();
  }

  void Configure(const char* link, uint16_t port, uint32_t keepalive) {
    LinkConfig config;
    DefaultLinkConfiguration(&config);
    std::memset(config.Link, 0, sizeof config.Link);
    std::memcpy(config.Link, link, std::strlen(link));
    std::strcpy(config.TapiSvrIpAddr, "127.0.0.1");
    config.TapiSvrIpPort = port;
    config.Keepalive = keepalive;
    ASSERT_TRUE(SaveLinkConfiguration(config));
  }

  Vnl2SharedArea& Area() {
    if (!area_) area_ = std::make_unique<platform::SharedMemory>("VNL2D32.SharedDa", sizeof(Vnl2SharedArea));
    return *static_cast<Vnl2SharedArea*>(area_->data());
  }

  static uint32_t ControlPid() { return platform::windowProcessId(platform::findWindow(kControlClass)); }

  std::string Receive() {
    std::string buffer(4096, '\0');
    int32_t n = vnl2.receive(kCti, buffer.data(), static_cast<uint32_t>(buffer.size()));
    return n > 0 ? buffer.substr(0, static_cast<size_t>(n)) : "";
  }

  // Opens the CTI service over tksim (keep-alive off) with notifications to
  // window, up to the connect indication; *controlPid: its control process.
  void OpenWithNotifications(tktest::TksimPeer& tksim, tktest::NotificationWindow& window, uint32_t* controlPid) {
    ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));
    Configure("TCP", tksim.port(), 0);
    ASSERT_EQ(vnl2.open(kCti), 1);
    *controlPid = ControlPid();
    ASSERT_TRUE(tksim.WaitEvent("connected"));
    ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
    ASSERT_EQ(window.WaitFor(1).size(), 1u);
  }

  // After a reopen on a new link: notifications on again, and a block sent
  // comes back through the exchange's echo (the window's fourth message).
  void ExpectTheNewLinkCarriesABlock(tktest::NotificationWindow& window) {
    ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
    ASSERT_EQ(vnl2.send(kCti, "again", 5), 1);
    auto seen = window.WaitFor(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].kind, VNL2_DATA_IND);
    EXPECT_EQ(Receive(), "again");
  }

  tktest::LinkLogCapture log;  // before anything starts, so that every program logs
  tktest::Vnl2Functions vnl2;
  std::unique_ptr<platform::SharedMemory> area_;
};

TEST_F(Vnl2c64Process, BlocksMakeTheRoundTripThroughTheExchangeOnALinkThatIsUpAtOnce) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));
  Configure("LAN/USB", tksim.port(), 0);

  StateWatch watch(Area());
  ASSERT_EQ(vnl2.openExA(kCti, ""), 1);  // an empty name keeps the configured link
  std::set<int32_t> states = watch.Stop();
  // The LAN link reports itself up as soon as it is connected, without the
  // service answer of a serial or USB link.
  EXPECT_EQ(Area().linkState, 1);
  EXPECT_EQ(states.count(17), 0u);
  ASSERT_TRUE(tksim.WaitEvent("connected"));

  tktest::NotificationWindow window;
  ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
  auto seen = window.WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, VNL2_CONNECT_IND);

  // Client -> exchange (echoed) -> client.
  ASSERT_EQ(vnl2.send(kCti, "hello", 5), 1);
  EXPECT_TRUE(tksim.WaitEvent("block 68656c6c6f"));
  seen = window.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].service, kCti);
  EXPECT_EQ(seen[1].kind, VNL2_DATA_IND);
  EXPECT_EQ(Receive(), "hello");
  EXPECT_EQ(Area().linkState, 1);
}

TEST_F(Vnl2c64Process, TheExchangeClosingTheConnectionReleasesTheLink) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));
  Configure("TCP", tksim.port(), 3);
  ASSERT_EQ(vnl2.open(kCti), 1);
  uint32_t controlPid = ControlPid();
  ASSERT_NE(controlPid, 0u);
  tktest::NotificationWindow window;
  ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
  ASSERT_EQ(window.WaitFor(1).size(), 1u);

  EXPECT_TRUE(tktest::CommandOk(tksim.Command("drop")));
  auto seen = window.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  VNL2_STATE state{};
  vnl2.getState(kCti, &state);
  EXPECT_EQ(state.State, 0) << "the service is closed";
  EXPECT_EQ(Area().linkState, 0);
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_TRUE(log.Contains("vnl2c64: Server closed connection\n\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("vnl2c64: Varnet Released\r\n"));

  // The next open starts a new control process and a new connection.
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_TRUE(tksim.WaitEvent("connected"));
  EXPECT_NE(ControlPid(), controlPid);
}

// The client opens again on VNL2_DISCONNECT_IND, while the old control
// process may still be on its way out: it gets a new one and a new link.
TEST_F(Vnl2c64Process, AClientThatOpensAgainAtOnceAfterALostLinkGetsANewControlProcess) {
  tktest::TksimPeer tksim;
  tktest::NotificationWindow window;
  uint32_t lostPid = 0;
  ASSERT_NO_FATAL_FAILURE(OpenWithNotifications(tksim, window, &lostPid));

  EXPECT_TRUE(tktest::CommandOk(tksim.Command("drop")));
  auto seen = window.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  ASSERT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_NE(ControlPid(), lostPid);
  EXPECT_TRUE(platform::waitForProcessExit(lostPid, 5000));
  ASSERT_TRUE(tksim.WaitEvent("connected"));
  EXPECT_EQ(tksim.StatusCounter("connections"), 2);

  ExpectTheNewLinkCarriesABlock(window);
}

// VNL2C64 is killed, so it never reports the link down: the client's watch
// of it does, and the next open reaches the exchange through a new one.
TEST_F(Vnl2c64Process, AKilledControlProcessIsReportedAsALostLinkAndTheNextOpenStartsANewOne) {
  tktest::TksimPeer tksim;
  tktest::NotificationWindow window;
  uint32_t killed = 0;
  ASSERT_NO_FATAL_FAILURE(OpenWithNotifications(tksim, window, &killed));

  ASSERT_EQ(::kill(static_cast<pid_t>(killed), SIGKILL), 0);
  auto seen = window.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_TRUE(log.Contains("VNL2C64 (pid " + std::to_string(killed) + ") ended without releasing the link"));
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_EQ(Area().controlWindow, 0u);

  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_NE(ControlPid(), killed);
  ASSERT_TRUE(tksim.WaitEvent("connected"));
  ExpectTheNewLinkCarriesABlock(window);
}

// The receive thread is held up in VNL2_CopyRecData by a client that keeps
// the receive queues' lock: on WM_CLOSE the control process waits its
// 3000 ms for the thread, then reports the link down and exits without it.
TEST_F(Vnl2c64Process, AControlProcessWhoseReceiveThreadDoesNotEndStillExits) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));
  Configure("TCP", tksim.port(), 0);
  ASSERT_EQ(vnl2.open(kCti), 1);
  const uint32_t controlPid = ControlPid();
  platform::NamedMutex queueLock("VNL2D32.RecQueue");
  ASSERT_EQ(queueLock.lock(), platform::NamedMutex::LockResult::Acquired);
  ASSERT_EQ(vnl2.send(kCti, "held", 4), 1);
  // The echo reached the receive thread, which now waits for the lock.
  const bool held = tktest::waitUntil([&] { return log.Contains("vnl2c64: Received:\r\nC5 00 04 68 65 6C 64 "); });
  if (held) platform::postMessage(platform::findWindow(kControlClass), platform::kWmClose, 0, 0);
  const bool waited = held && tktest::waitUntil([&] {
    return log.Contains("vnl2c64: WaitForSingleObject(hCommWatchThread,3000)==WAIT_TIMEOUT!!!\r\n");
  });
  queueLock.unlock();  // the link-down report on the way out needs it too
  ASSERT_TRUE(held) << log.Text();
  EXPECT_TRUE(waited) << log.Text();
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000)) << "the control process hangs";
  EXPECT_EQ(Area().linkState, 0);
  EXPECT_EQ(Area().serviceOpen[0], 0);
  EXPECT_EQ(Area().openCount, 0);
  // The next open starts a new control process.
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_NE(ControlPid(), controlPid);
}

TEST_F(Vnl2c64Process, TheLastCloseEndsTheControlProcessAndItsConnection) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));
  Configure("TCP", tksim.port(), 0);
  ASSERT_EQ(vnl2.open(kCti), 1);
  ASSERT_EQ(vnl2.open(0x30), 1);
  uint32_t controlPid = ControlPid();
  ASSERT_TRUE(tksim.WaitEvent("connected"));

  // A second control process finds the first one's window, says so and ends at once.
  tktest::ToolRun second = tktest::runTool(TK_VNL2C64_PATH, {"TCP"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, "vnl2c64: a link control process already runs for this root (process " +
                            std::to_string(controlPid) + "); this one ends\n");
  EXPECT_EQ(tksim.StatusCounter("connections"), 1);
  EXPECT_EQ(ControlPid(), controlPid);

  EXPECT_EQ(vnl2.close(0x30), 1);
  EXPECT_TRUE(platform::processRunning(controlPid)) << "one service is still open";
  EXPECT_EQ(vnl2.close(kCti), 1);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_TRUE(tksim.WaitEvent("disconnected"));
  EXPECT_EQ(platform::findWindow(kControlClass), nullptr);
  EXPECT_EQ(Area().linkState, 0);
}

TEST_F(Vnl2c64Process, ARefusedConnectionFailsTheFirstOpenWellBeforeTheDeadline) {
  const uint16_t unused = UnusedPort();
  Configure("TCP", unused, 3);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.open(kCti), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);  // the library would wait 3100 ms
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_TRUE(ControlProcessGone());
  std::string text = log.Text();
  EXPECT_NE(text.find("vnl2c64: connect() failed: 10061\r\n"), std::string::npos) << "WSAECONNREFUSED\n" << text;
  EXPECT_NE(text.find("vnl2c64: OpenConnection LAN/USB failed !\r\n"), std::string::npos);
  EXPECT_NE(text.find("vnl2c64: Vnl2Wnd: OpenConnection failed\r\n"), std::string::npos);
}

TEST_F(Vnl2c64Process, ACommandLineLinkNameReplacesOnlyAReplaceableConfiguredLink) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0"}));

  // A configured LAN link replaced by a serial port that does not exist
  // (tests never reach the machine's own ports).
  Configure("TCP", tksim.port(), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.openExA(kCti, "COM1"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);  // the library would wait 3100 ms
  EXPECT_TRUE(log.Contains("vnl2c64: OpenConnection COM1 failed !\r\n")) << log.Text();

  // A configured link of another kind refuses a given name outright.
  ASSERT_TRUE(ControlProcessGone());
  Configure("XYZ", tksim.port(), 0);
  EXPECT_EQ(vnl2.openExA(kCti, "TCP"), 0);
  EXPECT_FALSE(log.Contains("OpenConnection TCP failed")) << "no open was tried";
  // Without a name it has no transport, and the link is released at once.
  ASSERT_TRUE(ControlProcessGone());
  EXPECT_EQ(vnl2.open(kCti), 0);
  EXPECT_TRUE(log.Contains("vnl2c64: Varnet Released\r\n"));

  // None of these reached the exchange; the configured LAN link does.
  ASSERT_TRUE(ControlProcessGone());
  Configure("TCP", tksim.port(), 0);
  ASSERT_EQ(vnl2.openExA(kCti, "TCP"), 1);
  ASSERT_TRUE(tksim.WaitEvent("connected"));
  EXPECT_EQ(tksim.StatusCounter("connections"), 1);
}

// Started by hand: a link that cannot be started is explained on standard
// error (and in vnl2.log) and ends with 1; wrong usage with 2.
TEST_F(Vnl2c64Process, AStartByHandThatFailsSaysWhyOnStandardError) {
  const uint16_t unused = UnusedPort();
  const std::string refused =
      "cannot connect to the exchange at 127.0.0.1:" + std::to_string(unused) + ": Connection refused";
  struct Case {
    const char* configuredLink;
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // what standard error says after "vnl2c64: "
    bool logged;      // also in vnl2.log
  };
  const Case cases[] = {
      {"TCP", {}, 1, refused, true},
      {"TCP", {"COM1"}, 1, "cannot open COM1 (" + platform::rootDir() + "/dev/COM1): no such port (error 2)", true},
      {"TCP", {"USB"}, 1, "cannot open USB: no USB device \\\\.\\VNLUSB0 ... 9 (" + platform::rootDir() + "/dev/VNLUSB0", true},
      {"TCP", {"FOO"}, 1, "the link name 'FOO' selects no transport", true},
      {"TCP", {"COM12345"}, 1, "the link name 'COM12345' is longer than 7 characters", true},
      {"XYZ", {"TCP"}, 1, "the link name 'TCP' cannot replace the configured Link 'XYZ'", true},
      {"XYZ", {}, 1, "the configured Link 'XYZ' selects no transport", true},
      {"TCP", {"--frob"}, 2, "unknown option --frob (try --help)\n", false},
      {"TCP", {"-", "COM1"}, 2, "unknown option - (try --help)\n", false},
  };
  for (const Case& c : cases) {
    Configure(c.configuredLink, unused, 0);
    tktest::ToolRun run = tktest::runTool(TK_VNL2C64_PATH, c.args);
    std::string what = std::string(c.configuredLink) + " " + (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(run.exitCode, c.exitCode) << what << ": " << run.err;
    EXPECT_EQ(run.err.rfind("vnl2c64: " + c.err, 0), 0u) << what << " gave: " << run.err;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(log.Contains("vnl2c64: " + c.err), c.logged) << what << "\n" << log.Text();
  }
  tktest::ToolRun help = tktest::runTool(TK_VNL2C64_PATH, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: vnl2c64 [LINK]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(platform::findWindow(kControlClass), nullptr) << "no control process stayed";
}

TEST_F(Vnl2c64Process, KeepAlivesAreEchoedAndKeepAnIdleLinkUpAndTheirSilenceEndsTheLink) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.Start({"--keepalive-ms", "100"}));
  Configure("TCP", tksim.port(), 1);
  setenv("TK_KEEPALIVE_MS", "600", 1);  // inherited by the control process
  ASSERT_EQ(vnl2.open(kCti), 1);
  uint32_t controlPid = ControlPid();
  tktest::NotificationWindow window;
  ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
  ASSERT_EQ(window.WaitFor(1).size(), 1u);

  // An idle link (no client blocks) kept alive by the exchange's keep-alive
  // frames, 100 ms apart, outlives many supervision periods of 600 ms.
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(tksim.WaitEvent("keepalive-echo ok")) << i;
  EXPECT_TRUE(platform::processRunning(controlPid));
  EXPECT_FALSE(log.Contains("Keepalive Timed out!"));
  // Keep-alive frames are not handed to the client.
  EXPECT_EQ(window.Settle(50ms).size(), 1u);
  EXPECT_EQ(Receive(), "");

  // The exchange falls silent: the supervision runs out and ends the link.
  auto silent = std::chrono::steady_clock::now();
  EXPECT_TRUE(tktest::CommandOk(tksim.Command("keepalive 0")));
  auto seen = window.WaitFor(2, 10s);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_GE(std::chrono::steady_clock::now() - silent, 400ms);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_TRUE(tksim.WaitEvent("disconnected"));
  EXPECT_TRUE(log.Contains("vnl2c64: Keepalive Timed out!\r\n")) << log.Text();
}

// The exchange stops reading while it goes on sending keep-alive frames:
// the receive thread blocks in the echo's send and holds the link lock
// there. The last close, or the keep-alive supervision, still ends the link.
TEST_F(Vnl2c64Process, AnEchoStuckOnAnExchangeThatStoppedReadingDoesNotHoldUpTheEndOfTheLink) {
  struct Case {
    const char* what;
    const char* keepAliveMs;  // the supervision period
    bool close;               // the client closes the last service
    std::vector<std::string> logLines;
  };
  const Case cases[] = {
      {"the last close", "60000", true, {"vnl2c64: Varnet Released\r\n"}},
      {"the keep-alive time-out", "4000", false, {"vnl2c64: Keepalive Timed out!\r\n"}},
  };
  std::vector<uint8_t> keepAlive = {0xC5, 0x0F, 0xA0, 0xF2};  // 4000 data bytes
  keepAlive.resize(3 + 4000, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tktest::DeafPeer exchange;
    ASSERT_TRUE(exchange.listening());
    Configure("TCP", exchange.port(), 1);
    setenv("TK_KEEPALIVE_MS", c.keepAliveMs, 1);
    ASSERT_EQ(vnl2.open(kCti), 1);
    const uint32_t controlPid = ControlPid();
    ASSERT_TRUE(exchange.Accept());
    tktest::NotificationWindow window;
    ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
    ASSERT_EQ(window.WaitFor(1).size(), 1u);

    ASSERT_TRUE(exchange.SendUntilUnread(keepAlive, 20000, 1500)) << "the control process went on reading";
    if (c.close) {
      EXPECT_EQ(vnl2.close(kCti), 1);
    }
    auto seen = window.WaitFor(2, 10s);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
    EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000)) << "the control process hangs";
    for (const std::string& line : c.logLines) EXPECT_TRUE(log.Contains(line)) << line << "\n" << log.Text();
    EXPECT_FALSE(log.Contains("WaitForSingleObject(hCommWatchThread")) << "the receive thread ended";
    EXPECT_EQ(Area().openCount, 0);
    exchange.Hangup();
  }
}

}  // namespace

// The exchange stops taking bytes while a client sends: the block that
// fills the connection blocks VNL2C64's window thread, the one thread that
// could close it. The send time limit (the supervision period, also with
// keep-alive off) ends that send and the link, and the control process
// goes; the client is told.
TEST_F(Vnl2c64Process, AClientBlockStuckOnAnExchangeThatTakesNoBytesEndsTheLink) {
  tktest::LinkLogCapture log;
  tktest::DeafPeer exchange;
  ASSERT_TRUE(exchange.listening());
  Configure("TCP", exchange.port(), 0);
  setenv("TK_KEEPALIVE_MS", "1500", 1);
  ASSERT_EQ(vnl2.open(kCti), 1);
  const uint32_t controlPid = ControlPid();
  ASSERT_TRUE(exchange.Accept());
  tktest::NotificationWindow window;
  ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
  ASSERT_EQ(window.WaitFor(1).size(), 1u);

  // Blocks until one is refused: the connection is full and then closed.
  // The sends run on a thread of their own: should one stay blocked, the
  // control process is killed, which frees it, and the case fails.
  const std::string block(2000, 'b');
  std::atomic<int> sent{0};
  std::atomic<bool> refused{false};
  std::thread sender([&] {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (sent < 20000 && std::chrono::steady_clock::now() < deadline &&
           vnl2.send(kCti, block.data(), static_cast<uint32_t>(block.size())) == 1)
      ++sent;
    refused = true;
  });
  const bool ended = tktest::waitUntil([&] { return refused.load(); }, 90s);
  if (!ended) ::kill(static_cast<pid_t>(controlPid), SIGKILL);
  sender.join();
  ASSERT_TRUE(ended) << "a send stayed blocked after " << sent << " blocks\n" << log.Text();
  EXPECT_GT(sent.load(), 0);
  auto seen = window.WaitFor(2, 10s);
  ASSERT_EQ(seen.size(), 2u) << "sent " << sent << " blocks\n" << log.Text();
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000)) << "the control process hangs";
  EXPECT_TRUE(log.Contains("SendSocket: no byte taken for 1500 ms, connection closed\r\n")) << log.Text();
  EXPECT_EQ(Area().openCount, 0);
  exchange.Hangup();
}
