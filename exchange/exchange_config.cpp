#include "exchange/exchange_config.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

#include "platform/codepage.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

// A length byte counts the bytes of an address, a text or an MSN entry.
constexpr size_t kMaxCountedBytes = 255;
// The address list goes out in one message: RESULT (3 bytes), the line list
// and the MSN list (3 bytes of header each) with the codec's reserve of 10.
constexpr size_t kAddressListOverhead = 3 + 3 + 3 + 10;

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits one line into words and quoted texts; stops at a '#' outside
// quotes. False (with *error) for an unterminated quote or a bad escape.
bool Tokenize(std::string_view line, std::vector<Token>& tokens, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token token{{}, true};
      ++i;
      for (;;) {
        if (i >= line.size()) {
          *error = "unterminated quoted text";
          return false;
        }
        char q = line[i++];
        if (q == '"') break;
        if (q == '\\') {
          if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) {
            *error = "only \\\" and \\\\ may follow a backslash";
            return false;
          }
          q = line[i++];
        }
        token.text.push_back(q);
      }
      tokens.push_back(std::move(token));
    } else {
      size_t begin = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') ++i;
      tokens.push_back({std::string(line.substr(begin, i - begin)), false});
    }
  }
  return true;
}

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

// Parses the configuration line by line; every fault names its line, as
// "line N: " or, for a named file, "FILE:N: ".
class Parser {
 public:
  Parser(ExchangeConfig& out, std::string source) : out_(out), source_(std::move(source)) {}

  bool Run(std::string_view text, std::string* error) {
    text = platform::withoutUtf8ByteOrderMark(text);
    size_t position = 0;
    int number = 0;
    while (position <= text.size()) {
      size_t end = text.find('\n', position);
      if (end == std::string_view::npos) end = text.size();
      lineNumber_ = ++number;
      std::string_view line = text.substr(position, end - position);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (!ParseLine(line)) break;
      position = end + 1;
    }
    if (error_.empty()) Check();
    if (!error_.empty()) {
      if (error) *error = error_;
      return false;
    }
    return true;
  }

 private:
  // The error names the line; what the file holds is escaped for printing.
  bool Fail(const std::string& text, int line = 0) {
    const std::string number = std::to_string(line ? line : lineNumber_);
    error_ = platform::printableText((source_.empty() ? "line " + number : source_ + ":" + number) + ": " + text);
    return false;
  }

  // A setting that may be given once: false (with the error) for a second one.
  bool Once(int& firstLine, const std::string& keyword) {
    if (firstLine) return Fail("duplicate " + keyword + " (first on line " + std::to_string(firstLine) + ")");
    firstLine = lineNumber_;
    return true;
  }

  bool ParseLine(std::string_view line) {
    std::string tokenError;
    tokens_.clear();
    if (!platform::isValidUtf8(line)) return Fail("not UTF-8 text");
    if (!Tokenize(line, tokens_, &tokenError)) return Fail(tokenError);
    if (tokens_.empty()) return true;
    if (tokens_[0].quoted) return Fail("a keyword is needed, not a quoted text");
    const std::string& keyword = tokens_[0].text;
    if (keyword == "line-list") return LineList();
    if (keyword == "protocol-version") return ProtocolVersion();
    if (keyword == "manufacturer") return Manufacturer();
    if (keyword == "line") return Line();
    if (keyword == "msn") return Msn();
    return Fail("unknown keyword '" + keyword + "'");
  }

  bool LineList() {
    if (tokens_.size() != 2 || (tokens_[1].text != "8" && tokens_[1].text != "16")) {
      return Fail("usage: line-list 8|16");
    }
    if (!Once(lineListLine_, "line-list")) return false;
    out_.lineList16 = tokens_[1].text == "16";
    return true;
  }

  bool ProtocolVersion() {
    auto version = tokens_.size() == 2 ? ParseNumber(tokens_[1].text, 0xFF) : std::nullopt;
    if (!version) return Fail("usage: protocol-version N (0 to 255)");
    if (!Once(protocolVersionLine_, "protocol-version")) return false;
    out_.protocolVersion = static_cast<uint8_t>(*version);
    return true;
  }

