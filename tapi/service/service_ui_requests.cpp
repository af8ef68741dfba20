// Providers added, removed and configured by applications while the service
// runs. A provider's UI module runs in the application, so each of these is
// a short exchange on the application's connection:
//   ProviderUi / LineUi  name the UI module of a running provider (from its
//                        TSPI_providerUIIdentify; empty when it has none);
//   GenericDialogData    carries a block of the UI module's callback to the
//                        provider's TSPI_providerGenericDialogData and the
//                        block, as the provider left it, back;
//   AddProviderBegin     loads the plug-in in a host of its own (not
//                        started) under the next permanent provider ID, for
//                        the install dialog's callbacks;
//   AddProviderFinish    with 0 enters it in TAPI's provider list, starts it
//                        and announces its lines (LINE_CREATE to every app);
//                        otherwise unloads it;
//   RemoveProvider       closes the provider's lines (LINE_CLOSE), shuts it
//                        down, takes it off the list and announces the end of
//                        its devices (LINE_REMOVE to every app).
// A plug-in being added belongs to the client that began it; it goes when
// that client goes. Everything here runs on the service thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/reg_types.h"
#include "platform/win_error.h"
#include "tapi/host/provider_list.h"
#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

// The buffer TSPI_providerUIIdentify writes its module name into, in WCHARs.
constexpr size_t kUiNameChars = 260;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return text;
}

// Whether two provider list names mean the same plug-in.
bool SamePlugin(const std::string& a, const std::string& b) {
  if (lower(a) == lower(b)) return true;
  const std::string pa = platform::resolveModulePath(a);
  return !pa.empty() && pa == platform::resolveModulePath(b);
}

// Whether the plug-in (loaded by its host already) exports the function; a
// missing optional export is no breach of the contract, so it is looked up
// before the host is asked to call it.
bool Exports(const std::string& file, const char* name) {
  platform::ModuleHandle module = platform::loadLibrary(file);
  if (!module) return false;
  const bool found = platform::getProcAddress(module, name) != nullptr;
  platform::freeLibrary(module);
  return found;
}

// "NextProviderID" of the provider list; 1 when it is missing or 0.
uint32_t NextListedId() {
  platform::RegKeyHandle key = nullptr;
  if (platform::regOpenKeyEx(platform::kHkeyLocalMachine, tapihost::kProviderListKeyPath, &key) !=
      platform::kErrorSuccess) {
    return 1;
  }
  uint8_t data[4] = {};
  uint32_t type = 0, size = sizeof data;
  const long rc = platform::regQueryValueEx(key, u"NextProviderID", &type, data, &size);
  platform::regCloseKey(key);
  if (rc != platform::kErrorSuccess || type != platform::kRegDword || size != sizeof data) return 1;
  const uint32_t value = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24;
  return value == 0 ? 1 : value;
}

// The UI module the provider names; empty when it exports no
// TSPI_providerUIIdentify.
LONG UiModuleOf(Provider& p, std::u16string* module) {
  module->clear();
  if (!Exports(p.file, "TSPI_providerUIIdentify")) return 0;
  WCHAR name[kUiNameChars] = {};
  const LONG rc = TSPI_CALL(*p.host, TSPI_providerUIIdentify, static_cast<LPWSTR>(name));
  if (rc != 0) return rc;
  name[kUiNameChars - 1] = 0;
  *module = name;
  return 0;
}

std::string Text(const std::u16string& module) {
  return module.empty() ? std::string("no UI module") : "UI module " + platform::wideToUtf8(module);
}

std::string Hex(LONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<DWORD>(value));
  return text;
}

std::string Name(const Provider& p) { return "provider " + std::to_string(p.permanentId) + " (" + p.file + ")"; }

}  // namespace

void ServiceCore::State::DropStaleAdds() {
  for (auto it = adding.begin(); it != adding.end();) {
    if (clients.count(it->first)) {
      ++it;
      continue;
    }
    LogViolations(it->second);
    log("client " + std::to_string(it->first) + " went before it finished adding " + Name(it->second) +
        ": not added");
    it = adding.erase(it);
  }
}

LONG ServiceCore::State::ProviderUi(Request& r) {
  const uint32_t id = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  for (Provider& p : providers) {
    if (!p.running || p.permanentId != id) continue;
    std::u16string module;
    if (LONG rc = UiModuleOf(p, &module); rc != 0) return rc;
    log(Who(r.client) + ": dialog of " + Name(p) + ", " + Text(module));
    r.out = {module};
    return 0;
  }
  Refuse(r.client, "ProviderUi: no provider " + std::to_string(id) + " runs");
  return LINEERR_INVALPARAM;
}

