// libFuzzer target for what router discovery reads from outside: a received
// datagram (datagramText, isAnswer and the escaped text the search logs), the
// address texts of the settings (parseAddress, normaliseAddress), an octet
// edit's text (parseOctet) and the TK_DISCOVERY_TARGET setting
// (searchTarget). Nothing may crash, leak or read out of bounds; the text of
// a datagram is a prefix of at most 255 bytes without a zero byte, and it is
// an answer exactly when it holds the answer text; an address formatted and
// read again is the same address; an octet that checks out lies in 0..255; a
// target other than the unset one never broadcasts and sends only to
// 127.0.0.0/8. No socket is opened.
//
// Input: the bytes of one datagram, also read as each of the texts above.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "discovery/discovery_core.h"
#include "platform/printable_text.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The longest line the search writes for a datagram: its fixed words, the
// sender's address and the datagram's escaped text (see detect_socket.cpp).
constexpr size_t kReceiveLineBuffer = 1536;
constexpr size_t kReceiveLineFixed = sizeof("Receive Msg:IP: 255.255.255.255 Port: 5000: \"\"\n");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string text = discovery::datagramText(bytes);
  require(text.size() <= discovery::kMaxDatagramBytes && text.find('\0') == std::string::npos);
  require(bytes.starts_with(text));
  require(text.size() == std::min(size, discovery::kMaxDatagramBytes) || bytes[text.size()] == '\0');
  require(discovery::isAnswer(bytes) == (text.find(discovery::kAnswerText) != std::string::npos));
  // The logged line holds the whole escaped text.
  const std::string shown = platform::printableText(text);
  require(shown.size() + kReceiveLineFixed <= kReceiveLineBuffer);
  for (char c : shown) require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);

  const uint32_t address = discovery::parseAddress(bytes);
  const std::string formatted = discovery::formatAddress(address);
  require(discovery::parseAddress(formatted) == address);
  require(discovery::normaliseAddress(bytes) == formatted);
  for (int i = 0; i < 4; ++i) require(discovery::octet(address, i) >= 0 && discovery::octet(address, i) <= 255);
  require(discovery::addressFromOctets(discovery::octet(address, 0), discovery::octet(address, 1),
                                       discovery::octet(address, 2), discovery::octet(address, 3)) == address);

  const discovery::OctetValue octet = discovery::parseOctet(bytes);
  if (octet.check == discovery::OctetCheck::Ok) require(octet.value >= 0 && octet.value <= 255);
  if (octet.check == discovery::OctetCheck::OutOfRange) require(octet.value == -1 || octet.value == 256);

  const std::string setting(bytes.substr(0, bytes.find('\0')));
  const discovery::SearchTarget target = discovery::searchTarget(setting.c_str());
  require(target.kind != discovery::SearchTarget::Kind::Broadcast);
  if (target.kind == discovery::SearchTarget::Kind::Loopback) {
    require(target.reason.empty() && target.bindAddress == "127.0.0.1");
    require((discovery::parseAddress(target.sendAddress) >> 24) == 127);
  } else {
    require(!target.reason.empty() && target.sendAddress.empty() && target.bindAddress.empty());
  }
  return 0;
}
