#include "provider/vnl/call_state_tables.h"

#include <cstdio>
#include <limits>

#include "platform/user_locale.h"
#include "provider/config_store.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tapi/tapi.h"

namespace kvarsp {

CallStateEntry CallStateOf(uint8_t callState) {
  const char* name = vnl::CallStateName(callState);
  switch (callState) {
    case 0x10: return {name, LINECALLSTATE_IDLE, 0};
    case 0x11: return {name, LINECALLSTATE_OFFERING, LINECALLORIGIN_INBOUND};
    case 0x12: return {name, LINECALLSTATE_ACCEPTED, LINECALLORIGIN_INBOUND};
    case 0x13: return {name, LINECALLSTATE_CONNECTED, 0};
    case 0x14: return {name, LINECALLSTATE_BUSY, 0};
    case 0x15: return {name, LINECALLSTATE_DIALTONE, LINECALLORIGIN_OUTBOUND};
    case 0x16: return {name, LINECALLSTATE_DIALING, LINECALLORIGIN_OUTBOUND};
    case 0x17: return {name, LINECALLSTATE_RINGBACK, 0};
    case 0x18: return {name, LINECALLSTATE_DISCONNECTED, 0};
    case 0x20: return {name, LINECALLSTATE_ONHOLDPENDTRANSFER, 0};
    case 0x21: return {name, LINECALLSTATE_CONFERENCED, 0};
    case 0x22: return {name, LINECALLSTATE_PROCEEDING, LINECALLORIGIN_OUTBOUND};
    case 0x81: return {name, LINECALLSTATE_CONNECTED, 0};
    // "onHold" (0x19) and "callback" (0x30) only bring party information.
    default: return {name, 0, 0};
  }
}

CallTypeEntry CallTypeOf(uint8_t callType) {
  switch (callType) {
    case 0x01: return {LINECALLREASON_DIRECT, LINECALLORIGIN_EXTERNAL};
    case 0x02: return {LINECALLREASON_DIRECT, LINECALLORIGIN_INTERNAL};
    case 0x11: return {LINECALLREASON_FWDUNCOND, 0};
    case 0x21: return {LINECALLREASON_REDIRECT, 0};
    case 0x31: return {LINECALLREASON_REMINDER, 0};
    default: return {};
  }
}

uint32_t CallReasonOf(uint8_t callReason) {
  switch (callReason) {
    case 0x10: return LINECALLREASON_DIRECT;
    case 0x11: return LINECALLREASON_FWDBUSY;
    case 0x12: return LINECALLREASON_FWDNOANSWER;
    case 0x13: return LINECALLREASON_FWDUNCOND;
    case 0x14: return LINECALLREASON_PICKUP;
    case 0x15: return LINECALLREASON_UNPARK;
    case 0x16: return LINECALLREASON_REDIRECT;
    case 0x17: return LINECALLREASON_CALLCOMPLETION;
    case 0x18: return LINECALLREASON_TRANSFER;
    case 0x19: return LINECALLREASON_REMINDER;
    case 0x1A: return LINECALLREASON_UNKNOWN;
    case 0x1B: return LINECALLREASON_UNAVAIL;
    default: return 0;
  }
}

uint32_t DisconnectModeOf(std::optional<uint8_t> cause) {
  if (!cause) return LINEDISCONNECTMODE_UNKNOWN;
  switch (*cause) {
    case 0x00: return LINEDISCONNECTMODE_NORMAL;
    case 0x10: return LINEDISCONNECTMODE_UNKNOWN;
    case 0x11: return LINEDISCONNECTMODE_REJECT;
    case 0x12: return LINEDISCONNECTMODE_PICKUP;
    case 0x13: return LINEDISCONNECTMODE_FORWARDED;
    case 0x14: return LINEDISCONNECTMODE_BUSY;
    case 0x15: return LINEDISCONNECTMODE_NOANSWER;
    case 0x16: return LINEDISCONNECTMODE_BADADDRESS;
    case 0x17: return LINEDISCONNECTMODE_UNREACHABLE;
    case 0x18: return LINEDISCONNECTMODE_CONGESTION;
    case 0x19: return LINEDISCONNECTMODE_INCOMPATIBLE;
    case 0x1A: return LINEDISCONNECTMODE_UNAVAIL;
    case 0x1B: return LINEDISCONNECTMODE_NODIALTONE;
    case 0x1C: return LINEDISCONNECTMODE_NUMBERCHANGED;
    case 0x1D: return LINEDISCONNECTMODE_OUTOFORDER;
    case 0x1E: return LINEDISCONNECTMODE_TEMPFAILURE;
    case 0x1F: return LINEDISCONNECTMODE_QOSUNAVAIL;
    case 0x20: return LINEDISCONNECTMODE_BLOCKED;
    case 0x21: return LINEDISCONNECTMODE_DONOTDISTURB;
    default: return LINEDISCONNECTMODE_UNKNOWN;
  }
}

uint32_t CallStateMode(uint32_t state, uint32_t tspiVersion, std::optional<uint8_t> cause, bool noAnswerDropped) {
  switch (state) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_CONNECTED: return tspiVersion >= 0x10004 ? 1u : 0u;  // ..._ACTIVE
    case LINECALLSTATE_DIALTONE: return LINEDIALTONEMODE_UNAVAIL;
    case LINECALLSTATE_BUSY: return LINEBUSYMODE_STATION;
    case LINECALLSTATE_DISCONNECTED:
      if (tspiVersion >= 0x20000 && noAnswerDropped) return LINEDISCONNECTMODE_NOANSWER;
      return DisconnectModeOf(cause);
    default: return 0;
  }
}

