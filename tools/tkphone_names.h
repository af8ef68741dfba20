#pragma once
// tkphone: the symbolic names of TAPI's values in its output and its
// commands ("OFFERING", "DISCONNECTED", "LINEERR_INVALCALLSTATE").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tapi/tapi_types.h"

namespace tkphone {

// A family of TAPI constants, named without its prefix (LINECALLSTATE_ ...).
enum class NameSet {
  CallState,
  DevState,
  AddressState,
  CallInfoState,
  PartyId,
  Origin,
  Reason,
  MediaMode,
  DisconnectMode,
  OfferingMode,
  DialToneMode,
  BusyMode,
  SpecialInfo,
  ConnectedMode,
};

// The name of one value ("OFFERING"), or its number in hex ("0x10000").
std::string ValueText(NameSet set, DWORD value);
// The names of the bits of a value joined by '|' ("ADDRESS|NAME"); bits
// without a name in hex; "0" for none.
std::string FlagsText(NameSet set, DWORD value);
// A call state's mode in the family its state uses (LINEDISCONNECTMODE_ for
// DISCONNECTED ...), or "" when the state has no modes or the mode is 0.
std::string CallStateModeText(DWORD state, DWORD mode);
// "OK" for 0, the LINEERR_ name of an error, else the number in hex.
std::string ResultText(LONG result);

// A value by its name, with or without the family's prefix, in any case
// ("offering", "LINECALLSTATE_OFFERING").
std::optional<DWORD> ParseName(NameSet set, std::string_view text);
// A result by its name: "OK", "LINEERR_OPERATIONFAILED" or "OPERATIONFAILED".
std::optional<LONG> ParseResult(std::string_view text);

}  // namespace tkphone