  bool Manufacturer() {
    if (tokens_.size() != 2) return Fail("usage: manufacturer \"TEXT\"");
    if (!Once(manufacturerLine_, "manufacturer")) return false;
    return Text(tokens_[1].text, "manufacturer text", out_.manufacturer);
  }

  // line ID ["ADDRESS"] [forward KIND "DEST"]
  bool Line() {
    if (tokens_.size() < 2) return Fail("usage: line ID [\"ADDRESS\"] [forward KIND \"DEST\"]");
    auto id = ParseNumber(tokens_[1].text, 0xFFFF);
    if (tokens_[1].quoted || !id) return Fail("bad line ID '" + tokens_[1].text + "' (0 to 65535)");
    if (auto first = lineIdLines_.find(static_cast<uint16_t>(*id)); first != lineIdLines_.end()) {
      return Fail("duplicate line ID " + std::to_string(*id) + " (first on line " + std::to_string(first->second) +
                  ")");
    }
    ExchangeLine line;
    line.lineId = static_cast<uint16_t>(*id);
    size_t i = 2;
    if (i < tokens_.size() && (tokens_[i].quoted || tokens_[i].text != "forward")) {
      if (!Text(tokens_[i].text, "address", line.address)) return false;
      // An extension number belongs to one line (lines without one are fine).
      if (auto first = addressLines_.find(line.address); first != addressLines_.end() && !line.address.empty()) {
        return Fail("duplicate address \"" + tokens_[i].text + "\" (first on line " +
                    std::to_string(first->second) + ")");
      }
      ++i;
    }
    if (i < tokens_.size()) {
      if (tokens_[i].quoted || tokens_[i].text != "forward") return Fail("unexpected '" + tokens_[i].text + "'");
      if (tokens_.size() != i + 3) return Fail("usage: forward unconditional|busy|noanswer \"DEST\"");
      if (tokens_[i + 1].quoted || !ForwardingStateFromName(tokens_[i + 1].text, line.lineState) ||
          line.lineState == kForwardNone) {
        return Fail("bad forwarding '" + tokens_[i + 1].text + "' (unconditional, busy or noanswer)");
      }
      if (!Text(tokens_[i + 2].text, "forwarding destination", line.forwardDestination)) return false;
      if (line.forwardDestination.empty()) return Fail("forwarding needs a destination");
    }
    lineIdLines_[line.lineId] = lineNumber_;
    if (!line.address.empty()) addressLines_[line.address] = lineNumber_;
    out_.lines.push_back(std::move(line));
    return true;
  }

  // msn INDEX "NUMBER" [lines ID ...]
  bool Msn() {
    if (tokens_.size() < 3) return Fail("usage: msn INDEX \"NUMBER\" [lines ID ...]");
    auto index = ParseNumber(tokens_[1].text, 0xFF);
    if (tokens_[1].quoted || !index) return Fail("bad MSN index '" + tokens_[1].text + "' (0 to 255)");
    if (auto first = msnIndexLines_.find(static_cast<uint8_t>(*index)); first != msnIndexLines_.end()) {
      return Fail("duplicate MSN index " + std::to_string(*index) + " (first on line " +
                  std::to_string(first->second) + ")");
    }
    ExchangeMsn msn;
    msn.index = static_cast<uint8_t>(*index);
    if (!Text(tokens_[2].text, "MSN", msn.number)) return false;
    if (msn.number.empty()) return Fail("an MSN needs a number");
    if (auto first = msnNumberLines_.find(msn.number); first != msnNumberLines_.end()) {
      return Fail("duplicate MSN number \"" + tokens_[2].text + "\" (first on line " + std::to_string(first->second) +
                  ")");
    }
    if (tokens_.size() > 3) {
      if (tokens_[3].quoted || tokens_[3].text != "lines") return Fail("unexpected '" + tokens_[3].text + "'");
      for (size_t i = 4; i < tokens_.size(); ++i) {
        auto id = ParseNumber(tokens_[i].text, 0xFFFF);
        if (tokens_[i].quoted || !id) return Fail("bad line ID '" + tokens_[i].text + "' (0 to 65535)");
        if (std::find(msn.lineIds.begin(), msn.lineIds.end(), *id) != msn.lineIds.end()) {
          return Fail("line ID " + std::to_string(*id) + " named twice");
        }
        msn.lineIds.push_back(static_cast<uint16_t>(*id));
      }
    }
    msnIndexLines_[msn.index] = lineNumber_;
    msnNumberLines_[msn.number] = lineNumber_;
    msnLines_.push_back(lineNumber_);
    out_.msns.push_back(std::move(msn));
    return true;
  }

