#pragma once
// The simulated exchange's lines (extensions) and subscriber numbers (MSNs),
// and how it announces them in its address list. The configuration is read
// from a small line-oriented text file (UTF-8):
//
//   # comment (also after a command; '#' inside quotes is text)
//   line-list 8|16               address list with 8-bit line IDs and
//                                addresses (default) or with 16-bit line
//                                IDs and no addresses
//   protocol-version N           the exchange's protocol version (default 0x30)
//   manufacturer "TEXT"          its manufacturer text
//   line ID ["ADDRESS"] [forward unconditional|busy|noanswer "DEST"]
//                                one line: its ID, its address (the extension
//                                number) and an initial forwarding
//   msn INDEX "NUMBER" [lines ID ...]
//                                one subscriber number and the lines using it
//
// Numbers are decimal or hexadecimal with 0x. Texts are quoted ("..." with
// \" and \\) or single bare words; they are kept in the ANSI code page
// (Windows-1252), as they go on the wire, so a text with characters outside
// that code page is refused.
//
// The file may start with a UTF-8 byte order mark and may end its lines in
// CR LF; a line that is not UTF-8 is refused. Everything is defined once:
// a second line-list, protocol-version or manufacturer, a line ID, line
// address (extension number), MSN index or MSN number used twice, or a line
// ID named twice in one msn line is an error that names both lines.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

// The LINE_STATE byte of a line's forwarding.
inline constexpr uint8_t kForwardNone = 0x00;
inline constexpr uint8_t kForwardUnconditional = 0x10;
inline constexpr uint8_t kForwardBusy = 0x11;
inline constexpr uint8_t kForwardNoAnswer = 0x12;

struct ExchangeLine {
  uint16_t lineId = 0;
  std::string address;  // ANSI
  uint8_t lineState = kForwardNone;
  std::string forwardDestination;  // ANSI; empty without forwarding
};

struct ExchangeMsn {
  uint8_t index = 0;
  std::string number;  // ANSI
  std::vector<uint16_t> lineIds;
};

struct ExchangeConfig {
  bool lineList16 = false;
  uint8_t protocolVersion = 0x30;
  std::string manufacturer;  // ANSI
  std::vector<ExchangeLine> lines;
  std::vector<ExchangeMsn> msns;
};

// A small demo exchange: extensions 10 "20", 11 "21" and 12 "22" and three
// subscriber numbers.
ExchangeConfig DefaultExchangeConfig();

// Parses the text of a configuration file into out (which starts from the
// defaults of ExchangeConfig, without lines or numbers). False with *error
// ("line N: ...") on the first fault; out is then left alone. Text from the
// file in *error is made safe to print (platform::printableText).
bool ParseExchangeConfig(std::string_view text, ExchangeConfig& out, std::string* error);
// The same for a file; *error names it: "PATH:N: ..." for a fault in the
// text, "cannot read PATH: it is a folder, not a file" and the like when it
// cannot be read.
bool LoadExchangeConfig(const std::string& path, ExchangeConfig& out, std::string* error);

// A text for the wire: UTF-8 in, the ANSI code page (Windows-1252) out;
// nothing when the text is not UTF-8 or holds characters that code page
// lacks (they are not replaced by '?').
std::optional<std::string> WireText(std::string_view utf8);
// Whether a text for the wire (ANSI) holds a control character, which no
// number, address or name may.
bool HasControlCharacter(std::string_view ansi);

// The value bytes of the address list parameters. LINE_LIST entries: line ID
// (1 byte), address length, address bytes; LINE_LIST_16 entries: line ID
// (2 bytes, big-endian) only. MSN_LIST entries: index, length E of the rest,
// number bytes, a 0 byte, then the IDs of the lines using the number (1 or 2
// bytes each, by the line list's width).
std::vector<uint8_t> LineListValue(const ExchangeConfig& config);
std::vector<uint8_t> MsnListValue(const ExchangeConfig& config);

// The LINE_STATE byte for "none", "unconditional", "busy" or "noanswer", and
// back ("0x13" for a value without a name). False for an unknown name.
bool ForwardingStateFromName(std::string_view name, uint8_t& state);
std::string ForwardingStateName(uint8_t state);

}  // namespace exchange
