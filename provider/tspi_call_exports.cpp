// The TSPI entry points of the basic call operations. Each writes its call
// (with the call parameters it is given), its outputs and its result to the
// TAPI trace and leaves the work to the provider's call operations; out of
// memory inside one is its result LINEERR_NOMEM.
#include <iterator>
#include <string>

#include "platform/export.h"
#include "provider/provider.h"
#include "provider/provider_instance.h"
#include "provider/tapi_dump.h"
#include "provider/tspi_trace.h"
#include "tapi/tspi.h"

namespace {

using kvarsp::CallLineVersionOf;
using kvarsp::LineVersionOf;
using kvarsp::LogResult;
using kvarsp::NoThrow;
using kvarsp::TapiFamily;
using kvarsp::TapiFlagWord;
using kvarsp::TapiValueName;
using kvarsp::TheProvider;
using kvarsp::traceTapi;
using kvarsp::TraceHandle;
using kvarsp::TracePointer;
using kvarsp::TraceDump;
using kvarsp::TraceOutputDump;
using kvarsp::TraceText;
using kvarsp::ValueColumn;

// The part of the provider these entry points call.
kvarsp::CallOperations& CallOps() { return TheProvider().callOps; }

// The entry record of the functions that take a request, a call and
// user-user information (accept, answer, drop).
void TraceUserUserInfoEntry(const char* function, DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                            DWORD dwSize) {
  traceTapi("%s\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpsUserUserInfo = 0x%016zX\n  dwSize = %u\n  )",
            function, dwRequestID, TraceHandle(hdCall), TracePointer(lpsUserUserInfo), dwSize);
}

}  // namespace

