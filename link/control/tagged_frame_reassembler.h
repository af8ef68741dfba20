#pragma once
// Reassembly of tagged frames from the bytes of a TCP stream, without any
// I/O: received chunks go in, complete frames come out, and what goes wrong
// is written to the link log. The receive buffer holds 4100 bytes, so the
// longest frame it can take carries 4097 data bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

class TaggedFrameReassembler {
 public:
  static constexpr size_t kCapacity = 4100;
  static constexpr size_t kMaxFrameData = kCapacity - 3;

  // Takes the bytes of one receive (none when called again after a frame)
  // and hands out the data of the next complete frame. True when `frame`
  // holds one; call again without bytes until it returns false.
  bool Check(std::vector<uint8_t>& frame, const uint8_t* bytes, size_t count);

  // The stream has ended: an incomplete frame left over is dropped.
  void EndOfStream();

  // Bytes received and not yet handed out as frames (or skipped).
  size_t buffered() const { return fill_ + pending_.size(); }

 private:
  void MovePendingIntoBuffer();
  void Clear();

  uint8_t buffer_[kCapacity] = {};
  size_t fill_ = 0;
  // Received bytes that did not fit the buffer yet. They exist only while
  // the buffer holds complete frames still to be handed out, and move in as
  // those leave, so a chunk never runs past the end of the buffer.
  std::vector<uint8_t> pending_;
  // Bytes still to pass over of a frame too long for the buffer.
  size_t skip_ = 0;
};
