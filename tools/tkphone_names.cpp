#include "tools/tkphone_names.h"

#include <cctype>
#include <cstdio>

#include "tapi/tapi_constants.h"

namespace tkphone {
namespace {

std::string hexText(DWORD value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", value);
  return buf;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// text without prefix, when it starts with it (in any case).
std::string_view withoutPrefix(std::string_view text, std::string_view prefix) {
  if (text.size() > prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix)) {
    return text.substr(prefix.size());
  }
  return text;
}

}  // namespace

std::string ValueText(TapiFamily family, DWORD value) {
  for (const tapi::ValueName& n : tapi::NamesOf(family)) {
    if (n.value == value) return std::string(tapi::ShortName(family, n));
  }
  return hexText(value);
}

std::string FlagsText(TapiFamily family, DWORD value) {
  if (value == 0) return "0";
  std::string text;
  DWORD rest = value;
  for (const tapi::ValueName& n : tapi::NamesOf(family)) {
    if (n.value != 0 && (value & n.value) == n.value && (rest & n.value)) {
      text += (text.empty() ? "" : "|") + std::string(tapi::ShortName(family, n));
      rest &= ~n.value;
    }
  }
  if (rest) text += (text.empty() ? "" : "|") + hexText(rest);
  return text;
}

std::string CallStateModeText(DWORD state, DWORD mode) {
  if (mode == 0) return "";
  switch (state) {
    case LINECALLSTATE_OFFERING: return FlagsText(TapiFamily::LineOfferingMode, mode);
    case LINECALLSTATE_DIALTONE: return FlagsText(TapiFamily::LineDialToneMode, mode);
    case LINECALLSTATE_BUSY: return FlagsText(TapiFamily::LineBusyMode, mode);
    case LINECALLSTATE_SPECIALINFO: return FlagsText(TapiFamily::LineSpecialInfo, mode);
    case LINECALLSTATE_CONNECTED: return FlagsText(TapiFamily::LineConnectedMode, mode);
    case LINECALLSTATE_DISCONNECTED: return FlagsText(TapiFamily::LineDisconnectMode, mode);
    default: return hexText(mode);  // such as the conference call of CONFERENCED
  }
}

std::string ResultText(LONG result) {
  if (result == 0) return "OK";
  if (const char* name = tapi::FindName(TapiFamily::LineErr, static_cast<DWORD>(result))) return name;
  return hexText(static_cast<DWORD>(result));
}

std::optional<DWORD> ParseName(TapiFamily family, std::string_view text) {
  std::string_view bare = withoutPrefix(text, tapi::PrefixOf(family));
  for (const tapi::ValueName& n : tapi::NamesOf(family)) {
    if (equalsNoCase(bare, tapi::ShortName(family, n))) return n.value;
  }
  return std::nullopt;
}

std::optional<LONG> ParseResult(std::string_view text) {
  if (equalsNoCase(text, "OK")) return 0;
  std::string_view bare = withoutPrefix(text, tapi::PrefixOf(TapiFamily::LineErr));
  for (const tapi::ValueName& n : tapi::NamesOf(TapiFamily::LineErr)) {
    // 0 is spelled "OK" here, not with the table's "SUCCESS".
    if (n.value != 0 && equalsNoCase(bare, tapi::ShortName(TapiFamily::LineErr, n))) return static_cast<LONG>(n.value);
  }
  return std::nullopt;
}

}  // namespace tkphone
