#pragma once
// Symbolic names of TAPI values for the TAPI trace: each value family is a
// table of (value, constant name) pairs looked up by value.
#include "tapi/tapi_types.h"

namespace kvarsp {

// "SUCCESS" for 0, the LINEERR_ constant's name, or "<unknown>".
const char* LineResultName(LONG result);

// The LINE_ message's name (LINE_ADDRESSSTATE ... LINE_SENDDIALOGINSTANCEDATA),
// or "<unknown>" (also for PHONE_ messages).
const char* LineEventName(DWORD msg);

}  // namespace kvarsp
