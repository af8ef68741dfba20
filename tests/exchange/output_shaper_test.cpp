// How fault injection cuts and joins outgoing frames into segments.
#include <gtest/gtest.h>

#include "exchange/output_shaper.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::OutputShaper;
using exchange::Segment;
using exchangetest::Bytes;
using exchangetest::Hex;

std::vector<Bytes> Pieces(const std::vector<Segment>& segments) {
  std::vector<Bytes> pieces;
  for (const Segment& s : segments) pieces.push_back(s.bytes);
  return pieces;
}

TEST(OutputShaper, WithoutAFaultAFrameGoesOutWhole) {
  OutputShaper shaper;
  auto segments = shaper.Shape(Hex("c5000101"), 0);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].bytes, Hex("c5000101"));
  EXPECT_EQ(segments[0].pauseBeforeMs, 0u);
}

TEST(OutputShaper, SplitCutsTheNextFrameEvenlyWithPausesBetween) {
  OutputShaper shaper;
  shaper.SplitNext(3, 25);
  auto segments = shaper.Shape(Hex("c500040102030405"), 0);
  EXPECT_EQ(Pieces(segments), (std::vector<Bytes>{Hex("c50004"), Hex("010203"), Hex("0405")}));
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].pauseBeforeMs, 0u);
  EXPECT_EQ(segments[1].pauseBeforeMs, 25u);
  EXPECT_EQ(segments[2].pauseBeforeMs, 25u);
  // Only the next frame.
  EXPECT_EQ(shaper.Shape(Hex("c5000101"), 0).size(), 1u);
}

TEST(OutputShaper, SplitIntoMorePartsThanBytesGivesOneBytePerSegment) {
  OutputShaper shaper;
  shaper.SplitNext(100, 0);
  EXPECT_EQ(Pieces(shaper.Shape(Hex("c50000"), 0)), (std::vector<Bytes>{Hex("c5"), Hex("00"), Hex("00")}));
}

TEST(OutputShaper, SplitAtGivenOffsetsIgnoresOffsetsOutsideTheFrame) {
  OutputShaper shaper;
  shaper.SplitNextAt({2, 1, 50, 2}, 0);
  EXPECT_EQ(Pieces(shaper.Shape(Hex("c5000201 02"), 0)),
            (std::vector<Bytes>{Hex("c5"), Hex("00"), Hex("020102")}));
}

TEST(OutputShaper, MergeHoldsTheFirstFrameAndSendsBothInOneSegment) {
  OutputShaper shaper;
  shaper.MergeNext(1000);
  EXPECT_TRUE(shaper.Shape(Hex("c5000111"), 10).empty());
  EXPECT_TRUE(shaper.Holding());
  EXPECT_EQ(Pieces(shaper.Shape(Hex("c5000122"), 20)), (std::vector<Bytes>{Hex("c5000111c5000122")}));
  EXPECT_FALSE(shaper.Holding());
  EXPECT_EQ(shaper.Shape(Hex("c5000133"), 30).size(), 1u) << "merge applies once";
}

TEST(OutputShaper, AHeldFrameGoesOutAloneWhenItsHoldTimeHasPassed) {
  OutputShaper shaper;
  shaper.MergeNext(100);
  EXPECT_TRUE(shaper.Shape(Hex("c5000111"), 0xFFFFFFF0u).empty());
  EXPECT_TRUE(shaper.Expire(0xFFFFFFF0u + 99).empty());
  EXPECT_EQ(Pieces(shaper.Expire(0xFFFFFFF0u + 100)), (std::vector<Bytes>{Hex("c5000111")}));
  EXPECT_TRUE(shaper.Expire(0xFFFFFFF0u + 200).empty());
}

TEST(OutputShaper, AMergedPairIsSplitAsOneUnit) {
  OutputShaper shaper;
  shaper.MergeNext(1000);
  shaper.SplitNext(2, 0);
  EXPECT_TRUE(shaper.Shape(Hex("c5000111"), 0).empty());
  EXPECT_EQ(Pieces(shaper.Shape(Hex("c5000122"), 0)), (std::vector<Bytes>{Hex("c5000111"), Hex("c5000122")}));
}

TEST(OutputShaper, DroppingTheHeldFrameKeepsPendingRequests) {
  OutputShaper shaper;
  shaper.MergeNext(1000);
  shaper.Shape(Hex("c5000111"), 0);
  shaper.SplitNext(2, 0);
  shaper.DropHeld();
  EXPECT_FALSE(shaper.Holding());
  EXPECT_TRUE(shaper.SplitPending());
  EXPECT_EQ(shaper.Shape(Hex("c5000122"), 0).size(), 2u);
}

}  // namespace
