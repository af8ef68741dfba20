#include "link/control/tagged_frame.h"

std::vector<uint8_t> BuildTaggedFrame(std::span<const uint8_t> data) {
  std::vector<uint8_t> frame;
  frame.reserve(kTaggedFrameHeader + data.size());
  frame.push_back(kTaggedFrameTag);
  frame.push_back(static_cast<uint8_t>(data.size() >> 8));
  frame.push_back(static_cast<uint8_t>(data.size()));
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

bool IsKeepAliveData(std::span<const uint8_t> data) { return !data.empty() && data[0] == kKeepAliveMarker; }