  // A text from the file into the ANSI code page, checked for the wire.
  bool Text(const std::string& utf8, const char* what, std::string& ansi) {
    auto wire = WireText(utf8);
    if (!wire) return Fail(std::string(what) + " has characters outside Windows-1252");
    ansi = std::move(*wire);
    if (ansi.size() > kMaxCountedBytes) {
      return Fail(std::string(what) + " longer than 255 bytes");
    }
    if (HasControlCharacter(ansi)) return Fail(std::string(what) + " holds a control character");
    return true;
  }

  // What can only be checked with the whole file read.
  void Check() {
    if (!out_.lineList16) {
      for (const ExchangeLine& line : out_.lines) {
        if (line.lineId > 0xFF) {
          Fail("line ID " + std::to_string(line.lineId) + " needs 'line-list 16' (8-bit line IDs go to 255)" +
                   (lineListLine_ ? " (line-list 8 on line " + std::to_string(lineListLine_) + ")" : ""),
               lineIdLines_[line.lineId]);
          return;
        }
      }
    }
    const size_t idSize = out_.lineList16 ? 2 : 1;
    for (size_t m = 0; m < out_.msns.size(); ++m) {
      const ExchangeMsn& msn = out_.msns[m];
      for (uint16_t id : msn.lineIds) {
        if (!lineIdLines_.count(id)) {
          Fail("MSN " + std::to_string(msn.index) + " names the unknown line ID " + std::to_string(id), msnLines_[m]);
          return;
        }
      }
      if (msn.number.size() + 1 + msn.lineIds.size() * idSize > kMaxCountedBytes) {
        Fail("MSN " + std::to_string(msn.index) + ": number and line IDs take more than 255 bytes", msnLines_[m]);
        return;
      }
    }
    size_t size = LineListValue(out_).size() + MsnListValue(out_).size() + kAddressListOverhead;
    if (size > vnl::kMaxMessage) {
      Fail("the address list (" + std::to_string(size) + " bytes) does not fit into one message of " +
               std::to_string(vnl::kMaxMessage) + " bytes",
           lineNumber_);
    }
  }

  ExchangeConfig& out_;
  const std::string source_;  // the file's name; empty for a text
  int lineNumber_ = 0;
  int lineListLine_ = 0;
  int protocolVersionLine_ = 0;
  int manufacturerLine_ = 0;
  std::vector<Token> tokens_;
  std::string error_;
  std::map<uint16_t, int> lineIdLines_;  // line ID -> its line in the file
  std::map<std::string, int> addressLines_;  // ANSI address -> its line
  std::map<uint8_t, int> msnIndexLines_;
  std::map<std::string, int> msnNumberLines_;  // ANSI number -> its line
  std::vector<int> msnLines_;  // per entry of out_.msns
};

}  // namespace

ExchangeConfig DefaultExchangeConfig() {
  ExchangeConfig config;
  config.lineList16 = false;
  config.protocolVersion = 0x30;
  config.manufacturer = "Marlix TK-Anlage (simulated)";
  config.lines = {{10, "20", kForwardNone, ""}, {11, "21", kForwardNone, ""}, {12, "22", kForwardNone, ""}};
  config.msns = {{1, "4711", {10, 11}}, {2, "4712", {12}}, {3, "4713", {10, 11, 12}}};
  return config;
}

