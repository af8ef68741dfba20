#include "link/common/link_log_line.h"

#include <cstdint>
#include <cstdio>

namespace {

// The dump stops taking bytes once its text is longer than this.
constexpr size_t kHexDumpTextLimit = 2040;
// Bytes on the first dump line; every further line holds 16.
constexpr size_t kHexDumpFirstLineBytes = 17;
constexpr size_t kHexDumpLineBytes = 16;

}  // namespace

std::string FormatLinkLogLine(const platform::SystemTime& time, std::string_view program, std::string_view message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%02d.%02d.%02d %02d:%02d:%02d] ", time.day, time.month, time.year % 100,
                time.hour, time.minute, time.second);
  std::string line(stamp);
  line.reserve(line.size() + program.size() + message.size() + 4);
  line.append(program).append(": ").append(message).append("\r\n");
  return line;
}

std::string ProgramNameFromPath(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

std::string FormatLinkHexDump(std::string_view title, const uint8_t* bytes, size_t count) {
  std::string text(title);
  text += "\r\n";
  for (size_t i = 0; i < count && bytes != nullptr && text.size() <= kHexDumpTextLimit; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
    text += hex;
    size_t written = i + 1;
    if (written >= kHexDumpFirstLineBytes && (written - kHexDumpFirstLineBytes) % kHexDumpLineBytes == 0)
      text += "\r\n>>";
  }
  return text;
}
