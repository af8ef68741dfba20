// VNL2U32: the link connection dialog and the uninstall hooks, loaded as
// "VNL2U32.Dll" / "vnl2u32.dll" (by vnlui, which adds the firmware check).
//
// In: the owner window (Vnl2ConfigDialog); the uninstaller's owner window and
// module instance (UninstInitialize). Out: the dialog's 1 (confirmed) or 0;
// the hooks' 0 or -1. At load the module registers its resources and sets
// its link log mask (23 when "vnl2.log" exists in the system directory);
// nothing else is read until the dialog opens. Everything runs on the
// caller's thread.
#include <cstdint>

#include "link/common/link_log.h"
#include "platform/export.h"
#include "platform/module.h"
#include "platform/ui/resources.h"
#include "ui/link/uninstall_hook.h"
#include "ui/link/vnl2u32_dialog.h"

namespace {

// The dialog, its icon and its strings, for as long as the module is loaded.
const platform::ui::ResourceRegistration g_resources(ui::link::Vnl2u32Resources());

bool vnl2u32Main(platform::ModuleHandle, uint32_t reason) {
  if (reason == platform::kDllProcessAttach) LinkLogSetup();
  return true;
}

}  // namespace

TK_DLL_MAIN(vnl2u32Main)

extern "C" {

TK_EXPORT int32_t TK_WINAPI Vnl2ConfigDialog(platform::WindowHandle owner) {
  return ui::link::RunVnl2ConfigDialog(owner);
}

TK_EXPORT int32_t TK_WINAPI UninstInitialize(platform::WindowHandle owner, void* instance, intptr_t /*reserved*/) {
  return ui::link::UninstInitializeHook(owner, instance);
}

TK_EXPORT int32_t TK_WINAPI UninstUnInitialize(intptr_t, intptr_t, intptr_t) {
  return ui::link::UninstUnInitializeHook();
}

}  // extern "C"
