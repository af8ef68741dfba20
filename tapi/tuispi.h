#pragma once
// The TAPI 2.x entry points of a service provider's UI module. TAPI loads the
// UI module in the process of the application that asked for a dialog, so the
// module reaches its provider only through the TUISPIDLLCALLBACK it is given.
// Declarations only; the UI module defines and exports them.
#include <type_traits>

#include "tapi/tapi_structs.h"
#include "tapi/tapi_types.h"
#include "tapi/tspi.h"  // TUISPIDLLCALLBACK

extern "C" {

LONG TK_WINAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                       LPCWSTR lpszDeviceClass);
LONG TK_WINAPI TUISPI_lineConfigDialogEdit(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                           LPCWSTR lpszDeviceClass, LPVOID lpDeviceConfigIn, DWORD dwSize,
                                           LPVARSTRING lpDeviceConfigOut);
LONG TK_WINAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TK_WINAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID);
LONG TK_WINAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner, DWORD dwPermanentProviderID);
// Runs a dialog the provider asked for with LINE_CREATEDIALOGINSTANCE and
// returns when it closes; the module signals hEvent once it is ready to take
// data for the dialog.
LONG TK_WINAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, HTAPIDIALOGINSTANCE htDlgInst,
                                            LPVOID lpParams, DWORD dwSize, HANDLE hEvent);
// Delivers data the provider sent with LINE_SENDDIALOGINSTANCEDATA; a null
// lpParams asks the dialog to close.
LONG TK_WINAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams, DWORD dwSize);

}  // extern "C"

// The TAPI 2 signatures, as TAPI calls them through its function pointers.
static_assert(
    std::is_same_v<decltype(&TUISPI_lineConfigDialog), LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR)>);
static_assert(std::is_same_v<decltype(&TUISPI_lineConfigDialogEdit),
                             LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR, LPVOID, DWORD, LPVARSTRING)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerConfig), LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerInstall), LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerRemove), LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerGenericDialog),
                             LONG (TK_WINAPI*)(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE, LPVOID, DWORD, HANDLE)>);
static_assert(
    std::is_same_v<decltype(&TUISPI_providerGenericDialogData), LONG (TK_WINAPI*)(HTAPIDIALOGINSTANCE, LPVOID, DWORD)>);
