// vnlsock: the forwarding library through which the telephony provider
// reaches VNL2D32. It offers the client half of the VNL2 API under the same
// names, loads VNL2D32 when it is loaded itself, and passes every call on
// unchanged. Without a complete VNL2D32 it still loads, and every call
// returns 0.
#include "link/api/vnl2_api.h"
#include "link/api/vnl2_entry_table.h"
#include "link/common/link_log.h"
#include "platform/codepage.h"
#include "platform/export.h"
#include "platform/module.h"

namespace {

// The eight entry points of VNL2D32 that are passed on; all or none.
struct Vnl2d32 {
  platform::ModuleHandle module = nullptr;
  vnl2::Entries entries;
};

Vnl2d32 LoadVnl2d32() {
  Vnl2d32 t;
  t.module = platform::loadLibrary("vnl2d32.dll");
  if (!t.module) return {};
  if (vnl2::Bind(t.module, vnl2::kClientEntries, t.entries)) {
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
  const vnl2::Entries& entries() const { return table_.entries; }

 private:
  Vnl2d32 table_;
};

const vnl2::Entries& Target() {
  static Forwarding forwarding;
  return forwarding.entries();
}

[[maybe_unused]] const vnl2::Entries& loadTimeInstance = Target();

unsigned long Hex(const void* p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

extern "C" {

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_OpenConnection (0x%x)", service);
  return Target().openConnection ? Target().openConnection(service) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnectionExA(uint32_t service, const char* link) {
  LinkLog(kLogTrace, "VNL2_OpenConnectionExA(0x%x,%s)", service, link ? link : "");
  return Target().openConnectionExA ? Target().openConnectionExA(service, link) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnectionExW(uint32_t service, const char16_t* link) {
  LinkLog(kLogTrace, "VNL2_OpenConnectionExW(0x%x,%s)", service, link ? platform::wideToAnsi(link).c_str() : "");
  return Target().openConnectionExW ? Target().openConnectionExW(service, link) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_CloseConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_CloseConnection (0x%x)", service);
  return Target().closeConnection ? Target().closeConnection(service) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_EnableNotification(uint32_t service, platform::WindowHandle window) {
  LinkLog(kLogTrace, "VNL2_EnableNotification 0x%x ,0x%lx", service, Hex(window));
  return Target().enableNotification ? Target().enableNotification(service, window) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_SendData(uint32_t service, const void* data, uint32_t length) {
  LinkLog(kLogTrace, "VNL2_SendData (0x%x,0x%lx,%i)", service, Hex(data), static_cast<int>(length));
  return Target().sendData ? Target().sendData(service, data, length) : 0;
}

TK_EXPORT int32_t TK_WINAPI VNL2_ReceiveData(uint32_t service, void* buffer, uint32_t size) {
  LinkLog(kLogTrace, "VNL2_ReceiveData (0x%x,0x%lx,%i)", service, Hex(buffer), static_cast<int>(size));
  return Target().receiveData ? Target().receiveData(service, buffer, size) : 0;
}

TK_EXPORT void TK_WINAPI VNL2_GetState(uint32_t service, VNL2_STATE* state) {
  LinkLog(kLogTrace, "VNL2_GetState (0x%x,0x%lx)", service, Hex(state));
  if (Target().getState) Target().getState(service, state);
}

}  // extern "C"

// The exports above have the types of the entry table.
[[maybe_unused]] constexpr vnl2::Entries kOwnExports = [] {
  vnl2::Entries e;
  e.openConnection = &VNL2_OpenConnection;
  e.closeConnection = &VNL2_CloseConnection;
  e.enableNotification = &VNL2_EnableNotification;
  e.sendData = &VNL2_SendData;
  e.receiveData = &VNL2_ReceiveData;
  e.getState = &VNL2_GetState;
  e.openConnectionExA = &VNL2_OpenConnectionExA;
  e.openConnectionExW = &VNL2_OpenConnectionExW;
  return e;
}();
