#pragma once
// KVARUI's provider configuration dialog (dialog 101) and the bodies of its
// TUISPI entry points.
//
// In: the TUISPI calls of the telephony service (callback, owner window,
// provider or device id) and the user's actions in the dialog. Out: the
// TAPI result; every read and change goes to the provider as a request
// through the callback (kvarui_requests.h); the only thing written here is
// "FirstConfig" under the current user's key. A configuration run takes the
// provider's configuration lock, loads the link dialog library "VNLUI.DLL",
// has the provider bind its layer-2 interface, runs the dialog modally and
// undoes the three in reverse order.
//
// Threads: the caller's thread runs everything (the dialog is modal); the
// dialog state is process-wide, one dialog per process at a time.
#include <cstdint>

#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "tapi/tspi.h"

namespace ui::provider {

inline constexpr char kModuleName[] = "KVARUI.DLL";
inline constexpr char kLinkLibraryName[] = "VNLUI.DLL";
inline constexpr char kProviderName[] = "Marlix TK-Anlage";
inline constexpr char kVersionText[] = "3.0.2.0";

// Dialog 101 and its controls.
constexpr int kConfigDialogId = 101;
constexpr int kIdOutsideExample = 1000, kIdLineName = 1001, kIdLongDistExample = 1002, kIdIntlExample = 1003;
constexpr int kIdInterface = 1004, kIdAdvanced = 1005, kIdLogVnl = 1006, kIdHandsfreeApp = 1007;
constexpr int kIdLogTapi = 1008, kIdHandsfreeOn = 1009, kIdMsnList = 1010, kIdRefresh = 1011, kIdAll = 1012;
constexpr int kIdExtensionList = 1013, kIdOutsideUse = 1014, kIdNone = 1015, kIdVersion = 1016, kIdSpare = 1017;
constexpr int kIdOutsidePrefix = 1018, kIdPrefixGroup = 1019, kIdLongDistUse = 1020, kIdLongDistPrefix = 1021;
constexpr int kIdIntlUse = 1022, kIdIntlPrefix = 1023, kIdHandsfreeOff = 1024;

// The module's resources: dialog 101, the German strings, the check bitmaps.
platform::ui::ModuleResources KvaruiResources();

// Message boxes: text from the string table filled from args ("%s", "%ld"),
// caption 10 (error, question) or 5 (information) filled with the provider's name.
enum class BoxKind { Error, Question, Information };
int ShowBox(BoxKind kind, platform::WindowHandle owner, int textId, const std::u16string& arg = {});
int ShowBoxCode(BoxKind kind, platform::WindowHandle owner, int textId, uint32_t code);

// The common body of the entry points (lConfigDialog): 0 or a LINEERR
// value; *confirmed true when the dialog ended with OK.
LONG ConfigDialog(platform::WindowHandle owner, bool* confirmed);
// The dialog procedure of dialog 101 (exported as bConfigDlgProc).
intptr_t ConfigDialogProc(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam,
                          platform::LParam lParam);

// The TUISPI entry points.
LONG ProviderConfig(TUISPIDLLCALLBACK callback, platform::WindowHandle owner, DWORD providerId);
LONG ProviderInstall(TUISPIDLLCALLBACK callback, platform::WindowHandle owner, DWORD providerId);
LONG ProviderRemove(TUISPIDLLCALLBACK callback, platform::WindowHandle owner, DWORD providerId);
LONG LineConfigDialog(TUISPIDLLCALLBACK callback, DWORD deviceId, platform::WindowHandle owner,
                      const char16_t* deviceClass);

}  // namespace ui::provider
