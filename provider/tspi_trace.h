#pragma once
// The TAPI trace records of the TSPI functions. Each function writes, on
// entry, one record with its name and parameters in a fixed format string,
//
//   traceTapi("TSPI_lineOpen\n  (\n  dwDeviceID = %u\n  htLine = 0x%zx\n"
//             "  lphdLine = 0x%016zX\n  dwTSPIVersion = 0x%08x\n  lpfnEventProc = 0x%016zX\n  )",
//             dwDeviceID, TraceHandle(htLine), TracePointer(lphdLine), dwTSPIVersion, TracePointer(lpfnEventProc));
//
// (DWORDs as "%u" or "0x%08x", handles "0x%zx" with TraceHandle, pointers
// "0x%016zX" with TracePointer, strings "\"%s\"" with TraceText, value and
// flag names with TapiValueName and TapiFlagWord), its outputs after
// success as "TSPI_lineOpen() output: *lphdLine = 0x%zx", and returns
// through LogResult.
#include <cstddef>
#include <string>

#include "provider/trace.h"
#include "tapi/tapi_names.h"
#include "tapi/tapi_types.h"

namespace kvarsp {

// The trace spells TAPI's values with the one table of names in tapi/.
using tapi::LineEventName;
using tapi::LineResultName;
using tapi::TapiFamily;
using tapi::TapiFlagWord;
using tapi::TapiValueName;

// Writes "<function> return <result name>" for 0 and error results, or
// "<function> return dwRequestID (0x<id>)" for a positive result (the
// request ID of an asynchronous function); returns the result unchanged.
// function is the text "TSPI_lineDrop()" and the like.
LONG LogResult(const char* function, LONG result);

// The column where a parameter's value starts in its line "  <name> = ";
// TapiFlagWord indents continued flag lists to it.
inline size_t ValueColumn(const char* name) { return 2 + std::char_traits<char>::length(name) + 3; }

}  // namespace kvarsp
