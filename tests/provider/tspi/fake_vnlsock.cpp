// Stand-in for the layer-2 forwarding library "VNLSOCK.DLL" in provider
// tests. Built in three variants:
// - "complete" refuses everything (tests of the binding alone);
// - "incomplete" lacks VNL2_GetState;
// - "scripted" (FAKE_VNLSOCK_SCRIPTED) opens service 32, records every sent
//   block and delivers blocks the test queues, with the notifications a real
//   library posts; the test reaches it through its FakeVnl_ exports.
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "link/api/vnl2_entry_table.h"
#include "platform/export.h"
#include "platform/window.h"

#ifndef FAKE_VNLSOCK_SCRIPTED
extern "C" {
TK_EXPORT int32_t VNL2_OpenConnection(uint32_t) { return 0; }
TK_EXPORT int32_t VNL2_CloseConnection(uint32_t) { return 0; }
TK_EXPORT int32_t VNL2_SendData(uint32_t, const void*, uint32_t) { return 0; }
TK_EXPORT int32_t VNL2_ReceiveData(uint32_t, void*, uint32_t) { return 0; }
TK_EXPORT int32_t VNL2_EnableNotification(uint32_t, platform::WindowHandle) { return 0; }
#ifndef FAKE_VNLSOCK_INCOMPLETE
TK_EXPORT void VNL2_GetState(uint32_t, VNL2_STATE*) {}
#endif
}
#else
namespace {

std::mutex m;
bool open = false;
platform::WindowHandle window = nullptr;
uint32_t message = 0;
std::deque<std::vector<uint8_t>> incoming;
std::vector<std::vector<uint8_t>> sent;

}  // namespace

extern "C" {
TK_EXPORT int32_t VNL2_OpenConnection(uint32_t service) {
  std::lock_guard lock(m);
  if (service != 0x20 || open) return 0;
  open = true;
  return 1;
}
TK_EXPORT int32_t VNL2_CloseConnection(uint32_t) {
  std::lock_guard lock(m);
  open = false;
  window = nullptr;
  return 1;
}
TK_EXPORT int32_t VNL2_SendData(uint32_t, const void* data, uint32_t length) {
  std::lock_guard lock(m);
  if (!open) return kVnl2SendNotOpen;
  const auto* bytes = static_cast<const uint8_t*>(data);
  sent.emplace_back(bytes, bytes + length);
  return 1;
}
TK_EXPORT int32_t VNL2_ReceiveData(uint32_t, void* buffer, uint32_t size) {
  std::lock_guard lock(m);
  if (incoming.empty()) return 0;
  std::vector<uint8_t> block = std::move(incoming.front());
  incoming.pop_front();
  const uint32_t n = block.size() < size ? static_cast<uint32_t>(block.size()) : size;
  std::memcpy(buffer, block.data(), n);
  return static_cast<int>(n);
}
TK_EXPORT int32_t VNL2_EnableNotification(uint32_t, platform::WindowHandle target) {
  std::lock_guard lock(m);
  window = target;
  message = platform::registerWindowMessage("CTI_LayerII_Event");
  return static_cast<int32_t>(message);
}
TK_EXPORT void VNL2_GetState(uint32_t, VNL2_STATE* state) {
  std::lock_guard lock(m);
  *state = {};
  state->State = open ? 1 : 0;
}

// --- Test controls ---------------------------------------------------------
// Queues blocks without notifying.
TK_EXPORT void FakeVnl_Queue(const uint8_t* bytes, uint32_t length) {
  std::lock_guard lock(m);
  incoming.emplace_back(bytes, bytes + length);
}
// Posts one notification (0x0100 data, 0x0F00 disconnected) to the window;
// a disconnect closes the service first, as the real library does.
TK_EXPORT int FakeVnl_Notify(intptr_t kind) {
  std::lock_guard lock(m);
  if (!window) return 0;
  if (kind == VNL2_DISCONNECT_IND) open = false;
  return platform::postMessage(window, message, 0x20, kind) ? 1 : 0;
}
TK_EXPORT uint32_t FakeVnl_SentCount() {
  std::lock_guard lock(m);
  return static_cast<uint32_t>(sent.size());
}
// Copies sent block i; returns its length (0 when there is none).
TK_EXPORT uint32_t FakeVnl_Sent(uint32_t i, uint8_t* buffer, uint32_t size) {
  std::lock_guard lock(m);
  if (i >= sent.size()) return 0;
  const uint32_t n = sent[i].size() < size ? static_cast<uint32_t>(sent[i].size()) : size;
  std::memcpy(buffer, sent[i].data(), n);
  return n;
}
// Blocks queued and not read yet.
TK_EXPORT uint32_t FakeVnl_Queued() {
  std::lock_guard lock(m);
  return static_cast<uint32_t>(incoming.size());
}
}
#endif

// Every variant's exports have the types of the VNL2 entry table.
[[maybe_unused]] constexpr vnl2::Entries kOwnExports = [] {
  vnl2::Entries e;
  e.openConnection = &VNL2_OpenConnection;
  e.closeConnection = &VNL2_CloseConnection;
  e.enableNotification = &VNL2_EnableNotification;
  e.sendData = &VNL2_SendData;
  e.receiveData = &VNL2_ReceiveData;
#ifndef FAKE_VNLSOCK_INCOMPLETE
  e.getState = &VNL2_GetState;
#endif
  return e;
}();
