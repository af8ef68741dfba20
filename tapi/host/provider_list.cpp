#include "tapi/host/provider_list.h"

#include <limits>

#include "platform/codepage.h"
#include "platform/named_mutex.h"
#include "platform/reg_tree.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace tapihost {
namespace {

using platform::RegKeyHandle;

// Serialises every change of the list across the processes of one root, so
// two installations at once cannot hand out the same ID or lose an entry.
constexpr char kListMutexName[] = "tapihost provider list";
constexpr uint32_t kListLockTimeoutMs = 10000;

// A value that changes size between the size query and the read is asked
// for again, a few times at most.
constexpr int kReadAttempts = 4;

constexpr char16_t kNumProviders[] = u"NumProviders";
constexpr char16_t kNextProviderId[] = u"NextProviderID";

std::u16string idName(uint32_t index) { return u"ProviderID" + platform::utf8ToWide(std::to_string(index)); }
std::u16string fileName(uint32_t index) { return u"ProviderFilename" + platform::utf8ToWide(std::to_string(index)); }

struct Key {
  RegKeyHandle h = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h) platform::regCloseKey(h);
  }
};

class ListLock {
 public:
  ListLock() : mutex_(kListMutexName) {
    auto r = mutex_.lock(kListLockTimeoutMs);
    held_ = r == platform::NamedMutex::LockResult::Acquired || r == platform::NamedMutex::LockResult::Abandoned;
  }
  ~ListLock() {
    if (held_) mutex_.unlock();
  }
  bool held() const { return held_; }

 private:
  platform::NamedMutex mutex_;
  bool held_ = false;
};

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

void appendError(std::string* error, const std::string& text) {
  if (!error) return;
  if (!error->empty()) *error += "; ";
  *error += text;
}

std::string storeError(long rc) { return "error " + std::to_string(rc); }

// Any value, byte for byte.
long readValue(RegKeyHandle key, std::u16string_view name, uint32_t* type, std::vector<uint8_t>* data) {
  long rc = platform::kErrorMoreData;
  for (int attempt = 0; attempt < kReadAttempts && rc == platform::kErrorMoreData; ++attempt) {
    uint32_t size = 0;
    rc = platform::regQueryValueEx(key, name, type, nullptr, &size);
    if (rc != platform::kErrorSuccess) return rc;
    data->resize(size);
    if (size == 0) return rc;
    rc = platform::regQueryValueEx(key, name, type, data->data(), &size);
    if (rc == platform::kErrorSuccess) data->resize(size);
  }
  return rc;
}

// kErrorInvalidData when the value is not a REG_DWORD.
long readDword(RegKeyHandle key, std::u16string_view name, uint32_t* value) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  long rc = readValue(key, name, &type, &data);
  if (rc != platform::kErrorSuccess) return rc;
  if (type != platform::kRegDword || data.size() != 4) return platform::kErrorInvalidData;
  *value = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24;
  return rc;
}

// The text up to the first zero, as UTF-8; kErrorInvalidData when the value
// is not a REG_SZ or holds no text.
long readText(RegKeyHandle key, std::u16string_view name, std::string* value) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  long rc = readValue(key, name, &type, &data);
  if (rc != platform::kErrorSuccess) return rc;
  if (type != platform::kRegSz) return platform::kErrorInvalidData;
  std::u16string text = platform::utf16FromLeBytes(data.data(), data.size());
  text = text.substr(0, text.find(u'\0'));
  if (text.empty()) return platform::kErrorInvalidData;
  *value = platform::wideToUtf8(text);
  return rc;
}

long writeDword(RegKeyHandle key, std::u16string_view name, uint32_t value) {
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return platform::regSetValueEx(key, name, platform::kRegDword, data, sizeof data);
}

