// Provider events to the applications they concern, on the service thread:
//   - a completion becomes the LINE_REPLY of the application that asked
//     (its own request ID; the park VARSTRING or dev-specific parameters
//     attached); a failed request that created a call takes the call away;
//   - LINE_NEWCALL gives the first OWNER open of the line (in lineOpen order)
//     an owner handle and every MONITOR open a monitor handle; each handle is
//     announced by the first LINE_CALLSTATE its application gets (dwParam3 =
//     the privilege, later 0);
//   - call events go to every application holding the call (hDevice = its
//     hCall, its open's callback instance); line events to every open of the
//     line (hDevice = its hLine), LINE_LINEDEVSTATE and LINE_ADDRESSSTATE
//     through each open's status message masks;
//   - LINE_CREATE gives the new device the next global ID and tells every
//     application; LINE_REMOVE likewise.
// A call nobody holds is closed with the provider once it is idle.
#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

constexpr DWORD kAlwaysLineStates = LINEDEVSTATE_REINIT | LINEDEVSTATE_TRANSLATECHANGE | LINEDEVSTATE_REMOVED;

// The application's message for a provider's call or line message; 0 for
// one the applications do not see.
DWORD AppMessage(DWORD msg) {
  if (msg == LINE_CALLDEVSPECIFIC) return LINE_DEVSPECIFIC;
  if (msg == LINE_CALLDEVSPECIFICFEATURE) return LINE_DEVSPECIFICFEATURE;
  if (msg >= TSPI_MESSAGE_BASE || msg == LINE_REPLY || msg == LINE_CREATE || msg == LINE_REMOVE) return 0;
  return msg;
}

}  // namespace

void ServiceCore::State::HandleEvent(size_t provider, const tapihost::HostEvent& e) {
  using Kind = tapihost::HostEvent::Kind;
  if (e.kind == Kind::Completion) {
    Complete(provider, e.requestId, e.result);
    return;
  }
  if (!e.deviceId) return;  // the host recorded it as a breach, or the device was not created
  const std::vector<uint32_t>& globalOf = providers[provider].globalOf;
  if (e.kind == Kind::LineCreate) {
    if (e.msg == LINE_CREATE) {
      if (std::optional<uint32_t> global = AddDevice(provider, *e.deviceId)) {
        log("provider " + std::to_string(providers[provider].permanentId) + ": new line device, global ID " +
            std::to_string(*global));
        Broadcast(LINE_CREATE, *global);
      }
    } else if (e.msg == LINE_REMOVE && *e.deviceId < globalOf.size()) {
      const uint32_t global = globalOf[*e.deviceId];
      if (devices[global].removed) return;
      ForceCloseDevice(global);
      devices[global].removed = true;
      Broadcast(LINE_REMOVE, global);
    }
    return;
  }
  if (*e.deviceId >= globalOf.size()) return;
  const uint32_t device = globalOf[*e.deviceId];
  if (e.msg == LINE_NEWCALL) {
    NewCall(provider, device, e.newHtCall);
  } else if (e.htCall) {
    CallEvent(provider, e);
  } else {
    LineEvent(device, e);
  }
}

void ServiceCore::State::Complete(size_t provider, DRV_REQUESTID id, LONG result) {
  auto it = pending.find({provider, id});
  if (it == pending.end()) return;  // the host's own request
  Pending p = std::move(it->second);
  pending.erase(it);
  if (p.createdCall && result != 0) {
    // The provider deleted the call: the handle the reply gave goes, and so
    // do the handles nobody has heard of yet.
    if (auto call = calls.find(*p.createdCall); call != calls.end()) {
      for (HCALL h : std::vector<HCALL>(call->second.handles)) {
        if (h == p.createdHandle || !callHandles.at(h).announced) RemoveCallHandle(h);
      }
      call->second.state = LINECALLSTATE_IDLE;
      call->second.monitorsPending = false;
      if (call->second.handles.empty()) calls.erase(call);
    }
  }
  if (p.createdCall && result == 0) {
    // Made for an application that went meanwhile, with nobody to take it over.
    auto call = calls.find(*p.createdCall);
    if (call != calls.end() && !call->second.dropped && CountPrivilege(call->second, LINECALLPRIVILEGE_OWNER) == 0) {
      call->second.dropped = providers[provider].calls->Drop(p.createdCall->htCall).accepted();
    }
  }
  if (!AppOf(p.client)) return;  // the application has gone
  tapiwire::EventMessage e;
  e.messageId = LINE_REPLY;
  e.param1 = p.appRequestId;
  e.param2 = static_cast<DWORD>(result);
  if (p.attach && result == 0) e.attachment = std::move(p.buffer);
  SendEvent(p.client, std::move(e));
}

