#pragma once
// Validating and decoding one received VNL message. The decoder is sans-IO:
// it reports its error texts to a callback and returns what it decoded; the
// caller dispatches.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "provider/vnl/codec/vnl_message.h"

namespace vnl {

using ErrorReport = std::function<void(std::string_view text)>;

struct DecodeResult {
  bool headerComplete = false;  // false: shorter than the header; nothing decoded, not to be dispatched
  bool outOfMemory = false;     // a value could not be stored; decoding stopped
  int errors = 0;               // error texts reported (cut-short parameters, unknown types)
};

// Decodes the message in bytes into message (reset first). Parameters are
// read in any order until the declared parameter length is used up or one is
// cut short ("Error: Parameter not complete", "Error: Parameter Value not
// complete"); unknown types are reported ("Invalid parameter type: 0x%02x")
// and skipped. LINE_ID is read as a word only when lineId16 is set. Bytes
// behind the declared parameter area are ignored.
DecodeResult DecodeMessage(std::span<const uint8_t> bytes, bool lineId16, Message& message,
                           const ErrorReport& report);

// "Invalid Message Type: 0x%02x": the text for a type outside 1..175 or
// without a handler.
std::string InvalidMessageTypeText(uint8_t type);

}  // namespace vnl