uint32_t PartyIdFlags(std::optional<uint8_t> addressType, bool numberEmpty) {
  if (addressType) {
    switch (*addressType) {
      case kAddressTypeUnknown: return numberEmpty ? LINECALLPARTYID_UNAVAIL : LINECALLPARTYID_ADDRESS;
      case kAddressTypeBlocked: return LINECALLPARTYID_BLOCKED;
      case kAddressTypeInternal:
      case kAddressTypeNational:
      case kAddressTypeInternational: return LINECALLPARTYID_ADDRESS;
      default: break;
    }
  }
  return numberEmpty ? LINECALLPARTYID_UNKNOWN : LINECALLPARTYID_ADDRESS;
}

uint32_t ForwardModeOfLineState(uint8_t lineState) {
  switch (lineState) {
    case 0x10: return LINEFORWARDMODE_UNCOND;
    case 0x11: return LINEFORWARDMODE_BUSY;
    case 0x12: return LINEFORWARDMODE_NOANSW;
    default: return 0;
  }
}

std::string ChargingText(const vnl::Charging& charging, std::string_view decimalPoint) {
  // The charge is amount * 10^exponent thousandths.
  using Whole = long long;
  constexpr Whole kLargest = std::numeric_limits<Whole>::max();
  Whole whole = 0;
  Whole thousandths = 0;
  if (charging.exponent >= 3) {
    whole = charging.amount;
    for (unsigned i = 3; i < charging.exponent && whole != 0; ++i) {
      if (whole > kLargest / 10) {
        whole = kLargest;
        break;
      }
      whole *= 10;
    }
  } else {
    Whole unitScale = 1;  // thousandths per step of the amount: 10^exponent
    for (unsigned i = 0; i < charging.exponent; ++i) unitScale *= 10;
    const Whole perUnit = 1000 / unitScale;  // steps of the amount per whole unit
    whole = charging.amount / perUnit;
    thousandths = (charging.amount % perUnit) * unitScale;
  }
  // The currency ends at an embedded NUL, as it would as a C string.
  const std::string currency(charging.currency.c_str());
  char number[64];
  std::snprintf(number, sizeof number, "%lld", whole);
  char fraction[24];
  std::snprintf(fraction, sizeof fraction, "%03lld", thousandths);
  return std::string(number) + std::string(decimalPoint) + fraction + " " + currency;
}

std::string EnvironmentDecimalPoint() { return platform::userDecimalPoint(); }

}  // namespace kvarsp
