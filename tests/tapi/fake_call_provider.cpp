// A provider plug-in with calls, for the tests of the telephony host's call
// operations. It reports one line, "Fake call line" (hdLine 0x800). Every completion and event
// comes from its worker thread, in order.
//
// - TSPI_lineMakeCall hands out hdCall 0x101, 0x102, ... ; destination "555"
//   fails at once with LINEERR_INVALADDRESS, destination "666" is refused in
//   the completion (LINEERR_OPERATIONFAILED, the call is deleted), destination
//   "777" is not completed until the line is closed (as an exchange that
//   never answers; the close fails it with LINEERR_OPERATIONFAILED);
//   otherwise it completes with 0 and reports DIALTONE. The originating address of
//   LINECALLPARAMS (DIALABLEADDR) becomes the caller ID, the destination the
//   called ID.
// - TSPI_lineDevSpecific offers a call from "0301234" ("Anna") on the line:
//   LINE_NEWCALL, then OFFERING for the htCall TAPI wrote.
// - TSPI_lineAccept: OFFERING -> ACCEPTED; TSPI_lineAnswer: ACCEPTED ->
//   CONNECTED (else LINEERR_INVALCALLSTATE); TSPI_lineDial: DIALING;
//   TSPI_lineDrop: IDLE; TSPI_lineCloseCall deletes the call.
// - TSPI_lineGetCallInfo fills the party IDs only when the caller's buffer
//   holds them (dwNeededSize tells how much that is).
// - Services: TSPI_linePark writes park address "7" into the caller's
//   VARSTRING when it completes; TSPI_lineUnpark opens a CONNECTED call,
//   its address failing like TSPI_lineMakeCall's destinations 555 and 666
//   (the address becomes the called ID, "(none)" for null).
#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/module.h"
#include "tests/tapi/fake_worker.h"
#include "tapi/tapi.h"
#include "tapi/tspi.h"

namespace {

constexpr uintptr_t kHdLine = 0x800;

ASYNC_COMPLETION g_complete = nullptr;

struct Call {
  HTAPICALL htCall = nullptr;
  DWORD state = 0;
  std::u16string caller, callerName, called;
};

std::mutex g_m;  // guards everything below
HTAPILINE g_htLine = nullptr;
LINEEVENT g_event = nullptr;
std::map<uintptr_t, Call> g_calls;  // by hdCall
uintptr_t g_nextHdCall = 0x101;
std::vector<DRV_REQUESTID> g_unanswered;  // requests completed only by the line's close
tktest::FakeWorker g_worker;

void post(std::function<void()> job) { g_worker.Post(std::move(job)); }

// Sets the state and reports it, from the worker.
void reportState(uintptr_t hdCall, DWORD state) {
  HTAPICALL htCall;
  LINEEVENT event;
  HTAPILINE htLine;
  {
    std::lock_guard lock(g_m);
    auto it = g_calls.find(hdCall);
    if (it == g_calls.end()) return;
    it->second.state = state;
    htCall = it->second.htCall;
    event = g_event;
    htLine = g_htLine;
  }
  event(htLine, htCall, LINE_CALLSTATE, state, 0, LINEMEDIAMODE_INTERACTIVEVOICE);
}

// Completes the request and moves the call to a state afterwards.
LONG completeThenReport(DRV_REQUESTID id, uintptr_t hdCall, DWORD state) {
  post([id, hdCall, state] {
    g_complete(id, 0);
    reportState(hdCall, state);
  });
  return static_cast<LONG>(id);
}

Call* findLocked(HDRVCALL hdCall) {
  auto it = g_calls.find(reinterpret_cast<uintptr_t>(hdCall));
  return it == g_calls.end() ? nullptr : &it->second;
}

// A call the provider creates for a service request; 555 fails at once, 666
// in the completion, anything else completes and moves the call to state.
LONG newCall(DRV_REQUESTID id, HTAPICALL htCall, LPHDRVCALL lphdCall, const std::u16string& called, DWORD state) {
  if (called == u"555") return LINEERR_INVALADDRESS;
  uintptr_t hdCall;
  {
    std::lock_guard lock(g_m);
    hdCall = g_nextHdCall++;
    g_calls[hdCall] = Call{htCall, 0, u"", u"", called};
  }
  *lphdCall = reinterpret_cast<HDRVCALL>(hdCall);
  if (called != u"666") return completeThenReport(id, hdCall, state);
  post([id, hdCall] {
    {
      std::lock_guard lock(g_m);
      g_calls.erase(hdCall);
    }
    g_complete(id, LINEERR_OPERATIONFAILED);
  });
  return static_cast<LONG>(id);
}

DWORD appendText(LINECALLINFO* info, const std::u16string& text, DWORD* size) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  *size = 0;
  if (info->dwUsedSize + bytes > info->dwTotalSize) return 0;
  const DWORD offset = info->dwUsedSize;
  std::copy(text.c_str(), text.c_str() + text.size() + 1,
            reinterpret_cast<char16_t*>(reinterpret_cast<BYTE*>(info) + offset));
  info->dwUsedSize += bytes;
  *size = bytes;
  return offset;
}

}  // namespace

