// The TSPI entry points of the exchange's supplementary services (swap hold,
// redirect, forward). Each writes its call (with the structures it is given),
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

using kvarsp::LineVersionOf;
using kvarsp::LogResult;
using kvarsp::NoThrow;
using kvarsp::TheProvider;
using kvarsp::TraceHandle;
using kvarsp::TracePointer;
using kvarsp::traceTapi;
using kvarsp::TraceText;

// The part of the provider these entry points call.
kvarsp::ServiceOperations& Services() { return TheProvider().services; }

}  // namespace

extern "C" {

TK_EXPORT LONG TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  return NoThrow("TSPI_lineSwapHold()", [&] {
    traceTapi("TSPI_lineSwapHold\n  (\n  dwRequestID = 0x%08x\n  hdActiveCall = 0x%zx\n  hdHeldCall = 0x%zx\n  )",
              dwRequestID, TraceHandle(hdActiveCall), TraceHandle(hdHeldCall));
    return LogResult("TSPI_lineSwapHold()", Services().SwapHold(dwRequestID, hdActiveCall, hdHeldCall));
  });
}

TK_EXPORT LONG TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                 DWORD dwCountryCode) {
  return NoThrow("TSPI_lineRedirect()", [&] {
    traceTapi(
        "TSPI_lineRedirect\n  (\n  dwRequestID = 0x%08x\n  hdCall = 0x%zx\n  lpszDestAddress = \"%s\"\n"
        "  dwCountryCode = %u\n  )",
        dwRequestID, TraceHandle(hdCall), TraceText(lpszDestAddress).c_str(), dwCountryCode);
    return LogResult("TSPI_lineRedirect()", Services().Redirect(dwRequestID, hdCall, lpszDestAddress, dwCountryCode));
  });
}

TK_EXPORT LONG TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD bAllAddresses, DWORD dwAddressID,
                                LPLINEFORWARDLIST lpForwardList, DWORD dwNumRingsNoAnswer, HTAPICALL htConsultCall,
                                LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS lpCallParams) {
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
