// A second client of VNL2D32 for the cross-process tests. It carries out
// its arguments in order and prints one line per step:
//   open <service>            -> "open <result>"
//   enable <service>          -> "enable <0|1>" (notifications to a window of this program)
//   send <service> <text>     -> "send <result>"
//   recv <service>            -> "recv <count> <text>"
//   notify <kind>             -> until a notification of this kind (lParam, hex) has arrived since
//                                the previous notify step (10 s at most); every notification prints
//                                "notify <wParam> <lParam>" when it arrives
//   waitfile <path>           -> "waitfile <0|1>" once the file exists (20 s at most), serving messages
//   close <service>           -> "close <result>"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/api/vnl2_api.h"
#include "platform/window.h"

extern "C" {
int32_t VNL2_OpenConnection(uint32_t service);
int32_t VNL2_CloseConnection(uint32_t service);
int32_t VNL2_EnableNotification(uint32_t service, platform::WindowHandle window);
int32_t VNL2_SendData(uint32_t service, const void* data, uint32_t length);
int32_t VNL2_ReceiveData(uint32_t service, void* buffer, uint32_t size);
}

namespace {

uint32_t notificationId = 0;
// Kinds that arrived and no notify step has taken yet, oldest first.
std::vector<long> arrived;

platform::LResult ClientProc(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                             platform::LParam lParam) {
  if (notificationId != 0 && message == notificationId) {
    std::printf("notify %lx %lx\n", static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
    std::fflush(stdout);
    arrived.push_back(static_cast<long>(lParam));
    return 0;
  }
  return platform::defWindowProc(window, message, wParam, lParam);
}

void Say(const char* step, long value) {
  std::printf("%s %ld\n", step, value);
  std::fflush(stdout);
}

// Serves messages until done() or the deadline.
template <typename Done>
bool ServeUntil(Done done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::Message message;
    while (platform::peekMessage(message)) platform::dispatchMessage(message);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  platform::registerClass("Vnl2TestClient", ClientProc);
  platform::WindowHandle window = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    auto service = [&] { return static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0)); };
    if (step == "open") {
      Say("open", VNL2_OpenConnection(service()));
    } else if (step == "enable") {
      uint32_t s = service();
      if (!window) window = platform::createWindow("Vnl2TestClient");
      notificationId = static_cast<uint32_t>(VNL2_EnableNotification(s, window));
      Say("enable", notificationId != 0);
    } else if (step == "send") {
      uint32_t s = service();
      std::string text = argv[++i];
      Say("send", VNL2_SendData(s, text.data(), static_cast<uint32_t>(text.size())));
    } else if (step == "recv") {
      char buffer[4096];
      int32_t n = VNL2_ReceiveData(service(), buffer, sizeof buffer);
      std::printf("recv %d %.*s\n", n, n > 0 ? n : 0, buffer);
      std::fflush(stdout);
    } else if (step == "notify") {
      long kind = std::strtol(argv[++i], nullptr, 16);
      auto found = [&] { return std::find(arrived.begin(), arrived.end(), kind); };
      ServeUntil([&] { return found() != arrived.end(); }, std::chrono::seconds(10));
      if (found() != arrived.end()) arrived.erase(arrived.begin(), found() + 1);
    } else if (step == "waitfile") {
      std::string path = argv[++i];
      Say("waitfile", ServeUntil([&] { return std::filesystem::exists(path); }, std::chrono::seconds(20)));
    } else if (step == "close") {
      Say("close", VNL2_CloseConnection(service()));
    } else {
      std::fprintf(stderr, "unknown step %s\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
