#pragma once
// The tagged frame of the LAN link, the same in both directions: one tag
// byte (0xC5 for data), the data length as a big-endian 16-bit number, then
// the data. A data frame whose first data byte is 0xF2 is a keep-alive; the
// rest of its content is opaque and comes back unchanged as the echo.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace exchange {

inline constexpr uint8_t kDataTag = 0xC5;
inline constexpr uint8_t kKeepAliveMarker = 0xF2;
inline constexpr size_t kFrameHeaderSize = 3;
inline constexpr size_t kMaxFrameData = 0xFFFF;

// Tag, length high byte, length low byte, data; nullopt when the data does
// not fit the 16-bit length.
std::optional<std::vector<uint8_t>> EncodeFrame(std::span<const uint8_t> data, uint8_t tag = kDataTag);

// True for the data of a keep-alive frame (or of its echo).
bool IsKeepAlive(std::span<const uint8_t> data);

}  // namespace exchange
