// Processes on Windows: command lines reach the child as Windows programs
// split them, waiting, exit codes, ids of processes started by others, stop
// requests, CPU times and thread names, and finding programs by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "platform/command_line_internal.h"
#include "platform/process.h"
#include "platform/process_query.h"
#include "platform/root.h"
#include "platform/stop_request.h"
#include "tests/support/test_root.h"
#include "tests/windows/platform_core/core_test_support.h"

namespace {

namespace fs = std::filesystem;
using coretest::childPath;
using coretest::readReport;
using coretest::runChild;

std::vector<std::string> valuesOf(const std::multimap<std::string, std::string>& report, const std::string& key) {
  std::vector<std::string> out;
  auto [from, to] = report.equal_range(key);
  for (auto it = from; it != to; ++it) out.push_back(it->second);
  return out;
}

TEST(WindowsProcess, TheChildSeesItsCommandLineAsGivenAndSplitAsTheSplitterSays) {
  const std::string report = tktest::currentRoot() + "\\report";
  const struct {
    std::string line;
    bool plainAscii;  // the C runtime's argv is ANSI: only plain ASCII compares with the UTF-8 split
  } rows[] = {
      {"VNL2C64.EXE report \"" + report + "\" LINK1", true},
      {"child report \"" + report + R"(" "two  words" C:\dir\ "say \"hi\"" "" last)", true},
      {"child report \"" + report + R"(" a\\\"b "x""y" z "dir\\" \\server\share)", true},
      {"child report \"" + report + "\" Grüße €", false},
  };
  for (const auto& [line, plainAscii] : rows) {
    SCOPED_TRACE(line);
    std::string error;
    auto process = platform::createProcess(childPath(), line, &error);
    ASSERT_NE(process, nullptr) << error;
    ASSERT_TRUE(process->wait(20000));
    EXPECT_EQ(process->exitCode(), 0);
    const auto seen = readReport(report);
    EXPECT_EQ(valuesOf(seen, "line"), std::vector<std::string>{line});
    // The C runtime of the child splits the line as splitCommandLine does.
    if (plainAscii) {
      EXPECT_EQ(valuesOf(seen, "arg"), platform::splitCommandLine(line));
    }
    EXPECT_EQ(valuesOf(seen, "pid"), std::vector<std::string>{std::to_string(process->id())});
    EXPECT_EQ(valuesOf(seen, "root"), std::vector<std::string>{tktest::currentRoot()});
  }
}

TEST(WindowsProcess, IsAWaitableWithAnExitCode) {
  const std::string release = tktest::currentRoot() + "\\release";
  auto process = platform::createProcess(childPath(), "child wait-file \"" + release + "\" 7");
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->running());
  EXPECT_EQ(process->exitCode(), 259);  // STILL_ACTIVE
  EXPECT_TRUE(platform::processRunning(process->id()));
  EXPECT_FALSE(platform::waitForProcessExit(process->id(), 20));
  platform::Event never(platform::Event::Reset::Manual);
  EXPECT_EQ(platform::waitForMultiple({&never, process.get()}, false, 20), platform::kWaitTimeout);
  tktest::writeFile(release, "");
  EXPECT_EQ(platform::waitForMultiple({&never, process.get()}, false, 20000), platform::kWaitObject0 + 1);
  EXPECT_EQ(process->exitCode(), 7);
  EXPECT_FALSE(platform::processRunning(process->id()));
  EXPECT_TRUE(platform::waitForProcessExit(process->id(), 0));
}

TEST(WindowsProcess, AProcessStartedByAnotherCanBeWatchedToItsEnd) {
  const std::string pidFile = tktest::currentRoot() + "\\grandchild";
  const std::string release = tktest::currentRoot() + "\\release";
  ASSERT_EQ(runChild("spawn-waiter \"" + pidFile + "\" \"" + release + "\""), 0);
  const uint32_t grandchild = static_cast<uint32_t>(std::stoul(tktest::readFile(pidFile)));
  EXPECT_TRUE(platform::processRunning(grandchild));
  platform::ProcessEndWait waiter;
  ASSERT_TRUE(waiter.valid());
  tktest::writeFile(release, "");
  EXPECT_EQ(waiter.wait(grandchild), platform::ProcessEndWait::Result::Ended);
  EXPECT_TRUE(platform::waitForProcessExit(grandchild, 20000));
  EXPECT_FALSE(platform::processRunning(grandchild));
}

