#include "exchange/tagged_frame.h"

namespace exchange {

std::optional<std::vector<uint8_t>> EncodeFrame(std::span<const uint8_t> data, uint8_t tag) {
  if (data.size() > kMaxFrameData) return std::nullopt;
  std::vector<uint8_t> frame;
  frame.reserve(kFrameHeaderSize + data.size());
  frame.push_back(tag);
  frame.push_back(static_cast<uint8_t>(data.size() >> 8));
  frame.push_back(static_cast<uint8_t>(data.size() & 0xFF));
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

bool IsKeepAlive(std::span<const uint8_t> data) { return !data.empty() && data[0] == kKeepAliveMarker; }

}  // namespace exchange
