// vnlsock: the forwarding library through which the telephony provider
// reaches VNL2D32. It offers the client half of the VNL2 API under the same
// names, loads VNL2D32 when it is loaded itself, and passes every call on
// unchanged. Without a complete VNL2D32 it still loads, and every call
// returns 0.
#include "link/api/vnl2_api.h"
#include "link/common/link_log.h"
#include "platform/codepage.h"
#include "platform/export.h"
#include "platform/module.h"

namespace {

// The eight entry points of VNL2D32 that are passed on; all or none.
struct Vnl2d32 {
  platform::ModuleHandle module = nullptr;
  Vnl2OpenConnectionFn openConnection = nullptr;
  Vnl2OpenConnectionExAFn openConnectionExA = nullptr;
  Vnl2OpenConnectionExWFn openConnectionExW = nullptr;
  Vnl2CloseConnectionFn closeConnection = nullptr;
  Vnl2EnableNotificationFn enableNotification = nullptr;
  Vnl2ReceiveDataFn receiveData = nullptr;
  Vnl2SendDataFn sendData = nullptr;
  Vnl2GetStateFn getState = nullptr;
};

Vnl2d32 LoadVnl2d32() {
  Vnl2d32 t;
  t.module = platform::loadLibrary("vnl2d32.dll");
  if (!t.module) return {};
  if (!platform::getProcAddress(t.module, "VNL2_OpenConnection", t.openConnection) ||
      !platform::getProcAddress(t.module, "VNL2_OpenConnectionExA", t.openConnectionExA) ||
      !platform::getProcAddress(t.module, "VNL2_OpenConnectionExW", t.openConnectionExW) ||
      !platform::getProcAddress(t.module, "VNL2_CloseConnection", t.closeConnection) ||
      !platform::getProcAddress(t.module, "VNL2_EnableNotification", t.enableNotification) ||
      !platform::getProcAddress(t.module, "VNL2_ReceiveData", t.receiveData) ||
      !platform::getProcAddress(t.module, "VNL2_SendData", t.sendData) ||
      !platform::getProcAddress(t.module, "VNL2_GetState", t.getState)) {
    platform::freeLibrary(t.module);
    return {};
  }
  return t;
}

// Loaded with this library, unloaded with it.
class Forwarding {
 public:
  Forwarding() {
    LinkLogSetup(nullptr);
    table_ = LoadVnl2d32();
  }
  ~Forwarding() {
    if (table_.module) platform::freeLibrary(table_.module);
  }
  const Vnl2d32& table() const { return table_; }

 private:
  Vnl2d32 table_;
};

const Vnl2d32& Target() {
  static Forwarding forwarding;
  return forwarding.table();
}

[[maybe_unused]] const Vnl2d32& loadTimeInstance = Target();

unsigned long Hex(const void* p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

extern "C" {

TK_EXPORT int32_t VNL2_OpenConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_OpenConnection (0x%x)", service);
  return Target().openConnection ? Target().openConnection(service) : 0;
}

TK_EXPORT int32_t VNL2_OpenConnectionExA(uint32_t service, const char* link) {
  LinkLog(kLogTrace, "VNL2_OpenConnectionExA(0x%x,%s)", service, link ? link : "");
  return Target().openConnectionExA ? Target().openConnectionExA(service, link) : 0;
}

TK_EXPORT int32_t VNL2_OpenConnectionExW(uint32_t service, const char16_t* link) {
  LinkLog(kLogTrace, "VNL2_OpenConnectionExW(0x%x,%s)", service, link ? platform::wideToAnsi(link).c_str() : "");
  return Target().openConnectionExW ? Target().openConnectionExW(service, link) : 0;
}

TK_EXPORT int32_t VNL2_CloseConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_CloseConnection (0x%x)", service);
  return Target().closeConnection ? Target().closeConnection(service) : 0;
}

TK_EXPORT int32_t VNL2_EnableNotification(uint32_t service, platform::WindowHandle window) {
  LinkLog(kLogTrace, "VNL2_EnableNotification 0x%x ,0x%lx", service, Hex(window));
  return Target().enableNotification ? Target().enableNotification(service, window) : 0;
}

TK_EXPORT int32_t VNL2_SendData(uint32_t service, const void* data, uint32_t length) {
  LinkLog(kLogTrace, "VNL2_SendData (0x%x,0x%lx,%i)", service, Hex(data), static_cast<int>(length));
  return Target().sendData ? Target().sendData(service, data, length) : 0;
}

TK_EXPORT int32_t VNL2_ReceiveData(uint32_t service, void* buffer, uint32_t size) {
  LinkLog(kLogTrace, "VNL2_ReceiveData (0x%x,0x%lx,%i)", service, Hex(buffer), static_cast<int>(size));
  return Target().receiveData ? Target().receiveData(service, buffer, size) : 0;
}

TK_EXPORT void VNL2_GetState(uint32_t service, VNL2_STATE* state) {
  LinkLog(kLogTrace, "VNL2_GetState (0x%x,0x%lx)", service, Hex(state));
  if (Target().getState) Target().getState(service, state);
}

}  // extern "C"
