#include "link/control/tagged_frame_reassembler.h"

#include <algorithm>
#include <cstring>

#include "link/common/link_log.h"
#include "link/control/tagged_frame.h"

bool TaggedFrameReassembler::Check(std::vector<uint8_t>& frame, const uint8_t* bytes, size_t count) {
  LinkLog(kLogDetail, "CheckSocketFrame((0x%x,0x%x,%i)", LinkLogPointer(&frame), LinkLogPointer(bytes),
          static_cast<int>(count));
  if (bytes && count > 0) pending_.insert(pending_.end(), bytes, bytes + count);

  for (;;) {
    if (skip_ > 0) {
      size_t passed = std::min(skip_, pending_.size());
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(passed));
      skip_ -= passed;
      if (skip_ > 0) return false;
    }
    MovePendingIntoBuffer();

    // TCP may split a stream anywhere, also inside a frame header: bytes
    // that do not make a header yet are kept until the rest arrives.
    if (fill_ < kTaggedFrameHeader) return false;

    uint8_t tag = buffer_[0];
    size_t length = static_cast<size_t>(buffer_[1]) << 8 | buffer_[2];
    if (tag != kTaggedFrameTag) {
      LinkLog(kLogError, "CheckSocketFrame failed: Unknown Data Tag 0x%x, Size %i!", tag, static_cast<int>(length));
      Clear();
      return false;
    }
    if (length > kMaxFrameData) {
      // The frame cannot be held. Its length is known, so its bytes are
      // passed over as they arrive, and the stream stays in step: the next
      // frame is read from its own header.
      LinkLog(kLogError, "CheckSocketFrame failed: Frame too long %i, skipped !", static_cast<int>(length));
      skip_ = kTaggedFrameHeader + length - fill_;
      fill_ = 0;
      continue;
    }
    size_t total = kTaggedFrameHeader + length;
    if (fill_ < total) return false;

    frame.assign(buffer_ + kTaggedFrameHeader, buffer_ + total);
    std::memmove(buffer_, buffer_ + total, fill_ - total);
    fill_ -= total;
    MovePendingIntoBuffer();
    return true;
  }
}

void TaggedFrameReassembler::EndOfStream() {
  // What is left cannot become a frame any more.
  if (buffered() > 0)
    LinkLog(kLogError, "CheckSocketFrame failed: Received Frame too short %i !", static_cast<int>(buffered()));
  Clear();
}

void TaggedFrameReassembler::MovePendingIntoBuffer() {
  size_t moved = std::min(kCapacity - fill_, pending_.size());
  if (moved == 0) return;
  std::memcpy(buffer_ + fill_, pending_.data(), moved);
  fill_ += moved;
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(moved));
}

void TaggedFrameReassembler::Clear() {
  fill_ = 0;
  pending_.clear();
  skip_ = 0;
}
