#include "link/common/link_config.h"

#include <cstring>
#include <string>

#include "link/common/link_log.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace {

using platform::RegKeyHandle;

constexpr char kDefaultSerialLink[] = "COM2";
constexpr char kUsbLink[] = "USB";
constexpr char kDefaultLinkSpeed[] = "9600";
constexpr char kDefaultIpAddr[] = "192.168.1.250";
constexpr uint32_t kDefaultIpPort = 5002;
constexpr uint32_t kDefaultKeepalive = 3;

// Widest value read from the key; longer ones count as missing.
constexpr uint32_t kMaxValueBytes = 255;
// Bytes written for the fixed-width text values.
constexpr uint32_t kStoredLinkBytes = 8;
constexpr uint32_t kStoredLinkSpeedBytes = 6;

// The key, closed at the end of the scope.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (handle) platform::regCloseKey(handle);
  }
  RegKeyHandle handle = nullptr;
};

struct RegValue {
  bool present = false;
  uint32_t type = platform::kRegNone;
  std::string bytes;  // exactly the stored data, no terminator added
};

RegValue queryValue(RegKeyHandle key, const char* name, uint32_t capacity) {
  RegValue value;
  value.bytes.resize(capacity);
  uint32_t size = capacity;
  long rc = platform::regQueryValueExA(key, name, &value.type, reinterpret_cast<uint8_t*>(value.bytes.data()), &size);
  if (rc != platform::kErrorSuccess || size > capacity) return RegValue{};
  value.bytes.resize(size);
  value.present = true;
  return value;
}

// String data is text up to its first zero byte or the end of the data:
// values may be stored zero-padded or without any terminator.
std::string_view textOf(const RegValue& value) {
  std::string_view bytes = value.bytes;
  return bytes.substr(0, bytes.find('\0'));
}

bool isText(const RegValue& value) { return value.type == platform::kRegSz; }

