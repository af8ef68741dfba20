#pragma once
// The small pieces of provider state that several parts of the provider
// share besides the lock, the configuration, the device table, the event
// queue and the call model:
// - ProviderSession: who TAPI started the provider as (permanent provider
//   ID, TSPI version, how often it was initialised, where LINE_CREATE goes);
//   written by the lifecycle and the dialog's requests, read by the others.
// - LineDirectory: device IDs to line-table entries over the configuration
//   and the device table (read only); it answers the call model's questions
//   about a device's addresses.
// Neither owns a thread or takes a lock: the caller holds the provider lock.
#include <cstdint>
#include <optional>
#include <string_view>

#include "provider/call_model.h"
#include "provider/device_table.h"
#include "provider/line_config.h"
#include "tapi/tspi.h"

namespace kvarsp {

struct ProviderSession {
  int initCount = 0;
  uint32_t permanentProviderId = 0;
  uint32_t tspiVersion = 0;
  LINEEVENT lineCreateProc = nullptr;
  HPROVIDER providerHandle = nullptr;
};

class LineDirectory : public LineAddresses {
 public:
  LineDirectory(const ConfigTables& config, const DeviceTable& devices) : config_(config), devices_(devices) {}

  // Device ID to line-table index; nullopt for an invalid device ID.
  std::optional<size_t> LineIndexOf(uint32_t deviceId) const { return devices_.LineIndexOf(deviceId, config_); }
  // The PBX line ID of a device; nullopt for an invalid device ID.
  std::optional<uint16_t> PbxLineIdOf(uint32_t deviceId) const;
  // The configured hands-free mode of a device's line; nullopt for an
  // invalid device ID.
  std::optional<uint8_t> HandsfreeModeOf(uint32_t deviceId) const;

  // LineAddresses
  uint32_t AddressCount(uint32_t deviceId) const override;
  std::optional<uint32_t> MatchAddress(uint32_t deviceId, std::u16string_view number) const override;

 private:
  const ConfigTables& config_;
  const DeviceTable& devices_;
};

}  // namespace kvarsp
