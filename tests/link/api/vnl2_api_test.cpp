// VNL2D32 with real processes: the test is one client, vnl2_client_child a
// second one, and fake_control_program plays the link control process.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/api/vnl2_shared_area.h"
#include "link/api/vnl2_test_hook.h"
#include "platform/process.h"
#include "platform/process_query.h"
#include "platform/root.h"
#include "platform/shared_memory.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using tktest::Notification;

constexpr uint32_t kCti = 0x20;

std::vector<std::string> ControlLog() {
  std::ifstream in(platform::rootDir() + "/fake-control.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Starts() {
  size_t n = 0;
  for (const auto& line : ControlLog()) n += line.rfind("start", 0) == 0;
  return n;
}

// Forces an order between two threads of this process through the
// library's test hook: the thread that reaches `pause` is held there while
// `second` runs on a new thread, until that one reaches `release` (the point
// it passes when it has to wait for the first) or ends.
class Interleaving {
 public:
  Interleaving(const tktest::Vnl2Functions& vnl2, std::string pause, std::string release,
               std::function<void()> second)
      : pause_(std::move(pause)), release_(std::move(release)), second_(std::move(second)) {
    EXPECT_TRUE(platform::getProcAddress(vnl2.module, kVnl2SetTestHookName, setHook_)) << "no test hook";
    current_ = this;
    if (setHook_) setHook_(&Hook);
  }
  ~Interleaving() {
    if (setHook_) setHook_(nullptr);
    if (thread_.joinable()) thread_.join();
    current_ = nullptr;
  }
  // Waits for the second thread to end; whether it reached `release`.
  bool Join() {
    if (thread_.joinable()) thread_.join();
    return reached_;
  }
  bool paused() const { return paused_; }

 private:
  static void Hook(const char* point) { current_->At(point); }
  void At(const std::string& point) {
    std::unique_lock lock(m_);
    if (point == release_ && std::this_thread::get_id() == secondId_) {
      reached_ = released_ = true;
      changed_.notify_all();
    }
    if (point != pause_ || paused_) return;
    paused_ = true;
    thread_ = std::thread([this] {
      {
        std::lock_guard guard(m_);
        secondId_ = std::this_thread::get_id();
      }
      second_();
      std::lock_guard guard(m_);
      released_ = true;
      changed_.notify_all();
    });
    EXPECT_TRUE(changed_.wait_for(lock, 10s, [this] { return released_; })) << "the second thread never came";
  }

  static inline Interleaving* current_ = nullptr;
  Vnl2SetTestHookFn setHook_ = nullptr;
  std::string pause_, release_;
  std::function<void()> second_;
  std::mutex m_;
  std::condition_variable changed_;
  std::thread thread_;
  std::thread::id secondId_;
  bool paused_ = false, released_ = false, reached_ = false;
};

class Vnl2Api : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ensureDirectory(platform::systemDir());
    std::filesystem::create_symlink(TK_FAKE_CONTROL_PROGRAM, platform::systemDir() + "/vnl2c64");
    Behave("up");
    ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH)) << platform::lastModuleError();
  }
  void TearDown() override {
    // No control program may outlive its test.
    for (int i = 0; i < 5; ++i) {
      platform::WindowHandle control = platform::findWindow("VNL2ControlProg");
      if (!control) break;
      uint32_t pid = platform::windowProcessId(control);
      platform::postMessage(control, platform::kWmClose, 0, 0);
      platform::waitForProcessExit(pid, 5000);
    }
    // A client closes its services before it unloads the library (the link
    // being down, each close succeeds): the last one stops the library's
    // watch of the control program.
    for (uint32_t service : kVnl2ServiceOfSlot)
      if (service != 0 && vnl2.closeConnection) vnl2.close(service);
    area_.reset();
    vnl2.Unload();
  }

  void Behave(const char* mode) { setenv("TK_FAKE_CONTROL", mode, 1); }

  // The library's shared area, as a further mapping of it.
  Vnl2SharedArea& Area() {
    if (!area_) area_ = std::make_unique<platform::SharedMemory>("VNL2D32.SharedDa", sizeof(Vnl2SharedArea));
    return *static_cast<Vnl2SharedArea*>(area_->data());
  }

  std::string Send(const std::string& text) {
    return std::to_string(vnl2.send(kCti, text.data(), static_cast<uint32_t>(text.size())));
  }
  std::string Receive(uint32_t size = 4096) {
    std::string buffer(size, '\0');
    int32_t n = vnl2.receive(kCti, buffer.data(), size);
    return n > 0 ? buffer.substr(0, static_cast<size_t>(n)) : "";
  }

  tktest::Vnl2Functions vnl2;
  std::unique_ptr<platform::SharedMemory> area_;
};

