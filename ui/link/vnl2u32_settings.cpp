#include "ui/link/vnl2u32_settings.h"

#include <cstring>

#include "link/common/link_log.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace ui::link {

namespace {

// The link configuration key opened for reading, closed at the end of the scope.
class ConfigKey {
 public:
  ConfigKey() { platform::regOpenKeyExA(platform::kHkeyLocalMachine, kLinkConfigKey, &handle_); }
  ~ConfigKey() {
    if (handle_) platform::regCloseKey(handle_);
  }
  ConfigKey(const ConfigKey&) = delete;
  ConfigKey& operator=(const ConfigKey&) = delete;
  platform::RegKeyHandle get() const { return handle_; }

 private:
  platform::RegKeyHandle handle_ = nullptr;
};

// True when the value is a REG_DWORD other than 0.
bool switchOn(const ConfigKey& key, const char* name) {
  if (!key.get()) return false;
  uint32_t type = 0;
  uint8_t data[4] = {};
  uint32_t size = sizeof data;
  if (platform::regQueryValueExA(key.get(), name, &type, data, &size) != platform::kErrorSuccess) return false;
  return type == platform::kRegDword && size == sizeof data && (data[0] | data[1] | data[2] | data[3]) != 0;
}

// The stored Link text up to its first zero; empty when missing.
std::string storedLink(const ConfigKey& key) {
  if (!key.get()) return {};
  char data[256] = {};
  uint32_t type = 0;
  uint32_t size = sizeof data - 1;
  if (platform::regQueryValueExA(key.get(), "Link", &type, reinterpret_cast<uint8_t*>(data), &size) !=
      platform::kErrorSuccess)
    return {};
  return std::string(data, strnlen(data, size));
}

bool isDecimalOctet(std::string_view part) {
  if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
  int value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= 255;
}

}  // namespace

std::vector<std::string> OfferedLinks() {
  ConfigKey key;
  std::vector<std::string> links;
  if (!switchOn(key, "COMDisabled")) links = {"COM1", "COM2", "COM3", "COM4"};
  if (switchOn(key, "USBEnabled")) links.emplace_back("USB");
  if (switchOn(key, "LANEnabled")) links.emplace_back(kLanLinkName);
  return links;
}

void LoadDialogSettings(LinkConfig* config) {
  LoadConfiguration(config);
  ConfigKey key;
  const std::string stored = storedLink(key);
  if (stored.size() > kMaxLinkChars) {
    LinkLog(kLogWarning, "Vnl2ConfigDialog()- stored Link %s is longer than %zu characters, using %s\n\r",
            stored.c_str(), kMaxLinkChars, config->Link);
  }
}

void SetLinkFromText(LinkConfig* config, std::string_view text) {
  std::memset(config->Link, 0, sizeof config->Link);
  std::memcpy(config->Link, text.data(), text.size() < kMaxLinkChars ? text.size() : kMaxLinkChars);
}

bool IsDottedIpv4(std::string_view text) {
  for (int i = 0; i < 3; ++i) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos || !isDecimalOctet(text.substr(0, dot))) return false;
    text.remove_prefix(dot + 1);
  }
  return isDecimalOctet(text);
}

bool AdoptRouterAddress(LinkConfig* config, const char* buffer, size_t size) {
  const std::string answer(buffer, strnlen(buffer, size));
  if (answer.size() > kMaxAddressChars || !IsDottedIpv4(answer)) {
    LinkLog(kLogWarning, "Vnl2ConfigDialog()- gwprobe.dll returned no IP address (%.*s), keeping %s\n\r",
            static_cast<int>(answer.size() < 64 ? answer.size() : 64), answer.c_str(), config->TapiSvrIpAddr);
    return false;
  }
  std::memset(config->TapiSvrIpAddr, 0, sizeof config->TapiSvrIpAddr);
  std::memcpy(config->TapiSvrIpAddr, answer.data(), answer.size());
  return true;
}

}  // namespace ui::link
