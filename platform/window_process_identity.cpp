#include "platform/window_process_identity.h"

#include "platform/proc_stat_internal.h"

namespace platform::wnd {

std::optional<uint64_t> processStartTime(uint32_t processId) {
  auto stat = internal::readProcStat(processId);
  if (!stat || stat->ended()) return std::nullopt;
  return stat->startTime;
}

bool processIdentityAlive(uint32_t processId, uint64_t startTime) {
  auto actual = processStartTime(processId);
  return actual && *actual == startTime;
}

}  // namespace platform::wnd
