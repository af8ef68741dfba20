// The application functions of TAPI32 on calls: making, dialling,
// answering, dropping and deallocating calls, their information and status,
// and their settable parameters. Asynchronous ones return the service's
// request ID; their result comes as LINE_REPLY. A call handle a reply hands
// out is written at once (TAPI: valid once LINE_REPLY reports success) and
// remembered as this application's.
#include "platform/export.h"
#include "tapi/client/client_ansi.h"
#include "tapi/client/client_marshal.h"

using tapiwire::Function;
using tapiwire::Writer;

namespace tapi32 {
namespace {

LONG makeCall(HLINE hLine, LPHCALL lphCall, const std::optional<std::u16string>& dest, DWORD countryCode,
              const LINECALLPARAMS* callParams, bool ansiParams) {
  if (lphCall == nullptr) return LINEERR_INVALPOINTER;
  if (tooLarge(callParams)) return LINEERR_NOMEM;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  const auto params = callParamsBlock(callParams, ansiParams, apps().lineVersion(hLine, *app));
  HCALL call = 0;
  const LONG result = callForHandles(*app, Function::MakeCall, [&](Writer& w) {
    w.u32(hLine).text(view(dest)).u32(countryCode).bytes(view(params));
  }, {&call});
  if (result > 0) {
    apps().addCall(call, app->handle);
    *lphCall = call;
  }
  return result;
}

// Accept, answer, drop: a call handle and optional user-user information.
LONG callAndUserInfo(Function function, HCALL hCall, LPCSTR userUserInfo, DWORD size) {
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  return callForHandles(*app, function, [&](Writer& w) { w.u32(hCall).bytes(userBytes(userUserInfo, size)); },
                        {});
}

LONG callInfo(HCALL hCall, LPLINECALLINFO info) {
  if (LONG check = checkOut(info, sizeof(LINECALLINFO))) return check;
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  return callForStructure(*app, Function::GetCallInfo, [&](Writer& w) { w.u32(hCall).u32(info->dwTotalSize); },
                          info);
}

}  // namespace
}  // namespace tapi32

using namespace tapi32;

extern "C" {

TK_EXPORT LONG lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                             const LINECALLPARAMS* lpCallParams) {
  return makeCall(hLine, lphCall, wideText(lpszDestAddress), dwCountryCode, lpCallParams, false);
}

TK_EXPORT LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                             const LINECALLPARAMS* lpCallParams) {
  return makeCall(hLine, lphCall, ansiText(lpszDestAddress), dwCountryCode, lpCallParams, true);
}

TK_EXPORT LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                            const LINECALLPARAMS* lpCallParams) {
  return lineMakeCallA(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

TK_EXPORT LONG lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
  return callAndAddress(Function::Dial, hCall, wideText(lpszDestAddress), dwCountryCode);
}

TK_EXPORT LONG lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return callAndAddress(Function::Dial, hCall, ansiText(lpszDestAddress), dwCountryCode);
}

TK_EXPORT LONG lineDial(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return lineDialA(hCall, lpszDestAddress, dwCountryCode);
}

TK_EXPORT LONG lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return callAndUserInfo(Function::Accept, hCall, lpsUserUserInfo, dwSize);
}

TK_EXPORT LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return callAndUserInfo(Function::Answer, hCall, lpsUserUserInfo, dwSize);
}

TK_EXPORT LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return callAndUserInfo(Function::Drop, hCall, lpsUserUserInfo, dwSize);
}

TK_EXPORT LONG lineDeallocateCall(HCALL hCall) {
  const LONG result = callOnly(Function::DeallocateCall, hCall, {});
  if (result == 0) apps().removeCall(hCall);
  return result;
}

TK_EXPORT LONG lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo) { return callInfo(hCall, lpCallInfo); }

TK_EXPORT LONG lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  const LONG result = callInfo(hCall, lpCallInfo);
  if (result == 0) ansi::callInfo(lpCallInfo);
  return result;
}

TK_EXPORT LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo) { return lineGetCallInfoA(hCall, lpCallInfo); }

TK_EXPORT LONG lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus) {
  if (LONG check = checkOut(lpCallStatus, sizeof(LINECALLSTATUS))) return check;
  std::shared_ptr<App> app = apps().forCall(hCall);
  if (!app) return LINEERR_INVALCALLHANDLE;
  return callForStructure(*app, Function::GetCallStatus,
                          [&](Writer& w) { w.u32(hCall).u32(lpCallStatus->dwTotalSize); }, lpCallStatus);
}

TK_EXPORT LONG lineSetAppSpecific(HCALL hCall, DWORD dwAppSpecific) {
  return callOnly(Function::SetAppSpecific, hCall, [&](Writer& w) { w.u32(dwAppSpecific); });
}

TK_EXPORT LONG lineSetCallData(HCALL hCall, LPVOID lpCallData, DWORD dwSize) {
  if (lpCallData == nullptr && dwSize != 0) return LINEERR_INVALPOINTER;
  return callOnly(Function::SetCallData, hCall, [&](Writer& w) { w.bytes(userBytes(lpCallData, dwSize)); });
}

TK_EXPORT LONG lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                                 const LINEDIALPARAMS* lpDialParams) {
  return callOnly(Function::SetCallParams, hCall, [&](Writer& w) {
    w.u32(dwBearerMode).u32(dwMinRate).u32(dwMaxRate).bytes(fixedBlock(lpDialParams, sizeof(LINEDIALPARAMS)));
  });
}

TK_EXPORT LONG lineSetMediaMode(HCALL hCall, DWORD dwMediaModes) {
  return callOnly(Function::SetMediaMode, hCall, [&](Writer& w) { w.u32(dwMediaModes); });
}

}  // extern "C"