TEST_F(Vnl2Api, FirstOpenStartsTheControlProgramAndTheLastCloseEndsIt) {
  ASSERT_EQ(vnl2.openExA(kCti, "TCP"), 1);
  EXPECT_EQ(ControlLog(), (std::vector<std::string>{"start VNL2C64.EXE TCP"}));
  EXPECT_STREQ(Area().linkName, "TCP");
  EXPECT_EQ(Area().openCount, 1);
  EXPECT_EQ(Area().linkState, 1);
  platform::WindowHandle control = platform::findWindow("VNL2ControlProg");
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(Area().controlWindow, reinterpret_cast<uint64_t>(control));
  uint32_t controlPid = platform::windowProcessId(control);

  // A second process opens another service at once, without a second start;
  // it may not open the service this process holds.
  tktest::ChildProcess child;
  std::string flag = platform::rootDir() + "/child-may-close";
  ASSERT_TRUE(child.start(TK_VNL2_CLIENT_CHILD, {"open", "0x30", "open", "0x20", "waitfile", flag, "close", "0x30"}));
  EXPECT_EQ(child.readLine(), "open 1");
  EXPECT_EQ(child.readLine(), "open 0");
  EXPECT_EQ(Starts(), 1u);
  EXPECT_EQ(Area().openCount, 2);

  // Closing one of two services leaves the control program running.
  EXPECT_EQ(vnl2.close(kCti), 1);
  EXPECT_EQ(vnl2.close(kCti), 0);  // no longer open
  EXPECT_TRUE(platform::processRunning(controlPid));
  tktest::writeFile(flag, "");
  EXPECT_EQ(child.readLine(), "waitfile 1");
  EXPECT_EQ(child.readLine(), "close 1");
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_EQ(ControlLog().back(), "close");
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(Vnl2Api, TwoSimultaneousFirstOpensStartOneControlProgram) {
  // The second open comes while the first is about to start the control
  // program; it waits, and joins the link the first one started.
  Vnl2SharedArea& area = Area();
  int32_t second = -1;
  uint64_t windowSeen = 0;
  int32_t stateSeen = -1;
  {
    Interleaving order(vnl2, kVnl2HookOpenStarting, kVnl2HookOpenWaiting, [&] {
      second = vnl2.open(0x30);
      windowSeen = area.controlWindow;
      stateSeen = area.linkState;
    });
    ASSERT_EQ(vnl2.open(kCti), 1);
    EXPECT_TRUE(order.Join()) << "the second open did not wait for the first";
  }
  EXPECT_EQ(second, 1);
  EXPECT_NE(windowSeen, 0u) << "the second open returned before the control program was there";
  EXPECT_EQ(stateSeen, 1);
  EXPECT_EQ(Starts(), 1u);
  EXPECT_EQ(Area().openCount, 2);
}

// The control program reports the link down (VNL2_LinkInfo kind 0) while an
// open runs. Whatever the order, no service stays open without a control
// program, and the next open starts a new one that a stale close cannot end.
TEST_F(Vnl2Api, ALinkDownReportDuringAnOpenLeavesNoServiceOpenWithoutAControlProgram) {
  struct Case {
    const char* what;
    bool laterOpen;       // another service is open already
    const char* pause;    // where the open is held while the report runs
    const char* release;  // the report's point that lets the open go on ("": its end)
    int32_t opened;       // the open's result
  };
  const Case cases[] = {
      {"a later open between its check and its mark", true, kVnl2HookOpenChecked, kVnl2HookLinkDownWaiting, 1},
      {"a first open after the start, before its mark", false, kVnl2HookOpenStarted, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH));
    if (c.laterOpen) {
      ASSERT_EQ(vnl2.open(0x30), 1);
    }
    {
      Interleaving order(vnl2, c.pause, c.release, [&] { vnl2.linkInfo(kVnl2LinkDown); });
      EXPECT_EQ(vnl2.open(kCti), c.opened);
      ASSERT_TRUE(order.paused());
      order.Join();
    }
    const size_t startsBefore = Starts();
    EXPECT_EQ(Area().serviceOpen[0], 0);
    EXPECT_EQ(Area().serviceOpen[1], 0);
    EXPECT_EQ(Area().openCount, 0);
    tktest::NotificationWindow window;
    EXPECT_EQ(vnl2.enable(kCti, window.handle()), 0) << "not open";

    // Another client's open starts a new control program; the closed
    // service's close does not end it.
    ASSERT_EQ(vnl2.open(0x30), 1);
    EXPECT_EQ(Starts(), startsBefore + 1);
    EXPECT_EQ(vnl2.close(kCti), 0);
    EXPECT_EQ(Area().openCount, 1);
    EXPECT_NE(platform::findWindow("VNL2ControlProg"), nullptr);
  }
}

