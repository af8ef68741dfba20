#include "common/trace_file_record.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/root.h"

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
// CR LF and the indentation of the next line.
constexpr size_t kBreakChars = 2 + kTracePrefixChars;
// Everything before the closing CR LF.
constexpr size_t kRecordBodyMaxChars = kTraceRecordMaxChars - 2;

bool IsBreak(char16_t c) { return c == kCr || c == kLf; }

// Calls emitText(c) for every character and emitBreak() for every line
// break of the message; a CR LF or LF CR pair is one break.
template <typename Text, typename Break>
void ForEachPiece(std::u16string_view message, Text emitText, Break emitBreak) {
  for (size_t i = 0; i < message.size(); ++i) {
    char16_t c = message[i];
    if (!IsBreak(c)) {
      if (!emitText(c)) return;
      continue;
    }
    if (i + 1 < message.size() && IsBreak(message[i + 1]) && message[i + 1] != c) ++i;
    if (!emitBreak()) return;
  }
}

// Bytes of the UTF-8 text that make up its first maxUnits UTF-16 units,
// never ending inside a character.
size_t Utf8PrefixForUnits(std::string_view utf8, size_t maxUnits) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t width = length == 4 ? 2 : 1;  // four-byte characters need a surrogate pair
    if (units + width > maxUnits) break;
    units += width;
    i += length;
  }
  return i < utf8.size() ? i : utf8.size();
}

}  // namespace

std::string FormatTraceMessage(const char* format, va_list args) {
  char small[1024];
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  std::string message;
  if (n < 0) {
    va_end(again);
    return message;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    message.assign(small, static_cast<size_t>(n));
  } else {
    message.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(message.data(), message.size(), format, again);
    message.resize(static_cast<size_t>(n));
  }
  va_end(again);
  // Each character takes at least one byte, so only a longer text can be too long.
  if (message.size() > kTraceMessageMaxChars) message.resize(Utf8PrefixForUnits(message, kTraceMessageMaxChars));
  return message;
}

std::u16string TraceTimePrefix(const platform::SystemTime& t) {
  char prefix[64];
  int n = std::snprintf(prefix, sizeof prefix, "[%02u.%02u.%02u %02u:%02u:%02u,%03u] ", unsigned{t.day},
                        unsigned{t.month}, unsigned{t.year} % 100u, unsigned{t.hour}, unsigned{t.minute},
                        unsigned{t.second}, unsigned{t.milliseconds});
  if (n < 0) return {};
  return std::u16string(prefix, prefix + (static_cast<size_t>(n) < sizeof prefix ? n : sizeof prefix - 1));
}

std::u16string ComposeTraceFileRecord(const platform::SystemTime& localTime, std::u16string_view message) {
  std::u16string record = TraceTimePrefix(localTime);
  record.reserve(record.size() + message.size() + 2);
  ForEachPiece(
      message,
      [&](char16_t c) {
        if (record.size() >= kRecordBodyMaxChars) return false;
        record.push_back(c);
        return true;
      },
      [&] {
        if (record.size() + kBreakChars < kRecordBodyMaxChars) {
          record += u"\r\n";
          record.append(kTracePrefixChars, u' ');
        }
        return true;
      });
  record += u"\r\n";
  return record;
}

std::u16string ComposeTraceDebugCopy(std::u16string_view message) {
  std::u16string copy;
  copy.reserve(message.size() + 2);
  ForEachPiece(
      message,
      [&](char16_t c) {
        copy.push_back(c);
        return true;
      },
      [&] {
        copy += u"\r\n";
        return true;
      });
  copy += u"\r\n";
  return copy;
}

std::string TraceFilePath(std::u16string_view folder, TraceFile file) {
  if (folder.empty()) return {};
  std::string path = platform::toNativePath(platform::wideToUtf8(folder));
  std::string separator = platform::toNativePath("\\");
  if (path.compare(path.size() - std::min(path.size(), separator.size()), separator.size(), separator) != 0)
    path += separator;
  return path + TraceFileName(file);
}
