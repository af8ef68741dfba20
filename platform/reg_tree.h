#pragma once
// The in-memory model of one registry root: a tree of keys, each with named
// values. Key and value names compare case-insensitively, as Windows does,
// and keep the case they were created with. Subkeys are kept sorted
// (case-insensitively), values in the order they were created.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct RegValue {
  std::u16string name;  // "" is the key's default value
  uint32_t type = 0;
  std::vector<uint8_t> data;

  bool operator==(const RegValue&) const = default;
};

struct RegKey {
  std::u16string name;
  std::vector<RegValue> values;  // in creation order
  std::vector<RegKey> subkeys;   // sorted case-insensitively by name

  const RegKey* findSubkey(std::u16string_view name) const;
  RegKey* findSubkey(std::u16string_view name);
  // The subkey of that name, created when missing (created reports which).
  RegKey& ensureSubkey(std::u16string_view name, bool* created = nullptr);
  bool removeSubkey(std::u16string_view name);

  const RegValue* findValue(std::u16string_view name) const;
  // Replaces the type and data of an existing value (keeping its name's
  // case and its place) or appends a new one.
  void setValue(std::u16string_view name, uint32_t type, std::vector<uint8_t> data);
  bool removeValue(std::u16string_view name);

  // Follows a path of subkey names; nullptr when a step is missing.
  const RegKey* find(const std::vector<std::u16string>& path) const;
  RegKey* find(const std::vector<std::u16string>& path);

  bool operator==(const RegKey&) const = default;
};

// Case-insensitive order of names: negative, zero or positive like strcmp.
int compareRegNames(std::u16string_view a, std::u16string_view b);
inline bool regNamesEqual(std::u16string_view a, std::u16string_view b) {
  return compareRegNames(a, b) == 0;
}

// Splits "Software\Vendor\Product" at backslashes. An empty path gives no
// components; false when a component is empty ("a\\b", "\a").
bool splitRegPath(std::u16string_view path, std::vector<std::u16string>* components);
std::u16string joinRegPath(const std::vector<std::u16string>& components);

// True when a name can be stored and written to a .reg file unchanged: no
// control characters and no unpaired UTF-16 surrogates.
bool isStorableRegName(std::u16string_view name);

// UTF-16 text as little-endian bytes and back. An odd trailing byte is ignored
// when decoding.
std::vector<uint8_t> utf16LeBytes(std::u16string_view text);
std::u16string utf16FromLeBytes(const uint8_t* data, size_t size);

}  // namespace platform