// A 4-byte REG_DWORD; anything else leaves *out alone.
bool readDword(RegKeyHandle key, const char* name, uint32_t* out) {
  RegValue value = queryValue(key, name, 4);
  if (!value.present || value.type != platform::kRegDword || value.bytes.size() != 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(value.bytes[static_cast<size_t>(i)]);
  *out = v;
  return true;
}

// Copies text into a fixed field, cut to the field, zero-filling the rest.
template <size_t N>
void setField(char (&field)[N], std::string_view text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
}

template <size_t N>
std::string_view fieldText(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void readSerialValues(RegKeyHandle key, LinkConfig* config) {
  // The dialog stores the speed as 6 zero-padded bytes ("115200" has no
  // terminator); a terminated copy made by hand is longer and just as good.
  RegValue speed = queryValue(key, "LinkSpeed", kMaxValueBytes);
  if (speed.present && textOf(speed).size() <= kStoredLinkSpeedBytes) setField(config->LinkSpeed, textOf(speed));

  RegValue lines = queryValue(key, "ControlLines", 4);
  config->ControlLines =
      (lines.present && lines.type == platform::kRegDword && !lines.bytes.empty() && lines.bytes[0] != 0) ? 1 : 0;
}

void readLanValues(RegKeyHandle key, LinkConfig* config) {
  RegValue addr = queryValue(key, "TapiSvrIpAddr", kMaxValueBytes);
  if (addr.present && isText(addr) && textOf(addr).size() < sizeof config->TapiSvrIpAddr) {
    setField(config->TapiSvrIpAddr, textOf(addr));
  } else {
    LinkLog(kLogWarning, "LoadConfiguration  RegQueryValue %s failed using %s\n\r", "TapiSvrIpAddr",
            config->TapiSvrIpAddr);
  }
  readDword(key, "TapiSvrIpPort", &config->TapiSvrIpPort);
  readDword(key, "Keepalive", &config->Keepalive);
}

// The text of a field, zero-padded (or cut) to exactly width bytes.
std::string fixedWidth(std::string_view text, size_t width) {
  std::string bytes(text.substr(0, width));
  bytes.resize(width, '\0');
  return bytes;
}

// A REG_DWORD's data: little-endian, whatever the host's byte order.
std::string dwordBytes(uint32_t v) {
  std::string bytes(4, '\0');
  for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return bytes;
}

bool writeValue(RegKeyHandle key, const char* name, uint32_t type, const std::string& bytes) {
  return platform::regSetValueExA(key, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                  static_cast<uint32_t>(bytes.size())) == platform::kErrorSuccess;
}

}  // namespace

bool IsLanLink(std::string_view link) { return startsWith(link, kLanLinkStored) || link == kLanLinkName; }

bool IsSerialLink(std::string_view link) { return startsWith(link, "COM"); }

void DefaultLinkConfiguration(LinkConfig* config) {
  if (!config) return;
  uint32_t usbEnabled = 0;
  {
    OpenKey key;
    if (platform::regOpenKeyExA(platform::kHkeyLocalMachine, kLinkConfigKey, &key.handle) == platform::kErrorSuccess)
      readDword(key.handle, "USBEnabled", &usbEnabled);
  }
  setField(config->Link, usbEnabled != 0 ? kUsbLink : kDefaultSerialLink);
  setField(config->LinkSpeed, kDefaultLinkSpeed);
  config->ControlLines = 0;
  setField(config->TapiSvrIpAddr, kDefaultIpAddr);
  config->TapiSvrIpPort = kDefaultIpPort;
  config->Keepalive = kDefaultKeepalive;
}

int LoadConfiguration(LinkConfig* config) {
  if (!config) return 1;
  DefaultLinkConfiguration(config);
  OpenKey key;
  if (platform::regOpenKeyExA(platform::kHkeyLocalMachine, kLinkConfigKey, &key.handle) != platform::kErrorSuccess) {
    LinkLog(kLogWarning, "LoadConfiguration failed!\n\r");
    DefaultLinkConfiguration(config);
    return 1;
  }

  RegValue linkValue = queryValue(key.handle, "Link", kMaxValueBytes);
  if (!linkValue.present) return 1;
  std::string_view link = textOf(linkValue);
  // A name longer than the field is cut rather than allowed to run over it.
  setField(config->Link, startsWith(link, kLanLinkStored) ? std::string_view(kLanLinkName) : link);

  if (IsSerialLink(link)) {
    readSerialValues(key.handle, config);
  } else if (IsLanLink(link)) {
    readLanValues(key.handle, config);
  }
  return 1;
}

bool SaveLinkConfiguration(const LinkConfig& config) {
  OpenKey key;
  if (platform::regCreateKeyExA(platform::kHkeyLocalMachine, kLinkConfigKey, &key.handle, nullptr) !=
      platform::kErrorSuccess)
    return false;

  std::string_view link = fieldText(config.Link);
  bool lan = IsLanLink(link);
  if (link == kLanLinkName) link = kLanLinkStored;
  // The last of the 8 bytes stays zero, so the stored name always fits the field.
  bool ok = writeValue(key.handle, "Link", platform::kRegSz,
                       fixedWidth(link.substr(0, kStoredLinkBytes - 1), kStoredLinkBytes));
  ok &= writeValue(key.handle, "LinkSpeed", platform::kRegSz,
                   fixedWidth(fieldText(config.LinkSpeed), kStoredLinkSpeedBytes));
  ok &= writeValue(key.handle, "ControlLines", platform::kRegDword, dwordBytes(config.ControlLines));
  if (lan) {
    std::string_view addr = fieldText(config.TapiSvrIpAddr).substr(0, sizeof config.TapiSvrIpAddr - 1);
    ok &= writeValue(key.handle, "TapiSvrIpAddr", platform::kRegSz, std::string(addr));
    ok &= writeValue(key.handle, "TapiSvrIpPort", platform::kRegDword, dwordBytes(config.TapiSvrIpPort));
    ok &= writeValue(key.handle, "Keepalive", platform::kRegDword, dwordBytes(config.Keepalive));
  }
  return ok;
}
