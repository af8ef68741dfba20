// KVARUI: the provider's configuration UI module, loaded by the telephony
// service as "KVARUI.DLL" (the name TSPI_providerUIIdentify gives) in the
// process that asked for a dialog.
//
// In: the TUISPI calls with their lpfnUIDLLCallback. Out: their TAPI
// results; the dialog and the requests are in kvarui_dialog.h. At load the
// module registers its resources and sets up the check-list box's bitmap;
// everything runs on the caller's thread.
#include <cstdint>

#include "platform/export.h"
#include "platform/module.h"
#include "platform/ui/resources.h"
#include "tapi/tuispi.h"
#include "ui/provider/check_list_box.h"
#include "ui/provider/kvarui_dialog.h"

namespace {

// Dialog 101, the strings and the check bitmaps, for as long as the module is loaded.
const platform::ui::ResourceRegistration g_resources(ui::provider::KvaruiResources());

bool kvaruiMain(platform::ModuleHandle, uint32_t reason) {
  if (reason == platform::kDllProcessAttach) ui::provider::CheckListBoxAttach(ui::provider::kModuleName);
  if (reason == platform::kDllProcessDetach) ui::provider::CheckListBoxDetach();
  return true;
}

platform::WindowHandle window(HWND hwnd) { return reinterpret_cast<platform::WindowHandle>(hwnd); }

}  // namespace

TK_DLL_MAIN(kvaruiMain)

extern "C" {

TK_EXPORT LONG TK_WINAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID, HWND hwndOwner,
                                                 LPCWSTR lpszDeviceClass) {
  return ui::provider::LineConfigDialog(lpfnUIDLLCallback, dwDeviceID, window(hwndOwner), lpszDeviceClass);
}

TK_EXPORT LONG TK_WINAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                               DWORD dwPermanentProviderID) {
  return ui::provider::ProviderConfig(lpfnUIDLLCallback, window(hwndOwner), dwPermanentProviderID);
}

TK_EXPORT LONG TK_WINAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                DWORD dwPermanentProviderID) {
  return ui::provider::ProviderInstall(lpfnUIDLLCallback, window(hwndOwner), dwPermanentProviderID);
}

TK_EXPORT LONG TK_WINAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                               DWORD dwPermanentProviderID) {
  return ui::provider::ProviderRemove(lpfnUIDLLCallback, window(hwndOwner), dwPermanentProviderID);
}

// The two exported procedures have the calling convention of a DLGPROC and
// a WNDPROC (stdcall on x86), so that a program may hand them to the system
// itself; the dialog layer calls the procedures they forward to.
TK_EXPORT intptr_t TK_WINAPI bConfigDlgProc(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam,
                                            platform::LParam lParam) {
  return ui::provider::ConfigDialogProc(dialog, message, wParam, lParam);
}

TK_EXPORT platform::LResult TK_WINAPI lCheckListBoxProc(platform::WindowHandle list, uint32_t message,
                                                        platform::WParam wParam, platform::LParam lParam) {
  return ui::provider::CheckListBoxProc(list, message, wParam, lParam);
}

}  // extern "C"
