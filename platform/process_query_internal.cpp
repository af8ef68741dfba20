// Questions about any process by its id, also one this process did not start.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/proc_stat_internal.h"
#include "platform/process.h"
#include "platform/process_query.h"

namespace platform {
namespace {

enum class Presence { Running, Ended, Unknown };

// A process that has ended but was not yet reaped by its parent (a zombie)
// still has its id; it counts as ended.
Presence presenceFromProc(pid_t pid) {
  auto stat = internal::readProcStat(static_cast<uint32_t>(pid));
  if (!stat) return Presence::Unknown;
  return stat->ended() ? Presence::Ended : Presence::Running;
}

bool validPid(uint32_t processId) { return processId != 0 && processId <= static_cast<uint32_t>(INT_MAX); }

// A descriptor that becomes readable when the process ends, -1 when the
// kernel offers none (then errno tells why).
int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

bool pollUntilEnded(int pidfd, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(left.count(), INT_MAX)));
    }
    pollfd p{pidfd, POLLIN, 0};
    int rc = ::poll(&p, 1, wait);
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

std::optional<uint64_t> processCpuTimeMs(uint32_t processId) {
  if (!validPid(processId)) return std::nullopt;
  auto stat = internal::readProcStat(processId);
  if (!stat) return std::nullopt;
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  if (ticksPerSecond <= 0) return std::nullopt;
  return (stat->userTime + stat->systemTime) * 1000 / static_cast<uint64_t>(ticksPerSecond);
}

std::optional<uint64_t> processCpuTimeNs(uint32_t processId) {
  if (!validPid(processId)) return std::nullopt;
  clockid_t clock;
  if (::clock_getcpuclockid(static_cast<pid_t>(processId), &clock) != 0) return std::nullopt;
  timespec used{};
  if (::clock_gettime(clock, &used) != 0) return std::nullopt;
  return static_cast<uint64_t>(used.tv_sec) * 1000000000u + static_cast<uint64_t>(used.tv_nsec);
}

std::vector<ThreadCpuTime> threadCpuTimes(uint32_t processId) {
  std::vector<ThreadCpuTime> threads;
  if (!validPid(processId)) return threads;
  const std::string tasks = "/proc/" + std::to_string(processId) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return threads;
  while (const dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const unsigned long tid = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || tid == 0 || tid > INT_MAX) continue;
    const std::string task = tasks + "/" + entry->d_name;
    // schedstat: time on the CPU (ns), time waiting to run (ns), time slices.
    std::ifstream schedstat(task + "/schedstat");
    ThreadCpuTime thread;
    if (!(schedstat >> thread.cpuNs)) continue;  // ended meanwhile
    thread.threadId = static_cast<uint32_t>(tid);
    std::ifstream comm(task + "/comm");
    std::getline(comm, thread.name);
    threads.push_back(std::move(thread));
  }
  ::closedir(dir);
  std::sort(threads.begin(), threads.end(),
            [](const ThreadCpuTime& a, const ThreadCpuTime& b) { return a.threadId < b.threadId; });
  return threads;
}

bool processRunning(uint32_t processId) {
  if (!validPid(processId)) return false;
  const pid_t pid = static_cast<pid_t>(processId);
  auto exists = [pid] { return ::kill(pid, 0) == 0 || errno == EPERM; };
  if (!exists()) return false;
  switch (presenceFromProc(pid)) {
    case Presence::Running:
      return true;
    case Presence::Ended:
      return false;
    case Presence::Unknown:
      break;
  }
  return exists();  // gone meanwhile, or no /proc to ask
}

bool waitForProcessExit(uint32_t processId, uint32_t timeoutMs) {
  if (!processRunning(processId)) return true;
  if (timeoutMs == 0) return false;
  const pid_t pid = static_cast<pid_t>(processId);
  int pidfd = openProcessDescriptor(pid);
  if (pidfd >= 0) {
    bool ended = pollUntilEnded(pidfd, timeoutMs);
    ::close(pidfd);
    return ended;
  }
  if (errno == ESRCH) return true;
  // No process descriptors here: look every few milliseconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!processRunning(processId)) return true;
    if (timeoutMs != kInfinite && std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace platform
