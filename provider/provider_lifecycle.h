#pragma once
// The provider's life toward TAPI: device enumeration, start-up (counted:
// the first TSPI_providerInit loads the layer-2 link and builds the device
// table), shut-down (the last one unloads the link and stops the event
// queue), line device creation, version negotiation, and the configuration
// reload and save that also announce new and removed line devices. Runs on
// TAPI's threads; every operation takes the provider lock itself except
// ReloadConfiguration and SaveAndRebuildDevices, whose caller holds it.
#include <cstdint>

#include "common/sync.h"
#include "provider/device_table.h"
#include "provider/event_queue.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/provider_state.h"
#include "tapi/tspi.h"

namespace kvarsp {

class ProviderLifecycle {
 public:
  ProviderLifecycle(CCritSec& lock, LinkInterface& link, CAsyncComplEvent2Tapi& events, ConfigTables& config,
                    DeviceTable& devices, const LineDirectory& directory, ProviderSession& session);
  ProviderLifecycle(const ProviderLifecycle&) = delete;
  ProviderLifecycle& operator=(const ProviderLifecycle&) = delete;

  LONG EnumDevices(DWORD permanentProviderId, LPDWORD numLines, LPDWORD numPhones, HPROVIDER provider,
                   LINEEVENT lineCreateProc);
  LONG Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD_PTR numLines,
            ASYNC_COMPLETION completionProc, LPDWORD tspiOptions);
  LONG Shutdown(DWORD tspiVersion, DWORD permanentProviderId);
  LONG CreateLineDevice(DWORD_PTR tempId, DWORD deviceId);
  LONG NegotiateTspiVersion(DWORD deviceId, DWORD lowVersion, DWORD highVersion, LPDWORD tspiVersion);

  // Under the provider lock: reads the configuration of the current
  // permanent provider ID again.
  void ReloadConfiguration();
  // Under the provider lock: saves the configuration, rebuilds the device
  // table and announces the changes (LINE_CREATE, LINE_REMOVE) as far as the
  // negotiated TSPI version has them.
  void SaveAndRebuildDevices();

 private:
  CCritSec& lock_;
  LinkInterface& link_;
  CAsyncComplEvent2Tapi& events_;
  ConfigTables& config_;
  DeviceTable& devices_;
  const LineDirectory& directory_;
  ProviderSession& session_;
};

}  // namespace kvarsp
