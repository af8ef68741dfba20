#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/command_line_internal.h"
#include "platform/stop_request.h"
#include "platform/root.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using platform::splitCommandLine;
using Args = std::vector<std::string>;

constexpr int kStillActive = 259;

// A folder with a blank in its name, holding the test child under a
// Windows-style program name (a symbolic link, as an installation would make).
std::string programFolder() {
  std::string folder = tktest::currentRoot() + "/Program Files";
  fs::create_directories(folder);
  return folder;
}

std::string linkChildAs(const std::string& folder, const std::string& fileName) {
  std::string path = folder + "/" + fileName;
  fs::create_symlink(TK_PROCESS_TEST_CHILD, path);
  return path;
}

// What the child's "report" command wrote, as key and values in order.
std::multimap<std::string, std::string> readReport(const std::string& path) {
  std::multimap<std::string, std::string> out;
  std::istringstream in(tktest::readFile(path));
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

std::vector<std::string> valuesOf(const std::multimap<std::string, std::string>& report, const std::string& key) {
  std::vector<std::string> out;
  auto [from, to] = report.equal_range(key);
  for (auto it = from; it != to; ++it) out.push_back(it->second);
  return out;
}

std::string only(const std::multimap<std::string, std::string>& report, const std::string& key) {
  auto values = valuesOf(report, key);
  return values.size() == 1 ? values[0] : "<" + std::to_string(values.size()) + " values>";
}

// pid runs until the file release appears, and is seen to end then.
void expectRunsUntilReleased(uint32_t pid, const std::string& release) {
  EXPECT_TRUE(platform::processRunning(pid));
  EXPECT_FALSE(platform::waitForProcessExit(pid, 20));
  tktest::writeFile(release, "");
  EXPECT_TRUE(platform::waitForProcessExit(pid, 10000));
  EXPECT_FALSE(platform::processRunning(pid));
}

TEST(CommandLine, SplitsLikeWindowsProgramsDo) {
  const struct {
    const char* line;
    Args args;
  } cases[] = {
      // Blanks separate, quotes group.
      {"VNL2C64.EXE LINK1", {"VNL2C64.EXE", "LINK1"}},
      {"VNL2C64.EXE ", {"VNL2C64.EXE"}},  // empty link name
      {"a \t b   c", {"a", "b", "c"}},
      {"a \"two words\" x\"y z\"w", {"a", "two words", "xy zw"}},
      {"a \"\" \"\"", {"a", "", ""}},
      {"a \"open to the end", {"a", "open to the end"}},
      {"", {}},
      // Backslashes escape only before quotes.
      {R"(a C:\dir\file.txt \\server\share)", {"a", R"(C:\dir\file.txt)", R"(\\server\share)"}},
      {R"(a \"b)", {"a", "\"b"}},             // 1: a literal quote
      {R"(a \\"b c")", {"a", "\\b c"}},       // 2: one backslash, quote groups
      {R"(a \\\"b)", {"a", "\\\"b"}},         // 3: one backslash and a quote
      {R"(a "x""y" z)", {"a", "x\"y", "z"}},  // "" inside quotes
      {R"(a "dir\\" b)", {"a", "dir\\", "b"}},
      // The program name knows no escapes.
      {R"("C:\Program Files\x\" arg)", {R"(C:\Program Files\x\)", "arg"}},
      {R"(C:\a"b c"d e)", {R"(C:\ab cd)", "e"}},
      {" a", {"", "a"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.args) << c.line;
}

TEST(ProgramPath, WindowsNamesFindTheProgramWhateverItsCase) {
  std::string folder = programFolder();
  std::string exe = linkChildAs(folder, "vnl2c64.exe");
  std::string bare = linkChildAs(folder, "Tool");
  std::string winFolder = folder;
  for (char& c : winFolder) c = c == '/' ? '\\' : c;

  EXPECT_EQ(platform::resolveProgramPath(winFolder + "\\VNL2C64.EXE"), exe);
  EXPECT_EQ(platform::resolveProgramPath(folder + "/Vnl2C64"), exe);  // ".exe" is understood
  EXPECT_EQ(platform::resolveProgramPath(winFolder + "\\TOOL.EXE"), bare);
  EXPECT_EQ(platform::resolveProgramPath(exe), exe);
  EXPECT_EQ(platform::resolveProgramPath(folder + "/MISSING.EXE"), "");
  EXPECT_EQ(platform::resolveProgramPath(""), "");

  // A file that cannot be run is no program.
  tktest::writeFile(folder + "/notes.exe", "text");
  EXPECT_EQ(platform::resolveProgramPath(folder + "/NOTES.EXE"), "");
}

TEST(ProgramPath, ABareNameIsLookedForInTheSystemDirectory) {
  // A name that no program of the build folder has: that folder is searched first.
  std::string exe = linkChildAs(platform::systemDir(), "tksyschild");
  EXPECT_EQ(platform::resolveProgramPath("TKSYSCHILD.EXE"), exe);
  EXPECT_EQ(platform::resolveProgramPath("NOSUCHPROGRAM.EXE"), "");
}

TEST(Process, StartsAProgramWithAWindowsCommandLine) {
  std::string folder = programFolder();
  linkChildAs(folder, "vnl2c64.exe");
  std::string reportFile = tktest::currentRoot() + "/report";
  const std::string line = "VNL2C64.EXE report \"" + reportFile + R"(" "two  words" C:\dir\ "say \"hi\"" "" last)";
  std::string error;
  auto process = platform::createProcess(folder + "\\VNL2C64.EXE", line, &error);
  ASSERT_NE(process, nullptr) << error;
  ASSERT_TRUE(process->wait(10000));
  EXPECT_EQ(process->exitCode(), 0);

  auto report = readReport(reportFile);
  EXPECT_EQ(only(report, "line"), line);
  EXPECT_EQ(valuesOf(report, "arg"),
            (Args{"VNL2C64.EXE", "report", reportFile, "two  words", R"(C:\dir\)", "say \"hi\"", "", "last"}));
  EXPECT_EQ(only(report, "pid"), std::to_string(process->id()));
  // It leads a process group of its own, so a terminal's Ctrl-C meant for
  // the caller does not reach it.
  EXPECT_EQ(only(report, "pgid"), std::to_string(process->id()));
  // The caller's environment goes with it.
  EXPECT_EQ(only(report, "root"), tktest::currentRoot());
  // Through a symbolic link the name is that of the program file itself.
  EXPECT_EQ(only(report, "base"), fs::path(TK_PROCESS_TEST_CHILD).stem().string());
}

TEST(Process, TheBaseNameKeepsTheCaseOfTheProgramFile) {
  std::string folder = programFolder();
  fs::copy_file(TK_PROCESS_TEST_CHILD, folder + "/Vnl2C64.Exe");
  // The copy finds the platform library next to itself, as the original does.
  fs::path library = fs::path(TK_PROCESS_TEST_CHILD).parent_path() / "libtkplatform.so";
  fs::copy_file(library, folder + "/libtkplatform.so");
  std::string reportFile = tktest::currentRoot() + "/report";
  auto process = platform::createProcess(folder + "/VNL2C64.EXE", "VNL2C64.EXE report " + reportFile);
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(process->wait(10000));
  EXPECT_EQ(process->exitCode(), 0);
  EXPECT_EQ(only(readReport(reportFile), "base"), "Vnl2C64");
}

TEST(Process, CanBeWaitedForWithATimeOut) {
  std::string release = tktest::currentRoot() + "/release";
  std::string error;
  auto process = platform::createProcess(TK_PROCESS_TEST_CHILD, "child wait-file " + release + " 7", &error);
  ASSERT_NE(process, nullptr) << error;
  EXPECT_FALSE(process->wait(50));
  EXPECT_TRUE(process->running());
  EXPECT_EQ(process->exitCode(), kStillActive);
  EXPECT_TRUE(platform::processRunning(process->id()));

  // It is a waitable object like any other: a wait on several sees it end.
  platform::Event never(platform::Event::Reset::Manual);
  EXPECT_EQ(platform::waitForMultiple({&never, process.get()}, false, 20), platform::kWaitTimeout);
  tktest::writeFile(release, "");
  EXPECT_EQ(platform::waitForMultiple({&never, process.get()}, false, 10000), platform::kWaitObject0 + 1);
  EXPECT_FALSE(process->running());
  EXPECT_EQ(process->exitCode(), 7);
  EXPECT_TRUE(process->wait(0));
  EXPECT_FALSE(platform::processRunning(process->id()));
  EXPECT_TRUE(platform::waitForProcessExit(process->id(), 0));
}

TEST(Process, AProcessEndedByASignalGives128PlusTheSignal) {
  auto process = platform::createProcess(TK_PROCESS_TEST_CHILD, "child abort");
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(process->wait(10000));
  EXPECT_EQ(process->exitCode(), 128 + 6);  // SIGABRT
}

TEST(Process, GoesOnRunningWhenItsObjectIsGone) {
  std::string release = tktest::currentRoot() + "/release";
  uint32_t pid = 0;
  {
    auto process = platform::createProcess(TK_PROCESS_TEST_CHILD, "child wait-file " + release + " 0");
    ASSERT_NE(process, nullptr);
    pid = process->id();
  }
  expectRunsUntilReleased(pid, release);
}

TEST(Process, WaitsForAProcessStartedByAnother) {
  // The child starts a grandchild and ends; the grandchild runs on, and this
  // process, which did not start it, can watch it end.
  std::string pidFile = tktest::currentRoot() + "/grandchild";
  std::string release = tktest::currentRoot() + "/release";
  auto child = platform::createProcess(TK_PROCESS_TEST_CHILD, "child spawn-waiter " + pidFile + " " + release);
  ASSERT_NE(child, nullptr);
  ASSERT_TRUE(child->wait(10000));
  ASSERT_EQ(child->exitCode(), 0);
  uint32_t grandchild = static_cast<uint32_t>(std::stoul(tktest::readFile(pidFile)));

  expectRunsUntilReleased(grandchild, release);
}

TEST(Process, AMissingProgramFailsWithAReason) {
  std::string error;
  auto process = platform::createProcess(platform::systemDir() + "\\VNL2C64.EXE", "VNL2C64.EXE ", &error);
  EXPECT_EQ(process, nullptr);
  EXPECT_NE(error.find("VNL2C64.EXE"), std::string::npos) << error;
}

TEST(Process, AProgramThatCannotBeExecutedFailsWithAReason) {
  // Executable by its mode, but no program the system can run.
  std::string path = programFolder() + "/broken.exe";
  tktest::writeFile(path,
                    "\x7f"
                    "ELF but not really");
  fs::permissions(path, fs::perms::owner_all);
  std::string error;
  EXPECT_EQ(platform::createProcess(path, "broken.exe", &error), nullptr);
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(Process, AnEndedProcessNotYetReapedCountsAsEnded) {
  // ChildProcess reaps its child only in wait(): until then it is a zombie.
  std::string release = tktest::currentRoot() + "/release";
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_PROCESS_TEST_CHILD, {"wait-file", release, "0"}));
  expectRunsUntilReleased(static_cast<uint32_t>(child.pid()), release);
  EXPECT_EQ(child.wait(), 0);
}

TEST(Process, AnIdThatIsNoProcessDoesNotRun) {
  EXPECT_FALSE(platform::processRunning(0));
  EXPECT_TRUE(platform::waitForProcessExit(0, 1000));
  EXPECT_FALSE(platform::processRunning(0xFFFFFFFF));
  EXPECT_TRUE(platform::processRunning(platform::currentProcessId()));
  EXPECT_FALSE(platform::waitForProcessExit(platform::currentProcessId(), 10));
}

// A waiter hears of the end of a process, also one that is not yet reaped,
// and of a wake-up, which wins over an end and is kept for the next wait.
TEST(ProcessEndWait, WakesForTheEndOfAProcessOrForAWakeUp) {
  using Result = platform::ProcessEndWait::Result;
  platform::ProcessEndWait waiter;
  ASSERT_TRUE(waiter.valid());
  const uint32_t self = platform::currentProcessId();
  const uint32_t noProcess = 0x80000000u;
  const struct {
    const char* what;
    int wakes;  // wake() calls before the wait
    uint32_t processId;
    Result expected;
  } cases[] = {
      {"no such process", 0, noProcess, Result::Ended},
      {"a wake-up and no process", 1, 0, Result::Woken},
      {"a wake-up and a running process", 1, self, Result::Woken},
      {"a wake-up and an ended process", 1, noProcess, Result::Woken},
      {"two wake-ups are one", 2, self, Result::Woken},
      {"the wake-up was taken", 0, noProcess, Result::Ended},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int i = 0; i < c.wakes; ++i) waiter.wake();
    EXPECT_EQ(waiter.wait(c.processId), c.expected);
  }

  // A wake-up from another thread ends a wait on a process that runs on.
  std::thread other([&] { waiter.wake(); });
  EXPECT_EQ(waiter.wait(self), Result::Woken);
  other.join();

  // A child of this process that ends by itself and is not reaped yet.
  std::string release = tktest::currentRoot() + "/release";
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_PROCESS_TEST_CHILD, {"wait-file", release, "0"}));
  tktest::writeFile(release, "");
  EXPECT_EQ(waiter.wait(static_cast<uint32_t>(child.pid())), Result::Ended);
  EXPECT_EQ(child.wait(), 0);
}

