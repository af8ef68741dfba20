// libFuzzer target for the VNL decoder: any received bytes, with 8-bit and
// 16-bit line IDs, must decode, print and re-encode without a crash, a leak
// or undefined behaviour, and the decoder's account of itself must hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace {

// A broken promise of the codec is a finding, like a crash.
void require(bool condition) {
  if (!condition) std::abort();
}

void decodeAndRebuild(std::span<const uint8_t> bytes, bool lineId16) {
  vnl::Message message;
  int reported = 0;
  vnl::DecodeResult result =
      vnl::DecodeMessage(bytes, lineId16, message, [&](std::string_view text) {
        require(!text.empty());
        ++reported;
      });
  require(result.errors == reported);
  require(result.headerComplete == (bytes.size() >= vnl::kHeaderSize));
  if (!result.headerComplete) return;
  require(message.type == bytes[0] && message.refId == bytes[1]);

  vnl::Kind kind;
  std::string text = vnl::DecodedTraceText(message);
  require(vnl::MessageKind(message.type, kind) == !text.empty());
  if (text.empty()) require(!vnl::InvalidMessageTypeText(message.type).empty());
  (void)vnl::RawTraceLine(false, bytes);

  // Re-encoding what was decoded must stay within the message size limit.
  std::vector<uint8_t> encoded;
  if (vnl::EncodeMessage(message, lineId16, encoded) == vnl::BuildStatus::Ok) {
    require(encoded.size() >= vnl::kHeaderSize && encoded.size() <= vnl::kMaxMessage);
    require(encoded[0] == message.type && encoded[1] == message.refId);
    require(encoded.size() - vnl::kHeaderSize == (size_t{encoded[2]} << 8 | encoded[3]));
  } else {
    require(encoded.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The receive buffer holds 16384 bytes; a longer block never reaches the decoder.
  if (size > vnl::kMaxMessage) return 0;
  std::span<const uint8_t> bytes(data, size);
  decodeAndRebuild(bytes, false);
  decodeAndRebuild(bytes, true);
  return 0;
}
