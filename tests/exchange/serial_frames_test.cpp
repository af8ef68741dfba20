// The exchange's serial frame codec: the wire vectors of the link, and the
// parser on streams cut anywhere, with garbage and damaged frames.
#include <gtest/gtest.h>

#include <string>

#include "exchange/hex_text.h"
#include "exchange/serial_frames.h"
#include "tests/exchange/frame_client.h"

namespace {

using exchange::ToHex;
using exchangetest::Bytes;
using exchangetest::Hex;
namespace serial = exchange::serial;

// Every item the parser gives for the chunks, as short text; runs of skipped
// bytes that follow each other are joined (a chunk boundary splits them).
std::vector<std::string> Parse(const std::vector<Bytes>& chunks) {
  serial::SerialFrameParser parser;
  std::vector<std::string> items;
  for (const Bytes& chunk : chunks) {
    EXPECT_EQ(parser.Append(chunk), chunk.size());
    while (auto item = parser.Next()) {
      switch (item->kind) {
        case serial::ParsedItem::Kind::kFrame:
          items.push_back(serial::FrameName(item->frame) + " @" +
                          ToHex(std::span(&item->frame.address, 1)) + " " +
                          ToHex(item->frame.data));
          break;
        case serial::ParsedItem::Kind::kSkipped:
          if (!items.empty() && items.back().starts_with("skip ")) {
            items.back() += ToHex(item->bytes);
          } else {
            items.push_back("skip " + ToHex(item->bytes));
          }
          break;
        case serial::ParsedItem::Kind::kBad:
          items.push_back("bad " + std::string(item->why));
          break;
      }
    }
  }
  return items;
}

const Bytes kData = {0x01, 0x02, 0x03};

TEST(SerialFrames, BuildersGiveTheWireBytes) {
  struct Case {
    Bytes built;
    const char* wire;
    const char* name;
  };
  const Case cases[] = {
      {serial::BuildUFrame(serial::kSTART), "16163f0008a4", "U-START @00 "},
      {serial::BuildUFrame(serial::kUA), "161673004005", "U-UA @00 "},
      {serial::BuildUFrame(serial::kDISC), "16165300 46e3", "U-DISC @00 "},
      {serial::BuildUFrame(serial::kDM), "16160f000d31", "U-DM @00 "},
      {serial::BuildSFrame(serial::kRR, true, 0, 1), "161611013d6c", "S-RR PF 0 @01 "},
      {serial::BuildIFrame(0, 0, 0x20, kData), "1616002000033265 010203adad", "I 0/0 @20 010203"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToHex(c.built), ToHex(Hex(c.wire))) << c.name;
    EXPECT_EQ(Parse({c.built}), std::vector<std::string>{c.name});
  }
}

TEST(SerialFrames, CrcCheckValueAndSelfCheck) {
  const std::string text = "123456789";
  const Bytes bytes(text.begin(), text.end());
  EXPECT_EQ(serial::Crc16(bytes), 0x29B1);
  EXPECT_EQ(serial::Crc16(Hex("29b1"), serial::Crc16(bytes)), 0);
  EXPECT_TRUE(serial::BuildIFrame(0, 0, 0x20, Bytes(serial::kMaxData + 1)).empty());
  EXPECT_EQ(serial::BuildIFrame(0, 0, 0x20, Bytes(serial::kMaxData)).size(), 2048u);
}

TEST(SerialFrames, StreamCutAnywhereGivesTheSameItems) {
  Bytes stream = Hex("1b43");
  for (const Bytes& f : {serial::BuildIFrame(3, 5, 0x20, kData), serial::BuildUFrame(serial::kSTART),
                         serial::BuildSFrame(serial::kREJ, false, 7, 0)}) {
    stream.insert(stream.end(), f.begin(), f.end());
  }
  const std::vector<std::string> whole = Parse({stream});
  ASSERT_EQ(whole, (std::vector<std::string>{"skip 1b43", "I 3/5 @20 010203", "U-START @00 ",
                                             "S-REJ 7 @00 "}));
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    const Bytes a(stream.begin(), stream.begin() + static_cast<long>(cut));
    const Bytes b(stream.begin() + static_cast<long>(cut), stream.end());
    EXPECT_EQ(Parse({a, b}), whole) << "cut at " << cut;
  }
}

TEST(SerialFrames, GarbageAndDamagedFramesAreSkipped) {
  struct Case {
    const char* stream;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"0102 16 41 16163f0008a4", {"skip 01021641", "U-START @00 "}},
      // S/U frame with a wrong CRC: the sync pair goes, the rest is hunted.
      {"16163f0008a5 161673004005", {"bad crc", "skip 3f0008a5", "U-UA @00 "}},
      {"1616002000033266 010203adad", {"bad header-crc", "skip 002000033266010203adad"}},
      {"1616002000033265 010203adae 16160f000d31",
       {"bad data-crc", "skip 002000033265010203adae", "U-DM @00 "}},
      // A length of 2039 with a good header CRC.
      {"16160020 07f7 0469", {"bad length", "skip 002007f70469"}},
      {"1616002000033265 0102", {}},  // incomplete: waits
  };
  for (const Case& c : cases) EXPECT_EQ(Parse({Hex(c.stream)}), c.items) << c.stream;
}

TEST(SerialFrames, BufferIsBounded) {
  serial::SerialFrameParser parser;
  EXPECT_EQ(parser.Append(Bytes(5000, 0x00)), serial::SerialFrameParser::kCapacity);
  while (parser.Next()) {
  }
  EXPECT_EQ(parser.Buffered(), 0u);
}

}  // namespace
