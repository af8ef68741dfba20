#pragma once
// The layer-2 frame of the serial link, without any I/O.
//
// In: frame fields (control parts, address, data) for the builders; received
// bytes, in chunks split anywhere, for Layer2FrameParser.
// Out: the bytes of one frame, ready for one transport write; complete frames
// whose CRCs checked, one per call, with their fields decoded.
// Threads: none. A parser belongs to the receive thread that feeds it; the
// builders are plain functions.
//
// Every frame starts with two 0x16 bytes and is protected by CRC-16/CCITT-FALSE
// (stored high byte first):
//   I-frame:   16 16 control address n(hi lo) hcrc(hi lo) data[n] dcrc(hi lo)
//   S/U-frame: 16 16 control address crc(hi lo)
// The header CRC covers control to n, the data CRC covers the data alone.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace layer2 {

constexpr uint8_t kSync = 0x16;
constexpr size_t kMaxIFrameData = 2038;
constexpr size_t kShortFrameSize = 6;   // S- and U-frames
constexpr size_t kIFrameHeaderSize = 8;  // up to and including the header CRC
constexpr size_t kIFrameOverhead = 10;   // header plus data CRC

// Control field: bits 0-1 select the class (01 S, 11 U, x0 I), bit 4 is P/F,
// N(R) sits in bits 5-7 and an I-frame's N(S) in bits 1-3.
constexpr uint8_t kPollFinal = 0x10;
// S-frame kinds (the low bits without P/F).
constexpr uint8_t kRR = 0x01;
constexpr uint8_t kRNR = 0x05;
constexpr uint8_t kREJ = 0x09;
// U-frame controls (the whole byte).
constexpr uint8_t kSTART = 0x3F;
constexpr uint8_t kDISC = 0x53;
constexpr uint8_t kUA = 0x73;
constexpr uint8_t kDM = 0x0F;
constexpr uint8_t kFRMR = 0x83;

enum class FrameClass : uint8_t { kInformation, kSupervisory, kUnnumbered };

FrameClass ClassOf(uint8_t control);

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, MSB first, no final
// XOR. Over covered bytes followed by their CRC (high byte first) it gives 0.
uint16_t Crc16(std::span<const uint8_t> bytes);

// The builders return an empty vector (never a shortened frame) for what may
// not be sent: more than kMaxIFrameData data bytes, an S-frame kind other than
// RR, RNR or REJ, a U-frame control other than those above. Sequence numbers
// are taken modulo 8.
std::vector<uint8_t> BuildIFrame(uint8_t nr, uint8_t ns, uint8_t address, std::span<const uint8_t> data);
std::vector<uint8_t> BuildSFrame(uint8_t kind, bool pollFinal, uint8_t nr, uint8_t address);
std::vector<uint8_t> BuildUFrame(uint8_t control, uint8_t address);

// One received frame whose CRCs checked.
struct Frame {
  FrameClass frameClass = FrameClass::kInformation;
  // S-frame: the low five bits (kind and P/F); U- and I-frame: the whole byte.
  uint8_t control = 0;
  uint8_t ns = 0;  // I-frames only
  uint8_t nr = 0;  // I- and S-frames
  bool pollFinal = false;
  uint8_t address = 0;
  std::vector<uint8_t> data;  // I-frames only
};

// Link log sink: level (1 error, 2 warning, 4 trace) and the finished line.
using LogSink = std::function<void(uint32_t level, const std::string& line)>;

// The receive parser. Received bytes are appended to a 4096-byte buffer and
// consumed from the front. A parser for a serial or USB link starts in the
// text phases that read the exchange's service answer (service_answer.h):
//   kCtiInit  drop everything up to and including the first CR,
//   kCtiCheck look at each line until one holds "CTI": the answer.
// Once the answer is found Check returns false and TakeServiceAnswer hands
// it out; the next Check goes on in the frame phases with the bytes that
// followed the answer's CR. The frame phases:
//   kHunting  look for 16 16; S- and U-frames are complete here,
//   kHeader   an I-frame header of 8 bytes, checked by its CRC,
//   kBody     the I-frame's data and data CRC.
// A bad frame drops its first sync byte and hunting resumes on the next
// pair, so a good frame that starts on the second byte of a bad one (16 16
// 16 <frame>) is still found; only a bad I-frame header is logged ("I-Frame
// HeaderCheck Failed"). A good I-frame whose data cannot be copied (memory
// short) is dropped whole, logged, and never returned: the link does not
// acknowledge it, so the exchange sends it again.
//
// More than 4096 bytes without a frame: the frame phases skip what is not a
// frame and no frame is longer than half the buffer, so only a text line
// without a CR can fill it; the oldest bytes then go, as many as the newer
// ones need, so the parser follows the newest bytes.
class Layer2FrameParser {
 public:
  static constexpr size_t kCapacity = 4096;
  // The numbers are the phase of the parser's trace line ("State 0x%x").
  enum class Phase : uint8_t { kCtiInit = 0, kCtiCheck = 1, kHunting = 2, kHeader = 3, kBody = 4 };

  explicit Layer2FrameParser(LogSink log = {}, Phase start = Phase::kHunting);

  // Takes the bytes of one receive (none when called again after a frame).
  // True when `frame` holds the next complete frame; call again without bytes
  // until it returns false.
  bool Check(Frame& frame, const uint8_t* bytes, size_t count);
  // The service answer the text phases found since the last call, once.
  std::optional<std::string> TakeServiceAnswer();
  // The stream ended: what is buffered (part of a frame or of a line) goes;
  // a parser in the frame phases hunts again.
  void Clear();

  Phase phase() const { return phase_; }
  // Bytes received and neither handed out in a frame nor skipped.
  size_t buffered() const { return fill_ + pending_.size() - pendingStart_; }

  // For tests: called with the size of every I-frame data copy before it is
  // made; it may throw std::bad_alloc to stand for memory running short.
  void SetCopyHookForTest(std::function<void(size_t)> hook) { copyHook_ = std::move(hook); }

 private:
  enum class Step : uint8_t { kFrame, kAgain, kNeedBytes, kAnswer };
  Step Parse(Frame& frame);
  Step Hunt(Frame& frame);
  Step Body(Frame& frame);
  Step Text();
  // A bad frame at the front: its first sync byte goes, hunting resumes.
  void Resync();
  void MovePendingIn();
  void Consume(size_t count);
  void Log(uint32_t level, const std::string& line) const;

  LogSink log_;
  Phase phase_;
  uint8_t buffer_[kCapacity] = {};
  size_t fill_ = 0;
  size_t dataLength_ = 0;  // n of the I-frame in kHeader and kBody
  // Received bytes that do not fit the buffer yet; they move in as frames
  // leave, so no chunk ever runs past the end of the buffer.
  std::vector<uint8_t> pending_;
  size_t pendingStart_ = 0;
  std::optional<std::string> answer_;
  std::function<void(size_t)> copyHook_;
};

}  // namespace layer2
