#include "tests/discovery/search_driver.h"

#include <cstring>
#include <map>
#include <memory>

#include "platform/ui/dialog.h"

namespace gwtest {
namespace ui = platform::ui;
using platform::WindowHandle;

namespace {

constexpr const char* kWatchClass = "GwProbeTestWatch";
constexpr uintptr_t kWatchTimer = 1;
constexpr uint32_t kWatchMs = 20;
// Ids of gwProbe's dialogs, as a user finds the controls.
constexpr int kOctet1 = 10014, kSearch = 10018, kStatus = 10000, kAnimation = 10007, kList = 10008;

std::map<WindowHandle, std::function<bool()>>& steps() {
  static std::map<WindowHandle, std::function<bool()>> map;
  return map;
}

platform::LResult watchProc(WindowHandle window, uint32_t message, platform::WParam wParam, platform::LParam lParam) {
  if (message == platform::kWmTimer) {
    auto found = steps().find(window);
    if (found != steps().end() && found->second && found->second()) {
      platform::killTimer(window, kWatchTimer);
      found->second = nullptr;
    }
    return 0;
  }
  return platform::defWindowProc(window, message, wParam, lParam);
}

}  // namespace

GetRouterIpAddressFn loadGwProbe() {
  static GetRouterIpAddressFn fn = [] {
    GetRouterIpAddressFn found = nullptr;
    platform::ModuleHandle module = platform::loadLibrary("gwprobe.dll");
    if (module != nullptr) platform::getProcAddress(module, "_GetRouterIPAddress", found);
    return found;
  }();
  return fn;
}

Watch::Watch(std::function<bool()> step) {
  static const bool registered = platform::registerClass(kWatchClass, watchProc);
  (void)registered;
  window_ = platform::createWindow(kWatchClass);
  steps()[window_] = std::move(step);
  platform::setTimer(window_, kWatchTimer, kWatchMs);
}

Watch::~Watch() {
  steps().erase(window_);
  platform::destroyWindow(window_);
}

std::string octetTexts(WindowHandle settings) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += (i ? "." : "") + ui::GetDlgItemText(settings, kOctet1 + i);
  return text;
}

SearchRun runSearch(const std::string& start, int pickIndex) {
  SearchRun run;
  GetRouterIpAddressFn fn = loadGwProbe();
  if (fn == nullptr) return run;
  std::unique_ptr<Watch> watch;
  bool searchEnded = false;
  ui::testing::OnNextDialog([&](WindowHandle settings) {
    ui::testing::OnNextDialog([&](WindowHandle search) {
      const WindowHandle ok = ui::GetDlgItem(search, ui::kIdOk);
      const WindowHandle list = ui::GetDlgItem(search, kList);
      run.searchedWhileWaiting = ui::IsWindowVisible(ui::GetDlgItem(search, kAnimation)) &&
                                 !ui::IsWindowVisible(list) && !ui::IsWindowEnabled(ok) && ui::GetCapture() == search;
      watch = std::make_unique<Watch>([&, settings, search, ok, list] {
        if (!searchEnded) {
          if (!ui::IsWindowEnabled(ok)) return false;  // still searching
          searchEnded = true;
          const int count = static_cast<int>(ui::SendMessage(list, ui::kLbGetCount, 0, 0));
          for (int i = 0; i < count; ++i) {
            char text[64] = {};
            if (ui::SendMessage(list, ui::kLbGetTextLen, i, 0) < static_cast<platform::LResult>(sizeof text))
              ui::SendMessage(list, ui::kLbGetText, i, reinterpret_cast<platform::LParam>(text));
            run.listed.push_back(text);
          }
          run.status = ui::GetDlgItemText(search, kStatus);
          run.okFocused = ui::GetFocus() == ok;
          if (pickIndex >= 0) ui::testing::ChooseItem(list, pickIndex);
          ui::testing::Click(ok);  // ends the search dialog; the settings dialog is next
          return false;
        }
        run.octetsAfter = octetTexts(settings);
        ui::testing::Click(ui::GetDlgItem(settings, ui::kIdOk));
        return true;
      });
    });
    ui::testing::Click(ui::GetDlgItem(settings, kSearch));
  });
  char buffer[50] = {};
  std::strncpy(buffer, start.c_str(), sizeof buffer - 1);
  run.result = fn(buffer, sizeof buffer);
  run.buffer = buffer;
  return run;
}

}  // namespace gwtest
