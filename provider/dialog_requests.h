#pragma once
// The configuration dialog's requests, as they arrive through
// TSPI_providerGenericDialogData in a UiRequestBlock: they read and change
// the configuration tables and the stored settings, load and unload the
// layer-2 link, start and end the link and read the exchange's address list
// (those wait with the provider lock handed back), and reload or save the
// configuration through the lifecycle. Runs on TAPI's threads and takes the
// provider lock itself.
#include <cstdint>

#include "common/sync.h"
#include "platform/clock.h"
#include "provider/call_model.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/provider_lifecycle.h"
#include "provider/provider_state.h"
#include "provider/ui_request_block.h"
#include "tapi/tspi.h"

namespace kvarsp {

class DialogRequests {
 public:
  DialogRequests(CCritSec& lock, LinkInterface& link, ConfigTables& config, const CallModel& calls,
                 const LineDirectory& directory, ProviderSession& session, ProviderLifecycle& lifecycle,
                 platform::Clock& clock);
  DialogRequests(const DialogRequests&) = delete;
  DialogRequests& operator=(const DialogRequests&) = delete;

  // TSPI_providerGenericDialogData: the block is read and written in place.
  LONG GenericDialogData(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size);
  // One request on a block (the provider lock is taken inside).
  void HandleUiRequest(UiRequestBlock& block);

 private:
  CCritSec& lock_;
  LinkInterface& link_;
  ConfigTables& config_;
  const CallModel& calls_;
  const LineDirectory& directory_;
  ProviderSession& session_;
  ProviderLifecycle& lifecycle_;
  platform::Clock& clock_;
  uint32_t configurationOpen_ = 0;  // the dialog's lock on the configuration
};

}  // namespace kvarsp
