#pragma once
// Hex test vectors for the link tests: "C50001F2" <-> bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tktest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

inline std::string ToHex(const uint8_t* data, size_t count) {
  std::string text(2 * count + 1, '\0');
  for (size_t i = 0; i < count; ++i) std::snprintf(&text[2 * i], 3, "%02X", data[i]);
  text.pop_back();
  return text;
}

}  // namespace tktest
