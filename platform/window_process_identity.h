#pragma once
// Telling whether the process that published a window still runs. A process
// id alone is not enough: ids are reused, and an ended process that has not
// been waited for (a zombie) still answers kill(pid, 0). So a process is
// identified by its id together with its start time, and counts as running
// only while that pair matches a process that has not ended.
#include <cstdint>
#include <optional>

namespace platform::wnd {

// The start time of a running process (in clock ticks since boot); nothing
// when no such process runs or it has ended (zombie).
std::optional<uint64_t> processStartTime(uint32_t processId);

// True when the process with this id and start time still runs.
bool processIdentityAlive(uint32_t processId, uint64_t startTime);

}  // namespace platform::wnd
