#pragma once
// The provider's configuration in the registry: loading the line and MSN
// tables, saving them with the lines-in-use list and the hands-free records,
// refilling the tables from the exchange's address list, the dialling
// prefixes and the small single values. All registry access goes through
// ConfigKey: failures never throw, defaults are kept, errors are traced.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "provider/line_config.h"

namespace kvarsp {

// Empties the tables and fills them from the provider key, taking the in-use
// flags and hands-free modes from the per-user key.
void LoadConfiguration(ConfigTables& tables, uint32_t permanentProviderId);
// Writes the tables, the lines-in-use list and the hands-free records.
// Values of a longer earlier configuration stay; the counts leave them out.
void SaveConfiguration(const ConfigTables& tables, uint32_t permanentProviderId);
// One hands-free record per line entry, under the per-user key.
void SaveHandsfreeModes(const ConfigTables& tables);

// The lines the user chose to offer to TAPI (per-user key).
struct InUseList {
  bool allInUse = true;  // "NumLinesInUse" missing or -1
  std::vector<uint16_t> lineIds;
  bool Contains(uint16_t pbxLineId) const;
};
InUseList ReadInUseList();

// The exchange's address list, already decoded from the wire.
struct AddressListLine {
  uint16_t pbxLineId;
  std::u16string address;
};
struct AddressListMsn {
  uint8_t msnIndex;
  std::u16string number;
  std::vector<uint16_t> lineIds;  // the lines that use this number
};
struct AddressList {
  bool lineId16Bit = false;
  std::vector<AddressListLine> lines;
  std::vector<AddressListMsn> msns;
};
// Replaces both tables with the list. Each line keeps the hands-free mode it
// had before (by PBX line ID) and takes its in-use flag from the registry's
// in-use list; lines with an empty address are skipped; line IDs of an MSN
// that name no line are ignored; the table limits apply.
void RefillFromAddressList(ConfigTables& tables, const AddressList& list);

enum class PrefixKind { OutsideLine, LongDistance, International };
struct DialPrefix {
  bool use = true;
  std::u16string prefix;
};
// capacityChars counts the terminator (the dialog passes 1025; number prefixing uses 6).
DialPrefix ReadDialPrefix(PrefixKind kind, uint32_t permanentProviderId, size_t capacityChars);
// The use flag is stored as the caller gives it (the dialog sends 0 or 1).
void WriteDialPrefix(PrefixKind kind, uint32_t permanentProviderId, uint32_t use, std::u16string_view prefix);

// Address types of numbers received from the exchange.
constexpr uint8_t kAddressTypeNational = 4;
constexpr uint8_t kAddressTypeInternational = 5;
// A national or international number with the configured prefixes in front
// (each at most 5 characters, the whole at most 255); other types unchanged.
std::u16string PrefixNumber(uint32_t permanentProviderId, uint8_t addressType, std::u16string_view number);

std::u16string ReadLineName(uint32_t permanentProviderId, size_t capacityChars);  // default "Marlix TK-Anlage"
void WriteLineName(uint32_t permanentProviderId, std::u16string_view name);
uint32_t ReadNumPhones(uint32_t permanentProviderId);
void WriteNumPhones(uint32_t permanentProviderId, uint32_t value);
uint32_t ReadFirstConfig();  // per-user key, default 0
void WriteFirstConfig(uint32_t value);
// The trace files' settings, read as the trace writer reads them (errors are
// not traced).
bool ReadLogTapi();
bool ReadLogCti();
std::u16string ReadLogPath();  // at most 260 characters, empty when missing

}  // namespace kvarsp
