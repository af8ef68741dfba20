#pragma once
// tkphone: TAPI's values as its output and its commands spell them
// ("OFFERING", "DISCONNECTED", "LINEERR_INVALCALLSTATE"). The names come
// from the one table in tapi/tapi_names.h; tkphone drops the family's prefix
// and joins flag lists with '|'.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tapi/tapi_names.h"
#include "tapi/tapi_types.h"

namespace tkphone {

using tapi::TapiFamily;

// The name of one value ("OFFERING"), or its number in hex ("0x10000").
std::string ValueText(TapiFamily family, DWORD value);
// The names of the bits of a value joined by '|' ("ADDRESS|NAME"), in the
// order of the family's table; bits without a name in hex; "0" for none.
std::string FlagsText(TapiFamily family, DWORD value);
// A call state's mode in the family its state uses (LINEDISCONNECTMODE_ for
// DISCONNECTED ...), or "" when the state has no modes or the mode is 0.
std::string CallStateModeText(DWORD state, DWORD mode);
// "OK" for 0, the LINEERR_ name of an error, else the number in hex.
std::string ResultText(LONG result);

// A value by its name, with or without the family's prefix, in any case
// ("offering", "LINECALLSTATE_OFFERING").
std::optional<DWORD> ParseName(TapiFamily family, std::string_view text);
// A result by its name: "OK", "LINEERR_OPERATIONFAILED" or "OPERATIONFAILED".
std::optional<LONG> ParseResult(std::string_view text);

}  // namespace tkphone
