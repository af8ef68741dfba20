#include "provider/line_config.h"

#include <algorithm>
#include <utility>

namespace kvarsp {
namespace {

// The MSN count as far as the index array holds it (the field is public and
// may have been set past the limit).
size_t msnCountOf(const LineConfigEntry& line) { return std::min<size_t>(line.msnCount, kMaxMsnsPerLine); }

}  // namespace

std::u16string CutText(std::u16string_view text, size_t maxChars) {
  if (text.size() <= maxChars) return std::u16string(text);
  size_t length = maxChars;
  // Do not keep the first half of a pair whose second half is cut off.
  if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
  return std::u16string(text.substr(0, length));
}

bool ConfigTables::AddLine(LineConfigEntry entry) {
  if (lines.size() >= kMaxLines) return false;
  if (entry.address.size() > kMaxLineAddressChars) entry.address = CutText(entry.address, kMaxLineAddressChars);
  entry.msnCount = static_cast<uint8_t>(std::min<size_t>(entry.msnCount, kMaxMsnsPerLine));
  lines.push_back(std::move(entry));
  return true;
}

bool ConfigTables::AddMsnIndex(size_t lineIndex, uint8_t msnIndex) {
  if (lineIndex >= lines.size()) return false;
  LineConfigEntry& line = lines[lineIndex];
  size_t count = msnCountOf(line);
  if (count >= kMaxMsnsPerLine) return false;
  line.msnIndexes[count] = msnIndex;
  line.msnCount = static_cast<uint8_t>(count + 1);
  return true;
}

bool ConfigTables::AddMsn(uint8_t msnIndex, std::u16string address) {
  if (msns.size() >= kMaxMsns) return false;
  if (address.size() > kMaxMsnAddressChars) address = CutText(address, kMaxMsnAddressChars);
  msns.push_back(MsnEntry{msnIndex, std::move(address)});
  return true;
}

LineConfigEntry* ConfigTables::FindLine(uint16_t pbxLineId) {
  int index = FindLineIndex(pbxLineId);
  return index < 0 ? nullptr : &lines[static_cast<size_t>(index)];
}

const LineConfigEntry* ConfigTables::FindLine(uint16_t pbxLineId) const {
  int index = FindLineIndex(pbxLineId);
  return index < 0 ? nullptr : &lines[static_cast<size_t>(index)];
}

int ConfigTables::FindLineIndex(uint16_t pbxLineId) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].pbxLineId == pbxLineId) return static_cast<int>(i);
  }
  return -1;
}

const MsnEntry* ConfigTables::FindMsn(uint8_t msnIndex) const {
  for (const MsnEntry& msn : msns) {
    if (msn.msnIndex == msnIndex) return &msn;
  }
  return nullptr;
}

size_t ConfigTables::InUseCount() const {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.inUse; }));
}

void ConfigTables::Clear() {
  lines.clear();
  msns.clear();
}

uint32_t ConfigTables::AddressCount(size_t lineIndex) const {
  if (lineIndex >= lines.size()) return 0;
  return static_cast<uint32_t>(std::max<size_t>(1, msnCountOf(lines[lineIndex])));
}

std::u16string ConfigTables::AddressName(size_t lineIndex, uint32_t addressId) const {
  if (lineIndex >= lines.size()) return {};
  const LineConfigEntry& line = lines[lineIndex];
  size_t msnCount = msnCountOf(line);
  if (msnCount == 0) return addressId == 0 ? line.address : std::u16string();
  if (addressId >= msnCount) return {};
  const MsnEntry* msn = FindMsn(line.msnIndexes[addressId]);
  return msn ? msn->address : std::u16string();
}

int ConfigTables::MatchAddress(size_t lineIndex, std::u16string_view dialable) const {
  std::u16string_view wanted = dialable.substr(0, std::min(dialable.size(), kMaxAddressNameChars));
  uint32_t count = AddressCount(lineIndex);
  for (uint32_t id = 0; id < count; ++id) {
    std::u16string name = AddressName(lineIndex, id);
    if (std::u16string_view(name).substr(0, std::min(name.size(), kMaxAddressNameChars)) == wanted) {
      return static_cast<int>(id);
    }
  }
  return -1;
}

}  // namespace kvarsp
