// VNL2C64, the link control process: a background program without a
// visible window that owns the one connection to the exchange. The
// interface library VNL2D32 starts it with the link name as its whole
// command line and ends it with WM_CLOSE; it ends itself whenever the link
// is released.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/common/link_log.h"
#include "link/control/client_library.h"
#include "link/control/control_window.h"
#include "link/control/keepalive_supervision.h"
#include "link/control/link_controller.h"
#include "link/control/link_name.h"
#include "platform/printable_text.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: vnl2c64 [LINK]\n"
    "       vnl2c64 --help\n"
    "The link control process. VNL2D32 starts it as \"<system dir>\\VNL2C64.EXE LINK\" when the\n"
    "first service is opened and closes it when the last one is closed; it also ends by itself\n"
    "when the link goes down. Only one runs per root folder (TK_ROOT): a second one says so on\n"
    "standard error and ends with exit status 0.\n"
    "\n"
    "LINK (optional; the whole rest of the command line) replaces the configured Link for this\n"
    "run: COM..., USB..., TCP or LAN/USB, at most 7 characters. It is taken only when the\n"
    "configured Link itself begins with COM, USB or TCP or is LAN/USB. A link name never\n"
    "begins with '-'; such an argument is an unknown option.\n"
    "\n"
    "The link configuration is read from HKEY_LOCAL_MACHINE\\SOFTWARE\\Ondra\\Ondra TK-Anlage\n"
    "(Link, TapiSvrIpAddr, TapiSvrIpPort, Keepalive, ...); lines go to vnl2.log in the system\n"
    "directory when that file exists.\n"
    "\n"
    "Environment:\n"
    "  TK_ROOT          the root folder (registry, system directory, runtime files)\n"
    "  TK_KEEPALIVE_MS  LAN keep-alive supervision period in ms (1 to 86400000, default 61000)\n"
    "\n"
    "A serial link \"COMn\" opens $TK_ROOT/dev/COMn when that exists (a symbolic link to\n"
    "any tty: /dev/ttyUSB0, a pseudo-terminal of tksim --serial), else /dev/ttyS<n-1>.\n"
    "\n"
    "A USB link opens the first of the devices \\\\.\\VNLUSB0 to 9 there is: the sockets\n"
    "$TK_ROOT/dev/VNLUSB0 to 9 of the exchange's driver (or of tksim --usb N).\n"
    "\n"
    "A link that cannot be started (a refused or too long link name, a serial port, USB\n"
    "device or exchange that cannot be reached, a Link that selects no transport) is\n"
    "reported on standard error and in vnl2.log.\n"
    "\n"
    "Exit status: 0 the link ran and ended, or another link control process already runs;\n"
    "1 the link could not be started; 2 wrong usage.\n";

// A reason the program ends, on standard error (it is in vnl2.log already
// when that is on). Text from outside is escaped.
void PrintError(const std::string& text) {
  std::fprintf(stderr, "vnl2c64: %s\n", platform::printableText(text).c_str());
}

}  // namespace

int main() {
  std::string linkName = LinkNameFromCommandLine(platform::commandLine());
  const std::string firstWord = linkName.substr(0, linkName.find_first_of(" \t"));
  if (firstWord == "--help" || firstWord == "-h") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (linkName.starts_with("-")) {
    PrintError("unknown option " + firstWord + " (try --help)");
    return kExitUsage;
  }
  LinkLogSetup();
  if (const char* period = std::getenv("TK_KEEPALIVE_MS"); period && !IsKeepAlivePeriodText(period)) {
    LinkLog(kLogWarning, "TK_KEEPALIVE_MS %s ignored", period);
    PrintError(std::string("warning: TK_KEEPALIVE_MS '") + period +
               "' is no whole number of milliseconds 1 to 86400000; the default " +
               std::to_string(kDefaultKeepAlivePeriodMs) + " is used");
  }
  // One control process per system.
  if (platform::WindowHandle running = platform::findWindow(kControlWindowClass)) {
    PrintError("a link control process already runs for this root (process " +
               std::to_string(platform::windowProcessId(running)) + "); this one ends");
    return kExitOk;
  }

  LinkController controller(Vnl2d32Library());
  if (!RegisterControlWindowClass(controller)) {
    LinkLog(kLogError, "RegisterClass failed");
    PrintError("cannot register the control window class");
    return kExitFailure;
  }
  platform::WindowHandle window = CreateControlWindow(linkName);
  if (!window) {
    PrintError(controller.startFailure().empty() ? "cannot create the control window" : controller.startFailure());
    return kExitFailure;
  }

  platform::Message message;
  while (platform::getMessage(message)) platform::dispatchMessage(message);
  // WM_DESTROY has done its work; withdraw the window as well.
  platform::destroyWindow(window);
  // A Link without transport ran and was released at once: that is a
  // failure to the person who started it.
  if (!controller.startFailure().empty()) {
    PrintError(controller.startFailure());
    return kExitFailure;
  }
  return kExitOk;
}
