#include "ui/link/vnl2u32_dialog.h"

#include <cctype>
#include <cstring>
#include <string>

#include "link/common/link_config.h"
#include "link/common/link_log.h"
#include "platform/module.h"
#include "platform/named_mutex.h"
#include "ui/link/vnl2u32_settings.h"

namespace ui::link {

namespace {

namespace pui = platform::ui;
using platform::LParam;
using platform::LResult;
using platform::WindowHandle;
using platform::WParam;

// The settings the dialog edits, reloaded each time it opens.
LinkConfig g_config{};

// An information box with one of the module's strings and the dialog's box caption.
void showBox(WindowHandle owner, int textId) {
  pui::MessageBoxW(owner, pui::LoadStringW(kVnl2u32ModuleName, textId),
                   pui::LoadStringW(kVnl2u32ModuleName, kStringBoxTitle), pui::kMbOk | pui::kMbIconInformation);
}

LResult combo(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam = 0) {
  return pui::SendDlgItemMessage(dialog, kLinkComboId, message, wParam, lParam);
}

std::string comboItem(WindowHandle dialog, int index) {
  const LResult length = combo(dialog, pui::kCbGetLbTextLen, static_cast<WParam>(index));
  if (length < 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  combo(dialog, pui::kCbGetLbText, static_cast<WParam>(index), reinterpret_cast<LParam>(text.data()));
  text.resize(strnlen(text.c_str(), text.size()));
  return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// The first item that begins with prefix, as a combo box's own prefix search
// finds it (letter case ignored); -1 when none does.
int findItemStartingWith(WindowHandle dialog, std::string_view prefix) {
  const LResult count = combo(dialog, pui::kCbGetCount, 0);
  for (int i = 0; i < count; ++i) {
    if (startsWithNoCase(comboItem(dialog, i), prefix)) return i;
  }
  return -1;
}

void onInitDialog(WindowHandle dialog) {
  LinkLog(kLogError, "Vnl2ConfigDialog() loaded from Module %s\n\r", platform::moduleFileName(nullptr).c_str());
  for (const std::string& link : OfferedLinks()) {
    combo(dialog, pui::kCbAddString, 0, reinterpret_cast<LParam>(link.c_str()));
  }
  LoadDialogSettings(&g_config);
  int index = findItemStartingWith(dialog, g_config.Link);
  if (index < 0) index = static_cast<int>(combo(dialog, pui::kCbAddString, 0, reinterpret_cast<LParam>(g_config.Link)));
  combo(dialog, pui::kCbSetCurSel, static_cast<WParam>(index));
}

// Asks gwprobe.dll for the exchange's address. False when the library or its
// export is missing (the user has been told; the dialog stays open).
bool askRouterAddress(WindowHandle dialog) {
  platform::ModuleHandle gwProbe = platform::loadLibrary(kGwProbeModule);
  if (!gwProbe) {
    showBox(dialog, kStringMissingComponent);
    LinkLog(kLogError, "Vnl2ConfigDialog()- cannot load gwprobe.dll !");
    return false;
  }
  GetRouterIpAddressFn getRouterIpAddress = nullptr;
  if (!platform::getProcAddress(gwProbe, kGwProbeExport, getRouterIpAddress)) {
    showBox(dialog, kStringMissingComponent);
    LinkLog(kLogError, "Vnl2ConfigDialog()- cannot get address of _GetRouterIPAddress function !");
    platform::freeLibrary(gwProbe);
    return false;
  }
  // The library stays loaded: its dialogs may leave work behind them.
  char buffer[kGwProbeBufferSize] = {};
  const size_t current = strnlen(g_config.TapiSvrIpAddr, sizeof g_config.TapiSvrIpAddr);
  if (current < sizeof buffer) std::memcpy(buffer, g_config.TapiSvrIpAddr, current);
  getRouterIpAddress(buffer, sizeof buffer);
  AdoptRouterAddress(&g_config, buffer, sizeof buffer);
  return true;
}

void onOk(WindowHandle dialog) {
  SetLinkFromText(&g_config, pui::GetDlgItemText(dialog, kLinkComboId));
  if (std::strcmp(g_config.Link, kLanLinkName) == 0 && !askRouterAddress(dialog)) return;
  // A key that cannot be created saves nothing; the user's OK still stands
  // (as callers expect), and the log says so.
  if (!SaveLinkConfiguration(g_config))
    LinkLog(kLogWarning, "Vnl2ConfigDialog()- cannot save the link configuration !");
  LinkLog(kLogDetail, "Exiting Vnl2Config IDOK");
  pui::EndDialog(dialog, 1);
}

intptr_t linkDialogProc(WindowHandle dialog, uint32_t message, WParam wParam, LParam) {
  if (message == pui::kWmInitDialog) {
    onInitDialog(dialog);
    return 1;
  }
  if (message != pui::kWmCommand) return 0;
  switch (pui::loWord(wParam)) {
    case pui::kIdOk:
      onOk(dialog);
      return 1;
    case pui::kIdCancel:
      LinkLog(kLogDetail, "Exiting Vnl2Config IDCANCEL");
      pui::EndDialog(dialog, 0);
      return 1;
    default:
      return 0;
  }
}

}  // namespace

int32_t RunVnl2ConfigDialog(WindowHandle owner) {
  LinkLog(kLogDetail, "Vnl2ConfigDialog(0x%x)", LinkLogPointer(owner));
  platform::NamedMutex mutex(kVnl2ConfigMutexName);
  // An abandoned mutex (its last owner died) is owned now, as on Windows.
  const auto locked = mutex.lock(kVnl2ConfigMutexWaitMs);
  if (locked != platform::NamedMutex::LockResult::Acquired && locked != platform::NamedMutex::LockResult::Abandoned) {
    showBox(owner, kStringInUse);
    return 0;
  }
  const intptr_t result = pui::DialogBoxParam(kVnl2u32ModuleName, kLinkDialogId, owner, linkDialogProc, 0);
  mutex.unlock();
  LinkLog(kLogDetail, "Exiting Vnl2ConfigDialog");
  return result > 0 ? 1 : 0;
}

}  // namespace ui::link
