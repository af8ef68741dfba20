// Screenshots of gwProbe, run through its export _GetRouterIPAddress: the
// "TCP/IP settings" dialog with an address, and the search dialog while it
// searches, after finding two exchanges and after finding none. The searches
// stay on loopback (TK_DISCOVERY_TARGET): two exchanges played by a thread
// here answer from 127.0.0.2 and 127.0.0.5; nothing is ever broadcast.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>

#include "platform/module.h"
#include "platform/ui/dialog.h"
#include "platform/udp_socket.h"
#include "platform/window.h"
#include "tools/screenshots/scoped_env.h"
#include "tools/screenshots/shots.h"

namespace {

namespace pui = platform::ui;
using platform::WindowHandle;
using GetRouterFn = uint8_t (*)(char*, uint32_t);

constexpr int kSearchButton = 10018, kAnimation = 10007;
constexpr uint16_t kPort = 5000;

// Two exchanges on loopback: each request to 127.0.0.2:5000 is answered from
// 127.0.0.2 and from 127.0.0.5.
class TwoExchanges {
 public:
  TwoExchanges() {
    if (!first_.open("127.0.0.2", kPort) || !second_.open("127.0.0.5", 0)) return;
    thread_ = std::thread([this] {
      char buffer[256];
      std::string sender;
      uint16_t port = 0;
      for (long n; (n = first_.receiveFrom(buffer, sizeof buffer, &sender, &port)) >= 0;) {
        if (std::string_view(buffer, static_cast<size_t>(n)).find("detect router in lan by Ondra") ==
            std::string_view::npos)
          continue;
        const std::string answer = "Ondra router received udpmsg from :" + sender;
        first_.sendTo(answer.data(), answer.size(), sender, port);
        second_.sendTo(answer.data(), answer.size(), sender, port);
      }
    });
  }
  ~TwoExchanges() {
    first_.close();  // wakes the thread
    if (thread_.joinable()) thread_.join();
  }
  TwoExchanges(const TwoExchanges&) = delete;
  TwoExchanges& operator=(const TwoExchanges&) = delete;

 private:
  platform::UdpSocket first_;
  platform::UdpSocket second_;
  std::thread thread_;
};

// Calls step every 20 ms from the running dialog's modal loop until it returns true.
std::map<WindowHandle, std::function<bool()>> g_steps;
platform::LResult watchProc(WindowHandle window, uint32_t message, platform::WParam wParam, platform::LParam lParam) {
  if (message != platform::kWmTimer) return platform::defWindowProc(window, message, wParam, lParam);
  auto found = g_steps.find(window);
  if (found != g_steps.end() && found->second && found->second()) {
    platform::killTimer(window, 1);
    found->second = nullptr;
  }
  return 0;
}

class Watch {
 public:
  explicit Watch(std::function<bool()> step) {
    static const bool registered = platform::registerClass("GwProbeShotWatch", watchProc);
    (void)registered;
    window_ = platform::createWindow("GwProbeShotWatch");
    g_steps[window_] = std::move(step);
    platform::setTimer(window_, 1, 20);
  }
  ~Watch() {
    g_steps.erase(window_);
    platform::destroyWindow(window_);
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  WindowHandle window_ = nullptr;
};

// Opens the settings with `start`, grabs it (when settingsShot is given),
// presses Search, grabs the search dialog once its clip has played a while
// (when searchingShot is given) and when it has ended, then leaves both
// dialogs with Cancel.
void shootSearch(GetRouterFn getRouter, const std::string& dir, const char* start, const std::string& settingsShot,
                 const std::string& searchingShot, const std::string& endedShot) {
  std::unique_ptr<Watch> watch;
  pui::testing::OnNextDialog([&](WindowHandle settings) {
    if (!settingsShot.empty()) pui::GrabDialog(settings, dir + "/" + settingsShot + ".png");
    pui::testing::OnNextDialog([&](WindowHandle search) {
      int ticks = 0;
      watch = std::make_unique<Watch>([&, search, ticks]() mutable {
        const WindowHandle ok = pui::GetDlgItem(search, pui::kIdOk);
        if (++ticks == 40 && !searchingShot.empty() && pui::IsWindowVisible(pui::GetDlgItem(search, kAnimation)))
          pui::GrabDialog(search, dir + "/" + searchingShot + ".png");
        if (!pui::IsWindowEnabled(ok)) return false;  // still searching
        pui::GrabDialog(search, dir + "/" + endedShot + ".png");
        pui::testing::Click(pui::GetDlgItem(search, pui::kIdCancel));
        return true;
      });
    });
    pui::testing::Click(pui::GetDlgItem(settings, kSearchButton));
    pui::testing::Click(pui::GetDlgItem(settings, pui::kIdCancel));
  });
  char buffer[50] = {};
  std::snprintf(buffer, sizeof buffer, "%s", start);
  getRouter(buffer, sizeof buffer);
}

}  // namespace

void ShootGwProbe(const std::string& dir) {
  platform::ModuleHandle module = platform::loadLibrary("gwprobe.dll");
  GetRouterFn getRouter = nullptr;
  if (!module || !platform::getProcAddress(module, "_GetRouterIPAddress", getRouter)) {
    if (module) platform::freeLibrary(module);
    return;  // no pictures: the caller reports the module
  }
  {
    ScopedEnv target("TK_DISCOVERY_TARGET", "127.0.0.2");
    TwoExchanges exchanges;
    shootSearch(getRouter, dir, "192.168.1.25", "gwprobe-tcp-settings", "gwprobe-search-searching",
                "gwprobe-search-found");
  }
  {
    ScopedEnv target("TK_DISCOVERY_TARGET", "127.0.0.3");  // nobody answers there
    shootSearch(getRouter, dir, "192.168.1.25", "", "", "gwprobe-search-none");
  }
  platform::freeLibrary(module);
}
