#pragma once
// The line table shared by the benchmarks and the soak: `lines` extensions
// with 16-bit line IDs 1000.. and addresses 2000.., as the provider's
// configuration (a .reg text for the registry) and as tksim's exchange
// configuration file.
#include <cstdint>
#include <string>

namespace benchlines {

constexpr uint32_t kFirstLineId = 1000;

// The address of extension index (0-based): "2000", "2001", ...
std::string Address(uint32_t index);
// The .reg text of provider providerId's line table.
std::string ProviderConfiguration(uint32_t lines, uint32_t providerId);
// tksim's configuration file with the same lines.
std::string ExchangeConfiguration(uint32_t lines);

}  // namespace benchlines
