#pragma once
// Symbolic names of TAPI values for the TAPI trace. Every value family the
// provider reports is a table of (value, constant name) pairs; a family is
// printed either as a single value or as a flag word.
#include <string>

#include "tapi/tapi_types.h"

namespace kvarsp {

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

// Shorthands kept for existing callers.
const char* LineResultName(LONG result);
const char* LineEventName(DWORD msg);

}  // namespace kvarsp
