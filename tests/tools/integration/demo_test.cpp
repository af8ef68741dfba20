// The demo as a person runs it (scripts/demo.sh against this build): it
// succeeds, and Ctrl-C pressed twice a moment apart still ends the
// simulated exchange and every other program it started and removes its
// root folder. It also runs whole over the serial line (a pseudo-terminal)
// and over USB (tksim's driver stand-in).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

using namespace std::chrono_literals;

// Processes that still run with a TK_ROOT below folder.
std::vector<std::string> processesBelow(const std::string& folder) {
  std::vector<std::string> found;
  const std::string marker = "TK_ROOT=" + folder + "/";
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string environ = tktest::readFile(entry.path().string() + "/environ");
    for (size_t start = 0; start < environ.size();) {
      size_t end = environ.find('\0', start);
      if (end == std::string::npos) end = environ.size();
      if (environ.compare(start, marker.size(), marker) == 0) {
        std::error_code ec;
        found.push_back(entry.path().filename().string() + " " +
                        std::filesystem::read_symlink(entry.path() / "exe", ec).string());
      }
      start = end + 1;
    }
  }
  return found;
}

struct DemoCase {
  const char* name;
  const char* interruptAfter;  // output line prefix after which Ctrl-C comes twice; nullptr: never
  int expectedExit;
  const char* link = "lan";  // TK_DEMO_LINK: lan or serial
};

class Demo : public ::testing::TestWithParam<DemoCase> {};

TEST_P(Demo, EndsInOrderAndLeavesNothingBehind) {
  const DemoCase& c = GetParam();
  // The demo makes its root folder in TMPDIR, so everything it leaves is found here.
  const std::string tmp = tktest::currentRoot() + "/tmp";
  std::filesystem::create_directories(tmp);

  tktest::ChildProcess demo;
  demo.setOwnProcessGroup(true);  // as the shell's foreground job that a terminal's Ctrl-C reaches
  ASSERT_TRUE(demo.start("/bin/sh", {"-c", "exec \"$0\" \"$1\" 2>&1", TK_DEMO_SCRIPT, TK_BUILD_DIR},
                         {{"TMPDIR", tmp}, {"TK_DEMO_TIMEOUT", "60"}, {"TK_DEMO_LINK", c.link}}));
  std::string output;
  bool interrupted = false;
  while (auto line = demo.readLine(90s)) {
    output += *line + "\n";
    if (c.interruptAfter && !interrupted && line->starts_with(c.interruptAfter)) {
      demo.signalGroup(SIGINT);
      std::this_thread::sleep_for(100ms);
      demo.signalGroup(SIGINT);
      interrupted = true;
    }
  }
  auto code = demo.wait(30s);
  if (!code) demo.signalGroup(SIGKILL);
  ASSERT_TRUE(code.has_value()) << output;
  EXPECT_EQ(*code, c.expectedExit) << output;
  if (c.interruptAfter) {
    EXPECT_TRUE(interrupted) << output;
  } else {
    EXPECT_NE(output.find("== tkphone: every step succeeded"), std::string::npos) << output;
  }

  // The clean-up ran before the demo ended: nothing may be left, not even briefly.
  std::vector<std::string> left = processesBelow(tmp);
  for (int i = 0; i < 50 && !left.empty(); ++i) {  // a moment for a killed process to be reaped
    std::this_thread::sleep_for(100ms);
    left = processesBelow(tmp);
  }
  EXPECT_TRUE(left.empty()) << "still running: " << left.front() << "\n" << output;
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "the demo's root folder is left in " << tmp << "\n" << output;
}

INSTANTIATE_TEST_SUITE_P(Runs, Demo,
                         ::testing::Values(DemoCase{"Uninterrupted", nullptr, 0},
                                           DemoCase{"CtrlCTwiceWhileTheExchangeStarts", "== TK telephony demo", 130},
                                           DemoCase{"CtrlCTwiceDuringTheCalls", "== tkphone", 130},
                                           DemoCase{"OverTheSerialLine", nullptr, 0, "serial"},
                                           DemoCase{"OverUsb", nullptr, 0, "usb"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
