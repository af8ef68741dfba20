#include "link/control/layer2_frame.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "link/control/service_answer.h"

namespace layer2 {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    table[i] = crc;
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

void AppendCrc(std::vector<uint8_t>& frame, size_t from) {
  uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(from));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc));
}

// The log name of an S-frame ("S-RR PF") or U-frame ("U-UA"); empty for
// controls that have none.
std::string ControlName(FrameClass frameClass, uint8_t control) {
  if (frameClass == FrameClass::kSupervisory) {
    const char* kind = nullptr;
    switch (control & ~kPollFinal & 0x1F) {
      case kRR: kind = "S-RR"; break;
      case kRNR: kind = "S-RNR"; break;
      case kREJ: kind = "S-REJ"; break;
      default: return {};
    }
    return std::string(kind) + (control & kPollFinal ? " PF" : "");
  }
  switch (control) {
    case kSTART: return "U-START";
    case kDISC: return "U-DISC";
    case kUA: return "U-UA";
    case kDM: return "U-DM";
    case kFRMR: return "U-FRMR";
    default: return {};
  }
}


}  // namespace

FrameClass ClassOf(uint8_t control) {
  if ((control & 0x03) == 0x01) return FrameClass::kSupervisory;
  if ((control & 0x03) == 0x03) return FrameClass::kUnnumbered;
  return FrameClass::kInformation;
}

uint16_t Crc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ b) & 0xFF]);
  return crc;
}

std::vector<uint8_t> BuildIFrame(uint8_t nr, uint8_t ns, uint8_t address, std::span<const uint8_t> data) {
  if (data.size() > kMaxIFrameData) return {};
  std::vector<uint8_t> frame;
  frame.reserve(kIFrameOverhead + data.size());
  frame.insert(frame.end(), {kSync, kSync, static_cast<uint8_t>((nr & 7) << 5 | (ns & 7) << 1), address,
                             static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())});
  AppendCrc(frame, 2);
  frame.insert(frame.end(), data.begin(), data.end());
  AppendCrc(frame, kIFrameHeaderSize);
  return frame;
}

std::vector<uint8_t> BuildSFrame(uint8_t kind, bool pollFinal, uint8_t nr, uint8_t address) {
  if (kind != kRR && kind != kRNR && kind != kREJ) return {};
  uint8_t control = static_cast<uint8_t>((nr & 7) << 5 | (pollFinal ? kPollFinal : 0) | kind);
  std::vector<uint8_t> frame{kSync, kSync, control, address};
  AppendCrc(frame, 2);
  return frame;
}

std::vector<uint8_t> BuildUFrame(uint8_t control, uint8_t address) {
  if (control != kSTART && control != kDISC && control != kUA && control != kDM && control != kFRMR) return {};
  std::vector<uint8_t> frame{kSync, kSync, control, address};
  AppendCrc(frame, 2);
  return frame;
}

Layer2FrameParser::Layer2FrameParser(LogSink log, Phase start) : log_(std::move(log)), phase_(start) {}

bool Layer2FrameParser::Check(Frame& frame, const uint8_t* bytes, size_t count) {
  if (bytes && count > 0) pending_.insert(pending_.end(), bytes, bytes + count);
  for (;;) {
    MovePendingIn();
    Step step = Parse(frame);
    if (step == Step::kFrame) return true;
    if (step == Step::kAnswer) return false;
    if (step == Step::kAgain) continue;
    if (pendingStart_ == pending_.size()) return false;
    // Waiting for bytes with a full buffer and more received: a text line
    // without a CR (see the class comment). The oldest bytes go, as many as
    // the pending ones need.
    size_t drop = std::min(fill_, pending_.size() - pendingStart_);
    Consume(drop);
    if (phase_ == Phase::kHeader || phase_ == Phase::kBody) phase_ = Phase::kHunting;
  }
}

std::optional<std::string> Layer2FrameParser::TakeServiceAnswer() { return std::exchange(answer_, std::nullopt); }

void Layer2FrameParser::Clear() {
  fill_ = 0;
  pending_.clear();
  pendingStart_ = 0;
  if (phase_ == Phase::kHeader || phase_ == Phase::kBody) phase_ = Phase::kHunting;
}

void Layer2FrameParser::MovePendingIn() {
  size_t move = std::min(kCapacity - fill_, pending_.size() - pendingStart_);
  if (move > 0) std::memcpy(buffer_ + fill_, pending_.data() + pendingStart_, move);
  fill_ += move;
  pendingStart_ += move;
  if (pendingStart_ == pending_.size()) {
    pending_.clear();
    pendingStart_ = 0;
  }
}

void Layer2FrameParser::Consume(size_t count) {
  count = std::min(count, fill_);
  std::memmove(buffer_, buffer_ + count, fill_ - count);
  fill_ -= count;
}

void Layer2FrameParser::Resync() {
  Consume(1);
  phase_ = Phase::kHunting;
}

