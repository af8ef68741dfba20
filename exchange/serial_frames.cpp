#include "exchange/serial_frames.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace exchange::serial {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

void PutCrc(std::vector<uint8_t>& out, size_t from) {
  const uint16_t crc = Crc16(std::span<const uint8_t>(out).subspan(from));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  out.push_back(static_cast<uint8_t>(crc));
}

}  // namespace

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc) {
  for (uint8_t b : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ b) & 0xFF]);
  }
  return crc;
}

std::vector<uint8_t> BuildIFrame(uint8_t ns, uint8_t nr, uint8_t address,
                                 std::span<const uint8_t> data) {
  if (data.size() > kMaxData) return {};
  std::vector<uint8_t> out;
  out.reserve(data.size() + kIFrameOverhead);
  out.push_back(kSync);
  out.push_back(kSync);
  out.push_back(static_cast<uint8_t>(((nr & 7) << 5) | ((ns & 7) << 1)));
  out.push_back(address);
  out.push_back(static_cast<uint8_t>(data.size() >> 8));
  out.push_back(static_cast<uint8_t>(data.size()));
  PutCrc(out, 2);
  out.insert(out.end(), data.begin(), data.end());
  PutCrc(out, 8);
  return out;
}

std::vector<uint8_t> BuildSFrame(uint8_t kind, bool pollFinal, uint8_t nr, uint8_t address) {
  return BuildUFrame(static_cast<uint8_t>(((nr & 7) << 5) | (pollFinal ? kPollFinal : 0) |
                                          (kind & 0x0F)),
                     address);
}

std::vector<uint8_t> BuildUFrame(uint8_t control, uint8_t address) {
  std::vector<uint8_t> out{kSync, kSync, control, address};
  PutCrc(out, 2);
  return out;
}

std::string FrameName(const SerialFrame& frame) {
  char text[32];
  switch (frame.kind) {
    case SerialFrame::Kind::kI:
      std::snprintf(text, sizeof text, "I %u/%u", frame.Ns(), frame.Nr());
      return text;
    case SerialFrame::Kind::kS: {
      const char* kind = frame.SKind() == kRR    ? "RR"
                         : frame.SKind() == kRNR ? "RNR"
                         : frame.SKind() == kREJ ? "REJ"
                                                 : "?";
      std::snprintf(text, sizeof text, "S-%s%s %u", kind, frame.PollFinal() ? " PF" : "",
                    frame.Nr());
      return text;
    }
    case SerialFrame::Kind::kU:
      break;
  }
  switch (frame.control) {
    case kSTART: return "U-START";
    case kDISC: return "U-DISC";
    case kUA: return "U-UA";
    case kDM: return "U-DM";
    case kFRMR: return "U-FRMR";
    default:
      std::snprintf(text, sizeof text, "U-%02X", frame.control);
      return text;
  }
}

size_t SerialFrameParser::Append(std::span<const uint8_t> bytes) {
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  const size_t take = std::min(bytes.size(), kCapacity - buffer_.size());
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
  return take;
}

std::optional<ParsedItem> SerialFrameParser::Next() {
  const std::span<const uint8_t> p = Pending();
  // Hunting: pass over everything that cannot start a frame; a sync byte
  // last in the buffer waits for its partner.
  size_t skip = 0;
  while (skip < p.size()) {
    if (p[skip] == kSync && skip + 1 == p.size()) break;
    if (p[skip] == kSync && p[skip + 1] == kSync) break;
    ++skip;
  }
  if (skip > 0) {
    ParsedItem item;
    item.kind = ParsedItem::Kind::kSkipped;
    item.bytes.assign(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(skip));
    Consume(skip);
    return item;
  }
  if (p.size() < 3) return std::nullopt;

  auto bad = [this](std::string_view why) {
    ParsedItem item;
    item.kind = ParsedItem::Kind::kBad;
    item.why = why;
    Consume(2);  // the sync pair; the rest is searched again
    return item;
  };
  ParsedItem item;
  item.frame.control = p[2];
  if ((p[2] & 1) != 0) {
    if (p.size() < kShortFrame) return std::nullopt;
    if (Crc16(p.subspan(2, 4)) != 0) return bad("crc");
    item.frame.kind = (p[2] & 3) == 1 ? SerialFrame::Kind::kS : SerialFrame::Kind::kU;
    item.frame.address = p[3];
    Consume(kShortFrame);
    return item;
  }
  if (p.size() < 8) return std::nullopt;
  if (Crc16(p.subspan(2, 6)) != 0) return bad("header-crc");
  const size_t n = (size_t{p[4]} << 8) | p[5];
  if (n > kMaxData) return bad("length");
  if (p.size() < n + kIFrameOverhead) return std::nullopt;
  if (Crc16(p.subspan(8, n + 2)) != 0) return bad("data-crc");
  item.frame.kind = SerialFrame::Kind::kI;
  item.frame.address = p[3];
  item.frame.data.assign(p.begin() + 8, p.begin() + 8 + static_cast<std::ptrdiff_t>(n));
  Consume(n + kIFrameOverhead);
  return item;
}

void SerialFrameParser::Abandon() {
  if (Buffered() > 0) Consume(1);
}

void SerialFrameParser::Reset() {
  buffer_.clear();
  start_ = 0;
}

std::span<const uint8_t> SerialFrameParser::Pending() const {
  return std::span<const uint8_t>(buffer_).subspan(start_);
}

void SerialFrameParser::Consume(size_t n) { start_ += n; }

}  // namespace exchange::serial
