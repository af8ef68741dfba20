#include "tests/link/api/vnl2_client.h"

#include <thread>

namespace tktest {
namespace {

std::vector<Notification> collected;
uint32_t notificationId = 0;

platform::LResult WindowProc(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                             platform::LParam lParam) {
  if (message == notificationId) {
    collected.push_back({static_cast<uint32_t>(wParam), lParam});
    return 0;
  }
  return platform::defWindowProc(window, message, wParam, lParam);
}

void Serve() {
  platform::Message message;
  while (platform::peekMessage(message)) platform::dispatchMessage(message);
}

}  // namespace

bool Vnl2Functions::Load(const std::string& path) {
  module = platform::loadLibrary(path);
  if (!module) return false;
  vnl2::Bind(module, vnl2::kControlEntries, *this);
  return vnl2::Bind(module, vnl2::kClientEntries, *this) == nullptr;
}

void Vnl2Functions::Unload() {
  if (module) platform::freeLibrary(module);
  *this = {};
}

NotificationWindow::NotificationWindow() {
  collected.clear();
  notificationId = platform::registerWindowMessage("CTI_LayerII_Event");
  platform::registerClass("Vnl2TestWindow", WindowProc);
  window_ = platform::createWindow("Vnl2TestWindow");
}

NotificationWindow::~NotificationWindow() {
  platform::destroyWindow(window_);
  platform::unregisterClass("Vnl2TestWindow");
}

std::vector<Notification> NotificationWindow::WaitFor(size_t count, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Serve();
    if (collected.size() >= count || std::chrono::steady_clock::now() > deadline) return collected;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<Notification> NotificationWindow::Settle(std::chrono::milliseconds period) {
  auto end = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < end) {
    Serve();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return collected;
}

}  // namespace tktest
