// The Windows-1252 ("A") registry functions: names and string data are
// converted to and from the UTF-16 the store keeps, one character per byte.
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/registry_internal.h"
#include "platform/registry_store.h"

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
  clearRegistryError();
  if (data && !size) return kErrorInvalidParameter;
  RegValue value;
  if (long rc = readRegValue(key, ansiToWide(name), &value); rc != kErrorSuccess) return rc;
  if (isStringType(value.type)) {
    std::string ansi = wideToAnsi(utf16FromLeBytes(value.data.data(), value.data.size()));
    value.data.assign(ansi.begin(), ansi.end());
  }
  return copyRegData(value.type, value.data, type, data, size);
}

long regSetValueExA(RegKeyHandle key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  if (!data && size > 0) return kErrorInvalidParameter;
  if (!isStringType(type)) return regSetValueEx(key, ansiToWide(name), type, data, size);
  std::string_view ansi(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> wide = utf16LeBytes(ansiToWide(ansi));
  return regSetValueEx(key, ansiToWide(name), type, wide.data(), static_cast<uint32_t>(wide.size()));
}

}  // namespace platform
