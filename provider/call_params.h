#pragma once
// The checks that the call operations share: the filter that turns a TAPI
// destination into the digits the exchange dials, the CALL_OPTIONS byte of
// the requests that set up or answer a call, and the validation of
// LINECALLPARAMS together with what a call keeps of them.
//
// LINECALLPARAMS come from an application through TAPI and are not trusted:
// no member and no variable part is read unless it lies within dwTotalSize.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "provider/call_model.h"
#include "provider/open_line.h"
#include "provider/tsp_call.h"
#include "tapi/tapi_structs.h"

namespace kvarsp {

// --- Dialled digits ------------------------------------------------------------

// Room of the digit buffer, terminator included: at most 255 digits pass.
constexpr size_t kDialDigitCapacity = 256;

// The digits of a destination: "0123456789*#" are kept, '$', '?', '@' and
// 'W' refuse the whole destination (LINEERR_DIALBILLING, LINEERR_DIALPROMPT,
// LINEERR_DIALQUIET, LINEERR_DIALDIALTONE), everything else (blanks,
// separators, '+', ',', 'P', 'T', lower-case 'w', ...) is dropped. Keeping a
// 256th digit fails with LINEERR_INVALPOINTER. Null gives no digits.
// Returns 0 and the digits, or the error (digits then unspecified).
LONG FilterDialDigits(const char16_t* destination, std::u16string& digits);

// --- CALL_OPTIONS --------------------------------------------------------------

constexpr uint8_t kCallOptionHandsfree = 0x20;
constexpr uint8_t kCallOptionAnswerHandsfree = 0x40;

// One option bit per call parameter flag: SECURE 0x04, IDLE 0x08, BLOCKID
// 0x10, ORIGOFFHOOK 0x20, DESTOFFHOOK 0x40; other flags add nothing.
uint8_t CallOptionsFromFlags(uint32_t callParamFlags);
// The line's hands-free mode decides the hands-free bit: mode 1 sets it,
// mode 2 clears it, mode 0 (and any other) leaves it as it is.
uint8_t ApplyHandsfreeMode(uint8_t callOptions, uint8_t handsfreeMode);
// VNL_ANSWERCALL_REQ: 0x40 when the line is set to hands-free (mode 1), else 0.
uint8_t AnswerCallOptions(uint8_t handsfreeMode);

// --- LINECALLPARAMS ------------------------------------------------------------

// The part of LINECALLPARAMS that every TSPI version has.
constexpr uint32_t kCallParamsFixedSize = offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);
// Call parameter flags a request may carry; one-step transfer only where allowed.
constexpr uint32_t kAllowedCallParamFlags = 0x1F;
constexpr uint32_t kAllowedCallParamFlagsOneStep = 0x9F;

// A DWORD member of the caller's structure, or 0 when it does not lie
// (entirely) within dwTotalSize.
DWORD CallParamsMember(const LINECALLPARAMS& params, const DWORD LINECALLPARAMS::*member);

// What a call keeps of checked call parameters.
struct CheckedCallParams {
  uint32_t callParamFlags = 0;
  uint8_t callOptions = 0;  // from the flags, before the hands-free mode
  uint32_t addressId = 0;
  std::vector<std::pair<CallBlob, std::vector<uint8_t>>> blobs;
};

// Checks call parameters for a call on `line`, in this order (first failure
// returned): structure smaller than its fixed part (LINEERR_INVALCALLPARAMS);
// bearer mode VOICE (LINEERR_INVALBEARERMODE); media mode 0 or
// INTERACTIVEVOICE (LINEERR_INVALMEDIAMODE); flags within 0x1F, or 0x9F with
// one-step transfer (LINEERR_INVALCALLPARAMS); address mode with
// DIALABLEADDR: the originating address must name an address of the line
// (LINEERR_INVALADDRESS), else with ADDRESSID: dwAddressID below the
// address count (LINEERR_INVALADDRESSID), neither: LINEERR_INVALADDRESSMODE;
// then the displayable address, called party, comment, high- and low-level
// compatibility, device-specific data and, for version 0x20000 lines with
// dwCallDataSize/Offset present, the call data are copied
// (LINEERR_INVALCALLPARAMS when a part reaches past dwTotalSize,
// LINEERR_NOMEM). Null parameters pass with everything 0.
LONG CheckCallParams(const LINECALLPARAMS* params, const OpenLine& line, const LineAddresses& addresses,
                     bool oneStepTransferAllowed, CheckedCallParams& out);

// The check above, storing its result in the call (flags, address ID and
// blobs, with LINE_CALLINFO when notify and a value changed) and giving the
// CALL_OPTIONS from the flags (0 for null parameters). Nothing is stored
// when the check fails.
LONG ApplyCallParams(CallModel& calls, const TspCall& call, const LINECALLPARAMS* params, const OpenLine& line,
                     const LineAddresses& addresses, bool oneStepTransferAllowed, bool notify, uint8_t& callOptions);

}  // namespace kvarsp
