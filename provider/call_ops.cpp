// The basic operations on one call: make, dial, accept, answer and drop it,
// close it, query its information, status and address, and set its
// application value, call data, call parameters and media mode. Operations
// that need the exchange hand one request to the link, which completes it
// later; the others complete at once through the event queue.
#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "provider/call_info_structs.h"
#include "provider/call_params.h"
#include "provider/call_operations.h"
#include "provider/trace.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

namespace {

// A call together with the line it belongs to. A call's line is open for as
// long as the call exists, so a call without one counts as unknown.
struct CallOnLine {
  const TspCall* call = nullptr;
  OpenLine* line = nullptr;
  explicit operator bool() const { return call && line; }
};

CallOnLine FindCallOnLine(CallModel& calls, HDRVCALL hdCall) {
  CallOnLine found;
  found.call = calls.FindCall(hdCall);
  if (found.call) found.line = calls.FindLine(reinterpret_cast<HDRVLINE>(found.call->line));
  return found;
}

// The conference object a CONFERENCED call belongs to, or null.
const TspCall* ConferenceOf(CallModel& calls, const TspCall& member) {
  if (!member.conferenceMember || member.conferenceHdCall == 0) return nullptr;
  const TspCall* root = calls.FindCall(reinterpret_cast<HDRVCALL>(member.conferenceHdCall));
  return root && root->conferenceRoot ? root : nullptr;
}

// The one member of a conference that carries the conference's own CALL_ID
// at the exchange: it alone may be dropped while CONFERENCED.
bool HoldsConferenceCallId(CallModel& calls, const TspCall& member) {
  const TspCall* root = ConferenceOf(calls, member);
  return root && member.pbxCallIdValid && member.pbxCallId == root->conferencePbxCallId;
}

// The calls of the line a held call could be swapped with or transferred
// to: those the exchange knows by a CALL_ID, conference calls left out.
void CountPartners(CallModel& calls, const TspCall& call, CallFeatureContext& context) {
  for (const TspCall* other : calls.Calls()) {
    if (other == &call || other->line != call.line || !other->pbxCallIdValid || other->conferenceRoot) continue;
    switch (other->callState) {
      case LINECALLSTATE_CONNECTED: ++context.connectedPartners; [[fallthrough]];
      case LINECALLSTATE_RINGBACK:
      case LINECALLSTATE_BUSY:
      case LINECALLSTATE_PROCEEDING:
      case LINECALLSTATE_DISCONNECTED: ++context.transferPartners; break;
      default: break;
    }
  }
}

bool RefusesDialling(const TspCall& call) {
  switch (call.callState) {
    case LINECALLSTATE_IDLE:
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_DISCONNECTED: return true;
    default: return call.conferenceRoot;
  }
}

// dwNoAnswerTimeout seconds as timer milliseconds; a time-out too long for
// the tick count runs as long as the tick count allows.
uint32_t NoAnswerMs(DWORD seconds) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{seconds} * 1000, kMax));
}

}  // namespace

CallOperations::CallOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, CAsyncComplEvent2Tapi& events,
                               const LineDirectory& directory)
    : lock_(lock), link_(link), calls_(calls), events_(events), directory_(directory) {}