namespace {

bool Parse(std::string_view text, const std::string& source, ExchangeConfig& out, std::string* error) {
  ExchangeConfig parsed;
  if (!Parser(parsed, source).Run(text, error)) return false;
  out = std::move(parsed);
  return true;
}

}  // namespace

bool ParseExchangeConfig(std::string_view text, ExchangeConfig& out, std::string* error) {
  return Parse(text, {}, out, error);
}

bool LoadExchangeConfig(const std::string& path, ExchangeConfig& out, std::string* error) {
  std::string text;
  std::string readError;
  if (!platform::readWholeFileText(path, &text, &readError)) {
    if (error) *error = platform::printableText(readError);
    return false;
  }
  return Parse(text, path, out, error);
}

std::optional<std::string> WireText(std::string_view utf8) {
  if (!platform::isValidUtf8(utf8)) return std::nullopt;
  std::string ansi = platform::utf8ToAnsi(utf8);
  if (platform::ansiToUtf8(ansi) != utf8) return std::nullopt;
  return ansi;
}

bool HasControlCharacter(std::string_view ansi) {
  return std::any_of(ansi.begin(), ansi.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::vector<uint8_t> LineListValue(const ExchangeConfig& config) {
  std::vector<uint8_t> value;
  for (const ExchangeLine& line : config.lines) {
    if (config.lineList16) {
      value.push_back(static_cast<uint8_t>(line.lineId >> 8));
      value.push_back(static_cast<uint8_t>(line.lineId));
    } else {
      size_t length = std::min(line.address.size(), kMaxCountedBytes);
      value.push_back(static_cast<uint8_t>(line.lineId));
      value.push_back(static_cast<uint8_t>(length));
      value.insert(value.end(), line.address.begin(), line.address.begin() + static_cast<std::ptrdiff_t>(length));
    }
  }
  return value;
}

std::vector<uint8_t> MsnListValue(const ExchangeConfig& config) {
  std::vector<uint8_t> value;
  const size_t idSize = config.lineList16 ? 2 : 1;
  for (const ExchangeMsn& msn : config.msns) {
    // The entry's length byte limits what fits; the parser refuses more, a
    // configuration built in code is cut to whole line IDs.
    size_t numberLength = std::min(msn.number.size(), kMaxCountedBytes - 1);
    size_t ids = std::min(msn.lineIds.size(), (kMaxCountedBytes - 1 - numberLength) / idSize);
    value.push_back(msn.index);
    value.push_back(static_cast<uint8_t>(numberLength + 1 + ids * idSize));
    value.insert(value.end(), msn.number.begin(), msn.number.begin() + static_cast<std::ptrdiff_t>(numberLength));
    value.push_back(0);
    for (size_t i = 0; i < ids; ++i) {
      if (idSize == 2) value.push_back(static_cast<uint8_t>(msn.lineIds[i] >> 8));
      value.push_back(static_cast<uint8_t>(msn.lineIds[i]));
    }
  }
  return value;
}

bool ForwardingStateFromName(std::string_view name, uint8_t& state) {
  if (name == "none") {
    state = kForwardNone;
  } else if (name == "unconditional") {
    state = kForwardUnconditional;
  } else if (name == "busy") {
    state = kForwardBusy;
  } else if (name == "noanswer") {
    state = kForwardNoAnswer;
  } else {
    return false;
  }
  return true;
}

std::string ForwardingStateName(uint8_t state) {
  switch (state) {
    case kForwardNone: return "none";
    case kForwardUnconditional: return "unconditional";
    case kForwardBusy: return "busy";
    case kForwardNoAnswer: return "noanswer";
    default: {
      static const char kDigits[] = "0123456789abcdef";
      return std::string("0x") + kDigits[state >> 4] + kDigits[state & 0xF];
    }
  }
}

}  // namespace exchange
