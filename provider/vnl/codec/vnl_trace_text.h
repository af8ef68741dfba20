#pragma once
// The protocol trace's texts for VNL messages: the raw byte dump of every
// message and the decoded line of each message kind. Lines of a multi-line
// text are separated by '\n'; continuation lines carry their own indentation
// of 12 blanks.
#include <cstdint>
#include <span>
#include <string>

#include "provider/vnl/codec/vnl_message.h"

namespace vnl {

// "PC -> TK: " (fromPc) or "TK -> PC: " followed by "%02x " per byte.
std::string RawTraceLine(bool fromPc, std::span<const uint8_t> bytes);

// The decoded trace text of a message as the provider writes it:
//   requests     "PC -> TK: VNL_REGISTER_REQ( LINE_ID: 5 )"
//   confirmations "TK -> PC: VNL_REGISTER_CONF( RefID: 1, RESULT: 0 )", with
//                result details and the confirmation's own fields
//   responses    "PC -> TK: VNL_NEWCALL_RESP( RESULT: 0 )"
//   indications  "TK -> PC: VNL_NEWCALL_IND( RefID: 7, LINE_ID: 5, ... )"
// Empty for a type the protocol does not define.
std::string DecodedTraceText(const Message& message);

// "%s( RefID: %u, RESULT: %u )" and its forms with result details and with a
// field text of the confirmation's own (fields may be empty).
std::string ConfirmationTraceText(const char* text, const Message& message, const std::string& fields);

// "%s( RESULT: %u )" or "%s( RESULT: %u ( %u, %u, %u, %u ))".
std::string ResponseTraceText(const char* text, uint8_t result, std::span<const uint8_t> details);

}  // namespace vnl
