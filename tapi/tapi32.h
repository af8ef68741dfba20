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
static_assert(sizeof(LINEMESSAGE) == 40);
static_assert(offsetof(LINEMESSAGE, dwCallbackInstance) == 8 && offsetof(LINEMESSAGE, dwParam3) == 32);

typedef void (*LINECALLBACK)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                             DWORD_PTR dwParam2, DWORD_PTR dwParam3);

extern "C" {

// --- Set-up and tear-down ----------------------------------------------------------

LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
LONG lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                       LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                       LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                       LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                       LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG lineShutdown(HLINEAPP hLineApp);
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion, LPLINEEXTENSIONID lpExtensionID);
LONG lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout);
LONG lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG lineGetProviderListW(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);

// --- Providers and their dialogs ------------------------------------------------------
// The provider's UI module (named by its TSPI_providerUIIdentify) is loaded
// in the calling process for the call; its TUISPI function reaches the
// provider inside the service through the callback the library gives it.
// hwndOwner is handed to the UI module as it is.

LONG lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG lineAddProviderW(LPCWSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner);
LONG lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG lineConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass);
LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);

// --- Line devices and addresses ------------------------------------------------------

LONG lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                     LPLINEDEVCAPS lpLineDevCaps);
LONG lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                     LPLINEDEVCAPS lpLineDevCaps);
LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps);
LONG lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                         DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                         DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG lineGetAddressCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                        DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG lineGetAddressStatusA(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG lineGetAddressStatus(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG lineGetLineDevStatusA(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG lineGetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                LPCSTR lpszDeviceClass);
LONG lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                LPCWSTR lpszDeviceClass);
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass);
LONG lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
               DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
               const LINECALLPARAMS* lpCallParams);
LONG lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
               DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
               const LINECALLPARAMS* lpCallParams);
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD dwExtVersion,
              DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams);
LONG lineClose(HLINE hLine);
LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);

// --- Calls ----------------------------------------------------------------------------

LONG lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                   const LINECALLPARAMS* lpCallParams);
LONG lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                   const LINECALLPARAMS* lpCallParams);
LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams);
LONG lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineDial(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineDeallocateCall(HCALL hCall);
LONG lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus);
LONG lineSetAppSpecific(HCALL hCall, DWORD dwAppSpecific);
LONG lineSetCallData(HCALL hCall, LPVOID lpCallData, DWORD dwSize);
LONG lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                       const LINEDIALPARAMS* lpDialParams);
LONG lineSetMediaMode(HCALL hCall, DWORD dwMediaModes);

// --- Supplementary services ----------------------------------------------------------

LONG lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode);
LONG lineBlindTransfer(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineSetupTransferA(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineSetupTransfer(HCALL hCall, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineCompleteTransfer(HCALL hCall, HCALL hConsultCall, LPHCALL lphConfCall, DWORD dwTransferMode);
LONG lineSwapHold(HCALL hActiveCall, HCALL hHeldCall);
LONG lineParkA(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG lineParkW(HCALL hCall, DWORD dwParkMode, LPCWSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG linePark(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG lineUnparkA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress);
LONG lineUnparkW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress);
LONG lineUnpark(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress);
LONG linePickupA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress, LPCSTR lpszGroupID);
LONG linePickupW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress,
                 LPCWSTR lpszGroupID);
LONG linePickup(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress, LPCSTR lpszGroupID);
LONG lineRedirectA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineRedirectW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineRedirect(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG lineForwardA(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                  DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineForwardW(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                  DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineForward(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID, const LINEFORWARDLIST* lpForwardList,
                 DWORD dwNumRingsNoAnswer, LPHCALL lphConsultCall, const LINECALLPARAMS* lpCallParams);
LONG lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, LPVOID lpParams, DWORD dwSize);
LONG lineDevSpecificFeature(HLINE hLine, DWORD dwFeature, LPVOID lpParams, DWORD dwSize);

}  // extern "C"
