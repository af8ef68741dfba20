#include "provider/config_store.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "common/trace_file_settings.h"
#include "platform/printf_format.h"
#include "provider/config_registry.h"

namespace kvarsp {
namespace {

// Registry buffers count the terminator.
constexpr size_t kLineAddressCapacity = kMaxLineAddressChars + 1;
constexpr size_t kMsnAddressCapacity = kMaxMsnAddressChars + 1;
constexpr size_t kPrefixCapacityForNumbers = 6;
constexpr uint32_t kMissingLineId = 256;

std::string valueName(const char* format, ...) TK_PRINTF_FORMAT(1, 2);
std::string valueName(const char* format, ...) {
  char name[64];
  va_list args;
  va_start(args, format);
  std::vsnprintf(name, sizeof name, format, args);
  va_end(args);
  return name;
}

// A stored count: negative counts as 0, and at most limit entries are used.
size_t usableCount(int32_t stored, size_t limit) {
  return stored <= 0 ? 0 : std::min(static_cast<size_t>(stored), limit);
}

uint16_t low16(uint32_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
uint8_t low8(uint32_t value) { return static_cast<uint8_t>(value & 0xFF); }

struct HandsfreeRecord {
  uint16_t pbxLineId;
  uint8_t mode;
};

std::vector<HandsfreeRecord> readHandsfreeRecords() {
  ConfigKey user = ConfigKey::User();
  size_t count = usableCount(user.ReadSignedDword("NumLinesHandsfreeMode", 0), kMaxLines);
  std::vector<HandsfreeRecord> records;
  for (size_t i = 0; i < count; ++i) {
    auto index = static_cast<unsigned>(i);
    records.push_back({low16(user.ReadDword(valueName("HandsfreeModeLineID%u", index), 0)),
                       low8(user.ReadDword(valueName("HandsfreeMode%u", index), 0))});
  }
  return records;
}

uint8_t handsfreeModeOf(const std::vector<HandsfreeRecord>& records, uint16_t pbxLineId) {
  for (const HandsfreeRecord& record : records) {
    if (record.pbxLineId == pbxLineId) return record.mode;
  }
  return kHandsfreeAsCallParams;
}

size_t msnCountOf(const LineConfigEntry& line) { return std::min<size_t>(line.msnCount, kMaxMsnsPerLine); }

struct PrefixNames {
  const char* useName;
  const char* prefixName;
  const char16_t* defaultPrefix;
};

PrefixNames prefixNames(PrefixKind kind) {
  switch (kind) {
    case PrefixKind::OutsideLine:
      return {"UseOutsideLinePrefix", "OutSideLinePrefix", u"0"};
    case PrefixKind::LongDistance:
      return {"UseLongDistancePrefix", "LongDistancePrefix", u"0"};
    case PrefixKind::International:
      break;
  }
  return {"UseInternationalPrefix", "InternationalPrefix", u"00"};
}

void appendPrefix(std::u16string& text, PrefixKind kind, uint32_t permanentProviderId) {
  DialPrefix prefix = ReadDialPrefix(kind, permanentProviderId, kPrefixCapacityForNumbers);
  if (prefix.use) text += prefix.prefix;
}

}  // namespace

bool InUseList::Contains(uint16_t pbxLineId) const {
  return std::find(lineIds.begin(), lineIds.end(), pbxLineId) != lineIds.end();
}

InUseList ReadInUseList() {
  ConfigKey user = ConfigKey::User();
  InUseList list;
  int32_t stored = user.ReadSignedDword("NumLinesInUse", -1);
  list.allInUse = stored == -1;
  if (list.allInUse) return list;
  size_t count = usableCount(stored, kMaxLines);
  for (size_t i = 0; i < count; ++i) {
    list.lineIds.push_back(low16(user.ReadDword(valueName("LineIDInUse%d", static_cast<int>(i)), 0)));
  }
  return list;
}

void LoadConfiguration(ConfigTables& tables, uint32_t permanentProviderId) {
  tables.Clear();
  ConfigKey provider = ConfigKey::Provider(permanentProviderId);
  InUseList inUse = ReadInUseList();
  std::vector<HandsfreeRecord> handsfree = readHandsfreeRecords();

  int32_t storedCount = provider.ReadSignedDword("NumLinesTotal", -1);
  if (storedCount == -1) storedCount = provider.ReadSignedDword("NumLines", 0);
  tables.lineId16Bit = provider.ReadDword("16BitLineId", 0) != 0;

  size_t count = usableCount(storedCount, kMaxLines);
  for (int i = 0; i < static_cast<int>(count); ++i) {
    LineConfigEntry entry;
    entry.pbxLineId = low16(provider.ReadDword(valueName("PbxLineID%d", i), kMissingLineId));
    entry.address = provider.ReadString(valueName("LineAddress%d", i), u"", kLineAddressCapacity);
    if (entry.address.empty()) continue;
    entry.handsfreeMode = handsfreeModeOf(handsfree, entry.pbxLineId);
    entry.inUse = inUse.allInUse || inUse.Contains(entry.pbxLineId);
    if (!tables.AddLine(std::move(entry))) break;
    size_t lineIndex = tables.lines.size() - 1;
    size_t msnCount = usableCount(provider.ReadSignedDword(valueName("NumMSNSLine%d", i), 0), kMaxMsnsPerLine);
    for (int k = 0; k < static_cast<int>(msnCount); ++k) {
      tables.AddMsnIndex(lineIndex, low8(provider.ReadDword(valueName("Line%dMSN%d", i, k), 0)));
    }
  }

  size_t msnCount = usableCount(provider.ReadSignedDword("NumMSNs", 0), kMaxMsns);
  for (int i = 0; i < static_cast<int>(msnCount); ++i) {
    uint8_t msnIndex = low8(provider.ReadDword(valueName("MSNIndex%d", i), 0));
    std::u16string address = provider.ReadString(valueName("MSNAddress%d", i), u"", kMsnAddressCapacity);
    if (!address.empty()) tables.AddMsn(msnIndex, std::move(address));
  }
}

void SaveConfiguration(const ConfigTables& tables, uint32_t permanentProviderId) {
  ConfigKey provider = ConfigKey::Provider(permanentProviderId);
  provider.WriteDword("NumLinesTotal", static_cast<uint32_t>(tables.lines.size()));
  provider.WriteDword("NumLines", static_cast<uint32_t>(tables.InUseCount()));
  provider.WriteDword("16BitLineId", tables.lineId16Bit ? 1 : 0);

  for (size_t i = 0; i < tables.lines.size(); ++i) {
    const LineConfigEntry& line = tables.lines[i];
    auto index = static_cast<int>(i);
    provider.WriteDword(valueName("PbxLineID%d", index), line.pbxLineId);
    provider.WriteString(valueName("LineAddress%d", index), line.address);
    size_t msnCount = msnCountOf(line);
    provider.WriteDword(valueName("NumMSNSLine%d", index), static_cast<uint32_t>(msnCount));
    for (size_t k = 0; k < msnCount; ++k) {
      provider.WriteDword(valueName("Line%dMSN%d", index, static_cast<int>(k)), line.msnIndexes[k]);
    }
  }

  provider.WriteDword("NumMSNs", static_cast<uint32_t>(tables.msns.size()));
  for (size_t i = 0; i < tables.msns.size(); ++i) {
    auto index = static_cast<int>(i);
    provider.WriteDword(valueName("MSNIndex%d", index), tables.msns[i].msnIndex);
    provider.WriteString(valueName("MSNAddress%d", index), tables.msns[i].address);
  }

  ConfigKey user = ConfigKey::User();
  int inUseCount = 0;
  for (const LineConfigEntry& line : tables.lines) {
    if (line.inUse) user.WriteDword(valueName("LineIDInUse%d", inUseCount++), line.pbxLineId);
  }
  user.WriteDword("NumLinesInUse", static_cast<uint32_t>(inUseCount));

  SaveHandsfreeModes(tables);
}

void SaveHandsfreeModes(const ConfigTables& tables) {
  ConfigKey user = ConfigKey::User();
  for (size_t i = 0; i < tables.lines.size(); ++i) {
    auto index = static_cast<unsigned>(i);
    user.WriteDword(valueName("HandsfreeModeLineID%u", index), tables.lines[i].pbxLineId);
    user.WriteDword(valueName("HandsfreeMode%u", index), tables.lines[i].handsfreeMode);
  }
  user.WriteDword("NumLinesHandsfreeMode", static_cast<uint32_t>(tables.lines.size()));
}

void RefillFromAddressList(ConfigTables& tables, const AddressList& list) {
  std::vector<HandsfreeRecord> kept;
  for (const LineConfigEntry& line : tables.lines) kept.push_back({line.pbxLineId, line.handsfreeMode});
  InUseList inUse = ReadInUseList();

  tables.Clear();
  tables.lineId16Bit = list.lineId16Bit;
  for (const AddressListLine& received : list.lines) {
    if (received.address.empty()) continue;
    LineConfigEntry entry;
    entry.pbxLineId = received.pbxLineId;
    entry.address = received.address;
    entry.inUse = inUse.allInUse || inUse.Contains(received.pbxLineId);
    entry.handsfreeMode = handsfreeModeOf(kept, received.pbxLineId);
    if (!tables.AddLine(std::move(entry))) break;
  }
  for (const AddressListMsn& msn : list.msns) {
    tables.AddMsn(msn.msnIndex, msn.number);
    for (uint16_t lineId : msn.lineIds) {
      int lineIndex = tables.FindLineIndex(lineId);
      if (lineIndex >= 0) tables.AddMsnIndex(static_cast<size_t>(lineIndex), msn.msnIndex);
    }
  }
}

DialPrefix ReadDialPrefix(PrefixKind kind, uint32_t permanentProviderId, size_t capacityChars) {
  ConfigKey provider = ConfigKey::Provider(permanentProviderId);
  PrefixNames names = prefixNames(kind);
  DialPrefix prefix;
  prefix.prefix = provider.ReadString(names.prefixName, names.defaultPrefix, capacityChars);
  prefix.use = provider.ReadDword(names.useName, 1) != 0;
  return prefix;
}

void WriteDialPrefix(PrefixKind kind, uint32_t permanentProviderId, uint32_t use, std::u16string_view prefix) {
  ConfigKey provider = ConfigKey::Provider(permanentProviderId);
  PrefixNames names = prefixNames(kind);
  provider.WriteDword(names.useName, use);
  provider.WriteString(names.prefixName, prefix);
}

std::u16string PrefixNumber(uint32_t permanentProviderId, uint8_t addressType, std::u16string_view number) {
  if (addressType != kAddressTypeNational && addressType != kAddressTypeInternational) {
    return std::u16string(number);
  }
  std::u16string text;
  appendPrefix(text, PrefixKind::OutsideLine, permanentProviderId);
  appendPrefix(text, addressType == kAddressTypeNational ? PrefixKind::LongDistance : PrefixKind::International,
               permanentProviderId);
  text += number;
  return CutText(text, kMaxAddressNameChars);
}

std::u16string ReadLineName(uint32_t permanentProviderId, size_t capacityChars) {
  return ConfigKey::Provider(permanentProviderId).ReadString("LineName", u"Marlix TK-Anlage", capacityChars);
}

void WriteLineName(uint32_t permanentProviderId, std::u16string_view name) {
  ConfigKey::Provider(permanentProviderId).WriteString("LineName", name);
}

uint32_t ReadNumPhones(uint32_t permanentProviderId) {
  return ConfigKey::Provider(permanentProviderId).ReadDword("NumPhones", 0);
}

void WriteNumPhones(uint32_t permanentProviderId, uint32_t value) {
  ConfigKey::Provider(permanentProviderId).WriteDword("NumPhones", value);
}

uint32_t ReadFirstConfig() { return ConfigKey::User().ReadDword("FirstConfig", 0); }

void WriteFirstConfig(uint32_t value) { ConfigKey::User().WriteDword("FirstConfig", value); }

bool ReadLogTapi() { return TraceSwitchOn(TraceFile::Tapi); }

bool ReadLogCti() { return TraceSwitchOn(TraceFile::Cti); }

std::u16string ReadLogPath() { return TraceFolder(); }

}  // namespace kvarsp
