// An application's lines and calls when it lets go of them: lineClose,
// lineShutdown, or the end of its connection (a dead process too).
//   - A call handle it owned alone, on a call that is not idle, goes to the
//     first other application with the line open with OWNER privilege (its
//     monitor handle becomes the owner's, or it gets a new one), announced
//     with LINE_CALLSTATE (current state, dwParam3 = OWNER); with no such
//     application the call is dropped and closed once idle (a call still
//     being made is dropped when its request completes).
//   - Its opens go; the last open of a line closes the provider's line, and
//     the provider gets the union of the remaining opens' status masks.
// Other applications see nothing of it beyond the hand-over.
#include <algorithm>

#include "tapi/service/service_state.h"

namespace tapisrv {

void ServiceCore::State::ReleaseCall(HCALL h) {
  const CallHandle handle = callHandles.at(h);
  const CallKey key = handle.call;
  Call& call = calls.at(key);
  const bool soleOwner = handle.privilege == LINECALLPRIVILEGE_OWNER &&
                         CountPrivilege(call, LINECALLPRIVILEGE_OWNER) == 1 && call.state != LINECALLSTATE_IDLE;
  RemoveCallHandle(h);
  if (soleOwner) {
    std::optional<HLINE> heir;
    for (HLINE open : devices[call.device].opens) {
      const LineOpen& o = lines.at(open);
      if (o.client != handle.client && (o.privileges & LINECALLPRIVILEGE_OWNER)) {
        heir = open;
        break;
      }
    }
    if (heir) {
      const ClientId heirClient = lines.at(*heir).client;
      auto held = std::find_if(call.handles.begin(), call.handles.end(),
                               [&](HCALL c) { return callHandles.at(c).client == heirClient; });
      HCALL next;
      if (held != call.handles.end()) {
        next = *held;
        callHandles.at(next).privilege = LINECALLPRIVILEGE_OWNER;
        callHandles.at(next).announced = false;
      } else {
        next = AddCallHandle(key, *heir, LINECALLPRIVILEGE_OWNER, false);
      }
      // A call still being set up is announced by its first state.
      if (call.state != 0) SendCallState(next, call);
    } else if (providers[key.provider].running) {
      // Nobody can take the call: it ends, and is closed once idle.
      call.dropped = providers[key.provider].calls->Drop(key.htCall).accepted();
    }
  }
  CloseIfDone(key);
}

void ServiceCore::State::CloseLine(HLINE h) {
  for (HCALL c : std::vector<HCALL>(lines.at(h).calls)) ReleaseCall(c);
  const LineOpen open = lines.at(h);
  Device& d = devices[open.device];
  std::erase(d.opens, h);
  if (App* app = AppOf(open.client)) std::erase(app->lines, h);
  lines.erase(h);
  if (!d.opens.empty()) {
    UpdateStatusMasks(open.device);
    return;
  }
  if (providers[d.provider].running) {
    HostOf(d).CloseLine(d.local);
    CallsOf(d).ForgetLine(d.local);
  }
  // Closing the line ends its calls with the provider.
  std::erase_if(calls, [&](const auto& entry) { return entry.second.device == open.device; });
}

void ServiceCore::State::ForceCloseDevice(uint32_t device) {
  Device& d = devices[device];
  for (HLINE h : std::vector<HLINE>(d.opens)) {
    for (HCALL c : std::vector<HCALL>(lines.at(h).calls)) RemoveCallHandle(c);
    if (App* app = AppOf(lines.at(h).client)) std::erase(app->lines, h);
    lines.erase(h);
  }
  const bool wasOpen = !d.opens.empty();
  d.opens.clear();
  if (wasOpen && providers[d.provider].running) {
    HostOf(d).CloseLine(d.local);
    CallsOf(d).ForgetLine(d.local);
  }
  std::erase_if(calls, [&](const auto& entry) { return entry.second.device == device; });
}

void ServiceCore::State::EndApp(HLINEAPP h) {
  const App& app = apps.at(h);
  const ClientId client = app.client;
  for (HLINE line : std::vector<HLINE>(app.lines)) CloseLine(line);
  apps.erase(h);
  if (auto c = clients.find(client); c != clients.end()) c->second.app = 0;
}

void ServiceCore::State::OnDisconnect(ClientId client) {
  auto it = clients.find(client);
  if (it == clients.end()) return;
  if (it->second.app != 0) EndApp(it->second.app);
  clients.erase(it);  // the server logs the end of the connection
  DropStaleAdds();    // a provider it was adding is unloaded at once
}

LONG ServiceCore::State::UpdateStatusMasks(uint32_t device) {
  Device& d = devices[device];
  DWORD lineStates = 0, addressStates = 0;
  for (HLINE h : d.opens) {
    lineStates |= lines.at(h).lineStates;
    addressStates |= lines.at(h).addressStates;
  }
  if (lineStates == d.lineStates && addressStates == d.addressStates) return 0;
  const std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineSetStatusMessages, *hdLine, lineStates, addressStates);
  if (rc == 0) {
    d.lineStates = lineStates;
    d.addressStates = addressStates;
  }
  return rc;
}

}  // namespace tapisrv