LONG CallOperations::MakeCall(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                              LPCWSTR destAddress, DWORD countryCode, LPLINECALLPARAMS callParams) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (line->outOfService || calls_.CountLine(*line).active != 0) return LINEERR_INVALLINESTATE;
  const bool v20 = line->tspiVersion >= kTspiVersionHigh;
  if (v20 && callParams &&
      CallParamsMember(*callParams, &LINECALLPARAMS::dwPredictiveAutoTransferStates) != 0) {
    traceTapi("TSPI_lineMakeCall() - Automatic transfer not supported");
    return LINEERR_INVALPARAM;
  }
  std::u16string digits;
  try {
    if (LONG rc = FilterDialDigits(destAddress, digits)) return rc;
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  if (!lphdCall) return LINEERR_INVALPOINTER;

  const TspCall* call = nullptr;
  try {
    call = calls_.CreateCall(*line, htCall, u"", countryCode, LINECALLORIGIN_OUTBOUND);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  // Every failure from here on takes the new call away again.
  auto fail = [&](LONG rc) {
    calls_.DeleteCall(call);
    return rc;
  };
  uint8_t callOptions = 0;
  if (LONG rc = ApplyCallParams(calls_, *call, callParams, *line, directory_, false, false, callOptions)) {
    return fail(rc);
  }
  const std::optional<uint8_t> handsfreeMode = directory_.HandsfreeModeOf(line->deviceId);
  if (!handsfreeMode) return fail(LINEERR_OPERATIONFAILED);
  callOptions = ApplyHandsfreeMode(callOptions, *handsfreeMode);

  if (LONG rc = link_.MakeCall(requestId, *line, *call, digits, callOptions)) return fail(rc);

  if (v20 && callParams) {
    const DWORD seconds = CallParamsMember(*callParams, &LINECALLPARAMS::dwNoAnswerTimeout);
    if (seconds != 0) calls_.StartNoAnswerTimer(*call, NoAnswerMs(seconds));
  }
  // Until the exchange confirms the call it neither counts nor reports; TAPI
  // knows it by the handle it will have once bound.
  calls_.Unbind(*call);
  *lphdCall = reinterpret_cast<HDRVCALL>(call->handle);
  return static_cast<LONG>(requestId);
}

LONG CallOperations::DialCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD /*countryCode*/) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  if (RefusesDialling(*found.call)) return LINEERR_INVALCALLSTATE;
  if (!found.call->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  std::u16string digits;
  try {
    if (LONG rc = FilterDialDigits(destAddress, digits)) return rc;
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  const std::u16string_view dialString = destAddress ? std::u16string_view(destAddress) : std::u16string_view();
  if (LONG rc = link_.Dial(requestId, *found.line, *found.call, digits, dialString)) return rc;
  return static_cast<LONG>(requestId);
}

LONG CallOperations::AcceptCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR /*userUserInfo*/, DWORD /*size*/) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  if (found.call->callState != LINECALLSTATE_OFFERING) return LINEERR_INVALCALLSTATE;
  // The exchange has nothing to accept: the call stays as it is.
  calls_.Complete(found.line, requestId, 0);
  return static_cast<LONG>(requestId);
}

LONG CallOperations::AnswerCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR /*userUserInfo*/, DWORD /*size*/) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  if (found.call->callState != LINECALLSTATE_ACCEPTED) return LINEERR_INVALCALLSTATE;
  const CallCounts counts = calls_.CountLine(*found.line);
  if (counts.active + counts.onHold >= 2) return LINEERR_INVALLINESTATE;
  const std::optional<uint8_t> handsfreeMode = directory_.HandsfreeModeOf(found.line->deviceId);
  if (!handsfreeMode || !found.call->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  const uint8_t callOptions = AnswerCallOptions(*handsfreeMode);
  if (LONG rc = link_.Answer(requestId, *found.line, *found.call, callOptions)) return rc;
  return static_cast<LONG>(requestId);
}

LONG CallOperations::DropCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR /*userUserInfo*/, DWORD /*size*/) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  const TspCall& call = *found.call;

  switch (call.callState) {
    case 0:
    case LINECALLSTATE_IDLE:
      calls_.Complete(found.line, requestId, 0);
      return static_cast<LONG>(requestId);
    case LINECALLSTATE_DISCONNECTED:
      // The exchange has already ended the call; only TAPI's view follows.
      calls_.SetCallState(call, LINECALLSTATE_IDLE, 0);
      calls_.Complete(found.line, requestId, 0);
      return static_cast<LONG>(requestId);
    case LINECALLSTATE_CONFERENCED:
      if (!HoldsConferenceCallId(calls_, call)) return LINEERR_OPERATIONUNAVAIL;
      break;
    default: break;
  }

  LONG rc = 0;
  if (call.conferenceRoot) {
    // The conference is two calls at the exchange: its members, in list
    // order; calls prepared for it count too, since the exchange may have
    // joined them before it reported them conferenced.
    std::vector<const TspCall*> members;
    for (const TspCall* other : calls_.Calls()) {
      if (members.size() == 2) break;
      if ((other->conferenceMember && other->conferenceHdCall == call.handle) ||
          (other->pendingConference && other->pendingConferenceHdCall == call.handle)) {
        members.push_back(other);
      }
    }
    if (members.size() < 2 || !members[0]->pbxCallIdValid || !members[1]->pbxCallIdValid) {
      return LINEERR_OPERATIONFAILED;
    }
    rc = link_.DropTwo(requestId, *found.line, call, members[0]->pbxCallId, members[1]->pbxCallId);
  } else {
    if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
    rc = link_.Drop(requestId, *found.line, call);
  }
  return rc != 0 ? rc : static_cast<LONG>(requestId);
}

