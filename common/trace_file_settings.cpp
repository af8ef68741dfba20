#include "common/trace_file_settings.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/registry_generation.h"
#include "platform/win_error.h"

namespace {

// A value that changes size between the size query and the read is asked
// for again, a few times at most.
constexpr int kReadAttempts = 4;

// The open settings key, closed at the end of the scope; null when missing.
class SettingsKey {
 public:
  SettingsKey() {
    if (platform::regOpenKeyEx(platform::kHkeyLocalMachine, kTraceSettingsKeyPath, &key_) != platform::kErrorSuccess)
      key_ = nullptr;
  }
  ~SettingsKey() {
    if (key_) platform::regCloseKey(key_);
  }
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  platform::RegKeyHandle get() const { return key_; }

 private:
  platform::RegKeyHandle key_ = nullptr;
};

const char16_t* SwitchName(TraceFile file) { return file == TraceFile::Tapi ? u"LogTapi" : u"LogCTI"; }

// The bytes of a REG_SZ value; empty when missing, unreadable or of another type.
std::vector<uint8_t> ReadStringData(platform::RegKeyHandle key, std::u16string_view name) {
  std::vector<uint8_t> data;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    uint32_t type = 0, size = 0;
    if (platform::regQueryValueEx(key, name, &type, nullptr, &size) != platform::kErrorSuccess ||
        type != platform::kRegSz || size == 0)
      return {};
    data.resize(size);
    long rc = platform::regQueryValueEx(key, name, &type, data.data(), &size);
    if (rc == platform::kErrorMoreData) continue;
    if (rc != platform::kErrorSuccess || type != platform::kRegSz) return {};
    data.resize(size);
    return data;
  }
  return {};
}

bool ReadSwitch(TraceFile file) {
  SettingsKey key;
  if (!key.get()) return false;
  uint32_t type = 0;
  uint8_t data[4] = {};
  uint32_t size = sizeof data;
  if (platform::regQueryValueEx(key.get(), SwitchName(file), &type, data, &size) != platform::kErrorSuccess)
    return false;
  if (type != platform::kRegDword || size != sizeof data) return false;
  return (data[0] | data[1] | data[2] | data[3]) != 0;
}

std::u16string ReadFolder() {
  SettingsKey key;
  if (!key.get()) return {};
  std::vector<uint8_t> data = ReadStringData(key.get(), u"LogPath");
  std::u16string folder;
  for (size_t i = 0; i + 1 < data.size() && folder.size() < kTraceFolderMaxChars; i += 2) {
    auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == u'\0') break;
    folder.push_back(c);
  }
  return folder;
}

std::atomic<const platform::Clock*> g_clock{nullptr};

// The values read, each read again on first use after a change. One copy
// per process under a lock, not per thread: the provider is a plug-in, and a
// thread_local object with a destructor would keep it from being unloaded
// while the threads that traced live on.
struct CachedSettings {
  std::mutex lock;
  platform::RegistryChangeWatch watch{platform::RegRoot::LocalMachine};
  std::optional<bool> switches[2];
  std::optional<std::u16string> folder;
  ~CachedSettings() { gone = true; }
  // Set once the object is destroyed: code that traces from a static
  // object's destructor later reads the registry directly.
  static inline bool gone = false;
};

CachedSettings& Settings() {
  static CachedSettings settings;
  return settings;
}

// Drops the values when the registry may have changed; called with the lock held.
void Refresh(CachedSettings& settings) {
  const platform::Clock* clock = g_clock.load();
  if (settings.watch.changed(clock ? *clock : platform::systemClock())) {
    settings.switches[0].reset();
    settings.switches[1].reset();
    settings.folder.reset();
  }
}

}  // namespace

void SetTraceSettingsClock(const platform::Clock* clock) { g_clock.store(clock); }

const char* TraceFileName(TraceFile file) { return file == TraceFile::Tapi ? "KVARTAPI.LOG" : "KVARVNL.LOG"; }

bool TraceSwitchOn(TraceFile file) {
  if (CachedSettings::gone) return ReadSwitch(file);
  CachedSettings& settings = Settings();
  std::lock_guard hold(settings.lock);
  Refresh(settings);
  std::optional<bool>& on = settings.switches[file == TraceFile::Tapi ? 0 : 1];
  if (!on) on = ReadSwitch(file);
  return *on;
}

std::u16string TraceFolder() {
  if (CachedSettings::gone) return ReadFolder();
  CachedSettings& settings = Settings();
  std::lock_guard hold(settings.lock);
  Refresh(settings);
  if (!settings.folder) settings.folder = ReadFolder();
  return *settings.folder;
}
