#pragma once
// Reassembles tagged frames from the byte stream of a TCP connection, which
// may cut anywhere: a chunk that ends inside a header or inside the data is
// kept and completed by the following chunks, and one chunk may hold several
// frames. Sans-IO: bytes in, frames out.
//
// A stream has no way to find the next frame after a byte that is not the
// data tag, so an unknown tag discards everything buffered (the peer's
// receiver does the same) and is reported once, with the tag and the number
// of bytes discarded. A frame with a zero length is returned as a data frame
// with no data; what to make of it is the caller's business.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace exchange {

struct ReassembledFrame {
  enum class Kind { Data, UnknownTag };
  Kind kind = Kind::Data;
  std::vector<uint8_t> data;  // Data: the frame's data
  uint8_t tag = 0;            // UnknownTag: the byte found where a tag was expected
  size_t discarded = 0;       // UnknownTag: bytes dropped with it
};

class FrameReassembler {
 public:
  void Append(std::span<const uint8_t> bytes);
  // The next complete frame or unknown-tag report, in stream order; nullopt
  // when more bytes are needed.
  std::optional<ReassembledFrame> Next();
  // Bytes waiting for the rest of their frame.
  size_t Buffered() const { return buffer_.size() - start_; }
  void Reset();

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // bytes before start_ have been handed out
};

}  // namespace exchange