TEST(Process, AProgramStartedOtherwiseSeesItsArgumentsAsItsCommandLine) {
  // An inherited command line that is not this program's own is ignored.
  std::string reportFile = tktest::currentRoot() + "/report";
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_PROCESS_TEST_CHILD, {"report", reportFile, "a b"},
                          {{"TK_COMMAND_LINE", "VNL2C64.EXE report other"}}));
  ASSERT_EQ(child.wait(), 0);
  EXPECT_EQ(only(readReport(reportFile), "line"),
            std::string(TK_PROCESS_TEST_CHILD) + " report " + reportFile + " a b");
}

}  // namespace

TEST(Process, CpuTimeGrowsWithWorkAndIsUnknownForNoProcess) {
  const uint32_t self = platform::currentProcessId();
  std::optional<uint64_t> before = platform::processCpuTimeMs(self);
  ASSERT_TRUE(before.has_value());
  // Busy for at least 300 ms of CPU time (bounded by wall time as well).
  volatile uint64_t sink = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (platform::processCpuTimeMs(self).value_or(0) < *before + 300 && std::chrono::steady_clock::now() < deadline)
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  EXPECT_GE(platform::processCpuTimeMs(self).value_or(0), *before + 300);
  EXPECT_FALSE(platform::processCpuTimeMs(0).has_value());
  EXPECT_FALSE(platform::processCpuTimeMs(0x7FFFFFF0).has_value());
}

