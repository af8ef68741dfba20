#include "tests/link/control/loopback_link.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "link/common/link_config.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/window.h"

namespace tktest {

void InstallLinkControl(const std::string& vnl2c64Path) {
  platform::ensureDirectory(platform::systemDir());
  std::filesystem::create_symlink(vnl2c64Path, platform::systemDir() + "/vnl2c64");
}

bool WriteLoopbackLinkConfiguration(uint16_t port) {
  LinkConfig link;
  DefaultLinkConfiguration(&link);
  std::memset(link.Link, 0, sizeof link.Link);
  std::memcpy(link.Link, kLanLinkStored, sizeof kLanLinkStored);
  std::memset(link.TapiSvrIpAddr, 0, sizeof link.TapiSvrIpAddr);
  std::strcpy(link.TapiSvrIpAddr, "127.0.0.1");
  link.TapiSvrIpPort = port;
  link.Keepalive = 0;
  return SaveLinkConfiguration(link);
}

bool WriteSerialLinkConfiguration(unsigned com, const std::string& tty) {
  const std::string name = "COM" + std::to_string(com);
  const std::string place = platform::rootDir() + "/dev/" + name;
  std::error_code ec;
  std::filesystem::create_directories(platform::rootDir() + "/dev", ec);
  std::filesystem::remove(place, ec);
  std::filesystem::create_symlink(tty, place, ec);
  if (ec) return false;
  LinkConfig link;
  DefaultLinkConfiguration(&link);
  std::memset(link.Link, 0, sizeof link.Link);
  std::memcpy(link.Link, name.data(), std::min(name.size(), sizeof link.Link - 1));
  std::memset(link.LinkSpeed, 0, sizeof link.LinkSpeed);
  std::strcpy(link.LinkSpeed, "9600");
  link.ControlLines = 0;
  return SaveLinkConfiguration(link);
}

bool WriteUsbLinkConfiguration() {
  LinkConfig link;
  DefaultLinkConfiguration(&link);
  std::memset(link.Link, 0, sizeof link.Link);
  std::memcpy(link.Link, "USB", 3);
  return SaveLinkConfiguration(link);
}

void EndLinkControlProcesses() {
  // The control window's class, as VNL2D32 looks for it.
  constexpr char kControlClass[] = "VNL2ControlProg";
  for (int i = 0; i < 5; ++i) {
    platform::WindowHandle control = platform::findWindow(kControlClass);
    if (!control) break;
    uint32_t pid = platform::windowProcessId(control);
    platform::postMessage(control, platform::kWmClose, 0, 0);
    platform::waitForProcessExit(pid, 5000);
  }
}

}  // namespace tktest
