#pragma once
// The receiving side: validates and decodes one received VNL message and
// hands its fields to the handler registered for its message type. Runs on
// the link interface thread with the provider lock held.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "provider/vnl/codec/vnl_message.h"

namespace kvarsp {

class VnlDispatcher {
 public:
  using Handler = std::function<void(const vnl::Message&)>;

  // lineId16 tells, per message, whether LINE_IDs are 16 bits wide.
  explicit VnlDispatcher(std::function<bool()> lineId16) : lineId16_(std::move(lineId16)) {}

  void SetHandler(uint8_t type, Handler handler) { handlers_[type] = std::move(handler); }

  // Writes the raw trace line, decodes with every check (their error texts
  // go to the protocol trace) and dispatches, also when decoding stopped at
  // a cut-short parameter. A type outside 1..175 or without a handler writes
  // "Invalid Message Type: 0x%02x". Returns 0 when the message is shorter
  // than its header or a value could not be stored, else 1.
  // With traceRaw clear the raw line is left out (the link interface thread
  // writes it before it takes the provider lock).
  int iVnlIntfDecodeMessage(const uint8_t* bytes, size_t count, bool traceRaw = true);

 private:
  std::function<bool()> lineId16_;
  std::array<Handler, 256> handlers_;
};

}  // namespace kvarsp
