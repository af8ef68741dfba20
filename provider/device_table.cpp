#include "provider/device_table.h"

namespace kvarsp {

void DeviceTable::Build(uint32_t base, uint32_t numLines, const ConfigTables& config) {
  entries_.clear();
  for (const LineConfigEntry& line : config.lines) {
    if (!line.inUse) continue;
    if (entries_.size() >= kMaxLines || entries_.size() >= numLines) break;
    entries_.push_back({static_cast<int32_t>(base + entries_.size()), -1, line.pbxLineId});
  }
  base_ = base;
}

DeviceTable::Changes DeviceTable::Rebuild(const ConfigTables& config) {
  std::vector<DeviceEntry> old = std::move(entries_);
  std::vector<bool> consumed(old.size(), false);
  entries_.clear();
  Changes changes;
  for (const LineConfigEntry& line : config.lines) {
    if (!line.inUse) continue;
    if (entries_.size() >= kMaxLines) break;
    DeviceEntry entry{-1, -1, line.pbxLineId};
    bool kept = false;
    for (size_t i = 0; i < old.size() && !kept; ++i) {
      if (consumed[i] || old[i].pbxLineId != line.pbxLineId) continue;
      // A line that stays keeps its whole entry, including a temporary ID
      // TAPI has not bound yet: announcing it again would create a second device.
      entry = old[i];
      consumed[i] = true;
      kept = true;
    }
    if (!kept) {
      entry.tempId = nextTempId_++;
      changes.newTempIds.push_back(entry.tempId);
    }
    entries_.push_back(entry);
  }
  for (size_t i = 0; i < old.size(); ++i) {
    // An entry that never got a device ID was never a device TAPI knew.
    if (!consumed[i] && old[i].deviceId != -1) changes.removedDeviceIds.push_back(static_cast<uint32_t>(old[i].deviceId));
  }
  return changes;
}

bool DeviceTable::BindTempId(int64_t tempId, uint32_t deviceId) {
  for (DeviceEntry& entry : entries_) {
    if (entry.tempId != -1 && entry.tempId == tempId) {
      entry.deviceId = static_cast<int32_t>(deviceId);
      entry.tempId = -1;
      return true;
    }
  }
  return false;
}

std::optional<size_t> DeviceTable::LineIndexOf(uint32_t deviceId, const ConfigTables& config) const {
  for (const DeviceEntry& entry : entries_) {
    // Entries waiting for their device ID hold -1, which must not match the
    // device ID 0xFFFFFFFF.
    if (entry.tempId != -1 || static_cast<uint32_t>(entry.deviceId) != deviceId) continue;
    int index = config.FindLineIndex(entry.pbxLineId);
    if (index < 0) return std::nullopt;
    return static_cast<size_t>(index);
  }
  return std::nullopt;
}

}  // namespace kvarsp
