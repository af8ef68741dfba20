#pragma once
// The basic TSPI operations on one call (call_ops.cpp): make, dial, accept,
// answer and drop it, close it, query its information, status and address,
// and set its application value, call data, call parameters and media mode.
// Operations that need the exchange hand one request to the link, which
// completes it later through the event queue; the others complete at once.
// Runs on TAPI's threads and takes the provider lock itself; closing a call
// hands it back while the call's events drain.
#include <cstdint>

#include "common/sync.h"
#include "provider/call_model.h"
#include "provider/event_queue.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/provider_state.h"
#include "tapi/tspi.h"

namespace kvarsp {

class CallOperations {
 public:
  CallOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, CAsyncComplEvent2Tapi& events,
                 const LineDirectory& directory);
  CallOperations(const CallOperations&) = delete;
  CallOperations& operator=(const CallOperations&) = delete;

  LONG MakeCall(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                LPCWSTR destAddress, DWORD countryCode, LPLINECALLPARAMS callParams);
  LONG DialCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  LONG AcceptCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG AnswerCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG DropCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG DropOnClose(HDRVCALL hdCall);
  LONG DropNoOwner(HDRVCALL hdCall);
  // Returns after the queued events of the call have gone to TAPI (or the
  // drain wait gave up); the provider lock is free during that wait.
  LONG CloseCall(HDRVCALL hdCall);
  LONG GetCallInfo(HDRVCALL hdCall, LPLINECALLINFO callInfo);
  LONG GetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS callStatus);
  LONG GetCallAddressID(HDRVCALL hdCall, LPDWORD addressId);
  LONG SetAppSpecific(HDRVCALL hdCall, DWORD appSpecific);
  LONG SetCallData(DRV_REQUESTID requestId, HDRVCALL hdCall, LPVOID callData, DWORD size);
  LONG SetCallParams(DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD bearerMode, DWORD minRate, DWORD maxRate,
                     LPLINEDIALPARAMS dialParams);
  LONG SetMediaMode(HDRVCALL hdCall, DWORD mediaMode);

 private:
  CCritSec& lock_;
  LinkInterface& link_;
  CallModel& calls_;
  CAsyncComplEvent2Tapi& events_;
  const LineDirectory& directory_;
};

}  // namespace kvarsp
