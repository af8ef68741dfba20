#include "provider/provider_state.h"

namespace kvarsp {

std::optional<uint16_t> LineDirectory::PbxLineIdOf(uint32_t deviceId) const {
  auto index = LineIndexOf(deviceId);
  if (!index) return std::nullopt;
  return config_.lines[*index].pbxLineId;
}

std::optional<uint8_t> LineDirectory::HandsfreeModeOf(uint32_t deviceId) const {
  auto index = LineIndexOf(deviceId);
  if (!index) return std::nullopt;
  return config_.lines[*index].handsfreeMode;
}

uint32_t LineDirectory::AddressCount(uint32_t deviceId) const {
  auto index = LineIndexOf(deviceId);
  return index ? config_.AddressCount(*index) : 0;
}

std::optional<uint32_t> LineDirectory::MatchAddress(uint32_t deviceId, std::u16string_view number) const {
  auto index = LineIndexOf(deviceId);
  if (!index) return std::nullopt;
  int match = config_.MatchAddress(*index, number);
  if (match < 0) return std::nullopt;
  return static_cast<uint32_t>(match);
}

}  // namespace kvarsp
