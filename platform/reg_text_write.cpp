// Writing the .reg text format (REGEDIT5, UTF-8, LF line ends), and turning
// it into the UTF-16LE form with CR LF that Windows' registry editor reads.
#include <cstdio>

#include "platform/codepage.h"
#include "platform/reg_text.h"
#include "platform/reg_types.h"

namespace platform {
namespace {

// regedit keeps lines of hex data within 80 columns, the continuation
// backslash included, and indents continuation lines by two blanks.
constexpr size_t kMaxLineWidth = 80;
constexpr std::u16string_view kContinuationIndent = u"  ";

std::u16string quoted(std::u16string_view text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  out += u'"';
  return out;
}

// The text of REG_SZ data when it can be written as "text": exactly the text
// and one terminating zero, and nothing that would not survive inside quotes
// on one line. Anything else is written as hex(1) so it reads back unchanged.
bool quotableText(const std::vector<uint8_t>& data, std::u16string* text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  std::u16string units = utf16FromLeBytes(data.data(), data.size());
  if (units.back() != 0) return false;
  units.pop_back();
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t c = units[i];
    if ((c < 0x20 && c != u'\t') || c == 0x7F) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  *text = std::move(units);
  return true;
}

std::u16string ascii(const char* text) {
  std::u16string out;
  while (*text) out += static_cast<char16_t>(*text++);
  return out;
}

// Appends "hex:01,02,..." after line (the text of the line so far), wrapping
// long lists as regedit does.
void appendHexList(std::u16string& line, const std::vector<uint8_t>& data) {
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    char token[4];
    bool last = i + 1 == data.size();
    std::snprintf(token, sizeof token, last ? "%02x" : "%02x,", data[i]);
    size_t width = last ? 2 : 3;
    // Leave room for the backslash that ends a continued line.
    if (column + width + (last ? 0 : 1) > kMaxLineWidth && column > kContinuationIndent.size()) {
      line += u"\\\n";
      line += kContinuationIndent;
      column = kContinuationIndent.size();
    }
    line += ascii(token);
    column += width;
  }
}

std::u16string valueLine(const RegValue& value) {
  std::u16string line = value.name.empty() ? std::u16string(u"@") : quoted(value.name);
  line += u'=';
  std::u16string text;
  if (value.type == kRegSz && quotableText(value.data, &text)) {
    line += quoted(text);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t n = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                 (static_cast<uint32_t>(value.data[3]) << 24);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", n);
    line += ascii(digits);
  } else {
    char prefix[24];
    if (value.type == kRegBinary) std::snprintf(prefix, sizeof prefix, "hex:");
    else std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    line += ascii(prefix);
    appendHexList(line, value.data);
  }
  return line;
}

}  // namespace

std::string regTextHeader() { return "Windows Registry Editor Version 5.00\n\n"; }

void appendRegText(std::string& out, const RegKey& key, std::u16string_view fullPath) {
  out += "[";
  out += wideToUtf8(fullPath);
  out += "]\n";
  for (const RegValue& value : key.values) {
    out += wideToUtf8(valueLine(value));
    out += '\n';
  }
  out += '\n';
  for (const RegKey& subkey : key.subkeys) {
    std::u16string path(fullPath);
    path += u'\\';
    path += subkey.name;
    appendRegText(out, subkey, path);
  }
}

std::string writeRegText(const RegKey& tree, RegRoot root) {
  std::string out = regTextHeader();
  appendRegText(out, tree, regRootName(root));
  return out;
}

std::string regTextForWindows(std::string_view utf8Text) {
  std::u16string text = u"\uFEFF";  // the byte-order mark
  // The writer ends lines with LF alone and puts no line break inside a line
  // (names cannot hold one, text with one is written as hex).
  for (char16_t c : utf8ToWide(utf8Text)) {
    if (c == u'\n') text += u'\r';
    text += c;
  }
  const std::vector<uint8_t> bytes = utf16LeBytes(text);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace platform
