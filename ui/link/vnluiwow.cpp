// vnluiwow: runs the link connection dialog with its firmware check as a
// program of its own, so that a program that cannot load the 64-bit library
// can start it as a separate process. It loads "vnlui.dll", calls its
// Vnl2ConfigDialog without an owner window and exits with the result: 1 when
// the user confirmed and the firmware check passed (or could not be run), 0
// otherwise, and 0 when the library or its entry cannot be found.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/module.h"
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

std::string envText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// True when a local stream socket of that name takes a connection (closed
// again at once).
bool acceptsConnections(const std::string& name, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (name.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size() + (abstract ? 0 : 1));
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return connected;
}

// Why the dialog cannot be shown, or "" when it can be tried. The dialog
// layer takes any DISPLAY; a local X display whose server is not running
// would end the program inside the toolkit, so that case is caught here.
std::string displayProblem() {
  if (!envText("QT_QPA_PLATFORM").empty() || !envText("WAYLAND_DISPLAY").empty()) return "";
  const std::string display = envText("DISPLAY");
  if (display.empty()) {
    return "no display to show the dialog on: set DISPLAY (or WAYLAND_DISPLAY), or\n"
           "QT_QPA_PLATFORM=offscreen to run it without one";
  }
  const bool local = display[0] == ':' || display.rfind("unix:", 0) == 0;
  if (!local) return "";  // a display on another host: the toolkit connects to it
  const std::string number = display.substr(display.find(':') + 1, display.find('.') - display.find(':') - 1);
  const std::string socket = "/tmp/.X11-unix/X" + number;
  // The server listens on the socket file and, on Linux, on the same name in
  // the abstract namespace (all a sandbox with its own /tmp may see).
  if (acceptsConnections(socket, false) || acceptsConnections(socket, true)) return "";
  return "DISPLAY=" + display + " names no running X server (nothing answers on " + socket +
         "); set QT_QPA_PLATFORM=offscreen to run the dialog without one";
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
  const std::string problem = displayProblem();
  if (!problem.empty()) {
    std::fprintf(stderr, "vnluiwow: %s\n", problem.c_str());
    return 0;
  }
  platform::ModuleHandle vnlui = platform::loadLibrary("vnlui.dll");
  if (!vnlui) {
    std::fprintf(stderr, "vnluiwow: cannot load vnlui.dll: %s\n", platform::lastModuleError().c_str());
    return 0;
  }
  int32_t (*configDialog)(platform::WindowHandle) = nullptr;
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
