#pragma once
// The provider assembled from its parts over one LinkInterface:
// - ProviderState: what the parts share, constructed once (the provider
//   lock, the event queue, the configuration tables, the device table, the
//   session, the line directory and the call model);
// - ProviderLifecycle, LineOperations, CallOperations, ServiceOperations and
//   DialogRequests: the TSPI operations by concern, each given exactly the
//   pieces it uses.
// The TSPI exports call the parts; the protocol client attaches to the
// state's lock, configuration and call model. Nothing here owns a thread but
// the event queue's delivery thread, which the owner stops (events.Stop())
// before the link and the state go.
#include <cstdint>
#include <functional>

#include "common/sync.h"
#include "platform/clock.h"
#include "provider/call_model.h"
#include "provider/call_operations.h"
#include "provider/device_table.h"
#include "provider/dialog_requests.h"
#include "provider/event_queue.h"
#include "provider/line_config.h"
#include "provider/line_operations.h"
#include "provider/link_interface.h"
#include "provider/provider_lifecycle.h"
#include "provider/provider_state.h"
#include "provider/service_ops.h"

namespace kvarsp {

struct ProviderState {
  ProviderState(platform::Clock& clock, std::function<void(uint32_t)> sleep)
      : clock(clock), events(clock, std::move(sleep)), directory(config, devices), calls(events, directory, clock) {}
  ProviderState(const ProviderState&) = delete;
  ProviderState& operator=(const ProviderState&) = delete;

  platform::Clock& clock;
  CCritSec lock;
  CAsyncComplEvent2Tapi events;
  ConfigTables config;
  DeviceTable devices;
  ProviderSession session;
  LineDirectory directory;
  CallModel calls;
};

struct Provider {
  explicit Provider(LinkInterface& link, platform::Clock& clock = platform::systemClock(),
                    std::function<void(uint32_t)> sleep = platform::sleepMs)
      : state(clock, std::move(sleep)),
        lifecycle(state.lock, link, state.events, state.config, state.devices, state.directory, state.session),
        lineOps(state.lock, link, state.calls, state.events, state.config, state.directory, state.session),
        callOps(state.lock, link, state.calls, state.events, state.directory),
        services(state.lock, link, state.calls, state.directory),
        dialog(state.lock, link, state.config, state.calls, state.directory, state.session, lifecycle, clock) {}
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  ProviderState state;
  ProviderLifecycle lifecycle;
  LineOperations lineOps;
  CallOperations callOps;
  ServiceOperations services;
  DialogRequests dialog;
};

}  // namespace kvarsp
