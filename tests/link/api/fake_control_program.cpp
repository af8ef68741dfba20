// Plays the link control process VNL2C64 towards VNL2D32 in tests. Installed
// in the system directory under the name the library starts, it registers
// the control window class, answers the start the way TK_FAKE_CONTROL says,
// echoes every block it is sent back to its service, and ends on WM_CLOSE
// after reporting the link down.
//
//   TK_FAKE_CONTROL=up      (default) link state 17, then 1
//   TK_FAKE_CONTROL=ack     only 17; WM_USER + 1 reports the link up later
//   TK_FAKE_CONTROL=refuse  18, then the program ends
//   TK_FAKE_CONTROL=silent  no answer at all
//
// WM_USER + 2 reports the link down (and the program goes on running).
// Each start and close is appended to <root>/fake-control.log.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "link/api/vnl2_api.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/window.h"

extern "C" {
int32_t VNL2_CopyRecData(uint32_t service, const void* data, uint32_t length);
int32_t VNL2_LinkInfo(uint32_t kind);
}

namespace {

constexpr uint32_t kReportLinkUp = platform::kWmUser + 1;
constexpr uint32_t kReportLinkDown = platform::kWmUser + 2;

void Note(const std::string& line) {
  std::ofstream(platform::rootDir() + "/fake-control.log", std::ios::app) << line << "\n";
}

platform::LResult ControlProc(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                              platform::LParam lParam) {
  switch (message) {
    case platform::kWmCopyData: {
      auto* record = reinterpret_cast<const platform::CopyDataStruct*>(lParam);
      return VNL2_CopyRecData(static_cast<uint32_t>(record->dwData & 0xFF), record->lpData, record->cbData) == 1;
    }
    case kReportLinkUp: VNL2_LinkInfo(kVnl2LinkUp); return 0;
    case kReportLinkDown: VNL2_LinkInfo(kVnl2LinkDown); return 0;
    case platform::kWmClose:
      Note("close");
      VNL2_LinkInfo(kVnl2LinkDown);
      platform::destroyWindow(window);
      return 0;
    case platform::kWmDestroy: platform::postQuitMessage(0); return 0;
    default: return platform::defWindowProc(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::puts("fake_control_program: stands in for VNL2C64 in tests (see the source for TK_FAKE_CONTROL)");
    return 0;
  }
  const char* mode = std::getenv("TK_FAKE_CONTROL");
  std::string behaviour = mode ? mode : "up";
  Note("start " + platform::commandLine());

  if (!platform::registerClass("VnL2ControlProg", ControlProc)) return 1;
  platform::WindowHandle window = platform::createWindow("VnL2ControlProg", "Ondra CTI Layer II Control");
  if (!window) return 1;
  if (behaviour == "refuse") {
    VNL2_LinkInfo(kVnl2LinkRefused);
    VNL2_LinkInfo(kVnl2LinkDown);
    platform::destroyWindow(window);
    return 0;
  }
  if (behaviour == "up" || behaviour == "ack") VNL2_LinkInfo(kVnl2LinkAcknowledged);
  if (behaviour == "up") VNL2_LinkInfo(kVnl2LinkUp);

  platform::Message message;
  while (platform::getMessage(message)) platform::dispatchMessage(message);
  return 0;
}
