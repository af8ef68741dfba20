// The Windows-1252 ("A") registry functions of registry.h on Windows.
//
// They convert names and string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ)
// with Windows-1252, one character per byte, and call the wide functions,
// rather than calling RegSetValueExA/RegQueryValueExA, which convert with
// the system's ANSI code page: the interface promises Windows-1252 whatever
// the system's code page is (where that is 1252, the stored data is the same
// as RegSetValueExA's). Unlike RegQueryValueExA, a size asked for without a
// buffer is the exact size of the converted data, not the wide size.
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/win32/registry_win32.h"

namespace platform {
namespace {

bool isStringType(uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

}  // namespace

long regCreateKeyExA(RegKeyHandle key, std::string_view subKey, RegKeyHandle* result, uint32_t* disposition) {
  return regCreateKeyEx(key, ansiToWide(subKey), result, disposition);
}

long regOpenKeyExA(RegKeyHandle key, std::string_view subKey, RegKeyHandle* result) {
  return regOpenKeyEx(key, ansiToWide(subKey), result);
}

long regQueryValueExA(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data, uint32_t* size) {
  if (data && !size) return kErrorInvalidParameter;
  std::u16string wideName = ansiToWide(name);
  // The whole value, read again when it grew between size and read.
  std::vector<uint8_t> stored;
  uint32_t storedType = 0;
  long rc = kErrorMoreData;
  for (int attempt = 0; attempt < 8 && rc == kErrorMoreData; ++attempt) {
    uint32_t storedSize = 0;
    if (rc = regQueryValueEx(key, wideName, &storedType, nullptr, &storedSize); rc != kErrorSuccess) return rc;
    stored.resize(storedSize);
    rc = regQueryValueEx(key, wideName, &storedType, stored.data(), &storedSize);
    stored.resize(storedSize);
  }
  if (rc != kErrorSuccess) return rc;
  if (isStringType(storedType)) {
    std::string ansi = wideToAnsi(utf16FromLeBytes(stored.data(), stored.size()));
    stored.assign(ansi.begin(), ansi.end());
  }
  if (type) *type = storedType;
  auto needed = static_cast<uint32_t>(stored.size());
  if (!data) {
    if (size) *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::copy(stored.begin(), stored.end(), data);
  *size = needed;
  return kErrorSuccess;
}

long regSetValueExA(RegKeyHandle key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  if (!data && size > 0) return kErrorInvalidParameter;
  if (!isStringType(type)) return regSetValueEx(key, ansiToWide(name), type, data, size);
  std::string_view ansi(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> wideData = utf16LeBytes(ansiToWide(ansi));
  return regSetValueEx(key, ansiToWide(name), type, wideData.data(), static_cast<uint32_t>(wideData.size()));
}

}  // namespace platform
