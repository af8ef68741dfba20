#pragma once
// The device table: which TAPI line device ID (or, until TAPI assigns one,
// which temporary ID announced with LINE_CREATE) stands for which PBX line.
#include <cstdint>
#include <optional>
#include <vector>

#include "provider/line_config.h"

namespace kvarsp {

struct DeviceEntry {
  int32_t deviceId = -1;  // -1 while only a temporary ID is known
  int64_t tempId = -1;    // -1 when none
  uint16_t pbxLineId = 0;
};

class DeviceTable {
 public:
  // At provider start: the first numLines in-use lines (line-table order)
  // get device IDs base, base + 1, ...
  void Build(uint32_t base, uint32_t numLines, const ConfigTables& config);

  struct Changes {
    std::vector<int64_t> newTempIds;         // to announce with LINE_CREATE
    std::vector<uint32_t> removedDeviceIds;  // to announce with LINE_REMOVE
  };
  // After a configuration change: lines that stay keep their entry, new
  // lines get the next temporary IDs, lines gone are reported removed.
  Changes Rebuild(const ConfigTables& config);

  // TSPI_providerCreateLineDevice: binds the device ID to the entry of the
  // temporary ID; false when no entry has it.
  bool BindTempId(int64_t tempId, uint32_t deviceId);

  // The line-table index of a device ID, or nullopt when it is not valid.
  std::optional<size_t> LineIndexOf(uint32_t deviceId, const ConfigTables& config) const;

  const std::vector<DeviceEntry>& entries() const { return entries_; }
  uint32_t base() const { return base_; }

 private:
  std::vector<DeviceEntry> entries_;
  uint32_t base_ = 0;
  int64_t nextTempId_ = 0;
};

}  // namespace kvarsp