TEST_F(Vnl2Api, ClosingAServiceWithNotificationsOnPostsDisconnectToItsWindowOnly) {
  tktest::NotificationWindow window;
  for (uint32_t service : {kCti, 0x30u}) {
    ASSERT_EQ(vnl2.open(service), 1);
    ASSERT_NE(vnl2.enable(service, window.handle()), 0);
  }
  ASSERT_EQ(window.WaitFor(2).size(), 2u);  // the link is up, for each
  const struct {
    uint32_t service;
    size_t seen;
  } closes[] = {{0x30, 3}, {kCti, 4}};
  for (const auto& close : closes) {
    ASSERT_EQ(vnl2.close(close.service), 1);
    auto seen = window.WaitFor(close.seen);
    ASSERT_EQ(seen.size(), close.seen);
    EXPECT_EQ(seen.back().service, close.service);
    EXPECT_EQ(seen.back().kind, VNL2_DISCONNECT_IND);
  }
  EXPECT_EQ(window.Settle().size(), 4u);
}

TEST_F(Vnl2Api, AServiceWhoseHolderWasKilledIsTakenOverByTheNextOpener) {
  ASSERT_EQ(vnl2.open(kCti), 1);
  tktest::ChildProcess child;
  std::string never = platform::rootDir() + "/never";
  ASSERT_TRUE(child.start(TK_VNL2_CLIENT_CHILD, {"open", "0x30", "waitfile", never}));
  ASSERT_EQ(child.readLine(), "open 1");
  EXPECT_EQ(vnl2.open(0x30), 0) << "held by a running process";
  child.kill();
  ASSERT_TRUE(child.wait().has_value());

  // The killed holder's service is free for the next opener; the link and
  // its control program stay, and the open count is the same.
  EXPECT_EQ(vnl2.open(0x30), 1);
  EXPECT_EQ(Area().openCount, 2);
  EXPECT_EQ(Starts(), 1u);
  EXPECT_EQ(vnl2.open(0x30), 0) << "now held by this process";
  EXPECT_EQ(vnl2.close(0x30), 1);
  EXPECT_EQ(vnl2.close(kCti), 1);
  EXPECT_EQ(Area().openCount, 0);
}