extern "C" TK_EXPORT LONG TSPI_providerEnumDevices(DWORD, LPDWORD lpdwNumLines, LPDWORD lpdwNumPhones, HPROVIDER,
                                                   LINEEVENT, PHONEEVENT) {
  *lpdwNumLines = 1;
  *lpdwNumPhones = 0;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerInit(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                            ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
  if (g_worker.Running()) return LINEERR_OPERATIONFAILED;
  g_complete = lpfnCompletionProc;
  {
    std::lock_guard lock(g_m);
    g_calls.clear();
    g_unanswered.clear();
    g_nextHdCall = 0x101;
  }
  g_worker.Start("fake calls");
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_providerShutdown(DWORD, DWORD) {
  g_worker.Stop();
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineNegotiateTSPIVersion(DWORD, DWORD, DWORD dwHighVersion, LPDWORD lpdwTSPIVersion) {
  *lpdwTSPIVersion = std::min<DWORD>(dwHighVersion, 0x20000);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD, DWORD, LPLINEDEVCAPS lpLineDevCaps) {
  if (lpLineDevCaps->dwTotalSize < sizeof(LINEDEVCAPS)) return LINEERR_STRUCTURETOOSMALL;
  if (dwDeviceID != 0) return LINEERR_BADDEVICEID;
  static const char16_t kName[] = u"Fake call line";
  lpLineDevCaps->dwNeededSize = sizeof(LINEDEVCAPS) + sizeof kName;
  lpLineDevCaps->dwUsedSize = sizeof(LINEDEVCAPS);
  lpLineDevCaps->dwStringFormat = STRINGFORMAT_UNICODE;
  lpLineDevCaps->dwNumAddresses = 1;
  if (lpLineDevCaps->dwTotalSize >= lpLineDevCaps->dwNeededSize) {
    std::copy(std::begin(kName), std::end(kName),
              reinterpret_cast<char16_t*>(reinterpret_cast<BYTE*>(lpLineDevCaps) + sizeof(LINEDEVCAPS)));
    lpLineDevCaps->dwLineNameSize = sizeof kName;
    lpLineDevCaps->dwLineNameOffset = sizeof(LINEDEVCAPS);
    lpLineDevCaps->dwUsedSize = lpLineDevCaps->dwNeededSize;
  }
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD,
                                        LINEEVENT lpfnEventProc) {
  if (dwDeviceID != 0) return LINEERR_BADDEVICEID;
  std::lock_guard lock(g_m);
  g_htLine = htLine;
  g_event = lpfnEventProc;
  *lphdLine = reinterpret_cast<HDRVLINE>(kHdLine);
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineClose(HDRVLINE) {
  std::lock_guard lock(g_m);
  g_calls.clear();
  for (DRV_REQUESTID id : g_unanswered) post([id] { g_complete(id, LINEERR_OPERATIONFAILED); });
  g_unanswered.clear();
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall,
                                            LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD,
                                            LPLINECALLPARAMS lpCallParams) {
  if (reinterpret_cast<uintptr_t>(hdLine) != kHdLine) return LINEERR_INVALLINEHANDLE;
  const std::u16string dest = lpszDestAddress ? lpszDestAddress : u"";
  if (dest == u"555") return LINEERR_INVALADDRESS;
  Call call;
  call.htCall = htCall;
  call.called = dest;
  if (lpCallParams && (lpCallParams->dwAddressMode & LINEADDRESSMODE_DIALABLEADDR) &&
      lpCallParams->dwOrigAddressSize >= sizeof(char16_t)) {
    const auto* text = reinterpret_cast<const char16_t*>(reinterpret_cast<const BYTE*>(lpCallParams) +
                                                         lpCallParams->dwOrigAddressOffset);
    call.caller.assign(text, lpCallParams->dwOrigAddressSize / sizeof(char16_t) - 1);
  }
  uintptr_t hdCall;
  {
    std::lock_guard lock(g_m);
    hdCall = g_nextHdCall++;
    g_calls[hdCall] = call;
  }
  *lphdCall = reinterpret_cast<HDRVCALL>(hdCall);
  if (dest == u"777") {
    std::lock_guard lock(g_m);
    g_unanswered.push_back(dwRequestID);
    return static_cast<LONG>(dwRequestID);
  }
  if (dest == u"666") {
    post([dwRequestID, hdCall] {
      {
        std::lock_guard lock(g_m);
        g_calls.erase(hdCall);
      }
      g_complete(dwRequestID, LINEERR_OPERATIONFAILED);
    });
    return static_cast<LONG>(dwRequestID);
  }
  return completeThenReport(dwRequestID, hdCall, LINECALLSTATE_DIALTONE);
}

extern "C" TK_EXPORT LONG TSPI_lineDevSpecific(DRV_REQUESTID dwRequestID, HDRVLINE, DWORD, HDRVCALL, LPVOID, DWORD) {
  post([dwRequestID] {
    g_complete(dwRequestID, 0);
    uintptr_t hdCall;
    Call* call;
    LINEEVENT event;
    HTAPILINE htLine;
    {
      std::lock_guard lock(g_m);
      hdCall = g_nextHdCall++;
      call = &g_calls[hdCall];
      call->caller = u"0301234";
      call->callerName = u"Anna";
      call->called = u"20";
      event = g_event;
      htLine = g_htLine;
    }
    // The map's nodes stay where they are: TAPI writes htCall into the call.
    event(htLine, nullptr, LINE_NEWCALL, hdCall, reinterpret_cast<DWORD_PTR>(&call->htCall), 0);
    reportState(hdCall, LINECALLSTATE_OFFERING);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR, DWORD) {
  std::unique_lock lock(g_m);
  Call* call = findLocked(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (call->state != LINECALLSTATE_OFFERING) return LINEERR_INVALCALLSTATE;
  lock.unlock();
  post([dwRequestID, hdCall] {
    g_complete(dwRequestID, 0);
    reportState(reinterpret_cast<uintptr_t>(hdCall), LINECALLSTATE_ACCEPTED);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR, DWORD) {
  std::unique_lock lock(g_m);
  Call* call = findLocked(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (call->state != LINECALLSTATE_ACCEPTED) return LINEERR_INVALCALLSTATE;
  lock.unlock();
  post([dwRequestID, hdCall] {
    g_complete(dwRequestID, 0);
    reportState(reinterpret_cast<uintptr_t>(hdCall), LINECALLSTATE_CONNECTED);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress, DWORD) {
  std::unique_lock lock(g_m);
  Call* call = findLocked(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  if (lpszDestAddress) call->called += lpszDestAddress;
  lock.unlock();
  post([dwRequestID, hdCall] {
    g_complete(dwRequestID, 0);
    reportState(reinterpret_cast<uintptr_t>(hdCall), LINECALLSTATE_DIALING);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR, DWORD) {
  {
    std::lock_guard lock(g_m);
    if (!findLocked(hdCall)) return LINEERR_INVALCALLHANDLE;
  }
  post([dwRequestID, hdCall] {
    g_complete(dwRequestID, 0);
    reportState(reinterpret_cast<uintptr_t>(hdCall), LINECALLSTATE_IDLE);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineCloseCall(HDRVCALL hdCall) {
  std::lock_guard lock(g_m);
  return g_calls.erase(reinterpret_cast<uintptr_t>(hdCall)) ? 0 : LINEERR_INVALCALLHANDLE;
}

extern "C" TK_EXPORT LONG TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  if (lpCallInfo->dwTotalSize < sizeof(LINECALLINFO)) return LINEERR_STRUCTURETOOSMALL;
  std::lock_guard lock(g_m);
  Call* call = findLocked(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  auto bytes = [](const std::u16string& s) { return static_cast<DWORD>((s.size() + 1) * sizeof(char16_t)); };
  lpCallInfo->dwNeededSize = sizeof(LINECALLINFO) + bytes(call->caller) + bytes(call->callerName) + bytes(call->called);
  lpCallInfo->dwUsedSize = sizeof(LINECALLINFO);
  lpCallInfo->dwLineDeviceID = 0;
  lpCallInfo->dwBearerMode = LINEBEARERMODE_VOICE;
  lpCallInfo->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  lpCallInfo->dwCallID = static_cast<DWORD>(reinterpret_cast<uintptr_t>(hdCall));
  lpCallInfo->dwOrigin = call->callerName.empty() ? LINECALLORIGIN_OUTBOUND : LINECALLORIGIN_EXTERNAL;
  lpCallInfo->dwCallerIDFlags = LINECALLPARTYID_UNKNOWN;
  lpCallInfo->dwCalledIDFlags = LINECALLPARTYID_UNKNOWN;
  if (lpCallInfo->dwTotalSize >= lpCallInfo->dwNeededSize) {
    lpCallInfo->dwCallerIDFlags = LINECALLPARTYID_ADDRESS | (call->callerName.empty() ? 0 : LINECALLPARTYID_NAME);
    lpCallInfo->dwCallerIDOffset = appendText(lpCallInfo, call->caller, &lpCallInfo->dwCallerIDSize);
    lpCallInfo->dwCallerIDNameOffset = appendText(lpCallInfo, call->callerName, &lpCallInfo->dwCallerIDNameSize);
    lpCallInfo->dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    lpCallInfo->dwCalledIDOffset = appendText(lpCallInfo, call->called, &lpCallInfo->dwCalledIDSize);
  }
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  if (lpCallStatus->dwTotalSize < sizeof(LINECALLSTATUS)) return LINEERR_STRUCTURETOOSMALL;
  std::lock_guard lock(g_m);
  Call* call = findLocked(hdCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  lpCallStatus->dwNeededSize = sizeof(LINECALLSTATUS);
  lpCallStatus->dwUsedSize = sizeof(LINECALLSTATUS);
  lpCallStatus->dwCallState = call->state;
  lpCallStatus->dwCallFeatures = call->state == LINECALLSTATE_OFFERING ? 0x20081u : 0x80u;
  return 0;
}

extern "C" TK_EXPORT LONG TSPI_linePark(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwParkMode, LPCWSTR,
                                        LPVARSTRING lpNonDirAddress) {
  if (dwParkMode != LINEPARKMODE_NONDIRECTED) return LINEERR_INVALPARKMODE;
  if (lpNonDirAddress->dwTotalSize < sizeof(VARSTRING) + 4) return LINEERR_STRUCTURETOOSMALL;
  {
    std::lock_guard lock(g_m);
    if (!findLocked(hdCall)) return LINEERR_INVALCALLHANDLE;
  }
  post([dwRequestID, lpNonDirAddress] {
    // Written when the exchange confirms: the caller's buffer must still be there.
    const char16_t address[] = u"7";
    lpNonDirAddress->dwNeededSize = lpNonDirAddress->dwUsedSize = sizeof(VARSTRING) + sizeof address;
    lpNonDirAddress->dwStringFormat = STRINGFORMAT_UNICODE;
    lpNonDirAddress->dwStringOffset = sizeof(VARSTRING);
    lpNonDirAddress->dwStringSize = sizeof address;
    std::copy(std::begin(address), std::end(address),
              reinterpret_cast<char16_t*>(reinterpret_cast<BYTE*>(lpNonDirAddress) + sizeof(VARSTRING)));
    g_complete(dwRequestID, 0);
  });
  return static_cast<LONG>(dwRequestID);
}

extern "C" TK_EXPORT LONG TSPI_lineUnpark(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD, HTAPICALL htCall,
                                          LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress) {
  if (reinterpret_cast<uintptr_t>(hdLine) != kHdLine) return LINEERR_INVALLINEHANDLE;
  return newCall(dwRequestID, htCall, lphdCall, lpszDestAddress ? lpszDestAddress : u"(none)",
                 LINECALLSTATE_CONNECTED);
}
