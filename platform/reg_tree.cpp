#include "platform/reg_tree.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/printable_text.h"

namespace platform {
namespace {

// Upper-cases the letters of the scripts names are written in here (Latin,
// Greek, Cyrillic), which is how the names compare.
char16_t foldRegChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: upper and lower case alternate in pairs.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return static_cast<char16_t>(c & ~1u);
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if ((c >= 0x3B1 && c <= 0x3C9) || (c >= 0x430 && c <= 0x44F)) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

template <typename Values>
auto findValueIn(Values& values, std::u16string_view name) {
  return std::find_if(values.begin(), values.end(),
                      [&](const RegValue& v) { return regNamesEqual(v.name, name); });
}

// The first subkey not ordered before name.
template <typename Keys>
auto lowerBound(Keys& keys, std::u16string_view name) {
  return std::lower_bound(keys.begin(), keys.end(), name, [](const RegKey& k, std::u16string_view n) {
    return compareRegNames(k.name, n) < 0;
  });
}

}  // namespace

int compareRegNames(std::u16string_view a, std::u16string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = foldRegChar(a[i]);
    char16_t y = foldRegChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

const RegKey* RegKey::findSubkey(std::u16string_view n) const {
  auto it = lowerBound(subkeys, n);
  return (it != subkeys.end() && regNamesEqual(it->name, n)) ? &*it : nullptr;
}

RegKey* RegKey::findSubkey(std::u16string_view n) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->findSubkey(n));
}

RegKey& RegKey::ensureSubkey(std::u16string_view n, bool* created) {
  auto it = lowerBound(subkeys, n);
  bool missing = it == subkeys.end() || !regNamesEqual(it->name, n);
  if (created) *created = missing;
  if (!missing) return *it;
  RegKey key;
  key.name = std::u16string(n);
  return *subkeys.insert(it, std::move(key));
}

bool RegKey::removeSubkey(std::u16string_view n) {
  auto it = lowerBound(subkeys, n);
  if (it == subkeys.end() || !regNamesEqual(it->name, n)) return false;
  subkeys.erase(it);
  return true;
}

const RegValue* RegKey::findValue(std::u16string_view n) const {
  auto it = findValueIn(values, n);
  return it == values.end() ? nullptr : &*it;
}

void RegKey::setValue(std::u16string_view n, uint32_t type, std::vector<uint8_t> data) {
  auto it = findValueIn(values, n);
  if (it == values.end()) {
    values.push_back(RegValue{std::u16string(n), type, std::move(data)});
  } else {
    it->type = type;
    it->data = std::move(data);
  }
}

bool RegKey::removeValue(std::u16string_view n) {
  auto it = findValueIn(values, n);
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

const RegKey* RegKey::find(const std::vector<std::u16string>& path) const {
  const RegKey* key = this;
  for (const auto& component : path) {
    key = key->findSubkey(component);
    if (!key) return nullptr;
  }
  return key;
}

RegKey* RegKey::find(const std::vector<std::u16string>& path) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->find(path));
}

bool splitRegPath(std::u16string_view path, std::vector<std::u16string>* components) {
  components->clear();
  if (path.empty()) return true;
  size_t start = 0;
  while (true) {
    size_t end = path.find(u'\\', start);
    std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (part.empty()) return false;
    components->emplace_back(part);
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

std::u16string joinRegPath(const std::vector<std::u16string>& components) {
  std::u16string path;
  for (const auto& c : components) {
    if (!path.empty()) path += u'\\';
    path += c;
  }
  return path;
}

namespace {

// A name as a message shows it: quoted, safe for a terminal, and cut short
// when long.
std::string shownName(std::u16string_view name) {
  constexpr size_t kShown = 40;
  bool cut = name.size() > kShown;
  if (cut) {
    name = name.substr(0, kShown);
    if (isHighSurrogate(name.back())) name.remove_suffix(1);
  }
  return "\"" + printableText(wideToUtf8(name)) + (cut ? "...\"" : "\"");
}

// What is wrong with the characters of a name under the rule; nullptr when nothing is.
const char* characterProblem(std::u16string_view name, RegNames names) {
  for (size_t i = 0; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c == u'\n') return "holds a line break";
    if (names == RegNames::Storable && (c < 0x20 || c == 0x7F)) return "holds a control character";
    if (isHighSurrogate(c) && i + 1 < name.size() && isLowSurrogate(name[i + 1])) {
      ++i;
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      return "holds an unpaired UTF-16 surrogate";
    }
  }
  return nullptr;
}

}  // namespace

bool isStorableRegName(std::u16string_view name) { return characterProblem(name, RegNames::Storable) == nullptr; }

namespace {

std::string keyNameProblem(std::u16string_view name, RegNames names) {
  if (name.empty()) return "the key path has an empty key name";
  if (name.size() > kMaxRegKeyNameLength) {
    return "the key name " + shownName(name) + " is " + std::to_string(name.size()) +
           " characters long; at most " + std::to_string(kMaxRegKeyNameLength) + " are allowed";
  }
  if (name.find(u'\\') != std::u16string_view::npos) {
    return "the key name " + shownName(name) + " holds a backslash, which separates key names";
  }
  if (const char* problem = characterProblem(name, names)) return "the key name " + shownName(name) + " " + problem;
  return {};
}

std::string pathLengthProblem(size_t length) {
  return "the key path is " + std::to_string(length) + " characters long; at most " +
         std::to_string(kMaxRegKeyPathLength) + " are allowed";
}

std::string depthProblem(size_t depth) {
  return "the key path is " + std::to_string(depth) + " levels deep; at most " + std::to_string(kMaxRegKeyDepth) +
         " are allowed";
}

}  // namespace

std::string splitRegKeyPath(std::u16string_view path, RegNames names, std::vector<std::u16string>* components) {
  components->clear();
  if (path.size() > kMaxRegKeyPathLength) return pathLengthProblem(path.size());
  if (path.empty()) return {};
  size_t depth = 1 + static_cast<size_t>(std::count(path.begin(), path.end(), u'\\'));
  if (depth > kMaxRegKeyDepth) return depthProblem(depth);
  if (!splitRegPath(path, components)) {
    components->clear();
    return "the key path " + shownName(path) + " has an empty key name";
  }
  for (const auto& name : *components) {
    if (std::string problem = keyNameProblem(name, names); !problem.empty()) {
      components->clear();
      return problem;
    }
  }
  return {};
}

std::string regKeyPathProblem(const std::vector<std::u16string>& path, RegNames names) {
  if (path.size() > kMaxRegKeyDepth) return depthProblem(path.size());
  size_t length = path.empty() ? 0 : path.size() - 1;
  for (const auto& name : path) length += name.size();
  if (length > kMaxRegKeyPathLength) return pathLengthProblem(length);
  for (const auto& name : path) {
    if (std::string problem = keyNameProblem(name, names); !problem.empty()) return problem;
  }
  return {};
}

std::string regValueNameProblem(std::u16string_view name, RegNames names) {
  if (name.size() > kMaxRegValueNameLength) {
    return "the value name " + shownName(name) + " is " + std::to_string(name.size()) +
           " characters long; at most " + std::to_string(kMaxRegValueNameLength) + " are allowed";
  }
  if (const char* problem = characterProblem(name, names)) return "the value name " + shownName(name) + " " + problem;
  return {};
}

std::vector<uint8_t> utf16LeBytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

std::u16string utf16FromLeBytes(const uint8_t* data, size_t size) {
  std::u16string text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  return text;
}

}  // namespace platform
