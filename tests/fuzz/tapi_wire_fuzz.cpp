// libFuzzer target for the telephony service's message format: any bytes,
// cut into chunks, go through the splitter; every message it returns is read
// with a sequence of value reads chosen by the input. Nothing may crash,
// leak or read out of bounds; a message read to its end without a failure
// must encode again, value by value, to the same bytes; the splitter must
// never return a message above the maximum size or keep bytes once broken.
// Every message also goes through the event decoder: an event it accepts
// must encode again to the same bytes (with the sequence 0 events carry); a
// request's first value names its function (any number must name one).
//
// Input: byte 0 the chunk size (1 + byte), byte 1 the read plan's length k
// (0 to 15), then k plan bytes (each picks u32, u64, bytes or text), then
// the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "tapi/wire/tapi_functions.h"
#include "tapi/wire/tapi_wire.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The event decoder, as the application library runs it on what the
// service sends.
void readEvent(const std::vector<uint8_t>& message) {
  auto event = tapiwire::decodeEvent(message);
  if (!event) return;
  std::vector<uint8_t> expected = message;
  std::fill(expected.begin() + 8, expected.begin() + 12, uint8_t{0});
  require(tapiwire::encodeEvent(*event) == expected);
  require(tapiwire::decodeEvent(expected) == event);
}

void readMessage(const std::vector<uint8_t>& message, std::span<const uint8_t> plan) {
  require(message.size() <= tapiwire::kMaxMessageSize);
  readEvent(message);
  auto r = tapiwire::Reader::open(message);
  if (!r) return;
  if (r->kind() == tapiwire::Kind::Request) {
    auto first = tapiwire::Reader::open(message);
    require(!tapiwire::functionName(first->u32()).empty());
  }
  tapiwire::Writer again(r->kind(), r->sequence());
  for (uint8_t step : plan) {
    switch (step % 4) {
      case 0: again.u32(r->u32()); break;
      case 1: again.u64(r->u64()); break;
      case 2: {
        auto b = r->bytes();
        if (b) {
          again.bytes(std::span<const uint8_t>(*b));
        } else {
          again.bytes(std::nullopt);
        }
        break;
      }
      default: {
        auto t = r->text();
        if (t) {
          again.text(std::u16string_view(*t));
        } else {
          again.text(std::nullopt);
        }
        break;
      }
    }
  }
  if (r->ok() && r->atEnd()) require(again.finish() == message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = 1 + data[0];
  const size_t k = data[1] % 16;
  if (size < 2 + k) return 0;
  const std::span<const uint8_t> plan(data + 2, k);
  std::span<const uint8_t> stream(data + 2 + k, size - 2 - k);
  tapiwire::Splitter splitter;
  while (!stream.empty()) {
    const size_t n = std::min(chunk, stream.size());
    const bool fine = splitter.feed(stream.first(n));
    stream = stream.subspan(n);
    while (auto m = splitter.next()) readMessage(*m, plan);
    if (!fine) {
      require(splitter.broken() && splitter.pending() == 0);
      break;
    }
  }
  return 0;
}