LONG ServiceCore::State::LineUi(Request& r) {
  const uint32_t deviceId = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (LONG rc = CheckDevice(deviceId); rc != 0) return rc;
  Provider& p = providers[devices[deviceId].provider];
  std::u16string module;
  if (LONG rc = UiModuleOf(p, &module); rc != 0) return rc;
  log(Who(r.client) + ": dialog of line device " + std::to_string(deviceId) + " of " + Name(p) + ", " + Text(module));
  r.out = {p.permanentId, module};
  return 0;
}

LONG ServiceCore::State::GenericDialogData(Request& r) {
  const uint32_t objectId = r.in->u32(), objectType = r.in->u32();
  std::optional<std::vector<uint8_t>> params = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  Provider* provider = nullptr;
  DWORD_PTR providerObject = objectId;
  if (objectType == TUISPIDLL_OBJECT_LINEID) {
    if (LONG rc = CheckDevice(objectId); rc != 0) return rc;
    provider = &providers[devices[objectId].provider];
    providerObject = devices[objectId].local;  // the provider numbers its lines from 0
  } else if (objectType == TUISPIDLL_OBJECT_PROVIDERID) {
    for (Provider& p : providers) {
      if (p.running && p.permanentId == objectId) provider = &p;
    }
    if (auto a = adding.find(r.client); !provider && a != adding.end() && a->second.permanentId == objectId) {
      provider = &a->second;
    }
    if (!provider) return LINEERR_INVALPARAM;
  } else if (objectType == TUISPIDLL_OBJECT_PHONEID) {
    return LINEERR_BADDEVICEID;  // the service has no phone devices
  } else {
    return LINEERR_INVALPARAM;
  }
  if (!Exports(provider->file, "TSPI_providerGenericDialogData")) return LINEERR_OPERATIONUNAVAIL;
  std::vector<uint8_t> block = params.value_or(std::vector<uint8_t>{});
  const LONG rc = TSPI_CALL(*provider->host, TSPI_providerGenericDialogData, providerObject, DWORD{objectType},
                            params ? static_cast<LPVOID>(block.data()) : nullptr, static_cast<DWORD>(block.size()));
  LogViolations(*provider);  // also one being added, not yet among the providers
  if (rc >= 0) r.out = {std::move(block)};
  return rc;
}

LONG ServiceCore::State::AddProviderBegin(Request& r) {
  std::optional<std::u16string> fileText = r.in->text();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!fileText || fileText->empty() || fileText->find(u'\0') != std::u16string::npos) {
    Refuse(r.client, "AddProviderBegin: no plug-in file named");
    return LINEERR_INVALPARAM;
  }
  const std::string file = platform::wideToUtf8(*fileText);
  if (auto earlier = adding.find(r.client); earlier != adding.end()) {
    log(Who(r.client) + ": began adding another plug-in: " + Name(earlier->second) + " not added");
    adding.erase(earlier);
  }
  uint32_t id = NextListedId();
  for (const tapihost::ProviderListEntry& entry : tapihost::ReadProviderList(nullptr)) {
    if (SamePlugin(entry.filename, file)) {
      log(Who(r.client) + ": adding " + file + " refused: provider " + std::to_string(entry.permanentProviderId) +
          " is that plug-in already");
      return LINEERR_NOMULTIPLEINSTANCE;
    }
    id = std::max(id, entry.permanentProviderId + 1);
  }
  for (const auto& [client, p] : adding) {
    if (SamePlugin(p.file, file)) {
      log(Who(r.client) + ": adding " + file + " refused: " + Who(client) + " is adding it");
      return LINEERR_NOMULTIPLEINSTANCE;
    }
    id = std::max(id, p.permanentId + 1);
  }
  for (const Provider& p : providers) id = std::max(id, p.permanentId + 1);  // also removed ones
  std::string error;
  std::optional<Provider> p = LoadProvider(id, file, &error);
  if (!p) {
    log(Who(r.client) + ": adding " + file + " failed: " + error);
    return LINEERR_OPERATIONFAILED;
  }
  std::u16string module;
  const LONG identified = UiModuleOf(*p, &module);
  LogViolations(*p);
  if (LONG rc = identified; rc != 0) {
    log(Who(r.client) + ": adding " + file + " failed: TSPI_providerUIIdentify returned an error");
    return rc;
  }
  log(Who(r.client) + ": adding " + Name(*p) + ", " + Text(module));
  adding.emplace(r.client, std::move(*p));
  r.out = {id, module};
  return 0;
}

