// libFuzzer target for the serial link's receive parser: any received bytes,
// in chunks of any size, starting in the service answer's text phases or in
// the frame phases, must parse without a crash, a leak or undefined
// behaviour; the buffer must never hold more than its capacity once the
// parser waits for bytes; an answer must be a line from "CTI" on; and every
// returned frame must encode again to bytes that parse to the same frame.
// The line speed an answer announces is read from it: a tail of the answer
// that starts with a known speed, or "9600" when it names none.
//
// Input: byte 0 selects the start phase (and whether the stream ends half
// way), byte 1 the number k of chunk sizes that follow (1 to 16), then the k
// sizes (each size byte s gives a chunk of 1 + s * (s & 0x0F) bytes, so that
// chunks from one byte to beyond the buffer occur), then the received bytes,
// cut with the sizes in turn.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/control/layer2_frame.h"
#include "link/control/service_answer.h"

namespace {

using layer2::Frame;
using layer2::FrameClass;
using layer2::Layer2FrameParser;

void require(bool condition) {
  if (!condition) std::abort();
}

void appendCrc(std::vector<uint8_t>& bytes, size_t from) {
  uint16_t crc = layer2::Crc16(std::span<const uint8_t>(bytes).subspan(from));
  bytes.push_back(static_cast<uint8_t>(crc >> 8));
  bytes.push_back(static_cast<uint8_t>(crc));
}

// The frame's bytes, from its decoded fields.
std::vector<uint8_t> encode(const Frame& f) {
  uint8_t control = f.frameClass == FrameClass::kSupervisory ? static_cast<uint8_t>(f.nr << 5 | f.control) : f.control;
  std::vector<uint8_t> bytes{layer2::kSync, layer2::kSync, control, f.address};
  if (f.frameClass == FrameClass::kInformation) {
    bytes.push_back(static_cast<uint8_t>(f.data.size() >> 8));
    bytes.push_back(static_cast<uint8_t>(f.data.size()));
    appendCrc(bytes, 2);
    bytes.insert(bytes.end(), f.data.begin(), f.data.end());
    appendCrc(bytes, layer2::kIFrameHeaderSize);
  } else {
    appendCrc(bytes, 2);
  }
  return bytes;
}

void checkSpeed(const std::string& answer) {
  static constexpr std::string_view kSpeeds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  const layer2::AnnouncedSpeed speed = layer2::FindAnnouncedSpeed(answer);
  bool named = false;
  for (std::string_view s : kSpeeds) named = named || answer.find(s) != std::string::npos;
  require(speed.found == named);
  if (!speed.found) {
    require(speed.text == "9600");
    return;
  }
  require(answer.ends_with(speed.text));
  bool starts = false;
  for (std::string_view s : kSpeeds) starts = starts || speed.text.starts_with(s);
  require(starts);
}

bool same(const Frame& a, const Frame& b) {
  return a.frameClass == b.frameClass && a.control == b.control && a.ns == b.ns && a.nr == b.nr &&
         a.pollFinal == b.pollFinal && a.address == b.address && a.data == b.data;
}

void checkFrame(const Frame& f) {
  require(f.data.size() <= layer2::kMaxIFrameData);
  require(f.frameClass == layer2::ClassOf(f.control));
  std::vector<uint8_t> bytes = encode(f);
  // The builders agree wherever they apply.
  if (f.frameClass == FrameClass::kInformation && !f.pollFinal)
    require(layer2::BuildIFrame(f.nr, f.ns, f.address, f.data) == bytes);
  if (f.frameClass == FrameClass::kUnnumbered) {
    std::vector<uint8_t> built = layer2::BuildUFrame(f.control, f.address);
    require(built.empty() || built == bytes);
  }
  Layer2FrameParser again;
  Frame parsed;
  require(again.Check(parsed, bytes.data(), bytes.size()));
  require(same(parsed, f));
  require(!again.Check(parsed, nullptr, 0) && again.buffered() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static constexpr Layer2FrameParser::Phase kStarts[] = {
      Layer2FrameParser::Phase::kCtiInit, Layer2FrameParser::Phase::kCtiCheck, Layer2FrameParser::Phase::kHunting};
  const uint8_t mode = data[0];
  const size_t k = 1 + data[1] % 16;
  if (size < 2 + k) return 0;
  const uint8_t* sizes = data + 2;
  const uint8_t* bytes = data + 2 + k;
  const size_t count = size - 2 - k;

  Layer2FrameParser parser([](uint32_t level, const std::string& line) {
    require((level == 1 || level == 2 || level == 4) && !line.empty());
  }, kStarts[mode % 3]);
  Frame frame;
  size_t at = 0;
  for (size_t chunk = 0; at < count; ++chunk) {
    uint8_t s = sizes[chunk % k];
    size_t length = std::min(count - at, size_t{1} + size_t{s} * (s & 0x0F));
    for (bool got = parser.Check(frame, bytes + at, length);; got = parser.Check(frame, nullptr, 0)) {
      if (got) {
        checkFrame(frame);
        continue;
      }
      std::optional<std::string> answer = parser.TakeServiceAnswer();
      if (!answer) break;
      require(answer->compare(0, 3, "CTI") == 0 && answer->find('\r') == std::string::npos);
      checkSpeed(*answer);
      require(parser.phase() == Layer2FrameParser::Phase::kHunting);
    }
    require(parser.buffered() <= Layer2FrameParser::kCapacity);
    at += length;
    if ((mode & 0x80) && at >= count / 2 && at - length < count / 2) {
      parser.Clear();
      require(parser.buffered() == 0);
    }
  }
  return 0;
}
