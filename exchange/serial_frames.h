#pragma once
// The exchange's codec for the frames of the serial link, without I/O.
//
// Frames: two 0x16 sync bytes, control, address; S- and U-frames end with a
// CRC over control and address (6 bytes); I-frames carry a 16-bit length, a
// CRC over control, address and length, the data and a CRC over the data
// (n + 10 bytes). CRC-16/CCITT-FALSE, stored high byte first.
//
// In:  frame fields for the builders; received bytes for SerialFrameParser,
//      in chunks split anywhere.
// Out: whole frames as byte vectors; parsed items in stream order: frames,
//      runs of bytes passed over while hunting for a frame (the owner looks
//      for the service request among them) and reports of dropped frames.
// Threads: none; one owner per parser.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace exchange::serial {

inline constexpr uint8_t kSync = 0x16;
inline constexpr size_t kMaxData = 2038;  // longest I-frame data field
inline constexpr size_t kShortFrame = 6;  // S- and U-frames
inline constexpr size_t kIFrameOverhead = 10;

// Control values; S-frame kinds are the low nibble, N(R) in bits 5-7.
inline constexpr uint8_t kRR = 0x01;
inline constexpr uint8_t kRNR = 0x05;
inline constexpr uint8_t kREJ = 0x09;
inline constexpr uint8_t kPollFinal = 0x10;
inline constexpr uint8_t kSTART = 0x3F;
inline constexpr uint8_t kDISC = 0x53;
inline constexpr uint8_t kUA = 0x73;
inline constexpr uint8_t kDM = 0x0F;
inline constexpr uint8_t kFRMR = 0x83;

// The service address the exchange sends its I-frames for.
inline constexpr uint8_t kServiceAddress = 0x20;

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, MSB first, no final XOR),
// continued from `crc`.
uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = 0xFFFF);

// An I-frame; empty when the data is longer than kMaxData.
std::vector<uint8_t> BuildIFrame(uint8_t ns, uint8_t nr, uint8_t address,
                                 std::span<const uint8_t> data);
// An S-frame: kind kRR, kRNR or kREJ, the P/F bit, N(R), address.
std::vector<uint8_t> BuildSFrame(uint8_t kind, bool pollFinal, uint8_t nr, uint8_t address);
// A U-frame with the whole control byte (kSTART, kDISC, kUA, kDM, kFRMR).
std::vector<uint8_t> BuildUFrame(uint8_t control, uint8_t address = 0);

struct SerialFrame {
  enum class Kind : uint8_t { kI, kS, kU };
  Kind kind = Kind::kU;
  uint8_t control = 0;  // the whole control byte
  uint8_t address = 0;
  std::vector<uint8_t> data;  // I-frames only

  uint8_t Ns() const { return (control >> 1) & 7; }
  uint8_t Nr() const { return (control >> 5) & 7; }
  bool PollFinal() const { return (control & kPollFinal) != 0; }
  uint8_t SKind() const { return control & 0x0F; }
};

// Short name for events: "I 2/5", "S-RR PF 3", "U-START", "U-83".
std::string FrameName(const SerialFrame& frame);

struct ParsedItem {
  enum class Kind : uint8_t { kFrame, kSkipped, kBad };
  Kind kind = Kind::kFrame;
  SerialFrame frame;            // kFrame
  std::vector<uint8_t> bytes;   // kSkipped: bytes passed over while hunting
  std::string_view why;         // kBad: "crc", "header-crc", "data-crc", "length"
};

// Finds frames in a byte stream. A frame whose CRC fails loses its two sync
// bytes and everything after them is searched again, so a good frame right
// behind a damaged one is still found.
class SerialFrameParser {
 public:
  // Room for the longest I-frame and then some.
  static constexpr size_t kCapacity = 4096;

  // Takes as many bytes as there is room for and returns that count; the
  // caller drains Next() and offers the rest again.
  size_t Append(std::span<const uint8_t> bytes);
  // The next item in stream order; nothing when more bytes are needed.
  std::optional<ParsedItem> Next();
  // Gives up on a frame that never completed: its first sync byte is
  // dropped and the bytes behind it are searched again.
  void Abandon();
  size_t Buffered() const { return buffer_.size() - start_; }
  void Reset();

 private:
  std::span<const uint8_t> Pending() const;
  void Consume(size_t n);

  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
};

}  // namespace exchange::serial
