#include "discovery/discovery_core.h"

#include <cstdio>
#include <optional>

namespace discovery {

std::string datagramText(std::string_view datagram) {
  std::string_view text = datagram.substr(0, kMaxDatagramBytes);
  return std::string(text.substr(0, text.find('\0')));
}

bool isAnswer(std::string_view datagram) { return datagramText(datagram).find(kAnswerText) != std::string::npos; }

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One part of an inet_addr text at the front of `text`: "0x" hexadecimal,
// a leading "0" octal, else decimal; consumed from `text`. Nothing when it
// does not start with a digit, has a digit its base lacks or exceeds 32 bits.
std::optional<uint64_t> takeInetPart(std::string_view& text) {
  if (text.empty() || !isDigit(text.front())) return std::nullopt;
  unsigned base = 10;
  if (text.front() == '0') {
    base = 8;
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == 'x' || text.front() == 'X')) {
      base = 16;
      text.remove_prefix(1);
    }
  }
  uint64_t value = 0;
  while (!text.empty()) {
    const char c = text.front();
    unsigned digit;
    if (isDigit(c)) {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
    } else {
      break;
    }
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFF) return std::nullopt;
    text.remove_prefix(1);
  }
  return value;
}

// inet_addr's grammar: one to four parts separated by dots; the last part
// fills the bytes the ones before it left (a.b: b is 24 bits, a.b.c: c is 16).
std::optional<uint32_t> parseInetAddr(std::string_view text) {
  uint64_t parts[4];
  size_t count = 0;
  for (;;) {
    std::optional<uint64_t> part = takeInetPart(text);
    if (!part) return std::nullopt;
    parts[count++] = *part;
    if (text.empty() || text.front() != '.') break;
    if (count == 4) return std::nullopt;
    text.remove_prefix(1);
  }
  if (!text.empty() && !isSpace(text.front())) return std::nullopt;
  const uint64_t lastLimit[] = {0xFFFFFFFF, 0xFFFFFF, 0xFFFF, 0xFF};
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return std::nullopt;
  }
  if (parts[count - 1] > lastLimit[count - 1]) return std::nullopt;
  uint64_t address = parts[count - 1];
  for (size_t i = 0; i + 1 < count; ++i) address |= parts[i] << (8 * (3 - i));
  return static_cast<uint32_t>(address);
}

}  // namespace

uint32_t parseAddress(std::string_view text) {
  if (text.empty()) return 0xFFFFFFFF;
  return parseInetAddr(text.substr(0, text.find('\0'))).value_or(0xFFFFFFFF);
}

bool parseDottedQuad(std::string_view text, uint32_t& address) {
  uint32_t value = 0;
  for (int octetIndex = 0; octetIndex < 4; ++octetIndex) {
    if (octetIndex > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    size_t digits = 0;
    unsigned octetValue = 0;
    while (digits < text.size() && isDigit(text[digits])) {
      octetValue = octetValue * 10 + static_cast<unsigned>(text[digits] - '0');
      if (++digits > 3) return false;
    }
    if (digits == 0 || octetValue > 255 || (digits > 1 && text.front() == '0')) return false;
    text.remove_prefix(digits);
    value = (value << 8) | octetValue;
  }
  if (!text.empty()) return false;
  address = value;
  return true;
}

std::string formatAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", octet(address, 0), octet(address, 1), octet(address, 2),
                octet(address, 3));
  return text;
}

std::string normaliseAddress(std::string_view text) { return formatAddress(parseAddress(text)); }

uint32_t addressFromOctets(int first, int second, int third, int fourth) {
  return (static_cast<uint32_t>(first & 0xFF) << 24) | (static_cast<uint32_t>(second & 0xFF) << 16) |
         (static_cast<uint32_t>(third & 0xFF) << 8) | static_cast<uint32_t>(fourth & 0xFF);
}

int octet(uint32_t address, int index) { return static_cast<int>((address >> (8 * (3 - index))) & 0xFF); }

OctetValue parseOctet(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  OctetValue result;
  if (text.empty()) return result;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return result;
    if (value <= 0xFFFFFFFFLL) value = value * 10 + (c - '0');  // stays out of range once past it
  }
  if (negative) value = -value;
  result.value = value < 0 ? -1 : value > 255 ? 256 : static_cast<int>(value);
  result.check = value < 0 || value > 255 ? OctetCheck::OutOfRange : OctetCheck::Ok;
  return result;
}

SearchTarget searchTarget(const char* targetSetting) {
  SearchTarget target;
  if (targetSetting == nullptr) {
    target.kind = SearchTarget::Kind::Broadcast;
    target.bindAddress = "0.0.0.0";
    target.sendAddress = kBroadcastAddress;
    return target;
  }
  const std::string text(targetSetting);
  uint32_t address = 0;
  if (!parseDottedQuad(text, address)) {
    target.reason = "TK_DISCOVERY_TARGET '" + text + "' is no dotted IPv4 address; nothing is sent";
  } else if ((address >> 24) != 127) {
    target.reason = "TK_DISCOVERY_TARGET " + text + " is not in 127.0.0.0/8; nothing is sent";
  } else {
    target.kind = SearchTarget::Kind::Loopback;
    target.bindAddress = "127.0.0.1";
    target.sendAddress = text;
  }
  return target;
}

}  // namespace discovery
