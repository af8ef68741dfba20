#pragma once
// How the exchange's call reports translate into TAPI values: call states,
// call types, call reasons, disconnect causes, party ID flags, a line's
// forwarding state and the text of a call's charge. Pure lookups; 0 stands
// for "none" wherever a TAPI value may be missing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "provider/vnl/codec/vnl_message.h"

namespace kvarsp {

// A CALL_STATE byte: its trace name ("" when unlisted), the LINECALLSTATE_
// it moves the call to (0: the state stays) and the LINECALLORIGIN_ it tells
// (0: none).
struct CallStateEntry {
  const char* name = "";
  uint32_t state = 0;
  uint32_t origin = 0;
};
CallStateEntry CallStateOf(uint8_t callState);

// A CALL_TYPE byte: the LINECALLREASON_ it tells and the LINECALLORIGIN_ that
// overrides the state's origin (0: none). 255 (absent) gives neither.
struct CallTypeEntry {
  uint32_t reason = 0;
  uint32_t originOverride = 0;
};
CallTypeEntry CallTypeOf(uint8_t callType);

// A CALL_REASON byte as LINECALLREASON_; 0 when unlisted.
uint32_t CallReasonOf(uint8_t callReason);

// The LINEDISCONNECTMODE_ of a CAUSE; an absent or unlisted one is UNKNOWN.
uint32_t DisconnectModeOf(std::optional<uint8_t> cause);

// The mode a call state is reported with (all states but CONFERENCED, whose
// mode is the conference call's handle): OFFERING and CONNECTED are ACTIVE
// from TSPI 0x10004 on, DIALTONE UNAVAIL, BUSY STATION, DISCONNECTED the
// cause's mode (NOANSWER from TSPI 0x20000 on after the provider's own
// no-answer drop), every other state 0.
uint32_t CallStateMode(uint32_t state, uint32_t tspiVersion, std::optional<uint8_t> cause, bool noAnswerDropped);

// Address types of a party.
constexpr uint8_t kAddressTypeUnknown = 0;
constexpr uint8_t kAddressTypeBlocked = 2;
constexpr uint8_t kAddressTypeInternal = 3;

// LINECALLPARTYID_ flags of a party from its type byte (when present) and
// whether its stored number is empty.
uint32_t PartyIdFlags(std::optional<uint8_t> addressType, bool numberEmpty);

// LINEFORWARDMODE_ of a LINE_STATE byte; 0 (no forwarding) when unlisted.
uint32_t ForwardModeOfLineState(uint8_t lineState);

// The charge as text: whole units, the decimal point, three digits of
// thousandths, a blank and the currency ("1.250 EUR"). Worked out in whole
// numbers, so that no rounding of the decimal exponent creeps in; a charge
// too large for the whole units is shown at their largest value.
std::string ChargingText(const vnl::Charging& charging, std::string_view decimalPoint);

// The decimal point of the user's locale (platform::userDecimalPoint: on
// Linux the locale the environment names, on Windows the regional
// settings); "." when there is none. The process's global locale is left
// alone.
std::string EnvironmentDecimalPoint();

}  // namespace kvarsp