TEST_F(Vnl2Api, NotificationsReachAClientInAnotherProcess) {
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_VNL2_CLIENT_CHILD, {"open", "0x30", "enable", "0x30", "notify", "e00", "send", "0x30",
                                                 "hello", "notify", "100", "recv", "0x30", "notify", "f00"}));
  // When the link comes up just as the client enables its notifications,
  // both may report it: a repeated VNL2_CONNECT_IND is allowed.
  bool connected = false;
  auto next = [&]() -> std::optional<std::string> {
    for (;;) {
      auto line = child.readLine();
      if (line && *line == "notify 30 e00" && connected) continue;
      if (line && *line == "notify 30 e00") connected = true;
      return line;
    }
  };
  EXPECT_EQ(next(), "open 1");
  EXPECT_EQ(next(), "enable 1");
  EXPECT_EQ(next(), "notify 30 e00");  // the link is up
  EXPECT_EQ(next(), "send 1");
  EXPECT_EQ(next(), "notify 30 100");  // the echoed block arrived
  EXPECT_EQ(next(), "recv 5 hello");
  // The control program reports the link down.
  platform::postMessage(platform::findWindow("VNL2ControlProg"), platform::kWmUser + 2, 0, 0);
  EXPECT_EQ(next(), "notify 30 f00");
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(Area().serviceOpen[1], 0);
  EXPECT_EQ(Area().openCount, 0);
}

// The control program is killed, so it never reports the link down, while
// this process and another client have services open with notifications on.
// The clients' watch of the control program takes the link down in its
// place, once: each client hears VNL2_DISCONNECT_IND, the area names no
// control program, and the next open starts a new one.
TEST_F(Vnl2Api, AKilledControlProgramIsReportedAsALostLinkToEveryClient) {
  vnl2.Unload();  // the log is on for libraries loaded after vnl2.log exists
  const std::string log = platform::systemDir() + "/vnl2.log";
  tktest::writeFile(log, "");
  ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH));
  tktest::NotificationWindow window;
  ASSERT_EQ(vnl2.open(kCti), 1);
  ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
  ASSERT_EQ(window.WaitFor(1).size(), 1u);  // the link is up
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_VNL2_CLIENT_CHILD,
                          {"open", "0x30", "enable", "0x30", "notify", "e00", "notify", "f00", "close", "0x30"}));
  auto next = [&child] {
    auto line = child.readLine();
    while (line && *line == "notify 30 e00") line = child.readLine();  // the link is up, once or twice
    return line;
  };
  EXPECT_EQ(child.readLine(), "open 1");
  EXPECT_EQ(child.readLine(), "enable 1");
  EXPECT_EQ(child.readLine(), "notify 30 e00");
  const uint32_t killed = platform::windowProcessId(platform::findWindow("VNL2ControlProg"));
  ASSERT_NE(killed, 0u);
  ASSERT_EQ(::kill(static_cast<pid_t>(killed), SIGKILL), 0);

  EXPECT_EQ(next(), "notify 30 f00");
  EXPECT_EQ(next(), "close 1");  // the link being down, closing succeeds
  EXPECT_EQ(child.wait(), 0);
  auto seen = window.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].service, kCti);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_EQ(window.Settle().size(), 2u) << "told more than once";
  EXPECT_EQ(Area().linkState, 0);
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_EQ(Area().controlWindow, 0u);
  EXPECT_EQ(Area().serviceOpen[0], 0);
  EXPECT_EQ(Area().serviceOpen[1], 0);
  const std::string text = tktest::readFile(log);
  const std::string line = "VNL2C64 (pid " + std::to_string(killed) + ") ended without releasing the link";
  const size_t first = text.find(line);
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(line, first + 1), std::string::npos) << "taken down more than once";
  // This process started the killed program and reaps it.
  EXPECT_TRUE(tktest::waitUntil([&] { return !std::filesystem::exists("/proc/" + std::to_string(killed)); }, 5000ms))
      << "left as a zombie";

  // The next open starts a new control program, which serves the service.
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_EQ(Starts(), 2u);
  EXPECT_NE(Area().controlWindow, 0u);
  EXPECT_EQ(Send("again"), "1");
  EXPECT_EQ(Receive(), "again");
}

