// Tagged frames on the way out, and the hex text of the command interface.
#include <gtest/gtest.h>

#include "exchange/hex_text.h"
#include "exchange/tagged_frame.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::EncodeFrame;
using exchangetest::Bytes;
using exchangetest::Hex;

TEST(TaggedFrame, HeaderIsTagAndBigEndianLength) {
  EXPECT_EQ(EncodeFrame(Hex("0102030405")), Hex("c500050102030405"));
  EXPECT_EQ(EncodeFrame(Hex("aa"), 0xC6), Hex("c60001aa"));
  EXPECT_EQ(EncodeFrame(Bytes{}), Hex("c50000"));

  Bytes big(0x1234, 0x5A);
  auto frame = EncodeFrame(big).value();
  ASSERT_EQ(frame.size(), 0x1234u + 3);
  EXPECT_EQ(frame[1], 0x12);
  EXPECT_EQ(frame[2], 0x34);
}

TEST(TaggedFrame, DataMustFitSixteenBits) {
  EXPECT_TRUE(EncodeFrame(Bytes(0xFFFF, 1)).has_value());
  EXPECT_FALSE(EncodeFrame(Bytes(0x10000, 1)).has_value());
}

TEST(TaggedFrame, KeepAliveIsRecognisedByItsFirstDataByte) {
  EXPECT_TRUE(exchange::IsKeepAlive(Hex("f20001")));
  EXPECT_TRUE(exchange::IsKeepAlive(Hex("f2")));
  EXPECT_FALSE(exchange::IsKeepAlive(Hex("10f2")));
  EXPECT_FALSE(exchange::IsKeepAlive(Bytes{}));
}

TEST(HexText, RoundTripsAndAcceptsSeparators) {
  EXPECT_EQ(exchange::ToHex(Hex("00ff7f80")), "00ff7f80");
  EXPECT_EQ(exchange::ParseHex("C5 00:03\tf2"), Hex("c50003f2"));
  EXPECT_EQ(exchange::ParseHex(""), Bytes{});
}

TEST(HexText, RejectsOddDigitsForeignCharactersAndSplitPairs) {
  for (const char* bad : {"c", "c50", "zz", "0x10", "c 5", "c5-00"}) {
    EXPECT_FALSE(exchange::ParseHex(bad).has_value()) << bad;
  }
}

}  // namespace
