#pragma once
// The message table: for every message code its name, kind and the
// parameters in the order the encoder writes them.
#include <cstdint>
#include <span>

#include "provider/vnl/codec/vnl_protocol.h"

namespace vnl {

enum class ParamRule : uint8_t {
  Always,     // written whatever its value
  Optional,   // written when non-zero (numbers) or non-empty (texts)
  IfPresent,  // written when the message's present bit is set (TK -> PC)
};

struct TableParam {
  uint8_t type;
  ParamRule rule;
};

struct MessageLayout {
  uint8_t type;
  const char* name;
  Kind kind;
  std::span<const TableParam> params;
};

// nullptr for a code the protocol does not define.
const MessageLayout* FindMessageLayout(uint8_t type);

}  // namespace vnl
