#include "link/control/tagged_frame_reassembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/control/tagged_frame.h"
#include "tests/link/control/hex_bytes.h"
#include "tests/link/control/link_log_capture.h"

namespace {

using tktest::Bytes;
using tktest::Hex;

Bytes Frame(const Bytes& data) { return BuildTaggedFrame(data); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class Reassembly : public ::testing::Test {
 protected:
  // Feeds one received chunk the way the receive thread does (the chunk,
  // then again without bytes after each frame) and returns the frames.
  std::vector<Bytes> Feed(const Bytes& chunk) {
    std::vector<Bytes> frames;
    Bytes frame;
    bool found = reassembler.Check(frame, chunk.data(), chunk.size());
    while (found) {
      frames.push_back(frame);
      EXPECT_LT(frames.size(), 1000u);
      if (frames.size() >= 1000) break;
      found = reassembler.Check(frame, nullptr, 0);
    }
    return frames;
  }

  tktest::LinkLogCapture log;
  TaggedFrameReassembler reassembler;
};

TEST(TaggedFrame, CarriesItsLengthBigEndian) {
  Bytes longer = BuildTaggedFrame(Bytes(0x1234, 0xAB));
  ASSERT_EQ(longer.size(), 0x1237u);
  EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 3), Hex("C51234"));  // length big-endian
  EXPECT_EQ(longer.back(), 0xAB);
}

TEST_F(Reassembly, AFrameSplitAnywhereIsDeliveredOnceComplete) {
  Bytes stream = Concat({Frame(Hex("11223344")), Frame(Hex("55"))});
  // Every way of cutting the stream in two, including inside a header.
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    std::vector<Bytes> frames = Feed(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)));
    auto rest = Feed(Bytes(stream.begin() + static_cast<ptrdiff_t>(cut), stream.end()));
    frames.insert(frames.end(), rest.begin(), rest.end());
    EXPECT_EQ(frames, (std::vector<Bytes>{Hex("11223344"), Hex("55")}));
    EXPECT_EQ(reassembler.buffered(), 0u);
  }
  // Byte by byte.
  std::vector<Bytes> frames;
  for (uint8_t b : stream) {
    auto got = Feed(Bytes{b});
    frames.insert(frames.end(), got.begin(), got.end());
  }
  EXPECT_EQ(frames.size(), 2u);
  EXPECT_EQ(log.Text(), "") << "no fragment may be reported or dropped";
}

TEST_F(Reassembly, AFrameTooLongForTheBufferIsSkippedAndTheStreamStaysInStep) {
  const size_t longest = TaggedFrameReassembler::kMaxFrameData;
  Bytes fits(longest, 0x5A);
  Bytes tooLong(longest + 1, 0xA5);
  Bytes stream = Concat({Frame(fits), Frame(tooLong), Frame(Hex("0102")), Frame(Bytes(5000, 0x33)), Frame(Hex("03"))});

  // In receive-sized chunks of 4096 bytes.
  std::vector<Bytes> frames;
  for (size_t at = 0; at < stream.size(); at += 4096) {
    size_t end = std::min(stream.size(), at + 4096);
    auto got = Feed(Bytes(stream.begin() + static_cast<ptrdiff_t>(at), stream.begin() + static_cast<ptrdiff_t>(end)));
    frames.insert(frames.end(), got.begin(), got.end());
    // Never more than the buffer plus one chunk waiting to move in.
    EXPECT_LE(reassembler.buffered(), TaggedFrameReassembler::kCapacity + 4096);
  }
  EXPECT_EQ(frames, (std::vector<Bytes>{fits, Hex("0102"), Hex("03")}));
  EXPECT_EQ(reassembler.buffered(), 0u);
  EXPECT_TRUE(log.Contains("CheckSocketFrame failed: Frame too long 4098, skipped !\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("CheckSocketFrame failed: Frame too long 5000, skipped !\r\n"));
}

TEST_F(Reassembly, AChunkBehindAFullBufferWaitsForRoom) {
  // A frame that fills most of the buffer, arriving with the start of the next ones.
  Bytes big(4000, 0x44);
  Bytes stream = Concat({Frame(big), Frame(Bytes(3000, 0x55)), Frame(Hex("66"))});
  auto first = Feed(Bytes(stream.begin(), stream.begin() + 3900));
  EXPECT_TRUE(first.empty());
  auto rest = Feed(Bytes(stream.begin() + 3900, stream.end()));
  ASSERT_EQ(rest.size(), 3u);
  EXPECT_EQ(rest[0], big);
  EXPECT_EQ(rest[1], Bytes(3000, 0x55));
  EXPECT_EQ(rest[2], Hex("66"));
}

TEST_F(Reassembly, AFragmentLeftAtTheEndOfTheStreamIsReportedAndDropped) {
  Feed(Hex("C500"));
  reassembler.EndOfStream();
  EXPECT_EQ(reassembler.buffered(), 0u);
  EXPECT_TRUE(log.Contains("CheckSocketFrame failed: Received Frame too short 2 !\r\n")) << log.Text();
  // Nothing left: nothing reported.
  std::string before = log.Text();
  reassembler.EndOfStream();
  EXPECT_EQ(log.Text(), before);
}

}  // namespace
