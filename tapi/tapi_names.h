#pragma once
// The symbolic names of TAPI's values: one table per family of constants,
// the only one in the system. The provider's TAPI trace, the telephony
// host's event log and callback records, and tkphone's output and commands
// all read these tables.
//
// In: a family and a value (or a flag word). Out: the constant's name as
// static text, or a string built from such names. No state, no threads.
//
// Every entry holds the constant's full name ("LINECALLSTATE_IDLE"); the
// other spellings are derived from it, never tabled again:
//   - the TAPI trace spelling below: "<unknown>", "<not used (zero)>" and
//     flag words one name per line, aligned at a value column;
//   - the host's "message <number>" for a number that is no line message;
//   - tkphone's names without the family's prefix ("IDLE", ShortName) and
//     its '|'-joined flag lists (tools/tkphone_names.cpp).
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "tapi/tapi_types.h"

namespace tapi {

enum class TapiFamily {
  LineErr,  // LINEERR_ and "SUCCESS" for 0
  PhoneErr,
  LineCallState,
  LineDevState,
  LineAddressState,
  LineCallInfoState,
  LineMediaMode,
  LineBearerMode,
  LineAddressMode,
  LineCallParamFlags,
  LineAddrCapFlags,
  LineCallFeature,
  LineCallFeature2,
  LineAddrFeature,
  LineFeature,
  LineDevCapFlags,
  LineDevStatusFlags,
  LineDisconnectMode,
  LineDialToneMode,
  LineBusyMode,
  LineSpecialInfo,
  LineOfferingMode,
  LineConnectedMode,
  LineCallPartyId,
  LineCallOrigin,
  LineCallReason,
  LineCallPrivilege,
  LineForwardMode,
  LineParkMode,
  LineTransferMode,
  LineRemoveFromConf,
  LineCallComplCond,
  LineCallComplMode,
  LineAnswerMode,
  LineAddressSharing,
  LineRoamMode,
  LineDigitMode,
  LineToneMode,
  LineGatherTerm,
  LineGenerateTerm,
  LineCallTreatment,
  LineTermMode,
  LineCallSelect,
  StringFormat,
  TuispiDllObject,
  LineEvent,  // LINE_ADDRESSSTATE ... LINE_SENDDIALOGINSTANCEDATA
};

struct ValueName {
  DWORD value;
  const char* name;  // the constant's full name
};

// Every value tapi_constants.h defines for the family, in the order it
// defines them. Only the result codes carry an extra entry: 0 is "SUCCESS".
std::span<const ValueName> NamesOf(TapiFamily family);
// The prefix every name of the family starts with ("LINECALLSTATE_";
// "LINE_" for the line messages), except LINEERR_'s "SUCCESS".
std::string_view PrefixOf(TapiFamily family);
// The name of a value of the family, or nullptr when it has none.
const char* FindName(TapiFamily family, DWORD value);
// An entry's name without the family's prefix ("IDLE").
std::string_view ShortName(TapiFamily family, const ValueName& entry);

// --- The TAPI trace's spelling ---------------------------------------------

// A single value: its constant name, "<unknown>" when the table has no such
// value, or "<not used (zero)>" for 0. A family whose table has a real entry
// for 0 prints that name instead: the LINEERR_ family ("SUCCESS") and the
// event family (LINE_ADDRESSSTATE).
const char* TapiValueName(TapiFamily family, DWORD value);

// A flag word: the names of its set bits from bit 31 down to bit 0. The first
// name follows directly; each further name goes on a new line ('\n') that is
// indented by valueColumn - 2 blanks and starts with "| ", so that every name
// lines up at valueColumn. Bits without a name are shown once, as
// "<unknown bits>", after the named ones. A zero word prints
// "<not used (zero)>" (or the family's real name for 0, as above).
// A value of more than one bit (LINEREMOVEFROMCONF_ANY = 3) is named when all
// its bits are set; it comes before the single-bit values it contains, and
// those are then not repeated.
std::string TapiFlagWord(TapiFamily family, DWORD flags, size_t valueColumn);

const char* LineResultName(LONG result);  // TapiValueName of LineErr
const char* LineEventName(DWORD msg);     // TapiValueName of LineEvent

// --- The telephony host's spelling -----------------------------------------

// A line message's name ("LINE_CALLSTATE"), or "message <number>" for a
// number that is no line message.
std::string LineMessageText(DWORD msg);

}  // namespace tapi
