// Screenshots of VNL2U32's link connection dialog, run through its export
// Vnl2ConfigDialog: the dialog in German and in English, and the box shown
// while another program has the dialog open (its mutex held by a second
// thread). Every dialog is left with Cancel or OK, so nothing is saved.
#include <cstdint>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/named_mutex.h"
#include "platform/ui/dialog.h"
#include "tools/screenshots/scoped_env.h"
#include "tools/screenshots/shots.h"

namespace {

namespace pui = platform::ui;
using ConfigDialogFn = int32_t (*)(platform::WindowHandle owner);

// Grabs the next dialog (or box) into dir/name.png and leaves it with button.
void grabNext(const std::string& dir, const std::string& name, int button) {
  pui::testing::OnNextDialog([dir, name, button](platform::WindowHandle dialog) {
    pui::GrabDialog(dialog, dir + "/" + name + ".png");
    pui::testing::Click(pui::GetDlgItem(dialog, button));
  });
}

}  // namespace

void ShootVnl2u32(const std::string& dir) {
  platform::ModuleHandle module = platform::loadLibrary("VNL2U32.Dll");
  ConfigDialogFn configDialog = nullptr;
  if (!module || !platform::getProcAddress(module, "Vnl2ConfigDialog", configDialog)) {
    if (module) platform::freeLibrary(module);
    return;  // no pictures: the caller reports the module
  }
  for (const char* language : {"de", "en"}) {
    ScopedEnv ui("TK_UI_LANGUAGE", language);
    grabNext(dir, std::string("vnl2u32-") + language, pui::kIdCancel);
    configDialog(nullptr);
  }

  // A second thread holds the dialog's mutex, so the dialog refuses to open.
  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&held, releaseFuture = release.get_future()] {
    platform::NamedMutex mutex("Vnl2ConfigMutex");
    const bool locked = mutex.lock(2000) == platform::NamedMutex::LockResult::Acquired;
    held.set_value();
    releaseFuture.wait();
    if (locked) mutex.unlock();
  });
  held.get_future().wait();
  for (const char* language : {"de", "en"}) {
    ScopedEnv ui("TK_UI_LANGUAGE", language);
    grabNext(dir, std::string("vnl2u32-in-use-") + language, pui::kIdOk);
    configDialog(nullptr);
  }
  release.set_value();
  holder.join();
  platform::freeLibrary(module);
}