void Layer2FrameParser::Log(uint32_t level, const std::string& line) const {
  if (log_) log_(level, line);
}

Layer2FrameParser::Step Layer2FrameParser::Parse(Frame& frame) {
  switch (phase_) {
    case Phase::kCtiInit:
    case Phase::kCtiCheck:
      return Text();
    case Phase::kHeader:
      if (fill_ < kIFrameHeaderSize) return Step::kNeedBytes;
      if (Crc16({buffer_ + 2, kIFrameHeaderSize - 2}) == 0) {
        phase_ = Phase::kBody;
      } else {
        Log(2, "I-Frame HeaderCheck Failed");
        Resync();
      }
      return Step::kAgain;
    case Phase::kBody:
      return Body(frame);
    default:
      return Hunt(frame);
  }
}

Layer2FrameParser::Step Layer2FrameParser::Text() {
  ServiceAnswerScan scan = ScanServiceAnswer({buffer_, fill_}, phase_ == Phase::kCtiCheck, log_);
  Consume(scan.consumed);
  phase_ = scan.checking ? Phase::kCtiCheck : Phase::kCtiInit;
  if (!scan.answer) return Step::kNeedBytes;
  answer_ = std::move(scan.answer);
  phase_ = Phase::kHunting;
  return Step::kAnswer;
}

Layer2FrameParser::Step Layer2FrameParser::Body(Frame& frame) {
  size_t size = dataLength_ + kIFrameOverhead;
  if (fill_ < size) return Step::kNeedBytes;
  if (Crc16({buffer_ + kIFrameHeaderSize, dataLength_ + 2}) != 0) {
    Resync();  // a bad data CRC is dropped without a log line
    return Step::kAgain;
  }
  phase_ = Phase::kHunting;
  try {
    if (copyHook_) copyHook_(dataLength_);
    frame.data.assign(buffer_ + kIFrameHeaderSize, buffer_ + kIFrameHeaderSize + dataLength_);
  } catch (const std::bad_alloc&) {
    Consume(size);
    char line[96];
    std::snprintf(line, sizeof line, "CheckFrame I-Frame dropped - no memory for %u bytes !",
                  static_cast<unsigned>(dataLength_));
    Log(1, line);
    return Step::kAgain;
  }
  uint8_t control = buffer_[2];
  frame.frameClass = FrameClass::kInformation;
  frame.control = control;
  frame.ns = (control >> 1) & 7;
  frame.nr = control >> 5;
  frame.pollFinal = (control & kPollFinal) != 0;
  frame.address = buffer_[3];
  Consume(size);
  // The data's address as the link log shows pointers: its low 32 bits.
  char line[128];
  std::snprintf(line, sizeof line, "CheckFrame I-Frame Dest: %x NSend: %x NRec %x Length %x &Buffer %lx",
                frame.address, frame.ns, frame.nr, static_cast<unsigned>(dataLength_),
                static_cast<unsigned long>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(frame.data.data()))));
  Log(4, line);
  return Step::kFrame;
}

Layer2FrameParser::Step Layer2FrameParser::Hunt(Frame& frame) {
  if (fill_ < kShortFrameSize) return Step::kNeedBytes;
  if (buffer_[0] != kSync) {
    const uint8_t* sync = static_cast<const uint8_t*>(std::memchr(buffer_, kSync, fill_));
    Consume(sync ? static_cast<size_t>(sync - buffer_) : fill_);
    return Step::kAgain;
  }
  if (buffer_[1] != kSync) {
    Consume(1);
    return Step::kAgain;
  }
  uint8_t control = buffer_[2];
  FrameClass frameClass = ClassOf(control);
  if (frameClass == FrameClass::kInformation) {
    dataLength_ = static_cast<size_t>(buffer_[4]) << 8 | buffer_[5];
    if (dataLength_ <= kMaxIFrameData) {
      phase_ = Phase::kHeader;
    } else {
      Resync();  // a length above the maximum is a bad frame
    }
    return Step::kAgain;
  }
  if (Crc16({buffer_ + 2, 4}) != 0) {
    Resync();
    return Step::kAgain;
  }
  frame.frameClass = frameClass;
  frame.pollFinal = (control & kPollFinal) != 0;
  frame.address = buffer_[3];
  frame.ns = 0;
  frame.nr = frameClass == FrameClass::kSupervisory ? control >> 5 : 0;
  frame.control = frameClass == FrameClass::kSupervisory ? control & 0x1F : control;
  frame.data.clear();
  Consume(kShortFrameSize);
  std::string name = ControlName(frameClass, frame.control);
  if (frameClass == FrameClass::kSupervisory && !name.empty()) {
    char fields[48];
    std::snprintf(fields, sizeof fields, " Dest %x NRec %x", frame.address, frame.nr);
    Log(4, "CheckFrame " + name + fields);
  } else if (!name.empty()) {
    Log(4, "CheckFrame " + name);
  }
  return Step::kFrame;
}

}  // namespace layer2
