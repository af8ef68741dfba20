#include "platform/profile.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace platform {
namespace {

std::u16string sectionKey(std::u16string_view section) {
  std::u16string path(kProfileKeyPath);
  path += u'\\';
  path += section;
  return path;
}

struct Listeners {
  std::mutex m;
  int nextId = 1;
  std::map<int, SettingChangeListener> byId;
};

Listeners& listeners() {
  static Listeners l;
  return l;
}

}  // namespace

bool writeProfileString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  RegKeyHandle k = nullptr;
  if (regCreateKeyEx(kHkeyCurrentUser, sectionKey(section), &k, nullptr) != kErrorSuccess) return false;
  std::u16string data(value);
  long rc = regSetValueEx(k, key, kRegSz, reinterpret_cast<const uint8_t*>(data.c_str()),
                          static_cast<uint32_t>((data.size() + 1) * sizeof(char16_t)));
  regCloseKey(k);
  return rc == kErrorSuccess;
}

std::optional<std::u16string> getProfileString(std::u16string_view section, std::u16string_view key) {
  RegKeyHandle k = nullptr;
  if (regOpenKeyEx(kHkeyCurrentUser, sectionKey(section), &k) != kErrorSuccess) return std::nullopt;
  uint32_t type = 0, size = 0;
  std::optional<std::u16string> result;
  if (regQueryValueEx(k, key, &type, nullptr, &size) == kErrorSuccess && type == kRegSz) {
    std::u16string data(size / sizeof(char16_t), u'\0');
    if (regQueryValueEx(k, key, &type, reinterpret_cast<uint8_t*>(data.data()), &size) == kErrorSuccess) {
      data.resize(size / sizeof(char16_t));
      while (!data.empty() && data.back() == u'\0') data.pop_back();
      result = std::move(data);
    }
  }
  regCloseKey(k);
  return result;
}

int addSettingChangeListener(SettingChangeListener listener) {
  Listeners& l = listeners();
  std::lock_guard lock(l.m);
  int id = l.nextId++;
  l.byId.emplace(id, std::move(listener));
  return id;
}

void removeSettingChangeListener(int id) {
  Listeners& l = listeners();
  std::lock_guard lock(l.m);
  l.byId.erase(id);
}

void broadcastSettingChange(std::u16string_view section) {
  // Call outside the lock, so that a listener may add or remove listeners.
  std::vector<SettingChangeListener> targets;
  {
    Listeners& l = listeners();
    std::lock_guard lock(l.m);
    for (auto& [id, fn] : l.byId) targets.push_back(fn);
  }
  for (auto& fn : targets) fn(section);
}

}  // namespace platform
