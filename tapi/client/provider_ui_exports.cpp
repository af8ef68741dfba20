// The application functions of TAPI32 for providers and their dialogs:
// lineAddProvider, lineRemoveProvider, lineConfigProvider, lineConfigDialog.
//
// Each runs as one UI session on a connection of its own (no
// lineInitialize needed): the service names the provider's UI module, the
// library loads it here, calls its TUISPI function and unloads it. The
// module reaches its provider only through the TUISPIDLLCALLBACK it is
// given, which carries each block to the service (GenericDialogData) and
// copies the provider's block back into the module's buffer.
//
// TUISPIDLLCALLBACK carries no context, so the session's connection is a
// process-wide one: one session at a time per process; a callback outside
// a session (a module that calls back after returning) gets
// LINEERR_OPERATIONFAILED.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/codepage.h"
#include "platform/debug_output.h"
#include "platform/export.h"
#include "platform/module.h"
#include "tapi/client/client_marshal.h"
#include "tapi/tuispi.h"

using tapiwire::Function;
using tapiwire::Writer;

namespace tapi32 {
namespace {

// Held for a whole session; recursive so that a dialog that opens another
// (a provider's dialog asking for a line's) does not wait for itself.
std::recursive_mutex g_sessionMutex;
std::mutex g_currentMutex;  // guards g_current; held while a callback is answered
Connection* g_current = nullptr;

void debugLine(const std::string& text) { platform::outputDebugStringA("TAPI32: " + text + "\n"); }

LONG dialogCallback(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  if (params == nullptr && size != 0) return LINEERR_INVALPOINTER;
  if (objectId > 0xFFFFFFFFu) return LINEERR_INVALPARAM;
  std::lock_guard lock(g_currentMutex);
  if (g_current == nullptr) return LINEERR_OPERATIONFAILED;
  Reply reply = g_current->call(Function::GenericDialogData, [&](Writer& w) {
    w.u32(static_cast<uint32_t>(objectId)).u32(objectType).bytes(userBytes(params, size));
  });
  if (reply.failed()) return reply.result();
  std::optional<std::vector<uint8_t>> block = reply.values().bytes();
  if (!reply.valuesOk()) return LINEERR_OPERATIONFAILED;
  if (block && params) std::memcpy(params, block->data(), std::min<size_t>(size, block->size()));
  return reply.result();
}

// A connection to the service for one dialog, the current one while it lives.
class Session {
 public:
  Session() : lock_(g_sessionMutex) {}
  ~Session() {
    std::lock_guard lock(g_currentMutex);
    if (connection_ && g_current == connection_.get()) g_current = previous_;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  LONG open() {
    connection_ = Connection::open();
    if (!connection_) return LINEERR_NODRIVER;
    if (!connection_->start(nullptr)) return LINEERR_NOMEM;
    std::lock_guard lock(g_currentMutex);
    previous_ = g_current;
    g_current = connection_.get();
    return 0;
  }
  Reply call(Function function, const Args& args) { return connection_->call(function, args); }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  std::unique_ptr<Connection> connection_;
  Connection* previous_ = nullptr;
};

// A provider's UI module, loaded for one call.
class UiModule {
 public:
  UiModule() = default;
  ~UiModule() {
    if (module_) platform::freeLibrary(module_);
  }
  UiModule(const UiModule&) = delete;
  UiModule& operator=(const UiModule&) = delete;

  bool load(const std::u16string& name) {
    module_ = platform::loadLibrary(platform::wideToUtf8(name));
    if (!module_) {
      debugLine("cannot load the provider's UI module " + platform::wideToUtf8(name) + ": " +
                platform::lastModuleError());
    }
    return module_ != nullptr;
  }
  template <typename Fn>
  Fn function(const char* name) const {
    Fn fn = nullptr;
    platform::getProcAddress(module_, name, fn);
    return fn;
  }

