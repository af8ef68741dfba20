// Screenshots of vnlui's message boxes: the firmware check's "incompatible
// firmware" box and the "missing DLL" box, in German and in English. vnlui is
// loaded so that its strings are registered, and each box is shown the way
// vnlui shows it: its string with caption 103 from "VNLUI.Dll", OK button, no
// owner.
#include <cstdlib>
#include <string>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "tools/screenshots/shots.h"

namespace {

namespace pui = platform::ui;

constexpr char kModule[] = "VNLUI.Dll";
constexpr int kIncompatibleFirmware = 101;
constexpr int kMissingDll = 102;
constexpr int kError = 103;

void shootBox(const std::string& path, int textId) {
  pui::testing::OnNextDialog([path](platform::WindowHandle box) {
    pui::GrabDialog(box, path);
    pui::testing::Click(pui::GetDlgItem(box, pui::kIdOk));
  });
  pui::MessageBoxW(nullptr, pui::LoadStringW(kModule, textId), pui::LoadStringW(kModule, kError), pui::kMbOk);
}

}  // namespace

void ShootVnlui(const std::string& dir) {
  platform::ModuleHandle module = platform::loadLibrary("vnlui.dll");
  if (!module) return;  // no pictures: the caller reports the module
  const char* old = std::getenv("TK_UI_LANGUAGE");
  const std::string kept = old ? old : "";
  for (const char* language : {"de", "en"}) {
    setenv("TK_UI_LANGUAGE", language, 1);
    shootBox(dir + "/vnlui-firmware-" + language + ".png", kIncompatibleFirmware);
    shootBox(dir + "/vnlui-missing-dll-" + language + ".png", kMissingDll);
  }
  if (old) {
    setenv("TK_UI_LANGUAGE", kept.c_str(), 1);
  } else {
    unsetenv("TK_UI_LANGUAGE");
  }
  platform::freeLibrary(module);
}
