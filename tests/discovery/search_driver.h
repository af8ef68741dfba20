#pragma once
// Drives gwProbe through its export as a user would: "TCP/IP settings",
// optionally "Search" (waiting in the dialogs' own modal loop until the
// five-second search has ended) and OK. Shared by the dialog tests and the
// probe program of the network namespace test; needs no GoogleTest.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/window.h"

namespace gwtest {

using GetRouterIpAddressFn = uint8_t (*)(char*, uint32_t);

// Loads gwprobe.dll once (kept loaded); nullptr when it cannot be loaded.
GetRouterIpAddressFn loadGwProbe();

// Calls step on the thread that creates it, from the modal loop of whatever
// dialog runs, every 20 ms until step returns true.
class Watch {
 public:
  explicit Watch(std::function<bool()> step);
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  platform::WindowHandle window_ = nullptr;
};

struct SearchRun {
  int result = -1;                    // of _GetRouterIPAddress
  std::string buffer;                 // its text afterwards
  bool searchedWhileWaiting = false;  // animation shown, list hidden, OK disabled, capture held
  std::vector<std::string> listed;    // the list when the search ended
  std::string status;                 // the status line then
  bool okFocused = false;             // "OK" enabled and focused then
  std::string octetsAfter;            // the settings dialog's edits after the search ("a.b.c.d")
};

// Search, then OK in the search dialog (the entry pickIndex chosen first,
// -1: as the dialog left it), then OK in the settings dialog.
SearchRun runSearch(const std::string& start, int pickIndex);

// The four octet edits of the settings dialog as "a.b.c.d".
std::string octetTexts(platform::WindowHandle settings);

}  // namespace gwtest
