#include "platform/process_query.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <thread>

#include "platform/process.h"
#include "platform/wait.h"

namespace {

uint64_t OwnCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

TEST(ProcessQuery, CpuTimeOfThisProcessInNanosecondsLiesBetweenItsOwnReadings) {
  // Some CPU time first, so that the figures are not all zero.
  const uint64_t spinFrom = OwnCpuNs();
  for (int i = 0; i < 10000000 && OwnCpuNs() < spinFrom + 2000000; ++i) {
  }
  const uint64_t before = OwnCpuNs();
  const std::optional<uint64_t> measured = platform::processCpuTimeNs(platform::currentProcessId());
  const uint64_t after = OwnCpuNs();
  ASSERT_TRUE(measured.has_value());
  EXPECT_GE(*measured, before);
  EXPECT_LE(*measured, after);
  EXPECT_GT(*measured, spinFrom);
}

TEST(ProcessQuery, NoFiguresForAProcessThatDoesNotExist) {
  for (uint32_t pid : {0u, 0x7FFFFFF0u, static_cast<uint32_t>(INT_MAX) + 1u}) {
    EXPECT_FALSE(platform::processCpuTimeNs(pid).has_value()) << pid;
    EXPECT_TRUE(platform::threadCpuTimes(pid).empty()) << pid;
  }
}

TEST(ProcessQuery, ThreadsAreListedByIdWithTheirNames) {
  platform::Event named(platform::Event::Reset::Manual), done(platform::Event::Reset::Manual);
  uint32_t probeId = 0;
  std::thread probe([&] {
    pthread_setname_np(pthread_self(), "cpuq-probe");
    probeId = static_cast<uint32_t>(gettid());
    named.set();
    done.wait(10000);
  });
  ASSERT_TRUE(named.wait(10000));
  const std::vector<platform::ThreadCpuTime> threads = platform::threadCpuTimes(platform::currentProcessId());
  done.set();
  probe.join();

  EXPECT_TRUE(std::is_sorted(threads.begin(), threads.end(),
                             [](const auto& a, const auto& b) { return a.threadId < b.threadId; }));
  auto find = [&](uint32_t id) {
    return std::find_if(threads.begin(), threads.end(), [id](const auto& t) { return t.threadId == id; });
  };
  auto probeEntry = find(probeId);
  ASSERT_NE(probeEntry, threads.end());
  EXPECT_EQ(probeEntry->name, "cpuq-probe");
  auto mainEntry = find(static_cast<uint32_t>(gettid()));
  ASSERT_NE(mainEntry, threads.end());
  EXPECT_GT(mainEntry->cpuNs, 0u);
}

}  // namespace
