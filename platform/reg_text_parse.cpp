// Reading the .reg text format.
#include <optional>

#include "platform/codepage.h"
#include "platform/printable_text.h"
#include "platform/reg_text.h"
#include "platform/reg_types.h"

namespace platform {
namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads 1 to maxDigits hex digits as a whole string; nullopt otherwise.
std::optional<uint32_t> parseHexNumber(std::u16string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  uint32_t n = 0;
  for (char16_t c : s) {
    int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    n = (n << 4) | static_cast<uint32_t>(d);
  }
  return n;
}

bool startsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && regNamesEqual(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> splitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Text of the file as a message shows it: quoted, safe for a terminal, cut
// short when long.
std::string shown(std::u16string_view text) {
  constexpr size_t kShown = 60;
  bool cut = text.size() > kShown;
  return "\"" + printableText(wideToUtf8(text.substr(0, kShown))) + (cut ? "...\"" : "\"");
}

struct ParseError {
  int line;
  std::string message;
};

// The text of the file as UTF-16, whatever its encoding.
struct DecodedText {
  std::u16string text;
  std::optional<ParseError> error;
};

DecodedText decode(std::string_view bytes) {
  DecodedText out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    out.error = ParseError{1, "the text is UTF-16 big-endian; only UTF-16 little-endian (with its byte-order mark), "
                              "UTF-8 and REGEDIT4 text are read"};
    return out;
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    bytes.remove_prefix(2);
    out.text = utf16FromLeBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (bytes.size() % 2 != 0) {
      int lines = 1;
      for (char16_t c : out.text) lines += c == u'\n';
      out.error = ParseError{lines, "the UTF-16 text ends in the middle of a character"};
    }
    return out;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  } else if (bytes.starts_with("REGEDIT4")) {
    out.text = ansiToWide(bytes);  // the REGEDIT4 format is written in the ANSI code page
    return out;
  }
  auto lines = splitLines(bytes);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!isValidUtf8(lines[i])) {
      out.error = ParseError{static_cast<int>(i + 1), "the text is not valid UTF-8"};
      return out;
    }
  }
  out.text = utf8ToWide(bytes);
  return out;
}

