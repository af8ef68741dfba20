#pragma once
// The link connection dialog of VNL2U32: the user picks how the link control
// process reaches the exchange (COM1 to COM4 or a typed port name, USB, or
// "LAN/USB" with the exchange's address from the router discovery library
// gwprobe.dll), and the choice is stored in the link configuration key.
//
// In: the owner window; the link configuration key (vnl2u32_settings.h); the
// user's actions in dialog 101 of the module's resources ("VNL2U32.Dll").
// Out: 1 when the user confirmed with OK (the settings were saved), 0 when
// cancelled, refused (another program holds "Vnl2ConfigMutex" for more than
// 500 ms) or when the dialog could not be shown. Trace lines go to the link
// log "vnl2.log".
//
// Threads: the dialog runs on the caller's thread (the dialog layer's
// thread); the named mutex allows one link dialog at a time on the machine.
// The settings record is this module's own, reloaded each time the dialog
// opens. gwprobe.dll, once loaded for a LAN choice, stays loaded.
#include <cstdint>
#include <string_view>

#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"

namespace ui::link {

inline constexpr std::string_view kVnl2u32ModuleName = "VNL2U32.Dll";
inline constexpr char kVnl2ConfigMutexName[] = "Vnl2ConfigMutex";
inline constexpr uint32_t kVnl2ConfigMutexWaitMs = 500;

// Resource ids.
inline constexpr int kLinkDialogId = 101;
inline constexpr int kLinkIconId = 107;
inline constexpr int kLinkComboId = 1000;
inline constexpr int kStringInUse = 1;
inline constexpr int kStringBoxTitle = 2;
inline constexpr int kStringMissingComponent = 3;

// The router discovery library and its export: the buffer holds the current
// address on the way in and the chosen one on the way out.
inline constexpr char kGwProbeModule[] = "gwprobe.dll";
inline constexpr char kGwProbeExport[] = "_GetRouterIPAddress";
using GetRouterIpAddressFn = uint8_t (*)(char* buffer, uint32_t size);
inline constexpr uint32_t kGwProbeBufferSize = 50;

// The module's resources, registered for as long as the module is loaded.
platform::ui::ModuleResources Vnl2u32Resources();

// The whole dialog: mutex, dialog 101, result (see above).
int32_t RunVnl2ConfigDialog(platform::WindowHandle owner);

}  // namespace ui::link
