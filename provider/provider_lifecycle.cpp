#include "provider/provider_lifecycle.h"

#include <new>

#include "provider/config_store.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

ProviderLifecycle::ProviderLifecycle(CCritSec& lock, LinkInterface& link, CAsyncComplEvent2Tapi& events,
                                     ConfigTables& config, DeviceTable& devices, const LineDirectory& directory,
                                     ProviderSession& session)
    : lock_(lock),
      link_(link),
      events_(events),
      config_(config),
      devices_(devices),
      directory_(directory),
      session_(session) {}

LONG ProviderLifecycle::EnumDevices(DWORD permanentProviderId, LPDWORD numLines, LPDWORD numPhones,
                                    HPROVIDER provider, LINEEVENT lineCreateProc) {
  ScopedLock lock(&lock_);
  session_.permanentProviderId = permanentProviderId;
  session_.lineCreateProc = lineCreateProc;
  session_.providerHandle = provider;
  ReloadConfiguration();
  if (numLines) *numLines = static_cast<DWORD>(config_.InUseCount());
  if (numPhones) *numPhones = ReadNumPhones(session_.permanentProviderId);
  return 0;
}

LONG ProviderLifecycle::Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase,
                             DWORD_PTR numLines, ASYNC_COMPLETION completionProc, LPDWORD tspiOptions) {
  if (tspiOptions) *tspiOptions = LINETSPIOPTION_NONREENTRANT;
  ScopedLock lock(&lock_);
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (session_.initCount > 0) {
    if (permanentProviderId != session_.permanentProviderId) return LINEERR_NOMULTIPLEINSTANCE;
    ++session_.initCount;
    return 0;
  }
  if (!events_.bInitialize(completionProc)) return LINEERR_OPERATIONFAILED;
  uint32_t status = 0;
  if (link_.Load(&status) != 0) {
    events_.Stop();
    return LINEERR_NODRIVER;
  }
  session_.permanentProviderId = permanentProviderId;
  session_.tspiVersion = tspiVersion;
  try {
    ReloadConfiguration();
    uint32_t lines = numLines > kMaxLines ? static_cast<uint32_t>(kMaxLines) : static_cast<uint32_t>(numLines);
    devices_.Build(lineDeviceIdBase, lines, config_);
  } catch (const std::bad_alloc&) {
    // Not started after all: undone as a shut-down undoes it.
    link_.Unload();
    events_.Stop();
    return LINEERR_NOMEM;
  }
  ++session_.initCount;
  return 0;
}

LONG ProviderLifecycle::Shutdown(DWORD tspiVersion, DWORD) {
  ScopedLock lock(&lock_);
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (session_.initCount == 0) return LINEERR_OPERATIONFAILED;
  if (--session_.initCount == 0) {
    // The link interface thread queues events too, so it ends first.
    link_.Unload();
    events_.Stop();
    session_.lineCreateProc = nullptr;
  }
  return 0;
}

LONG ProviderLifecycle::CreateLineDevice(DWORD_PTR tempId, DWORD deviceId) {
  ScopedLock lock(&lock_);
  return devices_.BindTempId(static_cast<int64_t>(tempId), deviceId) ? 0 : LINEERR_OPERATIONFAILED;
}

LONG ProviderLifecycle::NegotiateTspiVersion(DWORD deviceId, DWORD lowVersion, DWORD highVersion,
                                             LPDWORD tspiVersion) {
  if (deviceId != 0xFFFFFFFF) {
    ScopedLock lock(&lock_);
    if (!directory_.LineIndexOf(deviceId)) return LINEERR_BADDEVICEID;
  }
  if (!tspiVersion) return LINEERR_INVALPOINTER;
  *tspiVersion = kTspiVersionLow;
  if (lowVersion > kTspiVersionHigh || highVersion < kTspiVersionLow) return LINEERR_INCOMPATIBLEAPIVERSION;
  *tspiVersion = highVersion < kTspiVersionHigh ? highVersion : kTspiVersionHigh;
  return 0;
}

void ProviderLifecycle::ReloadConfiguration() { LoadConfiguration(config_, session_.permanentProviderId); }

void ProviderLifecycle::SaveAndRebuildDevices() {
  SaveConfiguration(config_, session_.permanentProviderId);
  DeviceTable::Changes changes = devices_.Rebuild(config_);
  const LINEEVENT lineCreateProc = session_.lineCreateProc;
  if (lineCreateProc && session_.tspiVersion > kTspiVersionLow) {
    for (int64_t tempId : changes.newTempIds)
      events_.QueueEvent(nullptr, lineCreateProc, nullptr, nullptr, LINE_CREATE,
                         reinterpret_cast<DWORD_PTR>(session_.providerHandle), static_cast<DWORD_PTR>(tempId), 0);
  }
  // LINE_REMOVE goes through the provider's own event callback: the removed
  // device may be closed and have no line callback.
  if (lineCreateProc && session_.tspiVersion >= kTspiVersionHigh) {
    for (uint32_t deviceId : changes.removedDeviceIds)
      events_.QueueEvent(nullptr, lineCreateProc, nullptr, nullptr, LINE_REMOVE, deviceId, 0, 0);
  }
}

}  // namespace kvarsp
