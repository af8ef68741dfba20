#pragma once
// The parts of router discovery that need no socket and no dialog: the
// request and answer texts, the address text conversions of the settings
// dialog, the octet check of its four edits and where a search may send.
// Sans-IO: text and numbers in, text and numbers out.
//
// Addresses as numbers are 32-bit with the first octet in the highest byte
// (192.168.1.2 is 0xC0A80102), as the search dialog receives them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace discovery {

// The request: these 29 bytes, no terminating zero, to port 5000.
constexpr std::string_view kRequestText = "detect router in lan by Ondra";
// An exchange's answer holds this text somewhere in its first bytes.
constexpr std::string_view kAnswerText = "Ondra router received udpmsg from :";
constexpr uint16_t kDiscoveryPort = 5000;
constexpr const char* kBroadcastAddress = "255.255.255.255";
// Bytes of a datagram that are read; the rest is dropped.
constexpr size_t kMaxDatagramBytes = 255;

// A received datagram as text: its first kMaxDatagramBytes bytes, up to the
// first zero byte.
std::string datagramText(std::string_view datagram);
// True when the datagram's text holds kAnswerText.
bool isAnswer(std::string_view datagram);

// The dotted-quad parser of the socket interface (inet_addr: also "10.1",
// hexadecimal and octal parts); 0xFFFFFFFF for an empty or invalid text.
// The text ends at its first zero byte; blanks may follow the address.
uint32_t parseAddress(std::string_view text);
// A strict dotted quad (inet_pton): exactly four decimal octets 0 to 255
// without leading zeros and nothing else. False (address untouched) when the
// text is not one.
bool parseDottedQuad(std::string_view text, uint32_t& address);
// "%d.%d.%d.%d", first octet first.
std::string formatAddress(uint32_t address);
// The text through parseAddress and back: "" and "x" give "255.255.255.255".
std::string normaliseAddress(std::string_view text);
uint32_t addressFromOctets(int first, int second, int third, int fourth);
int octet(uint32_t address, int index);  // index 0 is the first octet

// An octet edit's text as the settings dialog reads it: an integer with
// optional sign and surrounding blanks, 0 to 255.
enum class OctetCheck { Ok, NotNumber, OutOfRange };
struct OctetValue {
  OctetCheck check = OctetCheck::NotNumber;
  int value = 0;
};
OctetValue parseOctet(std::string_view text);
// The messages of the range check, as the dialog framework words them.
constexpr const char* kNotNumberMessage = "Please enter an integer.";
constexpr const char* kOutOfRangeMessage = "Please enter an integer between 0 and 255.";

// Where a search sends and what its socket binds to, from the value of
// TK_DISCOVERY_TARGET (nullptr: not set). Unset: bind every local address,
// send to 255.255.255.255. An address in 127.0.0.0/8: bind 127.0.0.1 and
// send there. Anything else (also an empty value): send nothing, and
// `reason` says why; a search never falls back to broadcasting.
struct SearchTarget {
  enum class Kind { Broadcast, Loopback, Refused };
  Kind kind = Kind::Refused;
  std::string bindAddress;
  std::string sendAddress;
  std::string reason;
};
SearchTarget searchTarget(const char* targetSetting);

}  // namespace discovery