long writeText(RegKeyHandle key, std::u16string_view name, std::string_view utf8) {
  std::u16string text = platform::utf8ToWide(utf8);
  std::vector<uint8_t> data = platform::utf16LeBytes(std::u16string_view(text.c_str(), text.size() + 1));
  return platform::regSetValueEx(key, name, platform::kRegSz, data.data(), static_cast<uint32_t>(data.size()));
}

// Makes value `to` a copy of value `from`, or removes it when `from` is missing.
long moveValue(RegKeyHandle key, std::u16string_view from, std::u16string_view to) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  long rc = readValue(key, from, &type, &data);
  if (rc == platform::kErrorFileNotFound) {
    rc = platform::regDeleteValue(key, to);
    return rc == platform::kErrorFileNotFound ? platform::kErrorSuccess : rc;
  }
  if (rc != platform::kErrorSuccess) return rc;
  return platform::regSetValueEx(key, to, type, data.data(), static_cast<uint32_t>(data.size()));
}

std::string describeProblem(std::u16string_view name, long rc) {
  std::string text = platform::wideToUtf8(name);
  if (rc == platform::kErrorFileNotFound) return text + " is missing";
  if (rc == platform::kErrorInvalidData) return text + " has the wrong type or no data";
  return text + " cannot be read (" + storeError(rc) + ")";
}

// "NumProviders" of an open list key: 0 when missing, at most kMaxProviders.
long readCount(RegKeyHandle key, uint32_t* count, std::string* error) {
  long rc = readDword(key, kNumProviders, count);
  if (rc == platform::kErrorFileNotFound) {
    *count = 0;
    return platform::kErrorSuccess;
  }
  if (rc != platform::kErrorSuccess) {
    appendError(error, describeProblem(kNumProviders, rc));
    return rc;
  }
  if (*count > kMaxProviders) {
    appendError(error, "NumProviders is " + std::to_string(*count) + ", only the first " +
                           std::to_string(kMaxProviders) + " entries are read");
    *count = kMaxProviders;
  }
  return rc;
}

}  // namespace

std::vector<ProviderListEntry> ReadProviderList(std::string* error) {
  setError(error, {});
  std::vector<ProviderListEntry> list;
  Key key;
  long rc = platform::regOpenKeyEx(platform::kHkeyLocalMachine, kProviderListKeyPath, &key.h);
  if (rc == platform::kErrorFileNotFound) return list;
  if (rc != platform::kErrorSuccess) {
    setError(error, "the provider list cannot be opened (" + storeError(rc) + ")");
    return list;
  }
  uint32_t count = 0;
  if (readCount(key.h, &count, error) != platform::kErrorSuccess) return list;
  for (uint32_t i = 0; i < count; ++i) {
    ProviderListEntry entry;
    long idRc = readDword(key.h, idName(i), &entry.permanentProviderId);
    long fileRc = readText(key.h, fileName(i), &entry.filename);
    if (idRc == platform::kErrorSuccess && fileRc == platform::kErrorSuccess) {
      list.push_back(std::move(entry));
      continue;
    }
    const std::string leftOut = "entry " + std::to_string(i) + " left out: ";
    if (idRc != platform::kErrorSuccess) appendError(error, leftOut + describeProblem(idName(i), idRc));
    if (fileRc != platform::kErrorSuccess) appendError(error, leftOut + describeProblem(fileName(i), fileRc));
  }
  return list;
}

