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

LONG TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID,
                             HWND hwndOwner, LPCWSTR lpszDeviceClass);
LONG TUISPI_lineConfigDialogEdit(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID,
                                 HWND hwndOwner, LPCWSTR lpszDeviceClass,
                                 LPVOID lpDeviceConfigIn, DWORD dwSize,
                                 LPVARSTRING lpDeviceConfigOut);
LONG TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                           DWORD dwPermanentProviderID);
LONG TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                            DWORD dwPermanentProviderID);
LONG TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                           DWORD dwPermanentProviderID);
// Runs a dialog the provider asked for with LINE_CREATEDIALOGINSTANCE and
// returns when it closes; the module signals hEvent once it is ready to take
// data for the dialog.
LONG TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback,
                                  HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams, DWORD dwSize,
                                  HANDLE hEvent);
// Delivers data the provider sent with LINE_SENDDIALOGINSTANCEDATA; a null
// lpParams asks the dialog to close.
LONG TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams,
                                      DWORD dwSize);

}  // extern "C"

// The TAPI 2 signatures, as TAPI calls them through its function pointers.
static_assert(std::is_same_v<decltype(&TUISPI_lineConfigDialog), LONG (*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR)>);
static_assert(std::is_same_v<decltype(&TUISPI_lineConfigDialogEdit),
                             LONG (*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR, LPVOID, DWORD, LPVARSTRING)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerConfig), LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerInstall), LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerRemove), LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerGenericDialog),
                             LONG (*)(TUISPIDLLCALLBACK, HTAPIDIALOGINSTANCE, LPVOID, DWORD, HANDLE)>);
static_assert(std::is_same_v<decltype(&TUISPI_providerGenericDialogData),
                             LONG (*)(HTAPIDIALOGINSTANCE, LPVOID, DWORD)>);
