// The application functions of TAPI32 for supplementary services:
// transfer, hold swapping, park and unpark, pickup, redirect, forwarding and
// the device-specific escapes. All are asynchronous. linePark's VARSTRING
// and lineDevSpecific(Feature)'s parameter block come back attached to the
// LINE_REPLY; the connection's reader thread writes them where the
// application pointed before the LINE_REPLY is queued, so the application
// must keep that memory until then (as with TAPI).
#include <algorithm>
#include <cstring>

#include "platform/export.h"
#include "tapi/client/client_ansi.h"
#include "tapi/client/client_marshal.h"

using tapiwire::Function;
using tapiwire::Writer;

namespace tapi32 {
namespace {

LONG setupTransfer(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* callParams, bool ansiParams) {
  if (lphConsultCall == nullptr) return LINEERR_INVALPOINTER;
  if (tooLarge(callParams)) return LINEERR_NOMEM;
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  const auto params = callParamsBlock(callParams, ansiParams, app->apiVersion);
  HCALL consult = 0;
  const LONG result = callForHandles(*app, Function::SetupTransfer,
                                     [&](Writer& w) { w.u32(hCall).bytes(view(params)); }, {&consult});
  if (result > 0) {
    apps().addCall(consult, app->handle);
    *lphConsultCall = consult;
  }
  return result;
}

LONG park(HCALL hCall, DWORD parkMode, const std::optional<std::u16string>& dirAddress, LPVARSTRING nonDir,
          bool ansiResult) {
  DWORD cap = 0;
  if (parkMode == LINEPARKMODE_NONDIRECTED) {
    if (LONG check = checkOut(nonDir, sizeof(VARSTRING))) return check;
    cap = nonDir->dwTotalSize;
  } else if (parkMode == LINEPARKMODE_DIRECTED && !dirAddress) {
    return LINEERR_INVALPOINTER;
  }
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  AttachmentWriter writer;
  if (cap != 0) {
    writer = [nonDir, ansiResult](std::span<const uint8_t> data) {
      copyStructure(data, nonDir);
      if (ansiResult) ansi::varString(nonDir);
    };
  }
  return callForHandles(*app, Function::Park, [&](Writer& w) {
    w.u32(hCall).u32(parkMode).text(view(dirAddress)).u32(cap);
  }, {}, std::move(writer));
}

LONG unpark(HLINE hLine, DWORD addressId, LPHCALL lphCall, const std::optional<std::u16string>& dest) {
  if (lphCall == nullptr || !dest) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  HCALL call = 0;
  const LONG result = callForHandles(*app, Function::Unpark, [&](Writer& w) {
    w.u32(hLine).u32(addressId).text(view(dest));
  }, {&call});
  if (result > 0) {
    apps().addCall(call, app->handle);
    *lphCall = call;
  }
  return result;
}

LONG pickup(HLINE hLine, DWORD addressId, LPHCALL lphCall, const std::optional<std::u16string>& dest,
            const std::optional<std::u16string>& groupId) {
  if (lphCall == nullptr) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  HCALL call = 0;
  const LONG result = callForHandles(*app, Function::Pickup, [&](Writer& w) {
    w.u32(hLine).u32(addressId).text(view(dest)).text(view(groupId));
  }, {&call});
  if (result > 0) {
    apps().addCall(call, app->handle);
    *lphCall = call;
  }
  return result;
}

LONG forward(HLINE hLine, DWORD allAddresses, DWORD addressId, const LINEFORWARDLIST* forwardList,
             DWORD numRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* callParams, bool ansiStrings) {
  if (lphConsultCall == nullptr) return LINEERR_INVALPOINTER;
  if (tooLarge(forwardList) || tooLarge(callParams)) return LINEERR_NOMEM;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  std::optional<std::vector<uint8_t>> list;
  if (forwardList) {
    std::span<const uint8_t> given = *inStructure(forwardList);
    list = ansiStrings ? ansi::widenForwardList(given) : std::vector<uint8_t>(given.begin(), given.end());
  }
  const auto params = callParamsBlock(callParams, ansiStrings, apps().lineVersion(hLine, *app));
  HCALL consult = 0;
  const LONG result = callForHandles(*app, Function::Forward, [&](Writer& w) {
    w.u32(hLine).u32(allAddresses).u32(addressId).bytes(view(list)).u32(numRingsNoAnswer).bytes(view(params));
  }, {&consult});
  if (result > 0) {
    if (consult != 0) apps().addCall(consult, app->handle);
    *lphConsultCall = consult;
  }
  return result;
}

// The parameter block of lineDevSpecific(Feature) comes back with LINE_REPLY.
AttachmentWriter paramsWriter(LPVOID params, DWORD size) {
  if (params == nullptr || size == 0) return {};
  return [params, size](std::span<const uint8_t> data) {
    std::memcpy(params, data.data(), std::min<size_t>(size, data.size()));
  };
}

}  // namespace
}  // namespace tapi32

using namespace tapi32;

extern "C" {

TK_EXPORT LONG lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode) {
  return callAndAddress(Function::BlindTransfer, hCall, wideText(lpszDestAddressW), dwCountryCode);
}

TK_EXPORT LONG lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return callAndAddress(Function::BlindTransfer, hCall, ansiText(lpszDestAddress), dwCountryCode);
}

TK_EXPORT LONG lineBlindTransfer(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return lineBlindTransferA(hCall, lpszDestAddress, dwCountryCode);
}

