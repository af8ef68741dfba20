// The providers of TAPI's provider list, each in a TelephonyHost of its own,
// and the global line device numbers: the devices of the providers in list
// order from 0, each LINE_CREATE adding the next number. A provider keeps its
// own numbering from 0; Device maps a global number to (provider, local).
//
// Provider events are read from each host's event log on the service thread
// (ProcessProviderEvents) and freed once read, so a service that runs for
// days does not grow with every event; every contract breach a host records
// is logged once and kept for Violations(). The stop waits (bounded) for
// outstanding requests, so each gets its LINE_REPLY, before the providers go
// down.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tapi/host/provider_list.h"
#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

std::string hex(LONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<DWORD>(value));
  return text;
}

std::string providerName(uint32_t id, const std::string& file) {
  return "provider " + std::to_string(id) + " (" + file + ")";
}

}  // namespace

size_t ServiceCore::State::StartProviders() {
  std::string problem;
  const std::vector<tapihost::ProviderListEntry> list = tapihost::ReadProviderList(&problem);
  if (!problem.empty()) log("provider list: " + problem);
  if (list.empty()) log("provider list: no provider installed");
  size_t started = 0;
  for (const tapihost::ProviderListEntry& entry : list) {
    std::string error;
    std::optional<Provider> p = LoadProvider(entry.permanentProviderId, entry.filename, &error);
    if (!p) {
      log(providerName(entry.permanentProviderId, entry.filename) + ": not started: " + error);
      continue;
    }
    if (RunProvider(std::move(*p))) ++started;
  }
  return started;
}

std::optional<Provider> ServiceCore::State::LoadProvider(uint32_t permanentId, const std::string& file,
                                                         std::string* error) {
  Provider p;
  p.permanentId = permanentId;
  p.file = file;
  p.host = std::make_unique<tapihost::TelephonyHost>();
  if (callLimitMs != 0) {
    if (!watchdog) watchdog = std::make_unique<tapihost::CallWatchdog>(log, callLimitMs);
    p.host->harness().watchCalls(watchdog.get(), providerName(permanentId, file));
  }
  // A host that cannot run beside the others says so at once.
  if (std::vector<std::string> refused = p.host->violations(); !refused.empty()) {
    *error = refused.front();
    return std::nullopt;
  }
  if (!p.host->Load(file, permanentId, error)) return std::nullopt;
  return p;
}

std::optional<size_t> ServiceCore::State::RunProvider(Provider p) {
  const std::string name = providerName(p.permanentId, p.file);
  if (wake) p.host->SetEventNotifier(wake);
  if (LONG rc = p.host->Start(); rc != 0) {
    p.host->SetEventNotifier({});
    for (const std::string& v : p.host->violations()) log(name + ": TSPI contract: " + v);
    log(name + ": not started: TSPI_providerEnumDevices or TSPI_providerInit failed with " + hex(rc));
    return std::nullopt;
  }
  p.calls = std::make_unique<tapihost::HostCalls>(*p.host);
  p.running = true;
  providers.push_back(std::move(p));
  const size_t index = providers.size() - 1;
  const uint32_t first = static_cast<uint32_t>(devices.size());
  const uint32_t count = providers[index].host->LineCount();
  for (uint32_t local = 0; local < count; ++local) AddDevice(index, local);
  log(name + ": started, " + std::to_string(count) + " line device(s)" +
      (count ? " (global IDs " + std::to_string(first) + ".." + std::to_string(first + count - 1) + ")" : ""));
  LogViolations(providers[index]);
  return index;
}

std::optional<uint32_t> ServiceCore::State::AddDevice(size_t provider, uint32_t local) {
  Provider& p = providers[provider];
  if (local < p.globalOf.size()) return std::nullopt;  // known already
  while (p.globalOf.size() <= local) {
    Device d;
    d.provider = provider;
    d.local = static_cast<uint32_t>(p.globalOf.size());
    p.globalOf.push_back(static_cast<uint32_t>(devices.size()));
    devices.push_back(d);
  }
  return p.globalOf[local];
}

Device* ServiceCore::State::DeviceOf(uint32_t globalId) {
  return globalId < devices.size() ? &devices[globalId] : nullptr;
}

