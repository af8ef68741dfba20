#pragma once
// The provider's record of one opened line device. The provider's line
// handle (hdLine) is TAPI's htLine itself.
#include <cstdint>
#include <optional>
#include <string>

#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace kvarsp {

struct OpenLine {
  uint32_t deviceId = 0;
  uint32_t tspiVersion = 0;  // of TSPI_lineOpen; selects version-dependent behaviour
  HTAPILINE htLine = nullptr;
  LINEEVENT eventProc = nullptr;
  uint16_t pbxLineId = 0;     // the exchange's LINE_ID, as it was registered at open
  bool outOfService = false;  // set when the link to the exchange is lost
  uint32_t detectionMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  uint32_t lineStateMask = 0xFFFFFFFF;     // LINEDEVSTATE_ bits that are reported
  uint32_t addressStateMask = 0xFFFFFFFF;  // LINEADDRESSSTATE_ bits that are reported
  uint32_t forwardMode = 0;                // LINEFORWARDMODE_ of the extension, 0 = none
  uint32_t forwardCountryCode = 0;
  std::optional<std::u16string> forwardDestination;

  HDRVLINE hdLine() const { return reinterpret_cast<HDRVLINE>(htLine); }
};

}  // namespace kvarsp
