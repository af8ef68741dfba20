// The TSPI entry points of the exchange's supplementary services (transfers,
// conference, swap hold, park, unpark, pickup, redirect, forward). Each writes its call (with the structures it is given),
// its outputs and its result to the TAPI trace and leaves the work to the
// provider's service operations; out of memory inside one is its result
// LINEERR_NOMEM.
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
using kvarsp::TheProvider;
using kvarsp::TraceHandle;
using kvarsp::TracePointer;
using kvarsp::traceTapi;
using kvarsp::TraceDump;
using kvarsp::TraceText;

// Writes "<function> output: *<name> = 0x..." for a request that went out.
void TraceNewHandle(LONG result, const char* function, const char* name, const LPHDRVCALL handle) {
  if (result > 0 && handle) traceTapi("%s output: *%s = 0x%zx", function, name, TraceHandle(*handle));
}

// The part of the provider these entry points call.
kvarsp::ServiceOperations& Services() { return TheProvider().services; }

}  // namespace

extern "C" {

TK_EXPORT LONG TK_WINAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                                DWORD dwCountryCode) {
  return NoThrow("TSPI_lineBlindTransfer()", [&] {
    traceTapi(
        "TSPI_lineBlindTransfer\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpszDestAddress = \"%s\"\n"
        "  dwCountryCode = %u\n  )",
        dwRequestID, TraceHandle(hdCall), TraceText(lpszDestAddress).c_str(), dwCountryCode);
    return LogResult("TSPI_lineBlindTransfer()",
                     Services().BlindTransfer(dwRequestID, hdCall, lpszDestAddress, dwCountryCode));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                                LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS lpCallParams) {
  return NoThrow("TSPI_lineSetupTransfer()", [&] {
    traceTapi(
        "TSPI_lineSetupTransfer\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  htConsultCall = 0x%zx\n"
        "  lphdConsultCall = 0x%016zX\n  lpCallParams = 0x%016zX\n  )",
        dwRequestID, TraceHandle(hdCall), TraceHandle(htConsultCall), TracePointer(lphdConsultCall),
        TracePointer(lpCallParams));
    if (lpCallParams) {
      TraceDump([&] { return kvarsp::DumpLineCallParams("lpCallParams", lpCallParams, CallLineVersionOf(hdCall)); });
    }
    const LONG result = Services().SetupTransfer(dwRequestID, hdCall, htConsultCall, lphdConsultCall, lpCallParams);
    TraceNewHandle(result, "TSPI_lineSetupTransfer()", "lphdConsultCall", lphdConsultCall);
    return LogResult("TSPI_lineSetupTransfer()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                                                   HTAPICALL htConfCall, LPHDRVCALL lphdConfCall,
                                                   DWORD dwTransferMode) {
  return NoThrow("TSPI_lineCompleteTransfer()", [&] {
    traceTapi(
        "TSPI_lineCompleteTransfer\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  hdConsultCall = 0x%zx\n"
        "  htConfCall = 0x%zx\n  lphdConfCall = 0x%016zX\n  dwTransferMode = 0x%08x\n  )",
        dwRequestID, TraceHandle(hdCall), TraceHandle(hdConsultCall), TraceHandle(htConfCall),
        TracePointer(lphdConfCall), dwTransferMode);
    const LONG result =
        Services().CompleteTransfer(dwRequestID, hdCall, hdConsultCall, htConfCall, lphdConfCall, dwTransferMode);
    if (dwTransferMode == LINETRANSFERMODE_CONFERENCE)
      TraceNewHandle(result, "TSPI_lineCompleteTransfer()", "lphdConfCall", lphdConfCall);
    return LogResult("TSPI_lineCompleteTransfer()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_linePark(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, DWORD dwParkMode,
                                       LPCWSTR lpszDirAddress, LPVARSTRING lpNonDirAddress) {
  return NoThrow("TSPI_linePark()", [&] {
    traceTapi(
        "TSPI_linePark\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  dwParkMode = 0x%08x\n"
        "  lpszDirAddress = \"%s\"\n  lpNonDirAddress = 0x%016zX\n  )",
        dwRequestID, TraceHandle(hdCall), dwParkMode, TraceText(lpszDirAddress).c_str(), TracePointer(lpNonDirAddress));
    return LogResult("TSPI_linePark()", Services().Park(dwRequestID, hdCall, dwParkMode, lpNonDirAddress));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineUnpark(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID,
                                         HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress) {
  return NoThrow("TSPI_lineUnpark()", [&] {
    traceTapi(
        "TSPI_lineUnpark\n  (\n  dwRequestID = 0x%08x\n  hdLine = 0x%zx\n  dwAddressID = %u\n  htCall = 0x%zx\n"
        "  lphdCall = 0x%016zX\n  lpszDestAddress = \"%s\"\n  )",
        dwRequestID, TraceHandle(hdLine), dwAddressID, TraceHandle(htCall), TracePointer(lphdCall),
        TraceText(lpszDestAddress).c_str());
    const LONG result = Services().Unpark(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress);
    TraceNewHandle(result, "TSPI_lineUnpark()", "lphdCall", lphdCall);
    return LogResult("TSPI_lineUnpark()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD dwAddressID,
                                         HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress,
                                         LPCWSTR lpszGroupID) {
  return NoThrow("TSPI_linePickup()", [&] {
    traceTapi(
        "TSPI_linePickup\n  (\n  dwRequestID = 0x%08x\n  hdLine = 0x%zx\n  dwAddressID = %u\n  htCall = 0x%zx\n"
        "  lphdCall = 0x%016zX\n  lpszDestAddress = \"%s\"\n  lpszGroupID = \"%s\"\n  )",
        dwRequestID, TraceHandle(hdLine), dwAddressID, TraceHandle(htCall), TracePointer(lphdCall),
        TraceText(lpszDestAddress).c_str(), TraceText(lpszGroupID).c_str());
    const LONG result = Services().Pickup(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress);
    TraceNewHandle(result, "TSPI_linePickup()", "lphdCall", lphdCall);
    return LogResult("TSPI_linePickup()", result);
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  return NoThrow("TSPI_lineSwapHold()", [&] {
    traceTapi("TSPI_lineSwapHold\n  (\n  dwRequestID = 0x%08x\n  hdActiveCall = 0x%zx\n  hdHeldCall = 0x%zx\n  )",
              dwRequestID, TraceHandle(hdActiveCall), TraceHandle(hdHeldCall));
    return LogResult("TSPI_lineSwapHold()", Services().SwapHold(dwRequestID, hdActiveCall, hdHeldCall));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                           DWORD dwCountryCode) {
  return NoThrow("TSPI_lineRedirect()", [&] {
    traceTapi(
        "TSPI_lineRedirect\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpszDestAddress = \"%s\"\n"
        "  dwCountryCode = %u\n  )",
        dwRequestID, TraceHandle(hdCall), TraceText(lpszDestAddress).c_str(), dwCountryCode);
    return LogResult("TSPI_lineRedirect()", Services().Redirect(dwRequestID, hdCall, lpszDestAddress, dwCountryCode));
  });
}

TK_EXPORT LONG TK_WINAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD bAllAddresses,
                                          DWORD dwAddressID, LPLINEFORWARDLIST lpForwardList, DWORD dwNumRingsNoAnswer,
                                          HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                                          LPLINECALLPARAMS lpCallParams) {
  return NoThrow("TSPI_lineForward()", [&] {
    traceTapi(
        "TSPI_lineForward\n  (\n  dwRequestID = 0x%08x\n  hdLine = 0x%zx\n  bAllAddresses = %u\n  dwAddressID = %u\n"
        "  lpForwardList = 0x%016zX\n  dwNumRingsNoAnswer = %u\n  htConsultCall = 0x%zx\n"
        "  lphdConsultCall = 0x%016zX\n  lpCallParams = 0x%016zX\n  )",
        dwRequestID, TraceHandle(hdLine), bAllAddresses, dwAddressID, TracePointer(lpForwardList), dwNumRingsNoAnswer,
        TraceHandle(htConsultCall), TracePointer(lphdConsultCall), TracePointer(lpCallParams));
    if (kvarsp::TapiTraceOn() && (lpForwardList || lpCallParams)) {
      const DWORD version = LineVersionOf(hdLine);
      if (lpForwardList) traceTapi("%s", kvarsp::DumpLineForwardList("lpForwardList", lpForwardList, version).c_str());
      if (lpCallParams) traceTapi("%s", kvarsp::DumpLineCallParams("lpCallParams", lpCallParams, version).c_str());
    }
    const LONG result =
        Services().Forward(dwRequestID, hdLine, bAllAddresses, dwAddressID, lpForwardList, lphdConsultCall);
    if (result > 0 && lphdConsultCall) {
      traceTapi("TSPI_lineForward() output: *lphdConsultCall = 0x%zx", TraceHandle(*lphdConsultCall));
    }
    return LogResult("TSPI_lineForward()", result);
  });
}

}  // extern "C"
