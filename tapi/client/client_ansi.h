#pragma once
// Text conversion for the A functions. The service speaks UTF-16 only; the
// A functions take and return Windows-1252.
//
// Out-structures: after the W call filled the application's buffer, each
// string of the structure's variable part is converted where it lies
// (ANSI never needs more bytes than UTF-16) and its dw...Size becomes the
// ANSI byte count. dwNeededSize and dwUsedSize stay as the service reported
// them, so a buffer of dwNeededSize bytes is always enough for the next
// call. A string whose size and offset do not lie inside dwTotalSize is
// left alone.
//
// In-structures (LINECALLPARAMS, LINEFORWARDLIST): rebuilt with their
// strings in UTF-16 and their binary parts copied, before they are sent.
// One whose fixed part or fields do not fit its dwTotalSize is sent as it is,
// for the service to refuse.
#include <cstdint>
#include <span>
#include <vector>

#include "tapi/tapi32.h"

namespace tapi32::ansi {

void devCaps(LINEDEVCAPS* caps);
void addressCaps(LINEADDRESSCAPS* caps);
void callInfo(LINECALLINFO* info);
void providerList(LINEPROVIDERLIST* list);
// Only a VARSTRING whose dwStringFormat is STRINGFORMAT_UNICODE (it becomes
// STRINGFORMAT_ASCII).
void varString(VARSTRING* string);

// apiVersion says which fixed part a LINECALLPARAMS has (TAPI 2.0 added
// members at its end).
std::vector<uint8_t> widenCallParams(std::span<const uint8_t> params, DWORD apiVersion);
std::vector<uint8_t> widenForwardList(std::span<const uint8_t> list);

}  // namespace tapi32::ansi
