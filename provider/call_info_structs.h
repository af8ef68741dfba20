#pragma once
// The structures that describe one call to TAPI: LINECALLINFO and
// LINECALLSTATUS, filled from the call object. Pure functions; the caller's
// dwTotalSize is the size of its buffer and nothing is written past it.
//
// LINECALLINFO: the caller guarantees the 324-byte fixed part. Variable
// parts (party numbers and names, display, user-user information, high- and
// low-level compatibility, charging information, device-specific data and,
// for version 0x20000 lines, call data) are appended in member order from
// the caller's dwUsedSize (never inside the fixed part) while they fit,
// otherwise their size and offset are 0; dwUsedSize ends behind the last
// part placed. dwNeededSize is 324 plus the sizes of all parts. hLine, the
// monitor modes, the owner and monitor counts, the application name,
// displayable address, called party and comment belong to TAPI and keep
// their values, as do the 2.0 members for an older line version.
//
// LINECALLSTATUS: the caller guarantees the 56-byte structure. dwNeededSize,
// dwUsedSize and dwCallPrivilege keep TAPI's values, and so do
// dwCallFeatures2 and tStateEntryTime for an older line version.
#include <cstdint>

#include "provider/call_model.h"
#include "provider/tsp_call.h"
#include "tapi/tapi_structs.h"

namespace kvarsp {

constexpr DWORD kCallInfoFixedSize = sizeof(LINECALLINFO);      // 324
constexpr DWORD kCallStatusFixedSize = sizeof(LINECALLSTATUS);  // 56

// Every state but SPECIALINFO.
constexpr DWORD kReportedCallStates = 0xFF7F;

void FillLineCallInfo(LINECALLINFO& info, const TspCall& call, uint32_t deviceId, uint32_t lineVersion);

// What the call features of a call depend on besides its state.
struct CallFeatureContext {
  CallCounts lineCounts;  // of the call's line
  // A CONFERENCED call: it is the member that carries the conference's own CALL_ID.
  bool conferenceCallIdHolder = false;
  uint32_t lineVersion = 0;
  // The call is a conference call: it has no CALL_ID of its own at the
  // exchange, so only a drop (of its members) can be carried out.
  bool conferenceRoot = false;
  // A blind transfer of the call is under way; a second one is refused.
  bool blindTransferring = false;
  // Other calls of the line with a CALL_ID that a held call could be
  // swapped with (CONNECTED) or transferred to (RINGBACK, BUSY, CONNECTED,
  // PROCEEDING or DISCONNECTED); conference calls do not count.
  uint32_t connectedPartners = 0;
  uint32_t transferPartners = 0;
};

// The LINECALLFEATURE_ bits of a call in `state`, SETCALLPARAMS and (for
// version 0x20000 lines) SETCALLDATA included.
uint32_t CallFeaturesNow(uint32_t state, const CallFeatureContext& context);
// The LINECALLFEATURE2_ bits that go with those features.
uint32_t CallFeatures2For(uint32_t callFeatures);

void FillLineCallStatus(LINECALLSTATUS& status, const TspCall& call, const CallFeatureContext& context);

}  // namespace kvarsp
