#include "provider/config_registry.h"

#include <cstdio>
#include <vector>

#include "platform/codepage.h"
#include "platform/reg_tree.h"
#include "platform/reg_types.h"
#include "platform/win_error.h"
#include "provider/line_config.h"
#include "provider/trace.h"

namespace kvarsp {
namespace {

using platform::RegKeyHandle;

// A value that changes size between the size query and the read is asked
// for again, a few times at most.
constexpr int kReadAttempts = 4;

RegKeyHandle createKey(RegKeyHandle parent, std::string_view path, long* rc) {
  RegKeyHandle key = nullptr;
  *rc = platform::regCreateKeyEx(parent, platform::utf8ToWide(path), &key, nullptr);
  return *rc == platform::kErrorSuccess ? key : nullptr;
}

// The text of REG_SZ data: whole characters only, up to the first zero.
std::u16string textOfStringData(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == u'\0') break;
    text.push_back(c);
  }
  return text;
}

}  // namespace

std::string ProviderSubkeyName(uint32_t permanentProviderId) {
  char name[32];
  std::snprintf(name, sizeof name, "Provider%ld", static_cast<long>(static_cast<int32_t>(permanentProviderId)));
  return name;
}

ConfigKey ConfigKey::Provider(uint32_t permanentProviderId) { return ConfigKey(Which::Provider, permanentProviderId); }
ConfigKey ConfigKey::User() { return ConfigKey(Which::User, 0); }

void ConfigKey::TraceError(Call call, std::string_view name, long code) const {
  std::string text(name);
  switch (call) {
    case Call::CreateKey:
      traceTapi("Error in RegCreateKeyEx( \"%s\" ): %ld", text.c_str(), code);
      break;
    case Call::QueryValue:
      traceTapi("Error in RegQueryValueEx( \"%s\" ): %ld", text.c_str(), code);
      break;
    case Call::SetValue:
      traceTapi("Error in RegSetValueEx( \"%s\" ): %ld", text.c_str(), code);
      break;
  }
}

RegKeyHandle ConfigKey::Open() const {
  long rc = 0;
  switch (which_) {
    case Which::Provider: {
      RegKeyHandle telephony = createKey(platform::kHkeyLocalMachine, kTelephonyKeyPath, &rc);
      if (!telephony) {
        TraceError(Call::CreateKey, kTelephonyKeyPath, rc);
        return nullptr;
      }
      std::string subkey = ProviderSubkeyName(providerId_);
      RegKeyHandle provider = createKey(telephony, subkey, &rc);
      platform::regCloseKey(telephony);
      if (!provider) TraceError(Call::CreateKey, subkey, rc);
      return provider;
    }
    case Which::User: {
      RegKeyHandle key = createKey(platform::kHkeyCurrentUser, kUserKeyPath, &rc);
      if (!key) TraceError(Call::CreateKey, kUserKeyPath, rc);
      return key;
    }
  }
  return nullptr;
}

uint32_t ConfigKey::ReadDword(std::string_view name, uint32_t defaultValue) const {
  RegKeyHandle key = Open();
  if (!key) return defaultValue;
  uint32_t type = 0;
  uint8_t data[4] = {};
  uint32_t size = sizeof data;
  long rc = platform::regQueryValueEx(key, platform::utf8ToWide(name), &type, data, &size);
  platform::regCloseKey(key);
  if (rc == platform::kErrorFileNotFound) return defaultValue;
  if (rc == platform::kErrorSuccess && (type != platform::kRegDword || size != sizeof data)) rc = kWrongValueTypeError;
  if (rc != platform::kErrorSuccess) {
    TraceError(Call::QueryValue, name, rc);
    return defaultValue;
  }
  return uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24;
}

int32_t ConfigKey::ReadSignedDword(std::string_view name, int32_t defaultValue) const {
  return static_cast<int32_t>(ReadDword(name, static_cast<uint32_t>(defaultValue)));
}

std::u16string ConfigKey::ReadString(std::string_view name, std::u16string_view defaultValue,
                                     size_t capacityChars) const {
  if (capacityChars == 0) return {};
  const size_t maxChars = capacityChars - 1;
  std::u16string result = CutText(defaultValue, maxChars);
  RegKeyHandle key = Open();
  if (!key) return result;

  std::u16string wideName = platform::utf8ToWide(name);
  std::vector<uint8_t> data;
  uint32_t type = 0;
  long rc = platform::kErrorMoreData;
  for (int attempt = 0; attempt < kReadAttempts && rc == platform::kErrorMoreData; ++attempt) {
    uint32_t size = 0;
    rc = platform::regQueryValueEx(key, wideName, &type, nullptr, &size);
    if (rc != platform::kErrorSuccess || type != platform::kRegSz || size == 0) {
      data.clear();
      break;
    }
    data.resize(size);
    rc = platform::regQueryValueEx(key, wideName, &type, data.data(), &size);
    if (rc == platform::kErrorSuccess) data.resize(size);
  }
  platform::regCloseKey(key);

  if (rc == platform::kErrorFileNotFound) return result;
  if (rc == platform::kErrorSuccess && type != platform::kRegSz) rc = kWrongValueTypeError;
  if (rc != platform::kErrorSuccess) {
    TraceError(Call::QueryValue, name, rc);
    return result;
  }
  return CutText(textOfStringData(data), maxChars);
}

bool ConfigKey::WriteDword(std::string_view name, uint32_t value) const {
  RegKeyHandle key = Open();
  if (!key) return false;
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  long rc = platform::regSetValueEx(key, platform::utf8ToWide(name), platform::kRegDword, data, sizeof data);
  platform::regCloseKey(key);
  if (rc != platform::kErrorSuccess) TraceError(Call::SetValue, name, rc);
  return rc == platform::kErrorSuccess;
}

bool ConfigKey::WriteString(std::string_view name, std::u16string_view value) const {
  RegKeyHandle key = Open();
  if (!key) return false;
  std::u16string text(value.substr(0, value.find(u'\0')));
  std::vector<uint8_t> data = platform::utf16LeBytes(std::u16string_view(text.c_str(), text.size() + 1));
  long rc = platform::regSetValueEx(key, platform::utf8ToWide(name), platform::kRegSz, data.data(),
                                    static_cast<uint32_t>(data.size()));
  platform::regCloseKey(key);
  if (rc != platform::kErrorSuccess) TraceError(Call::SetValue, name, rc);
  return rc == platform::kErrorSuccess;
}

}  // namespace kvarsp
