#pragma once
// Small text helpers shared by the platform's own files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::internal {

// Lower case for ASCII letters only, whatever the locale.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiLower(c);
  return out;
}

inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

inline bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A name of any characters as a file name: characters outside a safe set
// become %XX, so every name maps to one file. File names are limited to 255
// bytes; longer encoded names are cut and made unique again by a hash of the
// whole name.
inline std::string encodeFileName(std::string_view name) {
  constexpr size_t kMaxEncodedName = 200;
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool safe =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    if (safe && !(out.empty() && c == '.')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > kMaxEncodedName) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    out.resize(kMaxEncodedName - 17);
    out += '#';
    for (int shift = 60; shift >= 0; shift -= 4) out += hex[(hash >> shift) & 15];
  }
  return out;
}

}  // namespace platform::internal
