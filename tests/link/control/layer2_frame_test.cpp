#include "link/control/layer2_frame.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tests/link/control/hex_bytes.h"

namespace {

using namespace layer2;
using tktest::Bytes;
using tktest::Hex;

const Bytes kStart = Hex("16163F0008A4");
const Bytes kIFrame = Hex("1616002000033265010203ADAD");

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A parser fed the way the receive thread feeds it: each chunk, then again
// without bytes after every frame. Frames are summarised as hex of
// class/control/N(S)/N(R)/P/F/address followed by the data.
struct Receiver {
  explicit Receiver(Layer2FrameParser::Phase start = Layer2FrameParser::Phase::kHunting)
      : parser([this](uint32_t level, const std::string& line) {
          log.push_back(std::to_string(level) + " " + line.substr(0, line.find(" &Buffer")));
        }, start) {}
  std::vector<std::string> log;
  Layer2FrameParser parser;
  std::vector<std::string> frames;

  void Feed(const Bytes& chunk) {
    Frame f;
    for (bool got = parser.Check(f, chunk.data(), chunk.size()); got && frames.size() < 1000;
         got = parser.Check(f, nullptr, 0)) {
      uint8_t head[] = {static_cast<uint8_t>(f.frameClass), f.control, f.ns, f.nr, f.pollFinal, f.address};
      frames.push_back(tktest::ToHex(head, 6) + ":" + tktest::ToHex(f.data.data(), f.data.size()));
    }
  }
};

TEST(Layer2Crc, CheckValueAndSelfCheck) {
  const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits), 0x29B1);
  EXPECT_EQ(Crc16(Cat({digits, Hex("29B1")})), 0);
}

TEST(Layer2Build, ExactBytesAndRefusals) {
  const struct { Bytes built; Bytes expected; } cases[] = {
      {BuildUFrame(kSTART, 0), kStart},
      {BuildUFrame(kUA, 0), Hex("161673004005")},
      {BuildUFrame(kDISC, 0), Hex("1616530046E3")},
      {BuildUFrame(kDM, 0), Hex("16160F000D31")},
      {BuildSFrame(kRR, true, 0, 1), Hex("161611013D6C")},
      {BuildIFrame(0, 0, 0x20, Hex("010203")), kIFrame},
      {BuildIFrame(0, 0, 0x20, Bytes(kMaxIFrameData + 1, 0)), {}},
      {BuildSFrame(0x0D, false, 0, 0), {}},
      {BuildUFrame(0x13, 0), {}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].built, cases[i].expected) << "case " << i;
}

Bytes WithCrc(const Bytes& frame) {
  uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
  return Cat({frame, Bytes{static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)}});
}

std::string Repeat(const std::string& text, size_t count) {
  std::string all;
  for (size_t i = 0; i < count; ++i) all += text;
  return all;
}

// START (0x3F) has bit 4, the P/F bit, set.
const std::string kStartSeen = "023F00000100:", kStartLog = "4 CheckFrame U-START";

TEST(Layer2Parser, SkipsWhatIsNotAGoodFrameInAnySplit) {
  const struct { Bytes stream; std::vector<std::string> frames, log; } cases[] = {
      {Cat({Hex("0102"), Hex("1641"), Hex("16163F0008A5"), kStart, kIFrame, Hex("161611013D6C")}),
       {kStartSeen, "000000000020:010203", "011100000101:"},
       {kStartLog, "4 CheckFrame I-Frame Dest: 20 NSend: 0 NRec 0 Length 3", "4 CheckFrame S-RR PF Dest 1 NRec 0"}},
      {Cat({Hex("1616002000033264010203ADAD"), kStart}), {kStartSeen}, {"2 I-Frame HeaderCheck Failed", kStartLog}},
      {Cat({Hex("1616002000033265010203ADAC"), kStart}), {kStartSeen}, {kStartLog}},  // bad data CRC
      // A stray sync byte ahead of a frame: the bad "frame" it starts loses one byte only.
      {Cat({Hex("16"), kStart, kStart}), {kStartSeen, kStartSeen}, {"2 I-Frame HeaderCheck Failed", kStartLog, kStartLog}},
      {Cat({Hex("1616002007F7"), Bytes(2039, 0), kStart}), {kStartSeen}, {kStartLog}},  // n = 2039
      {Cat({WithCrc(Hex("1616ED00")), WithCrc(Hex("16168300")), BuildSFrame(kREJ, false, 3, 0)}),
       {"010D00070000:", "028300000000:", "010900030000:"},
       {"4 CheckFrame U-FRMR", "4 CheckFrame S-REJ Dest 0 NRec 3"}},
      {BuildIFrame(7, 5, 0x80, Bytes(kMaxIFrameData, kSync)),
       {"00EA05070080:" + Repeat("16", kMaxIFrameData)},
       {"4 CheckFrame I-Frame Dest: 80 NSend: 5 NRec 7 Length 7f6"}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Bytes& stream = cases[i].stream;
    // All at once, a byte at a time, and cut in two at every point.
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      SCOPED_TRACE("case " + std::to_string(i) + " cut " + std::to_string(cut));
      Receiver r;
      if (cut == 0) {
        for (uint8_t b : stream) r.Feed({b});
      } else {
        r.Feed(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)));
        r.Feed(Bytes(stream.begin() + static_cast<ptrdiff_t>(cut), stream.end()));
      }
      EXPECT_EQ(r.frames, cases[i].frames);
      EXPECT_EQ(r.log, cases[i].log);
      EXPECT_EQ(r.parser.buffered(), 0u);
    }
  }
}

TEST(Layer2Parser, ChunksLargerThanTheBufferLoseNothing) {
  Bytes stream = Bytes(10000, 0x55);  // no sync byte at all
  for (int i = 0; i < 500; ++i) stream = Cat({stream, kStart});
  stream = Cat({stream, BuildIFrame(1, 2, 0x42, Bytes(kMaxIFrameData, 0x16)), Hex("1616")});
  Receiver r;
  r.Feed(stream);
  EXPECT_EQ(r.frames.size(), 501u);
  EXPECT_EQ(r.parser.buffered(), 2u);  // the start of the next frame waits
}

TEST(Layer2Parser, ALineWithoutCrKeepsTheNewestBytesThenTheAnswerHandsOverToTheFrames) {
  Receiver r(Layer2FrameParser::Phase::kCtiCheck);
  r.Feed(Bytes(5000, 'x'));
  EXPECT_EQ(r.parser.buffered(), Layer2FrameParser::kCapacity);
  const std::string answer = "CTI TKSIM 9600\r";
  r.Feed(Cat({Bytes(answer.begin(), answer.end()), kIFrame}));
  EXPECT_TRUE(r.frames.empty()) << "the answer is taken before any frame";
  EXPECT_EQ(r.parser.TakeServiceAnswer(), "CTI TKSIM 9600");
  EXPECT_EQ(r.parser.TakeServiceAnswer(), std::nullopt);
  r.Feed({});
  EXPECT_EQ(r.frames, std::vector<std::string>{"000000000020:010203"});
}

TEST(Layer2Parser, TheEndOfTheStreamDropsAFragment) {
  Receiver r;
  r.Feed(Hex("1616002000"));
  r.parser.Clear();
  EXPECT_EQ(r.parser.buffered(), 0u);
  r.Feed(kStart);
  EXPECT_EQ(r.frames, std::vector<std::string>{kStartSeen});
}

}  // namespace
