#include "exchange/frame_reassembler.h"

#include "exchange/tagged_frame.h"

namespace exchange {

void FrameReassembler::Append(std::span<const uint8_t> bytes) {
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<ReassembledFrame> FrameReassembler::Next() {
  const size_t available = Buffered();
  if (available == 0) return std::nullopt;
  const uint8_t* head = buffer_.data() + start_;
  if (head[0] != kDataTag) {
    ReassembledFrame report;
    report.kind = ReassembledFrame::Kind::UnknownTag;
    report.tag = head[0];
    report.discarded = available;
    Reset();
    return report;
  }
  if (available < kFrameHeaderSize) return std::nullopt;
  const size_t length = static_cast<size_t>(head[1]) << 8 | head[2];
  if (available < kFrameHeaderSize + length) return std::nullopt;
  ReassembledFrame frame;
  frame.data.assign(head + kFrameHeaderSize, head + kFrameHeaderSize + length);
  start_ += kFrameHeaderSize + length;
  if (start_ == buffer_.size()) Reset();
  return frame;
}

void FrameReassembler::Reset() {
  buffer_.clear();
  start_ = 0;
}

}  // namespace exchange
