#include "provider/provider.h"

#include <new>

#include "provider/config_store.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

Provider::Provider(LinkInterface& link, platform::Clock& clock, std::function<void(uint32_t)> sleep)
    : link_(link), clock_(clock), events_(clock, std::move(sleep)), calls_(events_, *this, clock) {}

LONG Provider::EnumDevices(DWORD permanentProviderId, LPDWORD numLines, LPDWORD numPhones, HPROVIDER provider,
                           LINEEVENT lineCreateProc) {
  ScopedLock lock(&lock_);
  permanentProviderId_ = permanentProviderId;
  lineCreateProc_ = lineCreateProc;
  providerHandle_ = provider;
  ReloadConfiguration();
  if (numLines) *numLines = static_cast<DWORD>(config_.InUseCount());
  if (numPhones) *numPhones = ReadNumPhones(permanentProviderId_);
  return 0;
}

LONG Provider::Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD_PTR numLines,
                    ASYNC_COMPLETION completionProc, LPDWORD tspiOptions) {
  if (tspiOptions) *tspiOptions = LINETSPIOPTION_NONREENTRANT;
  ScopedLock lock(&lock_);
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (initCount_ > 0) {
    if (permanentProviderId != permanentProviderId_) return LINEERR_NOMULTIPLEINSTANCE;
    ++initCount_;
    return 0;
  }
  if (!events_.bInitialize(completionProc)) return LINEERR_OPERATIONFAILED;
  uint32_t status = 0;
  if (link_.Load(&status) != 0) {
    events_.Stop();
    return LINEERR_NODRIVER;
  }
  permanentProviderId_ = permanentProviderId;
  providerTspiVersion_ = tspiVersion;
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
  ++initCount_;
  return 0;
}

LONG Provider::Shutdown(DWORD tspiVersion, DWORD) {
  ScopedLock lock(&lock_);
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (initCount_ == 0) return LINEERR_OPERATIONFAILED;
  if (--initCount_ == 0) {
    // The link interface thread queues events too, so it ends first.
    link_.Unload();
    events_.Stop();
    lineCreateProc_ = nullptr;
  }
  return 0;
}

LONG Provider::CreateLineDevice(DWORD_PTR tempId, DWORD deviceId) {
  ScopedLock lock(&lock_);
  return devices_.BindTempId(static_cast<int64_t>(tempId), deviceId) ? 0 : LINEERR_OPERATIONFAILED;
}

LONG Provider::NegotiateTspiVersion(DWORD deviceId, DWORD lowVersion, DWORD highVersion, LPDWORD tspiVersion) {
  if (deviceId != 0xFFFFFFFF) {
    ScopedLock lock(&lock_);
    if (!LineIndexOf(deviceId)) return LINEERR_BADDEVICEID;
  }
  if (!tspiVersion) return LINEERR_INVALPOINTER;
  *tspiVersion = kTspiVersionLow;
  if (lowVersion > kTspiVersionHigh || highVersion < kTspiVersionLow) return LINEERR_INCOMPATIBLEAPIVERSION;
  *tspiVersion = highVersion < kTspiVersionHigh ? highVersion : kTspiVersionHigh;
  return 0;
}

LONG Provider::GenericDialogData(DWORD_PTR, DWORD, LPVOID params, DWORD size) {
  // The block is read and written in place; a shorter one would be overrun.
  if (!params || size < sizeof(UiRequestBlock)) return LINEERR_INVALPARAM;
  HandleUiRequest(*static_cast<UiRequestBlock*>(params));
  return 0;
}

uint32_t Provider::AddressCount(uint32_t deviceId) const {
  auto index = LineIndexOf(deviceId);
  return index ? config_.AddressCount(*index) : 0;
}

std::optional<uint32_t> Provider::MatchAddress(uint32_t deviceId, std::u16string_view number) const {
  auto index = LineIndexOf(deviceId);
  if (!index) return std::nullopt;
  int match = config_.MatchAddress(*index, number);
  if (match < 0) return std::nullopt;
  return static_cast<uint32_t>(match);
}

std::optional<uint16_t> Provider::PbxLineIdOf(uint32_t deviceId) const {
  auto index = LineIndexOf(deviceId);
  if (!index) return std::nullopt;
  return config_.lines[*index].pbxLineId;
}

void Provider::ReloadConfiguration() { LoadConfiguration(config_, permanentProviderId_); }

void Provider::SaveAndRebuildDevices() {
  SaveConfiguration(config_, permanentProviderId_);
  DeviceTable::Changes changes = devices_.Rebuild(config_);
  if (lineCreateProc_ && providerTspiVersion_ > kTspiVersionLow) {
    for (int64_t tempId : changes.newTempIds)
      events_.QueueEvent(nullptr, lineCreateProc_, nullptr, nullptr, LINE_CREATE,
                         reinterpret_cast<DWORD_PTR>(providerHandle_), static_cast<DWORD_PTR>(tempId), 0);
  }
  // LINE_REMOVE goes through the provider's own event callback: the removed
  // device may be closed and have no line callback.
  if (lineCreateProc_ && providerTspiVersion_ >= kTspiVersionHigh) {
    for (uint32_t deviceId : changes.removedDeviceIds)
      events_.QueueEvent(nullptr, lineCreateProc_, nullptr, nullptr, LINE_REMOVE, deviceId, 0, 0);
  }
}

}  // namespace kvarsp
