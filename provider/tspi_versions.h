#pragma once
#include <cstdint>

namespace kvarsp {

// The TSPI versions the provider speaks.
constexpr uint32_t kTspiVersionLow = 0x10003;
constexpr uint32_t kTspiVersionHigh = 0x20000;

constexpr bool IsAcceptedTspiVersion(uint32_t version) {
  return version >= kTspiVersionLow && version <= kTspiVersionHigh;
}

}  // namespace kvarsp