void ServiceCore::State::NewCall(size_t provider, uint32_t device, HTAPICALL htCall) {
  const CallKey key{provider, htCall};
  if (!htCall || calls.count(key)) return;
  Call call;
  call.device = device;
  calls[key] = call;
  for (HLINE h : devices[device].opens) {
    if (lines.at(h).privileges & LINECALLPRIVILEGE_OWNER) {
      AddCallHandle(key, h, LINECALLPRIVILEGE_OWNER, false);
      break;
    }
  }
  JoinMonitors(key, calls.at(key));
}

void ServiceCore::State::JoinMonitors(const CallKey& key, Call& call) {
  call.monitorsPending = false;
  for (HLINE h : devices[call.device].opens) {
    const LineOpen& open = lines.at(h);
    if (!(open.privileges & LINECALLPRIVILEGE_MONITOR)) continue;
    const bool holds = std::any_of(call.handles.begin(), call.handles.end(),
                                   [&](HCALL c) { return callHandles.at(c).client == open.client; });
    if (!holds) AddCallHandle(key, h, LINECALLPRIVILEGE_MONITOR, false);
  }
}

void ServiceCore::State::SendCallState(HCALL h, const Call& call) {
  CallHandle& handle = callHandles.at(h);
  tapiwire::EventMessage e;
  e.hDevice = h;
  e.messageId = LINE_CALLSTATE;
  e.callbackInstance = lines.at(handle.hLine).callbackInstance;
  e.param1 = call.state;
  e.param2 = call.stateMode;
  if (call.state == LINECALLSTATE_CONFERENCED) {
    // The provider names the conference call by its htCall: the application
    // gets its own handle on it (0 while it has none).
    e.param2 = 0;
    const CallKey conference{handle.call.provider, reinterpret_cast<HTAPICALL>(call.stateMode)};
    if (auto c = calls.find(conference); c != calls.end()) {
      for (HCALL other : c->second.handles) {
        if (callHandles.at(other).client == handle.client) e.param2 = other;
      }
    }
  }
  e.param3 = handle.announced ? 0 : handle.privilege;
  handle.announced = true;
  SendEvent(handle.client, e);
}

void ServiceCore::State::CallEvent(size_t provider, const tapihost::HostEvent& e) {
  const CallKey key{provider, e.htCall};
  auto it = calls.find(key);
  if (it == calls.end()) return;  // a call the service does not follow
  Call& call = it->second;
  if (call.monitorsPending) JoinMonitors(key, call);
  const DWORD msg = AppMessage(e.msg);
  if (e.msg == LINE_CALLSTATE) {
    call.state = static_cast<DWORD>(e.param1);
    call.stateMode = e.param2;
    for (HCALL h : call.handles) SendCallState(h, call);
    CloseIfDone(key);
    return;
  }
  if (msg == 0) return;
  for (HCALL h : call.handles) {
    const CallHandle& handle = callHandles.at(h);
    if (!handle.announced) continue;  // its application learns of the call with its first LINE_CALLSTATE
    tapiwire::EventMessage m;
    m.hDevice = h;
    m.messageId = msg;
    m.callbackInstance = lines.at(handle.hLine).callbackInstance;
    m.param1 = e.param1;
    m.param2 = e.param2;
    m.param3 = e.param3;
    SendEvent(handle.client, m);
  }
}

void ServiceCore::State::LineEvent(uint32_t device, const tapihost::HostEvent& e) {
  const DWORD msg = AppMessage(e.msg);
  if (msg == 0) return;
  for (HLINE h : devices[device].opens) {
    const LineOpen& open = lines.at(h);
    tapiwire::EventMessage m;
    m.hDevice = h;
    m.messageId = msg;
    m.callbackInstance = open.callbackInstance;
    m.param1 = e.param1;
    m.param2 = e.param2;
    m.param3 = e.param3;
    if (msg == LINE_LINEDEVSTATE) {
      m.param1 = e.param1 & (open.lineStates | kAlwaysLineStates);
      if (m.param1 == 0) continue;
    } else if (msg == LINE_ADDRESSSTATE) {
      m.param2 = e.param2 & open.addressStates;
      if (m.param2 == 0) continue;
    }
    SendEvent(open.client, m);
  }
  if (msg == LINE_CLOSE) ForceCloseDevice(device);
}

void ServiceCore::State::CloseIfDone(const CallKey& key) {
  auto it = calls.find(key);
  if (it == calls.end() || !it->second.handles.empty() || it->second.state != LINECALLSTATE_IDLE) return;
  calls.erase(it);
  if (providers[key.provider].running) providers[key.provider].calls->CloseCall(key.htCall);
}

void ServiceCore::State::Broadcast(DWORD msg, uint32_t deviceId) {
  for (const auto& [h, app] : apps) {
    tapiwire::EventMessage e;
    e.messageId = msg;
    e.param1 = deviceId;
    SendEvent(app.client, e);
  }
}

}  // namespace tapisrv
