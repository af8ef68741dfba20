#pragma once
// Hex helpers for protocol test vectors.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vnltest {

// "10 01 00 03" -> bytes; blanks are ignored.
inline std::vector<uint8_t> Bytes(std::string_view hex) {
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return bytes;
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace vnltest