extern "C" {

TK_EXPORT LONG TK_WINAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall,
                                           LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                                           LPLINECALLPARAMS lpCallParams) {
  return NoThrow("TSPI_lineMakeCall()", [&] {
    traceTapi(
        "TSPI_lineMakeCall\n  (\n  dwRequestID = 0x%08x\n  hdLine = 0x%zx\n  htCall = 0x%zx\n  lphdCall = 0x%016zX\n"
        "  lpszDestAddress = \"%s\"\n  dwCountryCode = %u\n  lpCallParams = 0x%016zX\n  )",
        dwRequestID, TraceHandle(hdLine), TraceHandle(htCall), TracePointer(lphdCall),
        TraceText(lpszDestAddress).c_str(), dwCountryCode, TracePointer(lpCallParams));
    if (lpCallParams) {
      TraceDump([&] { return kvarsp::DumpLineCallParams("lpCallParams", lpCallParams, LineVersionOf(hdLine)); });
    }
    LONG result =
        CallOps().MakeCall(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress, dwCountryCode, lpCallParams);
    if (result > 0 && lphdCall) traceTapi("TSPI_lineMakeCall() output: *lphdCall = 0x%zx", TraceHandle(*lphdCall));
    return LogResult("TSPI_lineMakeCall()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                       DWORD dwCountryCode) {
  return NoThrow("TSPI_lineDial()", [&] {
    traceTapi(
        "TSPI_lineDial\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpszDestAddress = \"%s\"\n"
        "  dwCountryCode = %u\n  )",
        dwRequestID, TraceHandle(hdCall), TraceText(lpszDestAddress).c_str(), dwCountryCode);
    return LogResult("TSPI_lineDial()", CallOps().DialCall(dwRequestID, hdCall, lpszDestAddress, dwCountryCode));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                         DWORD dwSize) {
  return NoThrow("TSPI_lineAccept()", [&] {
    TraceUserUserInfoEntry("TSPI_lineAccept", dwRequestID, hdCall, lpsUserUserInfo, dwSize);
    return LogResult("TSPI_lineAccept()", CallOps().AcceptCall(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                         DWORD dwSize) {
  return NoThrow("TSPI_lineAnswer()", [&] {
    TraceUserUserInfoEntry("TSPI_lineAnswer", dwRequestID, hdCall, lpsUserUserInfo, dwSize);
    return LogResult("TSPI_lineAnswer()", CallOps().AnswerCall(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                       DWORD dwSize) {
  return NoThrow("TSPI_lineDrop()", [&] {
    TraceUserUserInfoEntry("TSPI_lineDrop", dwRequestID, hdCall, lpsUserUserInfo, dwSize);
    return LogResult("TSPI_lineDrop()", CallOps().DropCall(dwRequestID, hdCall, lpsUserUserInfo, dwSize));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineDropOnClose(HDRVCALL hdCall) {
  return NoThrow("TSPI_lineDropOnClose()", [&] {
    traceTapi("TSPI_lineDropOnClose\n  (\n  hdCall = 0x%zx\n  )", TraceHandle(hdCall));
    return LogResult("TSPI_lineDropOnClose()", CallOps().DropOnClose(hdCall));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineDropNoOwner(HDRVCALL hdCall) {
  return NoThrow("TSPI_lineDropNoOwner()", [&] {
    traceTapi("TSPI_lineDropNoOwner\n  (\n  hdCall = 0x%zx\n  )", TraceHandle(hdCall));
    return LogResult("TSPI_lineDropNoOwner()", CallOps().DropNoOwner(hdCall));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
  return NoThrow("TSPI_lineCloseCall()", [&] {
    traceTapi("TSPI_lineCloseCall\n  (\n  hdCall = 0x%zx\n  )", TraceHandle(hdCall));
    return LogResult("TSPI_lineCloseCall()", CallOps().CloseCall(hdCall));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  return NoThrow("TSPI_lineGetCallInfo()", [&] {
    traceTapi("TSPI_lineGetCallInfo\n  (\n  hdCall = 0x%zx\n  lpCallInfo = 0x%016zX\n  )", TraceHandle(hdCall),
              TracePointer(lpCallInfo));
    LONG result = CallOps().GetCallInfo(hdCall, lpCallInfo);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetCallInfo()",
                      [&] { return kvarsp::DumpLineCallInfo("lpCallInfo", lpCallInfo, CallLineVersionOf(hdCall)); });
    }
    return LogResult("TSPI_lineGetCallInfo()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  return NoThrow("TSPI_lineGetCallStatus()", [&] {
    traceTapi("TSPI_lineGetCallStatus\n  (\n  hdCall = 0x%zx\n  lpCallStatus = 0x%016zX\n  )", TraceHandle(hdCall),
              TracePointer(lpCallStatus));
    LONG result = CallOps().GetCallStatus(hdCall, lpCallStatus);
    if (result == 0) {
      TraceOutputDump("TSPI_lineGetCallStatus()", [&] {
        return kvarsp::DumpLineCallStatus("lpCallStatus", lpCallStatus, CallLineVersionOf(hdCall));
      });
    }
    return LogResult("TSPI_lineGetCallStatus()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID) {
  return NoThrow("TSPI_lineGetCallAddressID()", [&] {
    traceTapi("TSPI_lineGetCallAddressID\n  (\n  hdCall = 0x%zx\n  lpdwAddressID = 0x%016zX\n  )", TraceHandle(hdCall),
              TracePointer(lpdwAddressID));
    LONG result = CallOps().GetCallAddressID(hdCall, lpdwAddressID);
    if (result == 0) traceTapi("TSPI_lineGetCallAddressID() output: *lpdwAddressID = %u", *lpdwAddressID);
    return LogResult("TSPI_lineGetCallAddressID()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific) {
  return NoThrow("TSPI_lineSetAppSpecific()", [&] {
    traceTapi("TSPI_lineSetAppSpecific\n  (\n  hdCall = 0x%zx\n  dwAppSpecific = 0x%08x\n  )", TraceHandle(hdCall),
              dwAppSpecific);
    return LogResult("TSPI_lineSetAppSpecific()", CallOps().SetAppSpecific(hdCall, dwAppSpecific));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetCallData(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPVOID lpCallData,
                                              DWORD dwSize) {
  return NoThrow("TSPI_lineSetCallData()", [&] {
    traceTapi(
        "TSPI_lineSetCallData\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpCallData = 0x%016zX\n"
        "  dwSize = %u\n  )",
        dwRequestID, TraceHandle(hdCall), TracePointer(lpCallData), dwSize);
    return LogResult("TSPI_lineSetCallData()", CallOps().SetCallData(dwRequestID, hdCall, lpCallData, dwSize));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetCallParams(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwBearerMode,
                                                DWORD dwMinRate, DWORD dwMaxRate, LPLINEDIALPARAMS lpDialParams) {
  return NoThrow("TSPI_lineSetCallParams()", [&] {
    traceTapi(
        "TSPI_lineSetCallParams\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  dwBearerMode = %s\n"
        "  dwMinRate = %u\n  dwMaxRate = %u\n  lpDialParams = 0x%016zX\n  )",
        dwRequestID, TraceHandle(hdCall), TapiValueName(TapiFamily::LineBearerMode, dwBearerMode), dwMinRate, dwMaxRate,
        TracePointer(lpDialParams));
    return LogResult("TSPI_lineSetCallParams()",
                     CallOps().SetCallParams(dwRequestID, hdCall, dwBearerMode, dwMinRate, dwMaxRate, lpDialParams));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode) {
  return NoThrow("TSPI_lineSetMediaMode()", [&] {
    traceTapi("TSPI_lineSetMediaMode\n  (\n  hdCall = 0x%zx\n  dwMediaMode = %s\n  )", TraceHandle(hdCall),
              TapiFlagWord(TapiFamily::LineMediaMode, dwMediaMode, ValueColumn("dwMediaMode")).c_str());
    return LogResult("TSPI_lineSetMediaMode()", CallOps().SetMediaMode(hdCall, dwMediaMode));
  });
}

}  // extern "C"