// The library's watch of the control program runs while this process has a
// service open: its last close stops it, also after the link went down.
TEST_F(Vnl2Api, TheWatchOfTheControlProgramRunsWhileThisProcessHasAServiceOpen) {
  auto watching = [] {
    for (const auto& thread : platform::threadCpuTimes(platform::currentProcessId()))
      if (thread.name == "vnl2-watch") return true;
    return false;
  };
  const struct {
    const char* step;
    std::function<int32_t()> call;
    int32_t result;
    bool watching;
  } steps[] = {
      {"first open", [&] { return vnl2.open(kCti); }, 1, true},
      {"second open", [&] { return vnl2.open(0x30); }, 1, true},
      {"a close of one of two", [&] { return vnl2.close(kCti); }, 1, true},
      {"the last close", [&] { return vnl2.close(0x30); }, 1, false},
      {"a close after the link ended", [&] { return vnl2.close(0x30); }, 1, false},
      {"open again", [&] { return vnl2.open(kCti); }, 1, true},
      {"the link goes down", [&] { return vnl2.linkInfo(kVnl2LinkDown); }, 1, true},
      {"the close after the link went down", [&] { return vnl2.close(kCti); }, 1, false},
  };
  EXPECT_FALSE(watching());
  for (const auto& step : steps) {
    SCOPED_TRACE(step.step);
    EXPECT_EQ(step.call(), step.result);
    EXPECT_EQ(watching(), step.watching);
  }
}

TEST_F(Vnl2Api, ConnectIsPostedWhenTheLinkComesUpAndDisconnectOnlyOnce) {
  Behave("ack");
  tktest::NotificationWindow window;
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_EQ(Area().linkState, 17);
  EXPECT_NE(vnl2.enable(kCti, window.handle()), 0);
  EXPECT_TRUE(window.Settle(100ms).empty());  // not up yet
  platform::postMessage(platform::findWindow("VNL2ControlProg"), platform::kWmUser + 1, 0, 0);
  auto seen = window.WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].service, kCti);
  EXPECT_EQ(seen[0].kind, VNL2_CONNECT_IND);

  EXPECT_EQ(vnl2.linkInfo(kVnl2LinkDown), 1);
  EXPECT_EQ(vnl2.linkInfo(kVnl2LinkDown), 1);
  seen = window.Settle();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_EQ(vnl2.linkInfo(99), 0);
  // The link being down, closing is a no-op that succeeds.
  EXPECT_EQ(vnl2.close(kCti), 1);
}

TEST_F(Vnl2Api, QueueHoldsSixteenBlocksAndShortReadsLoseTheRest) {
  ASSERT_EQ(vnl2.open(kCti), 1);
  VNL2_STATE state{};
  vnl2.getState(kCti, &state);
  EXPECT_EQ(state.State, 1);
  EXPECT_EQ(state.RecQueue, 0);
  EXPECT_EQ(state.Length, 0);

  // Every block sent comes back as a received block (the control program echoes).
  for (int i = 0; i < 16; ++i) ASSERT_EQ(Send("block " + std::to_string(i)), "1");
  EXPECT_EQ(Send("block 16"), "-12");  // the queue is full: the echo is refused
  vnl2.getState(kCti, &state);
  EXPECT_EQ(state.RecQueue, 16);
  EXPECT_EQ(state.Length, 7);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Receive(), "block " + std::to_string(i));
  EXPECT_EQ(Receive(), "");

  ASSERT_EQ(Send(std::string(100, 'x')), "1");
  ASSERT_EQ(Send("after"), "1");
  EXPECT_EQ(Receive(10), std::string(10, 'x'));
  EXPECT_EQ(Receive(), "after");

  // Refusals.
  EXPECT_EQ(vnl2.send(0x21, "x", 1), kVnl2SendFailed);
  EXPECT_EQ(vnl2.send(0x30, "x", 1), kVnl2SendNotOpen);
  EXPECT_EQ(vnl2.send(kCti, nullptr, 1), kVnl2SendFailed);
  EXPECT_EQ(vnl2.copyRecData(kCti, "", 0), -1);  // an empty block would stall the queue
  vnl2.getState(0x30, &state);
  EXPECT_EQ(state.State, 0);
  EXPECT_EQ(vnl2.open(0x21), 0);
}