uint32_t AddProvider(std::string_view filename, std::string* error) {
  setError(error, {});
  if (filename.empty() || filename.find('\0') != std::string_view::npos) {
    setError(error, "a provider needs a file name without zero characters");
    return 0;
  }
  ListLock lock;
  if (!lock.held()) {
    setError(error, "the provider list is locked by another process");
    return 0;
  }
  Key key;
  long rc = platform::regCreateKeyEx(platform::kHkeyLocalMachine, kProviderListKeyPath, &key.h, nullptr);
  if (rc != platform::kErrorSuccess) {
    setError(error, "the provider list cannot be created (" + storeError(rc) + ")");
    return 0;
  }
  uint32_t count = 0;
  std::string countProblem;
  if (readCount(key.h, &count, &countProblem) != platform::kErrorSuccess || !countProblem.empty()) {
    setError(error, countProblem.empty() ? std::string("NumProviders cannot be read") : countProblem);
    return 0;
  }
  if (count >= kMaxProviders) {
    setError(error, "the provider list is full");
    return 0;
  }

  uint32_t id = 0;
  if (readDword(key.h, kNextProviderId, &id) != platform::kErrorSuccess || id == 0) id = 1;
  // Never hand out an ID that is already listed, whatever "NextProviderID" says.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t listed = 0;
    if (readDword(key.h, idName(i), &listed) != platform::kErrorSuccess || listed < id) continue;
    if (listed == std::numeric_limits<uint32_t>::max()) {
      setError(error, "no permanent provider ID is left");
      return 0;
    }
    id = listed + 1;
  }

  // The entry first, then the count: an interrupted change leaves at most
  // unlisted values behind, never a listed entry without its values.
  auto written = [&](std::u16string_view name, long result) {
    if (result != platform::kErrorSuccess) {
      setError(error, platform::wideToUtf8(name) + " cannot be written (" + storeError(result) + ")");
    }
    return result == platform::kErrorSuccess;
  };
  if (!written(idName(count), writeDword(key.h, idName(count), id)) ||
      !written(fileName(count), writeText(key.h, fileName(count), filename)) ||
      !written(kNumProviders, writeDword(key.h, kNumProviders, count + 1)) ||
      !written(kNextProviderId, writeDword(key.h, kNextProviderId, id + 1))) {
    return 0;
  }
  return id;
}

bool RemoveProvider(uint32_t permanentProviderId, std::string* error) {
  setError(error, {});
  ListLock lock;
  if (!lock.held()) {
    setError(error, "the provider list is locked by another process");
    return false;
  }
  Key key;
  long rc = platform::regOpenKeyEx(platform::kHkeyLocalMachine, kProviderListKeyPath, &key.h);
  if (rc != platform::kErrorSuccess) {
    setError(error, rc == platform::kErrorFileNotFound ? std::string("no provider is installed")
                                                       : "the provider list cannot be opened (" + storeError(rc) + ")");
    return false;
  }
  uint32_t count = 0;
  std::string countProblem;
  if (readCount(key.h, &count, &countProblem) != platform::kErrorSuccess || !countProblem.empty()) {
    setError(error, countProblem.empty() ? std::string("NumProviders cannot be read") : countProblem);
    return false;
  }
  uint32_t index = count;
  for (uint32_t i = 0; i < count && index == count; ++i) {
    uint32_t listed = 0;
    if (readDword(key.h, idName(i), &listed) == platform::kErrorSuccess && listed == permanentProviderId) index = i;
  }
  if (index == count) {
    setError(error, "no provider with the permanent provider ID " + std::to_string(permanentProviderId));
    return false;
  }

  // Move the later entries down, then shorten the list, then drop the last
  // values: an interrupted change leaves at worst the last entry twice.
  for (uint32_t i = index; i + 1 < count; ++i) {
    for (auto name : {&idName, &fileName}) {
      rc = moveValue(key.h, name(i + 1), name(i));
      if (rc != platform::kErrorSuccess) {
        setError(error, platform::wideToUtf8(name(i)) + " cannot be written (" + storeError(rc) + ")");
        return false;
      }
    }
  }
  rc = writeDword(key.h, kNumProviders, count - 1);
  if (rc != platform::kErrorSuccess) {
    setError(error, "NumProviders cannot be written (" + storeError(rc) + ")");
    return false;
  }
  platform::regDeleteValue(key.h, idName(count - 1));
  platform::regDeleteValue(key.h, fileName(count - 1));
  return true;
}

}  // namespace tapihost
