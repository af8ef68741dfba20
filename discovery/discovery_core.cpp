#include "discovery/discovery_core.h"

#include <arpa/inet.h>

#include <cstdio>

namespace discovery {

std::string datagramText(std::string_view datagram) {
  std::string_view text = datagram.substr(0, kMaxDatagramBytes);
  return std::string(text.substr(0, text.find('\0')));
}

bool isAnswer(std::string_view datagram) { return datagramText(datagram).find(kAnswerText) != std::string::npos; }

uint32_t parseAddress(std::string_view text) {
  if (text.empty()) return 0xFFFFFFFF;
  const std::string copy(text.substr(0, text.find('\0')));
  return ntohl(::inet_addr(copy.c_str()));
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
  in_addr address;
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
    target.reason = "TK_DISCOVERY_TARGET '" + text + "' is no dotted IPv4 address; nothing is sent";
  } else if ((ntohl(address.s_addr) >> 24) != 127) {
    target.reason = "TK_DISCOVERY_TARGET " + text + " is not in 127.0.0.0/8; nothing is sent";
  } else {
    target.kind = SearchTarget::Kind::Loopback;
    target.bindAddress = "127.0.0.1";
    target.sendAddress = text;
  }
  return target;
}

}  // namespace discovery
