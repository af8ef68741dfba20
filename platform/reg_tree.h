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

// Limits of names and paths, as Windows has them, in UTF-16 units. Every way
// into the store (the registry functions, .reg text, documents built by
// programs) refuses what lies beyond them, so no tree deeper than
// kMaxRegKeyDepth is ever built and the recursive walks over a tree (the
// destructor, comparison, the .reg writer) stay shallow. The path limit also
// bounds the .reg text, in which every key repeats its whole path.
constexpr size_t kMaxRegKeyNameLength = 255;
constexpr size_t kMaxRegValueNameLength = 16383;
constexpr size_t kMaxRegKeyDepth = 512;         // key names below the root
constexpr size_t kMaxRegKeyPathLength = 32767;  // the path below the root, backslashes included

// Which names a check lets through.
enum class RegNames {
  // Names that may be created: no control characters, no unpaired
  // surrogates (isStorableRegName).
  Storable,
  // Names that may already be in a store file, to be found, kept and
  // deleted: earlier versions imported names with control characters, and
  // refusing them would make the whole file unreadable. Only what .reg text
  // cannot carry unchanged (a line break, an unpaired surrogate) is refused.
  Existing,
};

// Splits a key path below a root ("Software\Vendor") into its names and
// checks it against the limits and the rule of names. Returns what is wrong
// in words, for a message ("the key path is 600 levels deep; at most 512 are
// allowed"), or "" when nothing is; components then holds the names. The
// length is checked before the path is split, so a huge path costs little.
std::string splitRegKeyPath(std::u16string_view path, RegNames names, std::vector<std::u16string>* components);
// The same checks for a path already split (a document a program built):
// also refuses a name with a backslash in it, which would read back as two.
std::string regKeyPathProblem(const std::vector<std::u16string>& path, RegNames names);
// What is wrong with a value name; "" when nothing is.
std::string regValueNameProblem(std::u16string_view name, RegNames names);

// UTF-16 text as little-endian bytes and back. An odd trailing byte is ignored
// when decoding.
std::vector<uint8_t> utf16LeBytes(std::u16string_view text);
std::u16string utf16FromLeBytes(const uint8_t* data, size_t size);

}  // namespace platform
