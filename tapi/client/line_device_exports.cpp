// The application functions of TAPI32 on line devices and addresses:
// capabilities, status, device IDs, opening and closing lines. The W
// functions ask the service; the A functions convert their text arguments to
// UTF-16 on the way in and the strings of their out-structures to ANSI on
// the way out.
#include "platform/export.h"
#include "tapi/client/client_ansi.h"
#include "tapi/client/client_marshal.h"

using tapiwire::Function;
using tapiwire::Writer;

namespace tapi32 {
namespace {

LONG devCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD apiVersion, DWORD extVersion, LPLINEDEVCAPS caps) {
  if (LONG check = checkOut(caps, sizeof(LINEDEVCAPS))) return check;
  std::shared_ptr<App> app = apps().find(hLineApp);
  if (!app) return LINEERR_INVALAPPHANDLE;
  return callForStructure(*app, Function::GetDevCaps, [&](Writer& w) {
    w.u32(hLineApp).u32(deviceId).u32(apiVersion).u32(extVersion).u32(caps->dwTotalSize);
  }, caps);
}

LONG addressCaps(HLINEAPP hLineApp, DWORD deviceId, DWORD addressId, DWORD apiVersion, DWORD extVersion,
                 LPLINEADDRESSCAPS caps) {
  if (LONG check = checkOut(caps, sizeof(LINEADDRESSCAPS))) return check;
  std::shared_ptr<App> app = apps().find(hLineApp);
  if (!app) return LINEERR_INVALAPPHANDLE;
  return callForStructure(*app, Function::GetAddressCaps, [&](Writer& w) {
    w.u32(hLineApp).u32(deviceId).u32(addressId).u32(apiVersion).u32(extVersion).u32(caps->dwTotalSize);
  }, caps);
}

LONG addressStatus(HLINE hLine, DWORD addressId, LPLINEADDRESSSTATUS status) {
  if (LONG check = checkOut(status, sizeof(LINEADDRESSSTATUS))) return check;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  return callForStructure(*app, Function::GetAddressStatus,
                          [&](Writer& w) { w.u32(hLine).u32(addressId).u32(status->dwTotalSize); }, status);
}

LONG lineDevStatus(HLINE hLine, LPLINEDEVSTATUS status) {
  if (LONG check = checkOut(status, sizeof(LINEDEVSTATUS))) return check;
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  return callForStructure(*app, Function::GetLineDevStatus,
                          [&](Writer& w) { w.u32(hLine).u32(status->dwTotalSize); }, status);
}

LONG getId(HLINE hLine, DWORD addressId, HCALL hCall, DWORD select, LPVARSTRING deviceId,
           const std::optional<std::u16string>& deviceClass) {
  if (LONG check = checkOut(deviceId, sizeof(VARSTRING))) return check;
  if (!deviceClass) return LINEERR_INVALPOINTER;
  // The line or the call names the application, as dwSelect says.
  std::shared_ptr<App> app = select == LINECALLSELECT_CALL ? apps().forCall(hCall) : apps().forLine(hLine);
  if (!app) return select == LINECALLSELECT_CALL ? LINEERR_INVALCALLHANDLE : LINEERR_INVALLINEHANDLE;
  return callForStructure(*app, Function::GetId, [&](Writer& w) {
    w.u32(hLine).u32(addressId).u32(hCall).u32(select).u32(deviceId->dwTotalSize).text(view(deviceClass));
  }, deviceId);
}

LONG open(HLINEAPP hLineApp, DWORD deviceId, LPHLINE lphLine, DWORD apiVersion, DWORD extVersion,
          DWORD_PTR callbackInstance, DWORD privileges, DWORD mediaModes, const LINECALLPARAMS* callParams,
          bool ansiParams) {
  if (lphLine == nullptr) return LINEERR_INVALPOINTER;
  if (tooLarge(callParams)) return LINEERR_NOMEM;
  std::shared_ptr<App> app = apps().find(hLineApp);
  if (!app) return LINEERR_INVALAPPHANDLE;
  const std::optional<std::vector<uint8_t>> params = callParamsBlock(callParams, ansiParams, apiVersion);
  HLINE line = 0;
  const LONG result = callForHandles(*app, Function::Open, [&](Writer& w) {
    w.u32(hLineApp).u32(deviceId).u32(apiVersion).u32(extVersion).u64(callbackInstance).u32(privileges)
        .u32(mediaModes).bytes(view(params));
  }, {&line});
  if (result != 0) return result;
  LineEntry entry;
  entry.app = hLineApp;
  entry.apiVersion = apiVersion;
  entry.callbackInstance = callbackInstance;
  apps().addLine(line, entry);
  *lphLine = line;
  return 0;
}

}  // namespace
}  // namespace tapi32

