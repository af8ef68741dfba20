#pragma once
// VNL2D32 (or vnlsock) loaded by its file, as a client process loads it,
// with its exports bound; and a window of the calling thread that collects
// the library's notifications.
#include <chrono>
#include <string>
#include <vector>

#include "link/api/vnl2_entry_table.h"
#include "platform/module.h"
#include "platform/window.h"

namespace tktest {

// The entries bound by the VNL2 entry table, with short names for the tests.
struct Vnl2Functions : vnl2::Entries {
  platform::ModuleHandle module = nullptr;

  // False when the library does not load or lacks a client export; the two
  // entries of the link control process are bound when there (VNL2D32 only).
  bool Load(const std::string& path);
  void Unload();

  int32_t open(uint32_t service) const { return openConnection(service); }
  int32_t openExA(uint32_t service, const char* link) const { return openConnectionExA(service, link); }
  int32_t openExW(uint32_t service, const char16_t* link) const { return openConnectionExW(service, link); }
  int32_t close(uint32_t service) const { return closeConnection(service); }
  int32_t enable(uint32_t service, platform::WindowHandle window) const { return enableNotification(service, window); }
  int32_t send(uint32_t service, const void* data, uint32_t length) const { return sendData(service, data, length); }
  int32_t receive(uint32_t service, void* buffer, uint32_t size) const { return receiveData(service, buffer, size); }
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
