#pragma once
// The two dialogs of gwProbe, as dialog procedures over the dialog layer, and
// the resources they come from (registered under "gwprobe.dll").
//
// CDlgTcpSetting ("TCP/IP settings", 10011): the address as four octet edits;
// OK checks each edit (0 to 255, else the range message and the focus on the
// edit) and makes the address text; "Search" runs CDlgSelectList with a fresh
// CDetectSocket and takes its choice.
//
// CDlgSelectList ("Search for routers in the local network ...", 10009):
// sends a request at once and every second (timer 42), lists each answering
// address once (sorted by the list), and after five seconds (timer 43) ends
// the waiting and shows the list with its status text. Answers that come
// later are still listed while the dialog is open.
//
// Threads: everything runs on the dialogs' thread; the receive thread of the
// socket reaches the dialog only through posted messages.
#include <cstdint>
#include <string>

#include "discovery/detect_socket.h"
#include "platform/ui/dialog.h"

namespace discovery {

constexpr const char* kModuleName = "gwprobe.dll";
constexpr const char* kAppName = "gwProbe";  // caption of its message boxes

// Resource ids.
constexpr int kDlgSelectList = 10009;
constexpr int kDlgTcpSetting = 10011;
constexpr int kBitmapPabx = 10004;
constexpr int kClipSearch = 10005;
constexpr int kIdsSocketsFailed = 101;
constexpr int kIdsNotInNetwork = 102;
constexpr int kIdsConfigError = 103;
constexpr int kIdsIncomplete = 104;
constexpr int kIdsNoRouter = 105;
constexpr int kIdsRoutersFound = 106;

// Control ids.
constexpr int kIdcStatus = 10000;
constexpr int kIdcAnimation = 10007;
constexpr int kIdcRouterList = 10008;
constexpr int kIdcOctet1 = 10014;  // ... kIdcOctet1 + 3 the fourth octet
constexpr int kIdcSearch = 10018;

// Timers of the search dialog.
constexpr uintptr_t kTimerResend = 42;
constexpr uint32_t kResendMs = 1000;
constexpr uintptr_t kTimerEnd = 43;
constexpr uint32_t kSearchMs = 5000;

struct CDlgTcpSetting {
  std::string address;  // dotted text
  int octets[4] = {0, 0, 0, 0};
  static intptr_t Proc(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam,
                       platform::LParam lParam);
};

struct CDlgSelectList {
  explicit CDlgSelectList(CDetectSocket* socket) : socket(socket) {}
  CDetectSocket* socket;
  std::string result;  // the chosen entry; empty when none
  bool waiting = false;
  platform::ui::Cursor cursorBefore = platform::ui::Cursor::Arrow;
  static intptr_t Proc(platform::WindowHandle dialog, uint32_t message, platform::WParam wParam,
                       platform::LParam lParam);
};

}  // namespace discovery
