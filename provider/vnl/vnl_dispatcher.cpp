#include "provider/vnl/vnl_dispatcher.h"

#include <new>
#include <span>
#include <string>

#include "provider/trace.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace kvarsp {

int VnlDispatcher::iVnlIntfDecodeMessage(const uint8_t* bytes, size_t count, bool traceRaw) {
  std::span<const uint8_t> received(bytes, count);
  try {
    if (traceRaw && VnlTraceOn()) traceVnl("%s", vnl::RawTraceLine(false, received).c_str());
    vnl::Message message;
    const vnl::DecodeResult result = vnl::DecodeMessage(
        received, lineId16_ && lineId16_(), message,
        [](std::string_view text) { traceVnl("%.*s", static_cast<int>(text.size()), text.data()); });
    if (!result.headerComplete) return 0;

    const Handler& handler = handlers_[message.type];
    if (message.type < 1 || message.type > vnl::kHighestMessageType || !handler) {
      traceVnl("%s", vnl::InvalidMessageTypeText(message.type).c_str());
    } else {
      handler(message);
    }
    return result.outOfMemory ? 0 : 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace kvarsp