LONG ServiceCore::State::AddProviderFinish(Request& r) {
  const uint32_t id = r.in->u32();
  const auto installResult = static_cast<LONG>(r.in->u32());
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  auto it = adding.find(r.client);
  if (it == adding.end() || it->second.permanentId != id) {
    Refuse(r.client, "AddProviderFinish: the client is not adding provider " + std::to_string(id));
    return LINEERR_INVALPARAM;
  }
  Provider p = std::move(it->second);
  adding.erase(it);
  const std::string name = Name(p);
  if (installResult != 0) {
    log(Who(r.client) + ": " + name + " not added: its install dialog returned " + Hex(installResult));
    return 0;
  }
  std::string error;
  const uint32_t listed = tapihost::AddProvider(p.file, &error);
  if (listed != id) {
    if (listed != 0) tapihost::RemoveProvider(listed);
    log(Who(r.client) + ": " + name + " not added: " +
        (listed == 0 ? "the provider list cannot be written: " + error
                     : std::string("the provider list changed meanwhile (it gave ID ") + std::to_string(listed) + ")"));
    return LINEERR_OPERATIONFAILED;
  }
  const std::optional<size_t> index = RunProvider(std::move(p));
  if (!index) {
    tapihost::RemoveProvider(id);
    log(Who(r.client) + ": " + name + " not added: it did not start");
    return LINEERR_OPERATIONFAILED;
  }
  log(Who(r.client) + ": added " + name);
  for (uint32_t global : providers[*index].globalOf) Broadcast(LINE_CREATE, global);
  return 0;
}

LONG ServiceCore::State::RemoveProvider(Request& r) {
  const uint32_t id = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  for (size_t i = 0; i < providers.size(); ++i) {
    if (!providers[i].running || providers[i].permanentId != id) continue;
    log(Who(r.client) + ": removes " + Name(providers[i]));
    RetireProvider(i);
    std::string error;
    if (!tapihost::RemoveProvider(id, &error)) {
      log(Name(providers[i]) + ": not in the provider list any more" + (error.empty() ? "" : ": " + error));
    }
    return 0;
  }
  Refuse(r.client, "RemoveProvider: no provider " + std::to_string(id) + " runs");
  return LINEERR_INVALPARAM;
}

void ServiceCore::State::RetireProvider(size_t index) {
  std::vector<uint32_t> gone;
  // Also run once more after the last events were read, for a line the
  // provider announced meanwhile.
  auto closeDevices = [&] {
    for (uint32_t global : providers[index].globalOf) {
      if (devices[global].removed) continue;
      for (HLINE h : devices[global].opens) {
        const LineOpen& open = lines.at(h);
        tapiwire::EventMessage e;
        e.hDevice = h;
        e.messageId = LINE_CLOSE;
        e.callbackInstance = open.callbackInstance;
        SendEvent(open.client, e);
      }
      ForceCloseDevice(global);
      devices[global].removed = true;
      gone.push_back(global);
    }
  };
  closeDevices();
  // Closing the lines completes what they had outstanding; what the provider
  // does not complete in time is answered for it.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStopCloseWaitMs);
  auto outstanding = [&] {
    for (const auto& entry : pending) {
      if (entry.first.first == index) return std::optional<DRV_REQUESTID>(entry.first.second);
    }
    return std::optional<DRV_REQUESTID>();
  };
  for (std::optional<DRV_REQUESTID> id = outstanding(); id; id = outstanding()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    providers[index].host->WaitCompletion(*id, static_cast<uint32_t>(left));
    ReadProviderEvents();
  }
  for (auto it = pending.begin(); it != pending.end();) {
    if (it->first.first != index) {
      ++it;
      continue;
    }
    tapiwire::EventMessage e;
    e.messageId = LINE_REPLY;
    e.param1 = it->second.appRequestId;
    e.param2 = static_cast<DWORD>(LINEERR_OPERATIONFAILED);
    if (clients.count(it->second.client)) SendEvent(it->second.client, e);
    log(Who(it->second.client) + ": request " + std::to_string(it->second.appRequestId) +
        " not completed by the provider before its removal: LINEERR_OPERATIONFAILED");
    if (!it->second.buffer.empty()) orphanBuffers.push_back(std::move(it->second.buffer));
    for (std::vector<uint8_t>& kept : it->second.keep) orphanBuffers.push_back(std::move(kept));
    it = pending.erase(it);
  }
  ReadProviderEvents();
  closeDevices();
  Provider& p = providers[index];
  p.running = false;
  const LONG rc = p.host->Stop();
  p.host->SetEventNotifier({});
  LogViolations(p);
  log(Name(p) + (rc == 0 ? std::string(": stopped") : ": TSPI_providerShutdown failed with " + Hex(rc)));
  // The plug-in is unloaded, so it may be added again in this run; one
  // that refused to shut down stays loaded (its threads may still run).
  if (rc == 0) {
    p.calls.reset();
    p.host.reset();
  }
  for (uint32_t global : gone) Broadcast(LINE_REMOVE, global);
}

}  // namespace tapisrv
