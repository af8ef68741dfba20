// libFuzzer target for the tagged-frame reassemblers of both ends of the LAN
// link: tksim's FrameReassembler and the VNL2C64 side's
// TaggedFrameReassembler. The same stream goes to each of them whole and cut
// into chunks two ways, at positions taken from the input. Nothing may
// crash, leak or run past a buffer; and:
//  - up to the first byte that is not a tag where a frame should start, both
//    give exactly the frames a plain walk over the stream finds (the VNL2C64
//    side without those too long for its buffer), however the stream is cut;
//    tksim's then reports that byte as an unknown tag;
//  - no frame is longer than its side takes (65535 or 4097 data bytes), and
//    every frame, also those after a discard, appears in the stream as a
//    whole tagged frame;
//  - the bytes held back never exceed what was received, and nothing is held
//    once the VNL2C64 side is told that the stream ended.
// The VNL2C64 side's link log goes to a null sink here that still formats
// every error and warning line, and counts the unknown-tag lines.
//
// Input: byte 0 gives k (1 to 16), then k chunk-size bytes, then the stream.
// A size byte s below 0x80 cuts a chunk of 1 + (s & 63) bytes, one from 0x80
// on a chunk of 1 + 4 * (s & 0x7F)^2 bytes, so that chunks from one byte to
// beyond the VNL2C64 side's buffer occur; the second cut takes the sizes from
// the next byte on, a little changed.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "exchange/frame_reassembler.h"
#include "exchange/tagged_frame.h"
#include "link/common/link_log.h"
#include "link/control/tagged_frame.h"
#include "link/control/tagged_frame_reassembler.h"

namespace {

size_t unknownTagLines = 0;

}  // namespace

// The link log, without a file: each error and warning line is formatted
// (so that its arguments are checked) and dropped; detail lines, off in the
// link log's mask, are not formatted, as there.
void LinkLog(uint32_t level, const char* format, ...) {
  if ((level & (kLogError | kLogWarning)) == 0) return;
  char line[kLinkLogMaxMessage];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (std::strstr(line, "Unknown Data Tag")) ++unknownTagLines;
}

namespace {

using Bytes = std::vector<uint8_t>;

void require(bool condition) {
  if (!condition) std::abort();
}

// What a plain walk over the whole stream finds.
struct Walk {
  std::vector<Bytes> frames;
  bool unknownTag = false;  // it stops at a byte that is not a tag
  uint8_t tag = 0;
  size_t end = 0;  // where it stops
};

Walk walk(std::span<const uint8_t> stream) {
  Walk w;
  size_t pos = 0;
  while (stream.size() - pos >= 1) {
    if (stream[pos] != exchange::kDataTag) {
      w.unknownTag = true;
      w.tag = stream[pos];
      break;
    }
    if (stream.size() - pos < exchange::kFrameHeaderSize) break;
    const size_t length = static_cast<size_t>(stream[pos + 1]) << 8 | stream[pos + 2];
    if (stream.size() - pos - exchange::kFrameHeaderSize < length) break;
    w.frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(pos + 3),
                          stream.begin() + static_cast<std::ptrdiff_t>(pos + 3 + length));
    pos += exchange::kFrameHeaderSize + length;
  }
  w.end = pos;
  return w;
}

// Frames found after a discard are looked up in the stream; a bounded
// number of them per run keeps the fuzzer fast.
constexpr size_t kLookups = 32;

void requireInStream(std::span<const uint8_t> stream, const Bytes& frame, size_t& lookups) {
  if (lookups == 0) return;
  --lookups;
  const size_t whole = exchange::kFrameHeaderSize + frame.size();
  for (size_t p = 0; p + whole <= stream.size(); ++p) {
    if (stream[p] == exchange::kDataTag && stream[p + 1] == frame.size() >> 8 &&
        stream[p + 2] == (frame.size() & 0xFF) &&
        (frame.empty() || std::memcmp(stream.data() + p + 3, frame.data(), frame.size()) == 0))
      return;
  }
  require(false);
}

using Cuts = std::function<size_t(size_t chunk)>;