std::optional<HDRVCALL> ServiceCore::State::HdCall(const CallKey& key) {
  std::optional<tapihost::HostCall> call = providers[key.provider].calls->Find(key.htCall);
  if (!call) return std::nullopt;
  return call->hdCall;
}

void ServiceCore::State::ReadProviderEvents() {
  DropStaleAdds();
  for (size_t i = 0; i < providers.size(); ++i) {
    if (!providers[i].running) continue;
    for (const tapihost::HostEvent& e : providers[i].host->EventsSince(providers[i].cursor)) HandleEvent(i, e);
    // The host keeps its events until they are freed: free what both its
    // readers, the core and the host's call tracker, have read.
    Provider& p = providers[i];
    if (p.host && p.calls) p.host->DiscardEventsBefore(std::min(p.cursor, p.calls->Refresh()));
    LogViolations(p);
  }
}

void ServiceCore::State::LogViolations(Provider& p) {
  if (!p.host) return;  // removed: its last breaches were logged then
  const std::vector<std::string> all = p.host->violations();
  for (size_t i = p.violationsSeen; i < all.size(); ++i) {
    const std::string line = "provider " + std::to_string(p.permanentId) + ": TSPI contract: " + all[i];
    log(line);
    violations.push_back(line);
  }
  p.violationsSeen = all.size();
}

void ServiceCore::State::LogViolationsOfAll() {
  for (Provider& p : providers) LogViolations(p);
}

void ServiceCore::State::WaitPending(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ReadProviderEvents();
    if (pending.empty()) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return;
    const auto [provider, requestId] = pending.begin()->first;
    providers[provider].host->WaitCompletion(requestId, static_cast<uint32_t>(left));
  }
}

void ServiceCore::State::StopProviders() {
  if (stopped) return;
  stopped = true;
  WaitPending(stopWaitMs);
  // Every application learns that its lines go.
  for (const auto& [h, open] : lines) {
    tapiwire::EventMessage e;
    e.hDevice = h;
    e.messageId = LINE_LINEDEVSTATE;
    e.callbackInstance = open.callbackInstance;
    e.param1 = LINEDEVSTATE_REINIT;
    SendEvent(open.client, e);
  }
  for (Device& d : devices) {
    if (d.opens.empty() || !providers[d.provider].running) continue;
    HostOf(d).CloseLine(d.local);
    CallsOf(d).ForgetLine(d.local);
    d.opens.clear();
  }
  lines.clear();
  callHandles.clear();
  calls.clear();
  // Closing a line completes what it still had outstanding.
  WaitPending(kStopCloseWaitMs);
  for (auto& [key, p] : pending) {
    tapiwire::EventMessage e;
    e.messageId = LINE_REPLY;
    e.param1 = p.appRequestId;
    e.param2 = static_cast<DWORD>(LINEERR_OPERATIONFAILED);
    if (clients.count(p.client)) SendEvent(p.client, e);
    log(Who(p.client) + ": request " + std::to_string(p.appRequestId) + " (" +
        tapiwire::functionName(static_cast<uint32_t>(p.function)) +
        ") not completed by the provider in time: LINEERR_OPERATIONFAILED");
    if (!p.buffer.empty()) orphanBuffers.push_back(std::move(p.buffer));
  }
  pending.clear();
  StopHosts(false);
  for (const auto& [client, c] : clients) sink.Disconnect(client);
  clients.clear();
  apps.clear();
}

void ServiceCore::State::StopHosts(bool quiet) {
  for (Provider& p : providers) {
    if (!p.running) continue;
    p.running = false;
    const LONG rc = p.host->Stop();
    p.host->SetEventNotifier({});
    if (quiet) continue;
    LogViolations(p);
    log(providerName(p.permanentId, p.file) +
        (rc == 0 ? std::string(": stopped") : ": TSPI_providerShutdown failed with " + hex(rc)));
  }
}

}  // namespace tapisrv

namespace tapisrv {

void ServiceCore::State::Fault(size_t provider, const std::string& what) {
  const std::string line = "provider " + std::to_string(providers[provider].permanentId) + ": TSPI contract: " + what;
  log(line);
  violations.push_back(line);
}

}  // namespace tapisrv