TEST(WindowsProcessEndWait, AWakeUpWinsAndIsKeptForTheNextWait) {
  using Result = platform::ProcessEndWait::Result;
  platform::ProcessEndWait waiter;
  const uint32_t self = platform::currentProcessId();
  const uint32_t noProcess = 0xFFFFFFF0u;
  const struct {
    const char* what;
    int wakes;
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
  platform::Thread other;
  other.start([&] { waiter.wake(); });
  EXPECT_EQ(waiter.wait(self), Result::Woken);
}

TEST(WindowsProcess, AStopRequestEndsAWatchingProgramInOrderAndAnotherAtOnce) {
  const std::string ready = tktest::currentRoot() + "\\watching";
  auto watching = platform::createProcess(childPath(), "child watch-stop \"" + ready + "\"");
  ASSERT_NE(watching, nullptr);
  ASSERT_TRUE(coretest::waitForFile(ready));
  EXPECT_TRUE(platform::requestProcessStop(watching->id()));
  ASSERT_TRUE(watching->wait(20000));
  EXPECT_EQ(watching->exitCode(), 128 + SIGTERM);  // it ended by itself, reporting the request

  auto deaf = platform::createDetachedProcess(childPath(), "child wait-file \"" + tktest::currentRoot() + "\\never\" 0");
  ASSERT_NE(deaf, nullptr);
  EXPECT_TRUE(platform::requestProcessStop(deaf->id()));
  ASSERT_TRUE(deaf->wait(20000));
  EXPECT_EQ(deaf->exitCode(), 128 + SIGTERM);
  EXPECT_FALSE(platform::requestProcessStop(deaf->id()));
  EXPECT_FALSE(platform::requestProcessStop(0));
}

TEST(WindowsStopRequest, TheFirstRequestIsRecordedWakesTheProgramAndItGoesOn) {
  EXPECT_EQ(platform::stopRequest(), 0);
  platform::watchStopRequests();
  int wakes = 0;
  platform::setStopRequestWake([](void* counter) { ++*static_cast<int*>(counter); }, &wakes);
  ASSERT_EQ(std::raise(SIGTERM), 0);
  platform::setStopRequestWake(nullptr, nullptr);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(platform::stopRequest(), SIGTERM);
}

TEST(WindowsProcess, MissingAndBrokenProgramsFailWithAReason) {
  std::string error;
  EXPECT_EQ(platform::createProcess(platform::systemDir() + "\\VNL2C64.EXE", "VNL2C64.EXE ", &error), nullptr);
  EXPECT_NE(error.find("VNL2C64.EXE"), std::string::npos) << error;
  const std::string broken = tktest::currentRoot() + "\\broken.exe";
  tktest::writeFile(broken, "MZ but not really");
  EXPECT_EQ(platform::createProcess(broken, "broken.exe", &error), nullptr);
  EXPECT_NE(error.find(broken), std::string::npos) << error;
}

TEST(WindowsProgramPath, WindowsNamesFindTheProgramWithTheFilesOwnSpelling) {
  const std::string folder = tktest::currentRoot() + "\\Program Files";
  fs::create_directories(folder);
  fs::copy_file(childPath(), folder + "\\Vnl2C64.Exe");
  EXPECT_EQ(platform::resolveProgramPath(folder + "\\VNL2C64.EXE"), folder + "\\Vnl2C64.Exe");
  EXPECT_EQ(platform::resolveProgramPath(folder + "/vnl2c64"), folder + "\\Vnl2C64.Exe");  // ".exe" is understood
  EXPECT_EQ(platform::resolveProgramPath(folder + "\\MISSING.EXE"), "");
  EXPECT_EQ(platform::resolveProgramPath(folder + "\\"), "");
  EXPECT_EQ(platform::resolveProgramPath(""), "");
  // A bare name: the system directory is searched too.
  fs::copy_file(childPath(), platform::systemDir() + "\\tksyschild.exe");
  EXPECT_EQ(platform::resolveProgramPath("TKSYSCHILD"), platform::systemDir() + "\\tksyschild.exe");

  // Started under its copy's name, the program knows it with that spelling.
  const std::string report = tktest::currentRoot() + "\\report";
  auto process = platform::createProcess(folder + "\\VNL2C64.EXE", "VNL2C64.EXE report \"" + report + "\"");
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(process->wait(20000));
  EXPECT_EQ(valuesOf(readReport(report), "base"), std::vector<std::string>{"Vnl2C64"});
}

TEST(WindowsProcessQuery, CpuTimesAndNamedThreads) {
  const uint32_t self = platform::currentProcessId();
  const uint64_t before = platform::processCpuTimeNs(self).value_or(0);
  volatile uint64_t sink = 0;
  for (int round = 0; round < 1000 && platform::processCpuTimeNs(self).value_or(0) <= before; ++round)
    for (int i = 0; i < 1000000; ++i) sink = sink + static_cast<uint64_t>(i);
  EXPECT_GT(platform::processCpuTimeNs(self).value_or(0), before);
  EXPECT_TRUE(platform::processCpuTimeMs(self).has_value());
  EXPECT_FALSE(platform::processCpuTimeNs(0).has_value());
  EXPECT_TRUE(platform::threadCpuTimes(0xFFFFFFF0u).empty());

  platform::Event named(platform::Event::Reset::Manual), done(platform::Event::Reset::Manual);
  platform::Thread probe;
  uint32_t probeId = 0;
  std::string ownName;
  probe.start([&] {
    probeId = platform::currentThreadId();
    ownName = platform::currentThreadName();
    named.set();
    done.wait(20000);
  }, "cpuq-probe-with-a-long-name");
  ASSERT_TRUE(named.wait(20000));
  const auto threads = platform::threadCpuTimes(self);
  done.set();
  probe.join();
  EXPECT_EQ(ownName, "cpuq-probe-with");  // 15 characters are kept
  EXPECT_TRUE(std::is_sorted(threads.begin(), threads.end(),
                             [](const auto& a, const auto& b) { return a.threadId < b.threadId; }));
  auto entry = std::find_if(threads.begin(), threads.end(), [&](const auto& t) { return t.threadId == probeId; });
  ASSERT_NE(entry, threads.end());
  EXPECT_EQ(entry->name, "cpuq-probe-with");
  EXPECT_EQ(platform::currentThreadName(), platform::programBaseName().substr(0, 15));
}

}  // namespace
