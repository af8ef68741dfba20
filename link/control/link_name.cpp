#include "link/control/link_name.h"

#include <cstring>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

Transport TransportOf(std::string_view link) {
  if (StartsWith(link, "USB")) return Transport::Usb;
  if (StartsWith(link, "COM")) return Transport::Serial;
  if (IsLanLink(link)) return Transport::Lan;
  return Transport::None;
}

std::string LinkNameFromCommandLine(std::string_view line) {
  // The program name ends at the first blank outside double quotes, the
  // way a Windows program's start-up code takes it off its command line.
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (!quoted && IsBlank(line[i])) break;
  }
  while (i < line.size() && IsBlank(line[i])) ++i;
  return std::string(line.substr(i));
}

LinkChoice ApplyCommandLineLink(LinkConfig& config, std::string_view name) {
  if (name.empty()) return LinkChoice::Kept;
  std::string_view configured(config.Link, strnlen(config.Link, sizeof config.Link));
  bool replaceable = StartsWith(configured, "COM") || StartsWith(configured, "USB") ||
                     StartsWith(configured, "TCP") || configured == kLanLinkName;
  if (!replaceable) return LinkChoice::Refused;
  if (name.size() >= sizeof config.Link) return LinkChoice::TooLong;
  std::memset(config.Link, 0, sizeof config.Link);
  std::memcpy(config.Link, name.data(), name.size());
  return LinkChoice::Replaced;
}
