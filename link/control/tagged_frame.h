#pragma once
// The tagged frame of the LAN link, the same in both directions:
//   0xC5, n (16 bits, big-endian), n data bytes.
// A keep-alive frame is a tagged frame whose first data byte is 0xF2; the
// rest of it is opaque and goes back unchanged.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr uint8_t kTaggedFrameTag = 0xC5;
constexpr uint8_t kKeepAliveMarker = 0xF2;
constexpr size_t kTaggedFrameHeader = 3;
constexpr size_t kTaggedFrameMaxData = 0xFFFF;
// Every block received over the LAN belongs to the telephony service.
constexpr uint32_t kLanService = 0x20;

// The frame carrying data (at most kTaggedFrameMaxData bytes).
std::vector<uint8_t> BuildTaggedFrame(std::span<const uint8_t> data);

bool IsKeepAliveData(std::span<const uint8_t> data);
