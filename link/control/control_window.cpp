#include "link/control/control_window.h"

#include <cstdio>
#include <cstdlib>

#include "link/common/link_log.h"

namespace {

LinkController* g_controller = nullptr;
// The creation parameter of the window: the link name of the command line.
std::string g_creationLinkName;

// Ends the process after WM_DESTROY. Normally by leaving the message loop;
// with the receive thread still running (it did not end in time) at once,
// without running anything that thread might still be using.
void EndProcess(bool receiveThreadEnded) {
  if (receiveThreadEnded) {
    platform::postQuitMessage(0);
    return;
  }
  std::fflush(nullptr);
  std::_Exit(0);
}

platform::LResult Vnl2Wnd(platform::WindowHandle window, uint32_t message, platform::WParam wParam,
                          platform::LParam lParam) {
  switch (message) {
    case platform::kWmCreate:
      if (!g_controller->OnCreate(window, g_creationLinkName)) {
        LinkLog(kLogError, "Vnl2Wnd: OpenConnection failed");
        return -1;
      }
      return 0;
    case platform::kWmClose: g_controller->OnClose(); return 0;
    case platform::kWmDestroy: EndProcess(g_controller->OnDestroy()); return 0;
    case platform::kWmCopyData:
      return g_controller->OnCopyData(*reinterpret_cast<const platform::CopyDataStruct*>(lParam));
    case platform::kWmTimer: g_controller->OnTimer(wParam); return 0;
    default: return platform::defWindowProc(window, message, wParam, lParam);
  }
}

}  // namespace

bool RegisterControlWindowClass(LinkController& controller) {
  g_controller = &controller;
  return platform::registerClass(kControlWindowClass, Vnl2Wnd);
}

platform::WindowHandle CreateControlWindow(const std::string& linkName) {
  g_creationLinkName = linkName;
  return platform::createWindow(kControlWindowClass, kControlWindowCaption);
}