TEST(StopRequest, TheFirstRequestIsRecordedWakesTheProgramAndItGoesOn) {
  EXPECT_EQ(platform::stopRequest(), 0);
  platform::watchStopRequests();
  int wakes = 0;
  platform::setStopRequestWake([](void* counter) { ++*static_cast<int*>(counter); }, &wakes);
  ASSERT_EQ(std::raise(SIGTERM), 0);
  platform::setStopRequestWake(nullptr, nullptr);
  EXPECT_EQ(wakes, 1);
  // Still running, with the request recorded for an orderly end.
  EXPECT_EQ(platform::stopRequest(), SIGTERM);
}

TEST(Process, ADetachedProcessHasASessionAndNoStreamsOfTheCallersAndEndsOnAStopRequest) {
  // "wait-file" on a file that never appears: it runs until asked to stop.
  std::string error;
  auto process = platform::createDetachedProcess(
      TK_PROCESS_TEST_CHILD, "child wait-file \"" + tktest::currentRoot() + "/never\" 0", &error);
  ASSERT_NE(process, nullptr) << error;
  const std::string pid = std::to_string(process->id());
  for (const char* fd : {"0", "1", "2"}) EXPECT_EQ(fs::read_symlink("/proc/" + pid + "/fd/" + fd), "/dev/null") << fd;
  // After the name in /proc/<pid>/stat: state, parent, process group, session.
  const std::string stat = tktest::readFile("/proc/" + pid + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string state, parent, group, session;
  fields >> state >> parent >> group >> session;
  EXPECT_EQ(session, pid);

  EXPECT_TRUE(platform::requestProcessStop(process->id()));
  ASSERT_TRUE(process->wait(10000));
  EXPECT_EQ(process->exitCode(), 128 + SIGTERM);
  EXPECT_FALSE(platform::requestProcessStop(0));
  EXPECT_EQ(fs::path(platform::currentProgramPath()).filename(), "platform_tests");
}
