// Reassembly of tagged frames from chunks cut anywhere, and the handling of
// bytes that do not start a data frame.
#include <gtest/gtest.h>

#include "exchange/frame_reassembler.h"
#include "exchange/tagged_frame.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::FrameReassembler;
using exchange::ReassembledFrame;
using exchangetest::Bytes;
using exchangetest::Hex;

// Feeds the chunks and collects every frame that comes out.
std::vector<ReassembledFrame> Feed(FrameReassembler& r, const std::vector<Bytes>& chunks) {
  std::vector<ReassembledFrame> frames;
  for (const Bytes& chunk : chunks) {
    r.Append(chunk);
    while (auto f = r.Next()) frames.push_back(std::move(*f));
  }
  return frames;
}

TEST(FrameReassembler, OneFrameInOneChunk) {
  FrameReassembler r;
  auto frames = Feed(r, {Hex("c500050102030405")});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, ReassembledFrame::Kind::Data);
  EXPECT_EQ(frames[0].data, Hex("0102030405"));
  EXPECT_EQ(r.Buffered(), 0u);
}

TEST(FrameReassembler, TwoFramesInOneChunkComeOutInOrder) {
  FrameReassembler r;
  auto frames = Feed(r, {Hex("c5000201 02c5000303 0405")});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].data, Hex("0102"));
  EXPECT_EQ(frames[1].data, Hex("030405"));
}

TEST(FrameReassembler, ACutAtAnyOffsetIsCompletedByTheNextChunk) {
  const Bytes stream = Hex("c500050102030405c50001ff");
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    FrameReassembler r;
    Bytes first(stream.begin(), stream.begin() + static_cast<long>(cut));
    Bytes second(stream.begin() + static_cast<long>(cut), stream.end());
    auto frames = Feed(r, {first, second});
    ASSERT_EQ(frames.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(frames[0].data, Hex("0102030405")) << "cut at " << cut;
    EXPECT_EQ(frames[1].data, Hex("ff")) << "cut at " << cut;
  }
}

TEST(FrameReassembler, HeaderSplitOverSeveralTinyChunksIsKept) {
  FrameReassembler r;
  EXPECT_TRUE(Feed(r, {Hex("c5")}).empty());
  EXPECT_TRUE(Feed(r, {Hex("00")}).empty());
  EXPECT_EQ(r.Buffered(), 2u);
  EXPECT_TRUE(Feed(r, {Hex("02"), Hex("aa")}).empty());
  auto frames = Feed(r, {Hex("bb")});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].data, Hex("aabb"));
}

TEST(FrameReassembler, ALargeFrameArrivesInManyChunks) {
  Bytes data(60000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  Bytes stream = exchange::EncodeFrame(data).value();
  FrameReassembler r;
  std::vector<ReassembledFrame> frames;
  for (size_t at = 0; at < stream.size(); at += 4096) {
    Bytes chunk(stream.begin() + static_cast<long>(at),
                stream.begin() + static_cast<long>(std::min(stream.size(), at + 4096)));
    auto out = Feed(r, {chunk});
    frames.insert(frames.end(), out.begin(), out.end());
  }
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].data, data);
}

TEST(FrameReassembler, ZeroLengthFrameIsADataFrameWithoutData) {
  FrameReassembler r;
  auto frames = Feed(r, {Hex("c50000c5000107")});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0].data.empty());
  EXPECT_EQ(frames[1].data, Hex("07"));
}

TEST(FrameReassembler, UnknownTagDiscardsEverythingBufferedOnce) {
  FrameReassembler r;
  // A good frame, then an unknown tag with a frame behind it in the same chunk.
  auto frames = Feed(r, {Hex("c5000111 c6000122 c5000133")});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].data, Hex("11"));
  EXPECT_EQ(frames[1].kind, ReassembledFrame::Kind::UnknownTag);
  EXPECT_EQ(frames[1].tag, 0xC6);
  EXPECT_EQ(frames[1].discarded, 8u);
  EXPECT_EQ(r.Buffered(), 0u);

  // The stream goes on with the next chunk that starts with a frame.
  frames = Feed(r, {Hex("c5000144")});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].data, Hex("44"));
}

TEST(FrameReassembler, UnknownTagIsReportedWithoutWaitingForAHeader) {
  FrameReassembler r;
  auto frames = Feed(r, {Hex("ff")});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, ReassembledFrame::Kind::UnknownTag);
  EXPECT_EQ(frames[0].discarded, 1u);
}

}  // namespace
