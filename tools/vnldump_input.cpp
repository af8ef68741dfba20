#include "tools/vnldump_input.h"

namespace vnldump {

namespace {

// Records of KVARVNL.LOG start with "[dd.mm.yy hh:mm:ss,mmm] "; continuation
// lines are indented by as many blanks.
constexpr std::string_view kRecordPrefixPattern = "[00.00.00 00:00:00,000] ";
constexpr size_t kRecordPrefixSize = kRecordPrefixPattern.size();
constexpr std::string_view kFromPc = "PC -> TK:";
constexpr std::string_view kFromTk = "TK -> PC:";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view stripLineEnd(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

bool hasRecordPrefix(std::string_view line) {
  if (line.size() < kRecordPrefixSize) return false;
  for (size_t i = 0; i < kRecordPrefixSize; ++i) {
    char want = kRecordPrefixPattern[i];
    if (want == '0' ? !isDigit(line[i]) : line[i] != want) return false;
  }
  return true;
}

bool isContinuation(std::string_view line) {
  return line.size() >= kRecordPrefixSize && line.find_first_not_of(' ') >= kRecordPrefixSize;
}

// Only hex digits and blanks: the shape of a raw trace line's dump.
bool looksLikeHex(std::string_view s) {
  for (char c : s) {
    if (!isBlank(c) && hexValue(c) < 0) return false;
  }
  return true;
}

// Removes a leading "PC -> TK:" or "TK -> PC:" and the blank after it.
Direction takeDirection(std::string_view& s) {
  Direction direction = Direction::Unknown;
  if (s.starts_with(kFromPc)) {
    direction = Direction::PcToTk;
  } else if (s.starts_with(kFromTk)) {
    direction = Direction::TkToPc;
  } else {
    return direction;
  }
  s.remove_prefix(kFromPc.size());
  s = trimLeft(s);
  return direction;
}

// Blank-separated groups of hex digit pairs: "10 01 00 03", "10010003", "1001 0003".
void parseHex(std::string_view s, InputLine& out) {
  out.kind = InputLine::Kind::Message;
  size_t pos = 0;
  while (pos < s.size()) {
    if (isBlank(s[pos])) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < s.size() && !isBlank(s[end])) ++end;
    std::string_view token = s.substr(pos, end - pos);
    for (char c : token) {
      if (hexValue(c) < 0) {
        out.kind = InputLine::Kind::BadHex;
        out.error = "not a hex byte: \"" + std::string(token) + "\"";
        out.bytes.clear();
        return;
      }
    }
    if (token.size() % 2 != 0) {
      out.kind = InputLine::Kind::BadHex;
      out.error = "odd number of hex digits: \"" + std::string(token) + "\"";
      out.bytes.clear();
      return;
    }
    for (size_t i = 0; i < token.size(); i += 2) {
      out.bytes.push_back(static_cast<uint8_t>(hexValue(token[i]) * 16 + hexValue(token[i + 1])));
    }
    pos = end;
  }
}

}  // namespace

InputLine ParseInputLine(std::string_view line) {
  InputLine out;
  line = stripLineEnd(line);
  if (isContinuation(line)) return out;

  if (hasRecordPrefix(line)) {
    // A trace file record: only the raw dump of a message counts.
    std::string_view text = trimRight(line.substr(kRecordPrefixSize));
    out.direction = takeDirection(text);
    if (out.direction == Direction::Unknown || !looksLikeHex(text)) return {};
    parseHex(text, out);
    return out;
  }

  std::string_view text = trimLeft(trimRight(line));
  if (text.empty() || text.front() == '#') return out;
  out.direction = takeDirection(text);
  if (out.direction != Direction::Unknown && text.starts_with("VNL_")) return {};
  parseHex(text, out);
  return out;
}

}  // namespace vnldump
