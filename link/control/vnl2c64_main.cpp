// VNL2C64, the link control process: a background program without a
// visible window that owns the one connection to the exchange. The
// interface library VNL2D32 starts it with the link name as its whole
// command line and ends it with WM_CLOSE; it ends itself whenever the link
// is released.
#include <cstdio>
#include <string>

#include "link/common/link_log.h"
#include "link/control/client_library.h"
#include "link/control/control_window.h"
#include "link/control/link_controller.h"
#include "link/control/link_name.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {

constexpr char kUsage[] =
    "usage: vnl2c64 [LINK]\n"
    "The link control process. VNL2D32 starts it as \"<system dir>\\VNL2C64.EXE LINK\" when the\n"
    "first service is opened and closes it when the last one is closed.\n"
    "LINK (optional) replaces the configured Link (COM..., USB..., TCP or LAN/USB) for this run.\n"
    "The link configuration is read from HKEY_LOCAL_MACHINE\\SOFTWARE\\Ondra\\Ondra TK-Anlage;\n"
    "lines go to vnl2.log in the system directory when that file exists.\n"
    "Environment: TK_KEEPALIVE_MS  LAN keep-alive supervision period in ms (default 61000).\n";

}  // namespace

int main() {
  std::string linkName = LinkNameFromCommandLine(platform::commandLine());
  if (linkName == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  LinkLogSetup();
  // One control process per system.
  if (platform::findWindow(kControlWindowClass)) return 0;

  LinkController controller(Vnl2d32Library());
  if (!RegisterControlWindowClass(controller)) return 1;
  platform::WindowHandle window = CreateControlWindow(linkName);
  if (!window) return 0;

  platform::Message message;
  while (platform::getMessage(message)) platform::dispatchMessage(message);
  // WM_DESTROY has done its work; withdraw the window as well.
  platform::destroyWindow(window);
  return 0;
}
