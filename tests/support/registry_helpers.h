#pragma once
// Small helpers for tests that use the registry store directly.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_tree.h"
#include "platform/registry.h"

namespace tktest {

using Bytes = std::vector<uint8_t>;

// An open key, closed at the end of the scope.
struct Key {
  platform::RegKeyHandle h = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  ~Key() {
    if (h) platform::regCloseKey(h);
  }
};

// UTF-16LE bytes of text with its terminating zero, as REG_SZ data.
inline Bytes utf16z(std::u16string_view text) {
  std::u16string withZero(text);
  withZero += u'\0';
  return platform::utf16LeBytes(withZero);
}

inline long setValue(platform::RegKeyHandle key, std::u16string_view name, uint32_t type, const Bytes& data) {
  return platform::regSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

// "d\d\...": a key path of depth names, std::string or std::u16string, for
// the tests of the depth limit.
template <typename Text = std::string>
Text regPathOfDepth(size_t depth) {
  Text path(1, 'd');
  for (size_t i = 1; i < depth; ++i) {
    path += '\\';
    path += 'd';
  }
  return path;
}

// Sets REG_SZ data of exactly these Windows-1252 bytes through the A function.
inline long setAnsiSz(platform::RegKeyHandle key, const char* name, std::string_view data) {
  return platform::regSetValueExA(key, name, platform::kRegSz, reinterpret_cast<const uint8_t*>(data.data()),
                                  static_cast<uint32_t>(data.size()));
}

}  // namespace tktest
