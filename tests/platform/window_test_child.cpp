// A second process for the tests of window messages between processes. Each
// command does one small thing and reports on standard output.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window.h"

namespace {

using namespace platform;

// Messages the serving window understands.
constexpr uint32_t kEcho = kWmUser + 1;        // posted: post kEchoBack to window wParam with the same lParam
constexpr uint32_t kEchoBack = kWmUser + 2;
constexpr uint32_t kDouble = kWmUser + 3;      // sent: returns lParam * 2
constexpr uint32_t kDieUnanswered = kWmUser + 4;  // sent: the process ends with 3 before answering
constexpr uint32_t kSendBack = kWmUser + 6;    // sent: sends "from child" as WM_COPYDATA to window wParam, returns its answer
constexpr uint32_t kRelay = kWmUser + 7;       // sent: sends kSendOnward (wParam: this window) to window wParam, returns its answer + 1000
constexpr uint32_t kReturnPlusOne = kWmUser + 11;  // sent: returns lParam + 1
constexpr uint32_t kSendOnward = kWmUser + 12;     // understood by the test's window
constexpr uintptr_t kLifeTimer = 1;            // the child gives up after a minute, should the test be gone

WindowHandle handleFrom(const char* text) {
  return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(std::strtoull(text, nullptr, 16)));
}

LResult sendCopyData(WindowHandle target, uintptr_t tag, const std::string& text) {
  CopyDataStruct copy{tag, static_cast<uint32_t>(text.size()), const_cast<char*>(text.data())};
  return sendMessage(target, kWmCopyData, 0, reinterpret_cast<LParam>(&copy));
}

LResult serveProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case kWmCopyData: {
      // Answers with the sum of the bytes plus dwData.
      const auto* copy = reinterpret_cast<const CopyDataStruct*>(lParam);
      const auto* bytes = static_cast<const unsigned char*>(copy->lpData);
      LResult sum = 0;
      for (uint32_t i = 0; i < copy->cbData; ++i) sum += bytes[i];
      return sum + static_cast<LResult>(copy->dwData);
    }
    case kEcho:
      postMessage(reinterpret_cast<WindowHandle>(wParam), kEchoBack, 0, lParam);
      return 0;
    case kDouble:
      return lParam * 2;
    case kDieUnanswered:
      std::fflush(stdout);
      _exit(3);
    case kSendBack:
      return sendCopyData(reinterpret_cast<WindowHandle>(wParam), 5, "from child");
    case kRelay:
      return sendMessage(reinterpret_cast<WindowHandle>(wParam), kSendOnward, reinterpret_cast<WParam>(window), lParam) +
             1000;
    case kReturnPlusOne:
      return lParam + 1;
    case kWmTimer:
      if (wParam == kLifeTimer) std::exit(4);
      return 0;
    case kWmDestroy:
      postQuitMessage(0);
      return 0;
    default:
      return defWindowProc(window, message, wParam, lParam);
  }
}

int serve(const char* className) {
  if (!registerClass(className, serveProc)) return 1;
  WindowHandle window = createWindow(className);
  if (!window) return 1;
  setTimer(window, kLifeTimer, 60000);
  std::printf("ready %llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  std::fflush(stdout);
  Message m;
  while (getMessage(m)) dispatchMessage(m);
  std::printf("quit %d\n", static_cast<int>(m.wParam));
  std::fflush(stdout);
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: window_test_child COMMAND\n"
               "  serve CLASS            make a window of CLASS, print \"ready <handle>\", serve until WM_CLOSE\n"
               "  register NAME          print the id of the registered window message NAME\n"
               "  send-copy HANDLE TEXT  send TEXT as WM_COPYDATA (dwData 9) to HANDLE, print the answer\n"
               "  find CLASS             print the handle of the first window of CLASS and its process id\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "serve" && argc == 3) return serve(argv[2]);
  if (cmd == "register" && argc == 3) {
    std::printf("%u\n", registerWindowMessage(argv[2]));
    return 0;
  }
  if (cmd == "send-copy" && argc == 4) {
    std::printf("%lld\n", static_cast<long long>(sendCopyData(handleFrom(argv[2]), 9, argv[3])));
    return 0;
  }
  if (cmd == "find" && argc == 3) {
    WindowHandle window = findWindow(argv[2]);
    std::printf("%llx %u\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                windowProcessId(window));
    return 0;
  }
  return usage();
}
