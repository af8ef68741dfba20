#pragma once
// VNL2D32 (or vnlsock) loaded by its file, as a client process loads it,
// with its exports bound; and a window of the calling thread that collects
// the library's notifications.
#include <chrono>
#include <string>
#include <vector>

#include "link/api/vnl2_api.h"
#include "platform/module.h"
#include "platform/window.h"

namespace tktest {

struct Vnl2Functions {
  platform::ModuleHandle module = nullptr;
  Vnl2OpenConnectionFn open = nullptr;
  Vnl2OpenConnectionExAFn openExA = nullptr;
  Vnl2OpenConnectionExWFn openExW = nullptr;
  Vnl2CloseConnectionFn close = nullptr;
  Vnl2EnableNotificationFn enable = nullptr;
  Vnl2SendDataFn send = nullptr;
  Vnl2ReceiveDataFn receive = nullptr;
  Vnl2GetStateFn getState = nullptr;
  Vnl2CopyRecDataFn copyRecData = nullptr;  // VNL2D32 only
  Vnl2LinkInfoFn linkInfo = nullptr;        // VNL2D32 only

  // False when the library does not load or lacks a client export.
  bool Load(const std::string& path);
  void Unload();
};

struct Notification {
  uint32_t service;
  intptr_t kind;
};

// A window on the calling thread; notifications of the registered message
// "CTI_LayerII_Event" are collected.
class NotificationWindow {
 public:
  NotificationWindow();
  ~NotificationWindow();
  platform::WindowHandle handle() const { return window_; }
  // Serves the thread's messages until `count` notifications were collected
  // or the time is up; returns all collected so far.
  std::vector<Notification> WaitFor(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Serves the thread's messages for a while (to see that nothing more comes).
  std::vector<Notification> Settle(std::chrono::milliseconds period = std::chrono::milliseconds(200));

 private:
  platform::WindowHandle window_ = nullptr;
};

}  // namespace tktest