TEST_F(Vnl2Api, OpeningAServiceEmptiesWhatItsQueueHeldWhileClosed) {
  ASSERT_EQ(vnl2.open(0x30), 1);  // keeps the link up
  // Leftovers of a block written while the service was closed.
  Area().recIndex[1] = 0;
  Area().recQueue[1].blocks[0].length = 5;
  ASSERT_EQ(vnl2.open(kCti), 1);
  VNL2_STATE state{};
  vnl2.getState(kCti, &state);
  EXPECT_EQ(state.RecQueue, 0);
  ASSERT_EQ(Send("fresh"), "1");
  EXPECT_EQ(Receive(), "fresh");
}

TEST_F(Vnl2Api, RefusalFailsTheOpenAtOnce) {
  Behave("refuse");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.open(kCti), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_EQ(Area().linkState, 0);
}

TEST_F(Vnl2Api, NoAnswerFailsAfterTheDeadlineAndClosesTheHalfStartedProgram) {
  Behave("silent");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.open(kCti), 0);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 3000ms);
  EXPECT_LT(took, 8000ms);
  EXPECT_EQ(Area().openCount, 0);
  EXPECT_TRUE(tktest::waitUntil([] { return ControlLog().size() == 2; }, 5000ms));
  EXPECT_EQ(ControlLog().back(), "close");
}

TEST_F(Vnl2Api, AStaleControlProgramIsClosedBeforeTheNewStart) {
  tktest::ChildProcess stale;
  ASSERT_TRUE(stale.start(TK_FAKE_CONTROL_PROGRAM, {}, {{"TK_FAKE_CONTROL", "silent"}}));
  ASSERT_TRUE(tktest::waitUntil([] { return platform::findWindow("vnl2controlprog") != nullptr; }, 5000ms));
  ASSERT_EQ(vnl2.open(kCti), 1);
  auto log = ControlLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "close");
  EXPECT_EQ(log[2], "start VNL2C64.EXE ");
  EXPECT_EQ(stale.wait(), 0);
  // The old program's link-down report on its way out does not cost this
  // open its count: a second service joins the running link.
  EXPECT_EQ(Area().openCount, 1);
  EXPECT_EQ(vnl2.open(0x30), 1);
  EXPECT_EQ(ControlLog().size(), 3u);
}

TEST_F(Vnl2Api, MissingControlProgramFailsTheOpen) {
  std::filesystem::remove(platform::systemDir() + "/vnl2c64");
  EXPECT_EQ(vnl2.open(kCti), 0);
  EXPECT_EQ(Area().openCount, 0);
  // The next open, with the program back, works.
  std::filesystem::create_symlink(TK_FAKE_CONTROL_PROGRAM, platform::systemDir() + "/vnl2c64");
  EXPECT_EQ(vnl2.open(kCti), 1);
}

TEST_F(Vnl2Api, LaterOpenersMustNameTheRunningLinkOrNone) {
  ASSERT_EQ(vnl2.openExA(kCti, "COM1"), 1);
  EXPECT_EQ(vnl2.openExA(0x30, "com1"), 1);
  EXPECT_EQ(vnl2.openExA(0x40, "TCP"), 0);
  EXPECT_EQ(vnl2.openExW(0x40, u"COM1"), 1);
  EXPECT_EQ(vnl2.openExW(0x42, u"ABCDEFGHIJKL"), 0);  // longer than 11 characters
  EXPECT_EQ(vnl2.open(0x42), 1);
  EXPECT_EQ(Area().openCount, 4);
}