LONG CallOperations::DropOnClose(HDRVCALL hdCall) {
  ScopedLock lock(&lock_);
  const TspCall* call = calls_.FindCall(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  calls_.SetCallState(*call, LINECALLSTATE_IDLE, 0);
  return 0;
}

LONG CallOperations::DropNoOwner(HDRVCALL hdCall) {
  ScopedLock lock(&lock_);
  return calls_.ValidateCall(hdCall);
}

LONG CallOperations::CloseCall(HDRVCALL hdCall) {
  ScopedLock lock(&lock_);
  const TspCall* call = calls_.FindCall(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  const HTAPICALL htCall = call->htCall;
  if (call->pbxCallIdValid && call->pbxCallId != 0) {
    // The exchange still knows the call; it goes when the exchange ends it.
    calls_.Unbind(*call);
  } else {
    calls_.DeleteCall(call);
  }
  // TAPI's handle of the call becomes invalid when we return: what is still
  // queued for it goes first, with the provider lock free for the delivery
  // thread's sake. A call TAPI never named has nothing queued under a handle.
  lock.Unlock();
  if (htCall) events_.WaitForCall(htCall);
  return 0;
}

LONG CallOperations::GetCallInfo(HDRVCALL hdCall, LPLINECALLINFO callInfo) {
  if (!callInfo) return LINEERR_INVALPOINTER;
  if (callInfo->dwTotalSize < kCallInfoFixedSize) {
    traceTapi("TSPI_lineGetCallInfo() - LINECALLINFO structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  FillLineCallInfo(*callInfo, *found.call, found.line->deviceId, found.line->tspiVersion);
  return 0;
}

LONG CallOperations::GetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS callStatus) {
  if (!callStatus) return LINEERR_INVALPOINTER;
  if (callStatus->dwTotalSize < kCallStatusFixedSize) {
    traceTapi("TSPI_lineGetCallStatus() - LINECALLSTATUS structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  CallFeatureContext context;
  context.lineCounts = calls_.CountLine(*found.line);
  context.conferenceCallIdHolder = HoldsConferenceCallId(calls_, *found.call);
  context.lineVersion = found.line->tspiVersion;
  context.conferenceRoot = found.call->conferenceRoot;
  context.blindTransferring = found.call->blindTransfer || found.call->blindTransferWait.active;
  CountPartners(calls_, *found.call, context);
  FillLineCallStatus(*callStatus, *found.call, context);
  return 0;
}

LONG CallOperations::GetCallAddressID(HDRVCALL hdCall, LPDWORD addressId) {
  ScopedLock lock(&lock_);
  const TspCall* call = calls_.FindCall(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (!addressId) return LINEERR_INVALPOINTER;
  *addressId = call->addressId;
  return 0;
}

LONG CallOperations::SetAppSpecific(HDRVCALL hdCall, DWORD appSpecific) {
  ScopedLock lock(&lock_);
  const TspCall* call = calls_.FindCall(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  calls_.SetAppSpecific(*call, appSpecific, true);
  return 0;
}

LONG CallOperations::SetCallData(DRV_REQUESTID requestId, HDRVCALL hdCall, LPVOID callData, DWORD size) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  if (found.line->tspiVersion < kTspiVersionHigh) return LINEERR_OPERATIONFAILED;
  if (!callData && size != 0) return LINEERR_INVALPOINTER;
  std::vector<uint8_t> bytes;
  try {
    const auto* start = static_cast<const uint8_t*>(callData);
    if (size != 0) bytes.assign(start, start + size);
    calls_.SetBlob(*found.call, CallBlob::CallData, std::move(bytes), true);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  calls_.Complete(found.line, requestId, 0);
  return static_cast<LONG>(requestId);
}

LONG CallOperations::SetCallParams(DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD bearerMode, DWORD /*minRate*/,
                                   DWORD /*maxRate*/, LPLINEDIALPARAMS /*dialParams*/) {
  ScopedLock lock(&lock_);
  CallOnLine found = FindCallOnLine(calls_, hdCall);
  if (!found) return LINEERR_INVALCALLHANDLE;
  if (bearerMode != LINEBEARERMODE_VOICE) return LINEERR_INVALBEARERMODE;
  // Voice is all the exchange offers; rates and dial timing change nothing.
  calls_.Complete(found.line, requestId, 0);
  return static_cast<LONG>(requestId);
}

LONG CallOperations::SetMediaMode(HDRVCALL hdCall, DWORD mediaMode) {
  ScopedLock lock(&lock_);
  if (LONG rc = calls_.ValidateCall(hdCall)) return rc;
  return mediaMode == LINEMEDIAMODE_INTERACTIVEVOICE ? 0 : LINEERR_INVALMEDIAMODE;
}

}  // namespace kvarsp
