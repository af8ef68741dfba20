#pragma once
// Single-value access to the three registry keys of the provider's
// configuration. Every read or write opens its key with regCreateKeyEx
// (creating it when missing) and closes it again, so the provider never holds
// a key open. Failures never throw: a read returns its default, a write
// returns false, and the error is written to the TAPI trace as
//   "Error in RegCreateKeyEx( \"<key>\" ): <code>"
//   "Error in RegQueryValueEx( \"<value>\" ): <code>"
//   "Error in RegSetValueEx( \"<value>\" ): <code>"
// except for the logging key, whose errors are not traced (the trace cannot
// report on its own switches).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace kvarsp {

// Under HKEY_LOCAL_MACHINE; the provider's values are in its subkey "Provider<id>".
inline constexpr char kTelephonyKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony";
// Under HKEY_CURRENT_USER.
inline constexpr char kUserKeyPath[] = "Software\\Marlix\\TSP\\Marlix TK-Anlage";

// "Provider<id>", the id printed as a signed 32-bit number as the telephony
// service names provider keys.
std::string ProviderSubkeyName(uint32_t permanentProviderId);

// The error code traced when a value exists but has the wrong type or size.
constexpr long kWrongValueTypeError = 13;  // ERROR_INVALID_DATA

class ConfigKey {
 public:
  static ConfigKey Provider(uint32_t permanentProviderId);
  static ConfigKey User();

  // The value when it exists as REG_DWORD of exactly 4 bytes, else the default.
  uint32_t ReadDword(std::string_view name, uint32_t defaultValue) const;
  // Like ReadDword, for values whose default is negative (-1): the stored
  // 0xFFFFFFFF reads as -1.
  int32_t ReadSignedDword(std::string_view name, int32_t defaultValue) const;
  // At most capacityChars - 1 characters (capacityChars counts the
  // terminator, as the buffers of the callers do): the text of a REG_SZ value
  // up to its first zero character, else the default. Data without a
  // terminator or with an odd byte count is read only as far as it goes.
  std::u16string ReadString(std::string_view name, std::u16string_view defaultValue, size_t capacityChars) const;

  bool WriteDword(std::string_view name, uint32_t value) const;
  // Stored as REG_SZ with its terminator; text after a zero character is not stored.
  bool WriteString(std::string_view name, std::u16string_view value) const;

 private:
  enum class Which { Provider, User };
  ConfigKey(Which which, uint32_t providerId) : which_(which), providerId_(providerId) {}

  // The open key, or null after tracing the failure.
  platform::RegKeyHandle Open() const;
  enum class Call { CreateKey, QueryValue, SetValue };
  void TraceError(Call call, std::string_view name, long code) const;

  Which which_;
  uint32_t providerId_;
};

}  // namespace kvarsp
