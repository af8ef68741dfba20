#include "platform/printable_text.h"

#include <cstdint>
#include <cstdio>

namespace platform {
namespace {

// Length of the valid UTF-8 sequence at the start of s and its code point;
// 0 when s does not start with one.
size_t decodeOne(std::string_view s, uint32_t* cp) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  uint8_t b0 = byte(0);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  size_t length = (b0 >= 0xC2 && b0 <= 0xDF) ? 2 : (b0 >= 0xE0 && b0 <= 0xEF) ? 3 : (b0 >= 0xF0 && b0 <= 0xF4) ? 4 : 0;
  if (length == 0 || s.size() < length) return 0;
  uint32_t value = b0 & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

}  // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char escape[12];
  while (!text.empty()) {
    uint32_t cp = 0;
    size_t length = decodeOne(text, &cp);
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<uint8_t>(text[0]));
      out += escape;
      text.remove_prefix(1);
      continue;
    }
    if (cp == '\t') {
      out += "\\t";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp < 0x20 || cp == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
      out += escape;
    } else if (cp >= 0x80 && cp <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
      out += escape;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace platform
