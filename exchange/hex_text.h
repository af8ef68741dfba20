#pragma once
// Bytes as hex text for the command interface and the event lines: two
// lowercase digits per byte, no separators. Parsing accepts either case and
// blanks or colons between the digit pairs.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

std::string ToHex(std::span<const uint8_t> bytes);

// nullopt when a character is not a hex digit or separator, or a pair is
// incomplete. Empty text gives an empty block.
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);

}  // namespace exchange
