#pragma once
// The system's millisecond counter since boot, without TK_TICK_OFFSET: the
// part of the clock each backend supplies (clock.cpp adds the offset).
// Internal to the platform layer.
#include <cstdint>

namespace platform::internal {

uint32_t systemTickMs();

}  // namespace platform::internal