using namespace tapi32;

extern "C" {

TK_EXPORT LONG lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                               LPLINEDEVCAPS lpLineDevCaps) {
  return devCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

TK_EXPORT LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                               LPLINEDEVCAPS lpLineDevCaps) {
  const LONG result = devCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
  if (result == 0) ansi::devCaps(lpLineDevCaps);
  return result;
}

TK_EXPORT LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                              LPLINEDEVCAPS lpLineDevCaps) {
  return lineGetDevCapsA(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

TK_EXPORT LONG lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  return addressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps);
}

TK_EXPORT LONG lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  const LONG result = addressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps);
  if (result == 0) ansi::addressCaps(lpAddressCaps);
  return result;
}

TK_EXPORT LONG lineGetAddressCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                  DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  return lineGetAddressCapsA(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion, lpAddressCaps);
}

// LINEADDRESSSTATUS and LINEDEVSTATUS hold no text: A and W are the same.
TK_EXPORT LONG lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return addressStatus(hLine, dwAddressID, lpAddressStatus);
}

TK_EXPORT LONG lineGetAddressStatusA(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return addressStatus(hLine, dwAddressID, lpAddressStatus);
}

TK_EXPORT LONG lineGetAddressStatus(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return addressStatus(hLine, dwAddressID, lpAddressStatus);
}

TK_EXPORT LONG lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return lineDevStatus(hLine, lpLineDevStatus);
}

TK_EXPORT LONG lineGetLineDevStatusA(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return lineDevStatus(hLine, lpLineDevStatus);
}

TK_EXPORT LONG lineGetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return lineDevStatus(hLine, lpLineDevStatus);
}

TK_EXPORT LONG lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                          LPCWSTR lpszDeviceClass) {
  return getId(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, wideText(lpszDeviceClass));
}

TK_EXPORT LONG lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                          LPCSTR lpszDeviceClass) {
  const LONG result = getId(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, ansiText(lpszDeviceClass));
  if (result == 0) ansi::varString(lpDeviceID);
  return result;
}

TK_EXPORT LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                         LPCSTR lpszDeviceClass) {
  return lineGetIDA(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

TK_EXPORT LONG lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                         DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                         const LINECALLPARAMS* lpCallParams) {
  return open(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
              dwMediaModes, lpCallParams, false);
}

TK_EXPORT LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                         DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                         const LINECALLPARAMS* lpCallParams) {
  return open(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
              dwMediaModes, lpCallParams, true);
}

TK_EXPORT LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                        DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                        const LINECALLPARAMS* lpCallParams) {
  return lineOpenA(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion, dwCallbackInstance, dwPrivileges,
                   dwMediaModes, lpCallParams);
}

TK_EXPORT LONG lineClose(HLINE hLine) {
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  const LONG result = callForHandles(*app, Function::Close, [&](Writer& w) { w.u32(hLine); }, {});
  if (result == 0) apps().removeLine(hLine);
  return result;
}

TK_EXPORT LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
  std::shared_ptr<App> app = apps().forLine(hLine);
  if (!app) return LINEERR_INVALLINEHANDLE;
  return callForHandles(*app, Function::SetStatusMessages,
                        [&](Writer& w) { w.u32(hLine).u32(dwLineStates).u32(dwAddressStates); }, {});
}

}  // extern "C"
