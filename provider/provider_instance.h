#pragma once
// The plug-in's one provider (its shared state and its parts by concern),
// shared by the files of TSPI exports. Defined in tspi_exports.cpp, where the
// plug-in instance (layer 2, protocol client, provider) is composed when the
// plug-in is loaded. Every export runs its work through NoThrow, so that
// nothing throws across the module boundary.
#include <new>

#include "provider/provider.h"
#include "provider/tspi_trace.h"

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

}  // namespace kvarsp
