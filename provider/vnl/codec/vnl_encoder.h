#pragma once
// Building VNL messages. A message is built from a list of parameters, each
// (parameter type, kind, value); the long form is chosen by the type.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "provider/vnl/codec/vnl_message.h"

namespace vnl {

struct Param {
  enum class Kind { Byte, Word, Text, Result, Octets };
  uint8_t type = 0;
  Kind kind = Kind::Byte;
  uint16_t number = 0;              // Byte (low 8 bits), Word, and the result code
  std::string text;                 // Text: ANSI bytes, cut to 255 when written
  std::vector<uint8_t> bytes;       // Result details (at most 19 written) or Octets

  static Param Byte(uint8_t type, uint8_t value);
  static Param Word(uint8_t type, uint16_t value);
  static Param Text(uint8_t type, std::string ansi);
  static Param Result(uint8_t code, std::span<const uint8_t> details = {});
  static Param Octets(uint8_t type, std::vector<uint8_t> value);
};

enum class BuildStatus { Ok, Full };

// Writes the header (type, refId, parameter length) and the parameters into
// out. Full: appending a parameter would take the parameter area plus the
// value plus 10 past 16384 bytes (the "+10" reserve); out is then cleared.
BuildStatus BuildMessage(uint8_t type, uint8_t refId, std::span<const Param> params, std::vector<uint8_t>& out);

// The parameters of a message in the order of the message table, from its
// fields. PC -> TK messages follow the table's rules (a parameter marked
// optional is written only when its value is non-zero or non-empty); TK -> PC
// messages write RESULT (confirmations and FAILURE_IND) and every other
// parameter of the table whose present bit is set. LINE_ID is a word when
// lineId16 is set, else a byte.
std::vector<Param> ParamsOf(const Message& message, bool lineId16);

// ParamsOf + BuildMessage with the message's type and RefID.
BuildStatus EncodeMessage(const Message& message, bool lineId16, std::vector<uint8_t>& out);

}  // namespace vnl
