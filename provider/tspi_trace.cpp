#include "provider/tspi_trace.h"

namespace kvarsp {

LONG LogResult(const char* function, LONG result) {
  if (result > 0) {
    traceTapi("%s return dwRequestID (0x%lx)", function, static_cast<unsigned long>(result));
  } else {
    traceTapi("%s return %s", function, LineResultName(result));
  }
  return result;
}

}  // namespace kvarsp
