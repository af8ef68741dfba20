#pragma once
// Small text helpers shared by the platform's own files.
#include <cctype>
#include <string>
#include <string_view>

namespace platform::internal {

inline std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

inline bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace platform::internal
