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

// A single value: its constant name, "<not used (zero)>" for 0 (except the
// LINEERR_ family, where 0 is "SUCCESS", and the event family, where 0 is
// LINE_ADDRESSSTATE), or "<unknown>" when the table has no such value.
const char* TapiValueName(TapiFamily family, DWORD value);

// A flag word: the names of its set bits from bit 31 down to bit 0. The first
// name follows directly; each further name goes on a new line ('\n') that is
// indented by valueColumn - 2 blanks and starts with "| ", so that every name
// lines up at valueColumn. Bits without a name are shown once, as
// "<unknown bits>", after the named ones. A zero word prints
// "<not used (zero)>".
std::string TapiFlagWord(TapiFamily family, DWORD flags, size_t valueColumn);

// Shorthands kept for existing callers.
const char* LineResultName(LONG result);
const char* LineEventName(DWORD msg);

}  // namespace kvarsp
