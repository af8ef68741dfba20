#pragma once
// Small helpers for tests that use the registry store directly, and for
// tests that seed it from .reg text in one import.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
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

// REG_DWORD data of n (little-endian).
inline long setDword(platform::RegKeyHandle key, std::u16string_view name, uint32_t n) {
  return setValue(key, name, platform::kRegDword,
                  {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
}

// A value read whole through the W or the A function: the result of the
// second query, the type and the data (empty unless the read succeeded).
struct RegRead {
  long rc = -1;
  uint32_t type = 0;
  Bytes data;
};
template <typename Name>
RegRead regRead(platform::RegKeyHandle key, const Name& name) {
  auto q = [&](uint32_t* type, uint8_t* data, uint32_t* size) {
    if constexpr (std::is_convertible_v<const Name&, std::u16string_view>) {
      return platform::regQueryValueEx(key, name, type, data, size);
    } else {
      return platform::regQueryValueExA(key, name, type, data, size);
    }
  };
  RegRead r;
  uint32_t size = 0;
  r.rc = q(&r.type, nullptr, &size);
  if (r.rc != platform::kErrorSuccess) return r;
  r.data.resize(size);
  r.rc = q(&r.type, r.data.data(), &size);
  r.data.resize(r.rc == platform::kErrorSuccess ? size : 0);
  return r;
}
// The data of root\path's value name, empty when any of them is missing.
inline Bytes regData(platform::RegKeyHandle root, std::u16string_view path, std::u16string_view name,
                     uint32_t* type = nullptr) {
  Key k;
  if (platform::regOpenKeyEx(root, path, &k.h) != platform::kErrorSuccess) return {};
  RegRead r = regRead(k.h, name);
  if (type) *type = r.type;
  return r.data;
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

// --- .reg text ----------------------------------------------------------------

inline constexpr std::string_view kRegHeader = "Windows Registry Editor Version 5.00\n\n";
// The trace switches of the provider and the link.
inline constexpr std::string_view kRegLoggingKey = "[HKEY_LOCAL_MACHINE\\Software\\Marlix\\TSP\\Logging]\n";

// One value line: "\"name\"=dword:0000000a" and "\"name\"=\"text\"" (text as
// .reg text writes it: backslashes and quotes escaped by the caller).
inline std::string regDword(std::string_view name, uint32_t value) {
  char data[24];
  std::snprintf(data, sizeof data, "dword:%08x", value);
  return "\"" + std::string(name) + "\"=" + data + "\n";
}
inline std::string regSz(std::string_view name, std::string_view text) {
  return "\"" + std::string(name) + "\"=\"" + std::string(text) + "\"\n";
}

// The logging key with LogTapi and LogCTI, and LogPath when one is given.
inline std::string regLogging(uint32_t tapi, uint32_t cti, std::string_view logPath = {}) {
  return std::string(kRegLoggingKey) + regDword("LogTapi", tapi) + regDword("LogCTI", cti) +
         (logPath.empty() ? std::string() : regSz("LogPath", logPath));
}

// Imports keys and values (the text after the header line) into the store;
// a refusal fails with the store's message.
inline ::testing::AssertionResult regSeed(std::string_view body, const char* source = "seed.reg") {
  if (platform::regImport(std::string(kRegHeader) + std::string(body), source) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << source << ": " << platform::registryLastError();
}

}  // namespace tktest
