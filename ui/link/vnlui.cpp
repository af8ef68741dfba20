// vnlui: the link connection dialog with a firmware check, loaded by the
// provider's configuration dialog as "VNLUI.DLL" and by vnluiwow as
// "vnlui.dll". Vnl2ConfigDialog forwards to VNL2U32's dialog and, when the
// user confirmed it, checks over the new link that the exchange's firmware
// speaks protocol version 0x30 or later. It also carries the uninstall hooks.
//
// In: the owner window. Out: 1 when the user confirmed and the check passed
// (or could not be run), 0 otherwise; other results of the dialog are passed
// through. Everything runs on the caller's thread.
#include <cstdint>

#include "link/common/link_log.h"
#include "platform/export.h"
#include "platform/module.h"
#include "platform/ui/resources.h"
#include "ui/link/firmware_check.h"
#include "ui/link/uninstall_hook.h"
#include "ui/link/vnlui_resources.h"

namespace {

using ConfigDialogFn = int32_t (TK_WINAPI*)(platform::WindowHandle owner);

// The strings of the firmware check's boxes, for as long as vnlui is loaded.
const platform::ui::ResourceRegistration g_resources(ui::link::VnluiResources());

// VNL2U32, loaded while vnlui is, and its dialog entry: the 32-bit Windows
// VNL2U32 exports it under its stdcall-decorated name for one 4-byte
// argument, every other build under its plain name.
constexpr const char* kDialogEntry = TK_STDCALL_DECORATED ? "_Vnl2ConfigDialog@4" : "Vnl2ConfigDialog";
platform::ModuleHandle g_dialogLibrary = nullptr;
ConfigDialogFn g_configDialog = nullptr;

bool vnluiMain(platform::ModuleHandle, uint32_t reason) {
  if (reason == platform::kDllProcessAttach) {
    LinkLogSetup();
    g_dialogLibrary = platform::loadLibrary("vnl2u32.dll");
    if (g_dialogLibrary && !platform::getProcAddress(g_dialogLibrary, kDialogEntry, g_configDialog)) {
      platform::freeLibrary(g_dialogLibrary);
      g_dialogLibrary = nullptr;
    }
  } else if (reason == platform::kDllProcessDetach) {
    g_configDialog = nullptr;
    if (g_dialogLibrary) platform::freeLibrary(g_dialogLibrary);
    g_dialogLibrary = nullptr;
    ui::link::ReleaseFirmwareCheckLibrary();
  }
  return true;
}

}  // namespace

TK_DLL_MAIN(vnluiMain)

extern "C" {

TK_EXPORT int32_t TK_WINAPI Vnl2ConfigDialog(platform::WindowHandle owner) {
  LinkLog(kLogTrace, "VNL2_ConfigDialog 0x%x", LinkLogPointer(owner));
  if (!g_configDialog) return 0;
  const int32_t result = g_configDialog(owner);
  if (result != 1) return result;
  return ui::link::CheckFirmware();
}

TK_EXPORT int32_t TK_WINAPI UninstInitialize(platform::WindowHandle owner, void* instance, intptr_t /*reserved*/) {
  return ui::link::UninstInitializeHook(owner, instance);
}

TK_EXPORT int32_t TK_WINAPI UninstUnInitialize(intptr_t, intptr_t, intptr_t) {
  return ui::link::UninstUnInitializeHook();
}

}  // extern "C"
