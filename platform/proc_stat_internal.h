#pragma once
// Reading /proc/<pid>/stat: the state, CPU times and start time of a process.
#include <cstdint>
#include <optional>

namespace platform::internal {

struct ProcStat {
  char state = '?';        // 'R', 'S', ..., 'Z' for an ended process not yet reaped
  uint64_t userTime = 0;    // clock ticks spent in user mode
  uint64_t systemTime = 0;  // clock ticks spent in the kernel
  uint64_t startTime = 0;  // clock ticks since boot
  // Ended, also when its parent has not waited for it yet.
  bool ended() const { return state == 'Z' || state == 'X' || state == 'x'; }
};

// Nothing when there is no such process (or its record cannot be read).
std::optional<ProcStat> readProcStat(uint32_t processId);

}  // namespace platform::internal