class Parser {
 public:
  Parser(std::u16string_view text, RegNames names) : names_(names) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(u'\n', start);
      if (end == std::u16string_view::npos) end = text.size();
      std::u16string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  std::optional<ParseError> run(RegTextDocument* doc) {
    bool empty = true;
    for (auto line : lines_) empty = empty && trim(line).empty();
    if (empty) return std::nullopt;  // an empty file holds no keys

    std::u16string_view header = trim(lines_[0]);
    if (header == kHeader4) {
      regedit4_ = true;
    } else if (header != kHeader5) {
      return ParseError{1, "expected the header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
    }
    return parseLines(1, doc);
  }

  // Value lines of one key, without header and [KEY] lines: they all go into
  // one section below the root.
  std::optional<ParseError> runValueLines(RegTextDocument* doc) {
    doc->sections.emplace_back();
    doc->sections.back().line = 1;
    valueLinesOnly_ = true;
    return parseLines(0, doc);
  }

 private:
  std::optional<ParseError> parseLines(size_t first, RegTextDocument* doc) {
    for (index_ = first; index_ < lines_.size(); ++index_) {
      std::u16string_view line = trim(lines_[index_]);
      if (line.empty() || line.front() == u';') continue;
      std::optional<ParseError> error;
      if (line.front() == u'[') {
        error = valueLinesOnly_ ? fail("only value lines (\"Name\"=value) belong here, no [KEY] lines")
                                : parseKeyLine(line, doc);
      } else if (line.front() == u'"' || line.front() == u'@') {
        error = parseValueLine(line, doc);
      } else {
        error = fail(doc->sections.empty() ? "expected [KEY]" : "expected \"Name\"=value");
      }
      if (error) return error;
    }
    return std::nullopt;
  }

  ParseError fail(std::string message) const { return ParseError{lineNumber(), std::move(message)}; }
  int lineNumber() const { return static_cast<int>(index_ + 1); }

  std::optional<ParseError> parseKeyLine(std::u16string_view line, RegTextDocument* doc) {
    if (line.size() < 2 || line.back() != u']') return fail("expected \"]\" at the end of the key name");
    std::u16string_view name = line.substr(1, line.size() - 2);
    RegTextSection section;
    section.line = lineNumber();
    if (!name.empty() && name.front() == u'-') {
      section.remove = true;
      name.remove_prefix(1);
    }
    size_t slash = name.find(u'\\');
    std::u16string_view rootName = name.substr(0, slash);
    if (!regRootFromName(rootName, &section.root)) return fail("unknown root key " + shown(rootName));
    std::u16string_view rest = slash == std::u16string_view::npos ? u"" : name.substr(slash + 1);
    if (slash != std::u16string_view::npos && rest.empty()) return fail("empty key name in " + shown(name));
    // Limits and names are checked before any key is built from the path.
    if (std::string problem = splitRegKeyPath(rest, names_, &section.path); !problem.empty()) return fail(problem);
    if (section.remove && section.path.empty()) return fail("a root key cannot be deleted");
    doc->sections.push_back(std::move(section));
    return std::nullopt;
  }

  // Reads "text" with \\ and \" escapes from line at pos, which is on the
  // opening quote; leaves pos after the closing quote.
  std::optional<ParseError> parseQuoted(std::u16string_view line, size_t& pos, std::u16string* text) {
    ++pos;
    while (pos < line.size()) {
      char16_t c = line[pos++];
      if (c == u'"') return std::nullopt;
      if (c == u'\\') {
        if (pos >= line.size() || (line[pos] != u'\\' && line[pos] != u'"')) {
          return fail("only \\\\ and \\\" may follow a backslash in quoted text");
        }
        c = line[pos++];
      }
      *text += c;
    }
    return fail("missing closing quote");
  }

  std::optional<ParseError> parseValueLine(std::u16string_view line, RegTextDocument* doc) {
    if (doc->sections.empty()) return fail("a value must follow a [KEY] line");
    RegTextSection& section = doc->sections.back();
    if (section.remove) return fail("a deleted key cannot have values");
    RegTextValue value;
    size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else if (auto error = parseQuoted(line, pos, &value.name)) {
      return error;
    }
    if (std::string problem = regValueNameProblem(value.name, names_); !problem.empty()) return fail(problem);
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return fail("expected \"Name\"=value");
    std::u16string_view data = trim(line.substr(pos + 1));
    if (auto error = parseData(data, &value)) return error;
    section.values.push_back(std::move(value));
    return std::nullopt;
  }

  std::optional<ParseError> parseData(std::u16string_view data, RegTextValue* value) {
    if (data == u"-") {
      value->remove = true;
      return std::nullopt;
    }
    if (!data.empty() && data.front() == u'"') {
      size_t pos = 0;
      std::u16string text;
      if (auto error = parseQuoted(data, pos, &text)) return error;
      if (pos != data.size()) return fail("unexpected text after the closing quote");
      text += u'\0';
      value->type = kRegSz;
      value->data = utf16LeBytes(text);
      return std::nullopt;
    }
    if (startsWithNoCase(data, u"dword:")) {
      auto n = parseHexNumber(data.substr(6), 8);
      if (!n) return fail("expected up to 8 hex digits after dword:");
      value->type = kRegDword;
      value->data = {static_cast<uint8_t>(*n), static_cast<uint8_t>(*n >> 8), static_cast<uint8_t>(*n >> 16),
                     static_cast<uint8_t>(*n >> 24)};
      return std::nullopt;
    }
    if (startsWithNoCase(data, u"hex:")) {
      value->type = kRegBinary;
      return parseHexList(data.substr(4), value);
    }
    if (startsWithNoCase(data, u"hex(")) {
      size_t close = data.find(u"):");
      auto type = close == std::u16string_view::npos ? std::nullopt : parseHexNumber(data.substr(4, close - 4), 8);
      if (!type) return fail("expected hex(N): with a hex type number");
      value->type = *type;
      return parseHexList(data.substr(close + 2), value);
    }
    return fail("unknown value data (expected \"text\", dword:, hex:, hex(N): or -)");
  }

  // Bytes "01,02,..." that may continue on the next lines after a trailing backslash.
  std::optional<ParseError> parseHexList(std::u16string_view first, RegTextValue* value) {
    int startLine = lineNumber();
    std::u16string list(trim(first));
    while (!list.empty() && list.back() == u'\\') {
      list.pop_back();
      if (index_ + 1 >= lines_.size()) return fail("the file ends where a continuation line should follow");
      ++index_;
      list += trim(lines_[index_]);
    }
    std::u16string_view rest = list;
    while (!rest.empty()) {
      size_t comma = rest.find(u',');
      std::u16string_view token = trim(rest.substr(0, comma));
      auto byte = parseHexNumber(token, 2);
      if (!byte) return ParseError{startLine, "expected hex bytes like 01,ab,ff"};
      value->data.push_back(static_cast<uint8_t>(*byte));
      rest = comma == std::u16string_view::npos ? u"" : trim(rest.substr(comma + 1));
    }
    // REGEDIT4 files hold string types as ANSI bytes; the store keeps UTF-16.
    if (regedit4_ && (value->type == kRegSz || value->type == kRegExpandSz || value->type == kRegMultiSz)) {
      std::string ansi(value->data.begin(), value->data.end());
      value->data = utf16LeBytes(ansiToWide(ansi));
    }
    return std::nullopt;
  }

  std::vector<std::u16string_view> lines_;
  RegNames names_;
  size_t index_ = 0;
  bool regedit4_ = false;
  bool valueLinesOnly_ = false;
};

}  // namespace

namespace {

RegTextParseResult parseWith(std::string_view bytes, std::string_view sourceName, bool valueLinesOnly,
                             RegNames names) {
  RegTextParseResult result;
  DecodedText decoded = decode(bytes);
  std::optional<ParseError> error = decoded.error;
  if (!error) {
    Parser parser(decoded.text, names);
    error = valueLinesOnly ? parser.runValueLines(&result.document) : parser.run(&result.document);
  }
  if (error) {
    result.document = {};
    result.error = std::string(sourceName) + ":" + std::to_string(error->line) + ": " + error->message;
  }
  return result;
}

}  // namespace

RegTextParseResult parseRegText(std::string_view bytes, std::string_view sourceName) {
  return parseWith(bytes, sourceName, false, RegNames::Storable);
}

RegTextParseResult parseRegStoreText(std::string_view bytes, std::string_view sourceName) {
  return parseWith(bytes, sourceName, false, RegNames::Existing);
}

RegTextParseResult parseRegValueLines(std::string_view bytes, std::string_view sourceName) {
  return parseWith(bytes, sourceName, true, RegNames::Storable);
}

}  // namespace platform
