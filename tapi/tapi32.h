#pragma once
// The TAPI 2.x application functions (TAPI32): what a telephony application
// calls. libtapi32 (tapi32.so, loadable by the name "TAPI32") implements them
// as a client of the telephony service tapisrv of the current root.
//
// Names and signatures are TAPI's: the A functions take Windows-1252 text and
// return ANSI strings in their out-structures, the W functions UTF-16. Plain
// names (lineGetDevCaps, ...) are the A functions, as in an ANSI build.
//
// Notification: LINEINITIALIZEEXOPTION_USEEVENT hands out an event object in
// LINEINITIALIZEEXPARAMS.Handles.hEvent. On this platform that HANDLE is a
// platform::Waitable* (a manual-reset platform::Event, set while messages
// wait): wait on it with platform::waitForSingle(*static_cast<platform::
// Waitable*>(hEvent), ms) and fetch with lineGetMessage. It is valid until
// lineShutdown. USEHIDDENWINDOW (and lineInitialize) deliver through the
// callback, on a thread of the library, one message at a time and in order.
#include <cstddef>

#include "platform/export.h"
#include "tapi/tapi.h"

// One event as lineGetMessage returns it (the arguments of a LINECALLBACK).
struct LINEMESSAGE {
  DWORD hDevice;
  DWORD dwMessageID;
  DWORD_PTR dwCallbackInstance;
  DWORD_PTR dwParam1;
  DWORD_PTR dwParam2;
  DWORD_PTR dwParam3;
};
using LPLINEMESSAGE = LINEMESSAGE*;
static_assert(sizeof(LINEMESSAGE) == 8 + 4 * sizeof(DWORD_PTR));  // 40 on x64
static_assert(offsetof(LINEMESSAGE, dwCallbackInstance) == 8 &&
              offsetof(LINEMESSAGE, dwParam3) == 8 + 3 * sizeof(DWORD_PTR));

typedef void (TK_WINAPI* LINECALLBACK)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                      DWORD_PTR dwParam2, DWORD_PTR dwParam3);

extern "C" {

// --- Set-up and tear-down ----------------------------------------------------------

LONG TK_WINAPI lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                              LPDWORD lpdwNumDevs);
LONG TK_WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                                 LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                 LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG TK_WINAPI lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                                 LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                                 LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG TK_WINAPI lineShutdown(HLINEAPP hLineApp);
LONG TK_WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                       DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID);
LONG TK_WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout);
LONG TK_WINAPI lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG TK_WINAPI lineGetProviderListW(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG TK_WINAPI lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);

// --- Providers and their dialogs ------------------------------------------------------
// The provider's UI module (named by its TSPI_providerUIIdentify) is loaded
// in the calling process for the call; its TUISPI function reaches the
// provider inside the service through the callback the library gives it.
// hwndOwner is handed to the UI module as it is.

LONG TK_WINAPI lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG TK_WINAPI lineAddProviderW(LPCWSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG TK_WINAPI lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG TK_WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner);
LONG TK_WINAPI lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TK_WINAPI lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG TK_WINAPI lineConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass);
LONG TK_WINAPI lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);

// --- Line devices and addresses ------------------------------------------------------

LONG TK_WINAPI lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                               LPLINEDEVCAPS lpLineDevCaps);
LONG TK_WINAPI lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                               LPLINEDEVCAPS lpLineDevCaps);
LONG TK_WINAPI lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                              LPLINEDEVCAPS lpLineDevCaps);
LONG TK_WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG TK_WINAPI lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG TK_WINAPI lineGetAddressCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                  DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG TK_WINAPI lineGetAddressStatusA(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG TK_WINAPI lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG TK_WINAPI lineGetAddressStatus(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG TK_WINAPI lineGetLineDevStatusA(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG TK_WINAPI lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG TK_WINAPI lineGetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG TK_WINAPI lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                          LPCSTR lpszDeviceClass);
LONG TK_WINAPI lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                          LPCWSTR lpszDeviceClass);
LONG TK_WINAPI lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                         LPCSTR lpszDeviceClass);
LONG TK_WINAPI lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                         DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                         const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                         DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                         const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
                        DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                        const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineClose(HLINE hLine);
LONG TK_WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);

// --- Calls ----------------------------------------------------------------------------

LONG TK_WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                             const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                             const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                            const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineDial(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG TK_WINAPI lineDeallocateCall(HCALL hCall);
LONG TK_WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG TK_WINAPI lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG TK_WINAPI lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG TK_WINAPI lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus);
LONG TK_WINAPI lineSetAppSpecific(HCALL hCall, DWORD dwAppSpecific);
LONG TK_WINAPI lineSetCallData(HCALL hCall, LPVOID lpCallData, DWORD dwSize);
LONG TK_WINAPI lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                                 const LINEDIALPARAMS* lpDialParams);
LONG TK_WINAPI lineSetMediaMode(HCALL hCall, DWORD dwMediaModes);

// --- Supplementary services ----------------------------------------------------------

LONG TK_WINAPI lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode);
LONG TK_WINAPI lineBlindTransfer(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineSetupTransferA(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineSetupTransfer(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineCompleteTransfer(HCALL hCall, HCALL hConsultCall, LPHCALL lphConfCall, DWORD dwTransferMode);
LONG TK_WINAPI lineSwapHold(HCALL hActiveCall, HCALL hHeldCall);
LONG TK_WINAPI lineParkA(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG TK_WINAPI lineParkW(HCALL hCall, DWORD dwParkMode, LPCWSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG TK_WINAPI linePark(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG TK_WINAPI lineUnparkA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress);
LONG TK_WINAPI lineUnparkW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress);
LONG TK_WINAPI lineUnpark(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress);
LONG TK_WINAPI linePickupA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress, LPCSTR lpszGroupID);
LONG TK_WINAPI linePickupW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress,
                           LPCWSTR lpszGroupID);
LONG TK_WINAPI linePickup(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress, LPCSTR lpszGroupID);
LONG TK_WINAPI lineRedirectA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineRedirectW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineRedirect(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG TK_WINAPI lineForwardA(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                            DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineForwardW(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                            DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineForward(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                           DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG TK_WINAPI lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, LPVOID lpParams, DWORD dwSize);
LONG TK_WINAPI lineDevSpecificFeature(HLINE hLine, DWORD dwFeature, LPVOID lpParams, DWORD dwSize);

}  // extern "C"
