#pragma once
// CPU time of any process by its id, in nanoseconds, for measurements that
// the 10 ms clock ticks of processCpuTimeMs cannot resolve (an idle process
// uses a few milliseconds per minute). The whole process's figure comes
// from its CPU-time clock (all threads, also those that have ended); the
// per-thread figures from /proc/<pid>/task/<tid>/schedstat, named by the
// thread's comm (threads that ended are not listed).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// CPU time (user and kernel) the process has used so far, in nanoseconds;
// nothing when there is no such process.
std::optional<uint64_t> processCpuTimeNs(uint32_t processId);

struct ThreadCpuTime {
  uint32_t threadId = 0;
  std::string name;  // as the thread named itself (at most 15 characters)
  uint64_t cpuNs = 0;
};
// The threads of the process that run now, in order of thread id; empty
// when there is no such process.
std::vector<ThreadCpuTime> threadCpuTimes(uint32_t processId);

}  // namespace platform
