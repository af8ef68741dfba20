// vnluiwow: runs the link connection dialog with its firmware check as a
// program of its own, so that a program that cannot load the 64-bit library
// can start it as a separate process. It loads "vnlui.dll", calls its
// Vnl2ConfigDialog without an owner window and exits with the result: 1 when
// the user confirmed and the firmware check passed (or could not be run), 0
// otherwise, and 0 when the library or its entry cannot be found.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "platform/window.h"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: vnluiwow\n"
               "\n"
               "Shows the link connection dialog (serial port, USB or LAN to the exchange)\n"
               "and, when it is confirmed with OK, checks over the new link that the\n"
               "exchange's firmware speaks protocol version 0x30 or later. It loads\n"
               "vnlui.dll (vnlui.so in the module search path: TK_MODULE_PATH, this\n"
               "program's folder, the system directory) and runs its Vnl2ConfigDialog\n"
               "without an owner window. The settings go to the link configuration of the\n"
               "root folder (TK_ROOT).\n"
               "\n"
               "The dialog needs a display: DISPLAY (a local X display must have its server\n"
               "running) or WAYLAND_DISPLAY, or QT_QPA_PLATFORM=offscreen to run it without\n"
               "one (nothing is shown then).\n"
               "\n"
               "Options:\n"
               "  --help   this text\n"
               "\n"
               "Exit status: the dialog's result - 1 confirmed and the firmware check passed\n"
               "(or the link was busy and could not be checked), 0 cancelled, the check\n"
               "failed, no display (or the dialog could not be shown), or vnlui.dll or its\n"
               "Vnl2ConfigDialog not found (each said on standard error);\n"
               "2 usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage(stdout);
      return 0;
    }
    if (argv[i][0] == '-') {
      std::fprintf(stderr, "vnluiwow: unknown option %s (try --help)\n", argv[i]);
    } else {
      std::fprintf(stderr, "vnluiwow: unexpected argument %s (try --help)\n", argv[i]);
    }
    return 2;
  }
  // The toolkit would end the program on a display it cannot open; say why instead.
  std::string problem;
  if (!platform::ui::DisplayAvailable(&problem)) {
    std::fprintf(stderr, "vnluiwow: %s\n", problem.c_str());
    return 0;
  }
  platform::ModuleHandle vnlui = platform::loadLibrary("vnlui.dll");
  if (!vnlui) {
    std::fprintf(stderr, "vnluiwow: cannot load vnlui.dll: %s\n", platform::lastModuleError().c_str());
    return 0;
  }
  int32_t(TK_WINAPI * configDialog)(platform::WindowHandle) = nullptr;
  if (!platform::getProcAddress(vnlui, "Vnl2ConfigDialog", configDialog)) {
    std::fprintf(stderr, "vnluiwow: %s does not export Vnl2ConfigDialog\n", platform::moduleFileName(vnlui).c_str());
    platform::freeLibrary(vnlui);
    return 0;
  }
  const int32_t result = configDialog(nullptr);
  platform::freeLibrary(vnlui);
  if (result < 0) {
    // The dialog layer gives -1 when it cannot show a dialog at all.
    std::fprintf(stderr,
                 "vnluiwow: the link dialog could not be shown (result %d): is the display reachable?\n"
                 "Set QT_QPA_PLATFORM=offscreen to run it without one\n",
                 static_cast<int>(result));
    return 0;
  }
  return result;
}
