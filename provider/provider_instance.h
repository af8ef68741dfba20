#pragma once
// The plug-in's one provider (its shared state and its parts by concern),
// shared by the files of TSPI exports. Defined in tspi_exports.cpp, where the
// plug-in instance (layer 2, protocol client, provider) is composed when the
// plug-in is loaded. Every export runs its work through NoThrow, so that
// nothing throws across the module boundary.
#include <new>

#include "provider/provider.h"
#include "provider/trace.h"
#include "provider/tspi_trace.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

Provider& TheProvider();

// Runs an entry point's work; out of memory there is LINEERR_NOMEM, traced
// as the entry point's result when the trace itself can still be written.
template <typename Work>
LONG NoThrow(const char* function, Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    try {
      return LogResult(function, LINEERR_NOMEM);
    } catch (const std::bad_alloc&) {
      return LINEERR_NOMEM;
    }
  }
}

// The TSPI version a line was opened with, or that of the line a call
// belongs to, for the dumps of their structures; the highest version when
// the handle is unknown.
inline DWORD LineVersionOf(HDRVLINE hdLine) {
  ProviderState& state = TheProvider().state;
  ScopedLock lock(&state.lock);
  const OpenLine* line = state.calls.FindLine(hdLine);
  return line ? line->tspiVersion : kTspiVersionHigh;
}
inline DWORD CallLineVersionOf(HDRVCALL hdCall) {
  ProviderState& state = TheProvider().state;
  ScopedLock lock(&state.lock);
  const TspCall* call = state.calls.FindCall(hdCall);
  const OpenLine* line = call ? state.calls.FindLine(reinterpret_cast<HDRVLINE>(call->line)) : nullptr;
  return line ? line->tspiVersion : kTspiVersionHigh;
}

// Writes a structure's dump as a record of its own, built only when the
// TAPI trace is on.
template <typename Dump>
void TraceDump(Dump&& dump) {
  if (!TapiTraceOn()) return;
  traceTapi("%s", dump().c_str());
}

// Writes "<function> output:", an empty line and the structure's dump,
// built only when the TAPI trace is on.
template <typename Dump>
void TraceOutputDump(const char* function, Dump&& dump) {
  if (!TapiTraceOn()) return;
  traceTapi("%s output:\n\n%s\n", function, dump().c_str());
}

}  // namespace kvarsp