void feedExchange(std::span<const uint8_t> stream, const Cuts& cut, const Walk& w) {
  exchange::FrameReassembler r;
  std::vector<exchange::ReassembledFrame> out;
  size_t at = 0;
  size_t lookups = kLookups;
  for (size_t chunk = 0; at < stream.size(); ++chunk) {
    const size_t n = std::min(stream.size() - at, cut(chunk));
    r.Append(stream.subspan(at, n));
    at += n;
    while (auto f = r.Next()) out.push_back(std::move(*f));
    require(r.Buffered() <= at);
  }
  require(out.size() >= w.frames.size());
  for (size_t i = 0; i < w.frames.size(); ++i) {
    require(out[i].kind == exchange::ReassembledFrame::Kind::Data && out[i].data == w.frames[i]);
  }
  if (!w.unknownTag) {
    require(out.size() == w.frames.size() && r.Buffered() == stream.size() - w.end);
    return;
  }
  const auto& report = out[w.frames.size()];
  require(report.kind == exchange::ReassembledFrame::Kind::UnknownTag && report.tag == w.tag);
  require(report.discarded >= 1 && report.discarded <= stream.size() - w.end);
  for (size_t i = w.frames.size() + 1; i < out.size(); ++i) {
    if (out[i].kind == exchange::ReassembledFrame::Kind::UnknownTag) {
      require(out[i].tag != exchange::kDataTag && out[i].discarded >= 1);
      continue;
    }
    require(out[i].data.size() <= exchange::kMaxFrameData);
    requireInStream(stream, out[i].data, lookups);
  }
}

void feedLink(std::span<const uint8_t> stream, const Cuts& cut, const Walk& w) {
  std::vector<Bytes> expected;
  for (const Bytes& f : w.frames) {
    if (f.size() <= TaggedFrameReassembler::kMaxFrameData) expected.push_back(f);
  }
  TaggedFrameReassembler r;
  unknownTagLines = 0;
  std::vector<Bytes> out;
  size_t beforeDiscard = SIZE_MAX;  // frames handed out before the first unknown tag
  size_t at = 0;
  size_t lookups = kLookups;
  Bytes frame;
  for (size_t chunk = 0; at < stream.size(); ++chunk) {
    const size_t n = std::min(stream.size() - at, cut(chunk));
    const uint8_t* bytes = stream.data() + at;
    at += n;
    for (bool got = r.Check(frame, bytes, n); got; got = r.Check(frame, nullptr, 0)) {
      require(frame.size() <= TaggedFrameReassembler::kMaxFrameData);
      if (unknownTagLines > 0) requireInStream(stream, frame, lookups);
      out.push_back(frame);
    }
    if (unknownTagLines > 0 && beforeDiscard == SIZE_MAX) beforeDiscard = out.size();
    require(r.buffered() <= at);
  }
  // A discard ends the receive that led to it, so the frames before it are
  // told apart from those after it: they are the walk's frames, all of them.
  const size_t before = unknownTagLines > 0 ? beforeDiscard : out.size();
  require(before == expected.size());
  for (size_t i = 0; i < before; ++i) require(out[i] == expected[i]);
  if (unknownTagLines > 0) {
    require(w.unknownTag);
  } else if (w.unknownTag) {
    // A bad tag in the last two bytes waits for a whole header.
    require(stream.size() - w.end < kTaggedFrameHeader);
  }
  r.EndOfStream();
  require(r.buffered() == 0 && !r.Check(frame, nullptr, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t k = 1 + data[0] % 16;
  if (size < 1 + k) return 0;
  const std::span<const uint8_t> sizes(data + 1, k);
  const std::span<const uint8_t> stream(data + 1 + k, size - 1 - k);
  const Walk w = walk(stream);

  const Cuts whole = [&](size_t) { return stream.size(); };
  // A size byte with its top bit set cuts a large chunk, else a small one.
  const auto chunkOf = [](uint8_t s) -> size_t {
    return (s & 0x80) ? 1 + size_t{s & 0x7Fu} * (s & 0x7Fu) * 4 : 1 + (s & 63u);
  };
  const Cuts one = [&](size_t chunk) { return chunkOf(sizes[chunk % k]); };
  const Cuts other = [&](size_t chunk) { return chunkOf(sizes[(chunk + 1) % k] ^ 0x05); };
  for (const Cuts* cut : {&whole, &one, &other}) {
    feedExchange(stream, *cut, w);
    feedLink(stream, *cut, w);
  }
  return 0;
}