TEST_F(Vnl2Api, LogLinesFollowTheMask) {
  // The log is on for libraries loaded after vnl2.log exists.
  vnl2.Unload();
  std::string log = platform::systemDir() + "/vnl2.log";
  tktest::writeFile(log, "");
  ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH));
  ASSERT_EQ(vnl2.open(kCti), 1);
  EXPECT_EQ(Area().logMask, 23u);
  std::string text = tktest::readFile(log);
  EXPECT_NE(text.find("] link_api_tests:  - Process_Attach\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("VNL2_OpenConnectionExA(0x20,)"), std::string::npos);
  EXPECT_EQ(text.find("Create "), std::string::npos);  // detail lines are not written
  EXPECT_NE(text.find("] fake_control_program: "), std::string::npos);  // the control program logs too
}

TEST_F(Vnl2Api, VnlsockForwardsOrReturnsZero) {
  tktest::Vnl2Functions sock;
  ASSERT_TRUE(sock.Load(TK_VNLSOCK_PATH));
  EXPECT_EQ(sock.copyRecData, nullptr);  // not offered
  EXPECT_EQ(sock.linkInfo, nullptr);
  ASSERT_EQ(sock.open(kCti), 1);
  VNL2_STATE state{};
  vnl2.getState(kCti, &state);
  EXPECT_EQ(state.State, 1);
  EXPECT_EQ(sock.close(kCti), 1);
  sock.Unload();

  // Where no VNL2D32 can be found, vnlsock still loads and refuses everything.
  std::string folder = platform::rootDir() + "/lonely";
  platform::ensureDirectory(folder);
  std::filesystem::copy_file(TK_VNLSOCK_PROBE, folder + "/vnlsock_probe");
  std::filesystem::copy_file(TK_TKPLATFORM_LIBRARY, folder + "/" + std::filesystem::path(TK_TKPLATFORM_LIBRARY).filename().string());
  tktest::ChildProcess probe;
  ASSERT_TRUE(probe.start(folder + "/vnlsock_probe", {TK_VNLSOCK_PATH}, {{"TK_MODULE_PATH", ""}}));
  EXPECT_EQ(probe.readLine(), "loaded open=0 send=0 receive=0");
  EXPECT_EQ(probe.wait(), 0);
}

// The Windows export files number the entries as the entry table does:
// VNL2D32 exports all of them, vnlsock the client half.
TEST(Vnl2EntryTable, ExportFilesNumberTheEntriesAsTheTableDoes) {
  struct ExportFile {
    const char* name;
    vnl2::EntrySet entries;
  };
  using vnl2::Entry;
  const vnl2::EntrySet all{Entry::OpenConnection, Entry::CloseConnection, Entry::EnableNotification,
                           Entry::SendData,       Entry::ReceiveData,     Entry::GetState,
                           Entry::CopyRecData,    Entry::LinkInfo,        Entry::OpenConnectionExA,
                           Entry::OpenConnectionExW};
  for (ExportFile file : {ExportFile{"vnl2d32.def", all}, ExportFile{"vnlsock.def", vnl2::kClientEntries}}) {
    std::map<std::string, int> listed;  // "  VNL2_SendData @4"
    std::istringstream in(tktest::readFile(std::string(TK_LINK_API_DIR) + "/" + file.name));
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string name, ordinal;
      if (words >> name >> ordinal && name.rfind("VNL2_", 0) == 0 && ordinal[0] == '@') {
        listed[name] = std::stoi(ordinal.substr(1));
      }
    }
    std::map<std::string, int> tabled;
    vnl2::Entries none;
    vnl2::ForEachEntry(none, [&](vnl2::Entry e, const char* name, auto&) {
      if (file.entries.Has(e)) tabled[name] = static_cast<int>(e);
    });
    EXPECT_EQ(listed, tabled) << file.name;
  }
}

}  // namespace