 private:
  platform::ModuleHandle module_ = nullptr;
};

// ProviderUi: the UI module of a running provider (empty: it has none).
LONG providerModule(Session& session, DWORD providerId, std::u16string* module) {
  Reply reply = session.call(Function::ProviderUi, [&](Writer& w) { w.u32(providerId); });
  if (reply.failed()) return reply.result();
  std::optional<std::u16string> name = reply.values().text();
  if (!reply.valuesOk() || !name) return LINEERR_OPERATIONFAILED;
  *module = *name;
  return 0;
}

LONG configProvider(HWND owner, DWORD providerId) {
  Session session;
  if (LONG rc = session.open()) return rc;
  std::u16string name;
  if (LONG rc = providerModule(session, providerId, &name)) return rc;
  if (name.empty()) return LINEERR_OPERATIONUNAVAIL;  // the provider has no dialog
  UiModule module;
  if (!module.load(name)) return LINEERR_OPERATIONFAILED;
  auto config = module.function<decltype(&TUISPI_providerConfig)>("TUISPI_providerConfig");
  if (!config) return LINEERR_OPERATIONUNAVAIL;
  return config(&dialogCallback, owner, providerId);
}

LONG configDialog(DWORD deviceId, HWND owner, const std::optional<std::u16string>& deviceClass) {
  Session session;
  if (LONG rc = session.open()) return rc;
  Reply reply = session.call(Function::LineUi, [&](Writer& w) { w.u32(deviceId); });
  if (reply.failed()) return reply.result();
  reply.values().u32();  // the provider's permanent ID
  std::optional<std::u16string> name = reply.values().text();
  if (!reply.valuesOk() || !name) return LINEERR_OPERATIONFAILED;
  if (name->empty()) return LINEERR_OPERATIONUNAVAIL;
  UiModule module;
  if (!module.load(*name)) return LINEERR_OPERATIONFAILED;
  auto dialog = module.function<decltype(&TUISPI_lineConfigDialog)>("TUISPI_lineConfigDialog");
  if (!dialog) return LINEERR_OPERATIONUNAVAIL;
  return dialog(&dialogCallback, deviceId, owner, deviceClass ? deviceClass->c_str() : nullptr);
}

LONG addProvider(const std::optional<std::u16string>& file, HWND owner, LPDWORD providerId) {
  if (!file || providerId == nullptr) return LINEERR_INVALPOINTER;
  Session session;
  if (LONG rc = session.open()) return rc;
  Reply begun = session.call(Function::AddProviderBegin, [&](Writer& w) { w.text(view(file)); });
  if (begun.failed()) return begun.result();
  const DWORD id = begun.values().u32();
  std::optional<std::u16string> name = begun.values().text();
  if (!begun.valuesOk() || !name) return LINEERR_OPERATIONFAILED;
  // A provider without an install dialog is installed as it is.
  LONG installed = 0;
  UiModule module;
  if (!name->empty()) {
    if (!module.load(*name)) {
      installed = LINEERR_OPERATIONFAILED;
    } else if (auto install = module.function<decltype(&TUISPI_providerInstall)>("TUISPI_providerInstall")) {
      installed = install(&dialogCallback, owner, id);
    }
  }
  Reply finished = session.call(Function::AddProviderFinish,
                                [&](Writer& w) { w.u32(id).u32(static_cast<uint32_t>(installed)); });
  if (installed != 0) return installed;
  if (finished.failed()) return finished.result();
  *providerId = id;
  return 0;
}

LONG removeProvider(DWORD providerId, HWND owner) {
  Session session;
  if (LONG rc = session.open()) return rc;
  std::u16string name;
  if (LONG rc = providerModule(session, providerId, &name)) return rc;
  // A UI module that cannot be loaded does not keep its provider installed.
  UiModule module;
  if (!name.empty() && module.load(name)) {
    if (auto remove = module.function<decltype(&TUISPI_providerRemove)>("TUISPI_providerRemove")) {
      if (LONG rc = remove(&dialogCallback, owner, providerId)) return rc;
    }
  }
  Reply reply = session.call(Function::RemoveProvider, [&](Writer& w) { w.u32(providerId); });
  return reply.result();
}

}  // namespace
}  // namespace tapi32

using namespace tapi32;

extern "C" {

TK_EXPORT LONG lineAddProviderW(LPCWSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  return addProvider(wideText(lpszProviderFilename), hwndOwner, lpdwPermanentProviderID);
}

TK_EXPORT LONG lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  return addProvider(ansiText(lpszProviderFilename), hwndOwner, lpdwPermanentProviderID);
}

TK_EXPORT LONG lineAddProvider(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  return lineAddProviderA(lpszProviderFilename, hwndOwner, lpdwPermanentProviderID);
}

TK_EXPORT LONG lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
  return removeProvider(dwPermanentProviderID, hwndOwner);
}

TK_EXPORT LONG lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return configProvider(hwndOwner, dwPermanentProviderID);
}

TK_EXPORT LONG lineConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass) {
  return configDialog(dwDeviceID, hwndOwner, wideText(lpszDeviceClass));
}

TK_EXPORT LONG lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  return configDialog(dwDeviceID, hwndOwner, ansiText(lpszDeviceClass));
}

TK_EXPORT LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  return lineConfigDialogA(dwDeviceID, hwndOwner, lpszDeviceClass);
}

}  // extern "C"