TK_EXPORT LONG lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams) {
  return setupTransfer(hCall, lphConsultCall, lpCallParams, false);
}

TK_EXPORT LONG lineSetupTransferA(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams) {
  return setupTransfer(hCall, lphConsultCall, lpCallParams, true);
}

TK_EXPORT LONG lineSetupTransfer(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams) {
  return lineSetupTransferA(hCall, lphConsultCall, lpCallParams);
}

TK_EXPORT LONG lineCompleteTransfer(HCALL hCall, HCALL hConsultCall, LPHCALL lphConfCall, DWORD dwTransferMode) {
  if (dwTransferMode == LINETRANSFERMODE_CONFERENCE && lphConfCall == nullptr) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  HCALL conference = 0;
  const LONG result = callForHandles(*app, Function::CompleteTransfer, [&](Writer& w) {
    w.u32(hCall).u32(hConsultCall).u32(dwTransferMode);
  }, {&conference});
  if (result > 0 && conference != 0) {
    apps().addCall(conference, app->handle);
    if (lphConfCall) *lphConfCall = conference;
  }
  return result;
}

TK_EXPORT LONG lineSwapHold(HCALL hActiveCall, HCALL hHeldCall) {
  return callOnly(Function::SwapHold, hActiveCall, [&](Writer& w) { w.u32(hHeldCall); });
}

TK_EXPORT LONG lineParkW(HCALL hCall, DWORD dwParkMode, LPCWSTR lpszDirAddress, LPVARSTRING lpNonDirAddress) {
  return park(hCall, dwParkMode, wideText(lpszDirAddress), lpNonDirAddress, false);
}

TK_EXPORT LONG lineParkA(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress) {
  return park(hCall, dwParkMode, ansiText(lpszDirAddress), lpNonDirAddress, true);
}

TK_EXPORT LONG linePark(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress) {
  return lineParkA(hCall, dwParkMode, lpszDirAddress, lpNonDirAddress);
}

TK_EXPORT LONG lineUnparkW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress) {
  return unpark(hLine, dwAddressID, lphCall, wideText(lpszDestAddress));
}

TK_EXPORT LONG lineUnparkA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress) {
  return unpark(hLine, dwAddressID, lphCall, ansiText(lpszDestAddress));
}

TK_EXPORT LONG lineUnpark(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress) {
  return lineUnparkA(hLine, dwAddressID, lphCall, lpszDestAddress);
}

TK_EXPORT LONG linePickupW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress,
                           LPCWSTR lpszGroupID) {
  return pickup(hLine, dwAddressID, lphCall, wideText(lpszDestAddress), wideText(lpszGroupID));
}

TK_EXPORT LONG linePickupA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress,
                           LPCSTR lpszGroupID) {
  return pickup(hLine, dwAddressID, lphCall, ansiText(lpszDestAddress), ansiText(lpszGroupID));
}

TK_EXPORT LONG linePickup(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress,
                          LPCSTR lpszGroupID) {
  return linePickupA(hLine, dwAddressID, lphCall, lpszDestAddress, lpszGroupID);
}

TK_EXPORT LONG lineRedirectW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
  return callAndAddress(Function::Redirect, hCall, wideText(lpszDestAddress), dwCountryCode);
}

TK_EXPORT LONG lineRedirectA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return callAndAddress(Function::Redirect, hCall, ansiText(lpszDestAddress), dwCountryCode);
}

TK_EXPORT LONG lineRedirect(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return lineRedirectA(hCall, lpszDestAddress, dwCountryCode);
}

TK_EXPORT LONG lineForwardW(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                            const LINEFORWARDLIST* lpForwardList, DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall,
                            const LINECALLPARAMS* lpCallParams) {
  return forward(hLine, bAllAddresses, dwAddressID, lpForwardList, dwNumRingsNoAnswer, lphConsultCall,
                 lpCallParams, false);
}

TK_EXPORT LONG lineForwardA(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                            const LINEFORWARDLIST* lpForwardList, DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall,
                            const LINECALLPARAMS* lpCallParams) {
  return forward(hLine, bAllAddresses, dwAddressID, lpForwardList, dwNumRingsNoAnswer, lphConsultCall,
                 lpCallParams, true);
}

TK_EXPORT LONG lineForward(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                           const LINEFORWARDLIST* lpForwardList, DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall,
                           const LINECALLPARAMS* lpCallParams) {
  return lineForwardA(hLine, bAllAddresses, dwAddressID, lpForwardList, dwNumRingsNoAnswer, lphConsultCall,
                      lpCallParams);
}

TK_EXPORT LONG lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, LPVOID lpParams, DWORD dwSize) {
  if (lpParams == nullptr && dwSize != 0) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  return callForHandles(*app, Function::DevSpecific, [&](Writer& w) {
    w.u32(hLine).u32(dwAddressID).u32(hCall).bytes(userBytes(lpParams, dwSize));
  }, {}, paramsWriter(lpParams, dwSize));
}

TK_EXPORT LONG lineDevSpecificFeature(HLINE hLine, DWORD dwFeature, LPVOID lpParams, DWORD dwSize) {
  if (lpParams == nullptr && dwSize != 0) return LINEERR_INVALPOINTER;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  return callForHandles(*app, Function::DevSpecificFeature, [&](Writer& w) {
    w.u32(hLine).u32(dwFeature).bytes(userBytes(lpParams, dwSize));
  }, {}, paramsWriter(lpParams, dwSize));
}

}  // extern "C"
