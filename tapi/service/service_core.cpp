// ServiceCore's methods: each hands over to the core's state
// (service_state.h), whose parts live in the service_*.cpp files.
#include "tapi/service/service_core.h"

#include "tapi/service/service_state.h"

namespace tapisrv {

ServiceCore::ServiceCore(ClientSink& sink, ServiceLog log, std::function<void()> wake)
    : state_(std::make_unique<State>(sink, std::move(log), std::move(wake))) {}

ServiceCore::~ServiceCore() { state_->StopHosts(true); }

size_t ServiceCore::StartProviders() { return state_->StartProviders(); }

void ServiceCore::StopProviders() { state_->StopProviders(); }

void ServiceCore::SetStopWaitMs(uint32_t ms) { state_->stopWaitMs = ms; }

void ServiceCore::SetCallLimitMs(uint32_t ms) { state_->callLimitMs = ms; }

void ServiceCore::OnConnect(ClientId client, uint32_t processId) {
  Client c;
  c.pid = processId;
  state_->clients[client] = c;
  state_->log(state_->Who(client) + ": connected");
}

void ServiceCore::OnMessage(ClientId client, std::span<const uint8_t> message) {
  state_->OnMessage(client, message);
  state_->LogViolationsOfAll();
}

void ServiceCore::OnDisconnect(ClientId client) { state_->OnDisconnect(client); }

void ServiceCore::ProcessProviderEvents() { state_->ReadProviderEvents(); }

uint32_t ServiceCore::LineCount() const { return static_cast<uint32_t>(state_->devices.size()); }

ServiceCore::Census ServiceCore::Count() const {
  Census c;
  c.clients = state_->clients.size();
  c.apps = state_->apps.size();
  c.lineOpens = state_->lines.size();
  c.callHandles = state_->callHandles.size();
  c.calls = state_->calls.size();
  c.pending = state_->pending.size();
  return c;
}

std::vector<std::string> ServiceCore::Violations() const {
  state_->LogViolationsOfAll();
  return state_->violations;
}

}  // namespace tapisrv
