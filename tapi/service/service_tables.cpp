// The handle tables: hLineApp, hLine and hCall come from one service-wide
// counter (never 0, never reused in a run), so a value names at most one
// thing of one client. A handle that is unknown and a handle of another
// client are refused alike, with a log line naming the asking client.
#include <algorithm>
#include <cstdio>

#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

}  // namespace

uint32_t ServiceCore::State::NewHandle() {
  const uint32_t h = nextHandle++;
  if (nextHandle == 0) nextHandle = kFirstHandle;  // after 4 billion handles; never 0
  return h;
}

std::string ServiceCore::State::Who(ClientId client) const {
  auto it = clients.find(client);
  const uint32_t pid = it == clients.end() ? 0 : it->second.pid;
  return "client " + std::to_string(client) + " (pid " + std::to_string(pid) + ")";
}

void ServiceCore::State::Refuse(ClientId client, const std::string& what) { log(Who(client) + ": refused " + what); }

App* ServiceCore::State::AppOf(ClientId client) {
  auto c = clients.find(client);
  if (c == clients.end() || c->second.app == 0) return nullptr;
  auto a = apps.find(c->second.app);
  return a == apps.end() ? nullptr : &a->second;
}

App* ServiceCore::State::FindApp(Request& r, HLINEAPP h) {
  auto it = apps.find(h);
  if (it != apps.end() && it->second.client == r.client) return &it->second;
  Refuse(r.client, tapiwire::functionName(static_cast<uint32_t>(r.function)) + ": hLineApp " + hex(h) +
                       (it == apps.end() ? " is unknown" : " is another client's"));
  return nullptr;
}

LineOpen* ServiceCore::State::FindLine(Request& r, HLINE h) {
  auto it = lines.find(h);
  if (it != lines.end() && it->second.client == r.client) return &it->second;
  Refuse(r.client, tapiwire::functionName(static_cast<uint32_t>(r.function)) + ": hLine " + hex(h) +
                       (it == lines.end() ? " is unknown" : " is another client's"));
  return nullptr;
}

CallHandle* ServiceCore::State::FindCall(Request& r, HCALL h) {
  auto it = callHandles.find(h);
  if (it != callHandles.end() && it->second.client == r.client) return &it->second;
  Refuse(r.client, tapiwire::functionName(static_cast<uint32_t>(r.function)) + ": hCall " + hex(h) +
                       (it == callHandles.end() ? " is unknown" : " is another client's"));
  return nullptr;
}

HCALL ServiceCore::State::AddCallHandle(const CallKey& key, HLINE hLine, DWORD privilege, bool announced) {
  const HCALL h = NewHandle();
  LineOpen& open = lines.at(hLine);
  CallHandle handle;
  handle.client = open.client;
  handle.call = key;
  handle.hLine = hLine;
  handle.privilege = privilege;
  handle.announced = announced;
  callHandles[h] = handle;
  open.calls.push_back(h);
  calls.at(key).handles.push_back(h);
  return h;
}

void ServiceCore::State::RemoveCallHandle(HCALL h) {
  auto it = callHandles.find(h);
  if (it == callHandles.end()) return;
  if (auto open = lines.find(it->second.hLine); open != lines.end()) std::erase(open->second.calls, h);
  if (auto call = calls.find(it->second.call); call != calls.end()) std::erase(call->second.handles, h);
  callHandles.erase(it);
}

size_t ServiceCore::State::CountPrivilege(const Call& call, DWORD privilege) const {
  return static_cast<size_t>(std::count_if(call.handles.begin(), call.handles.end(), [&](HCALL h) {
    auto it = callHandles.find(h);
    return it != callHandles.end() && it->second.privilege == privilege;
  }));
}

}  // namespace tapisrv
