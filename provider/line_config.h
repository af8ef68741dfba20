#pragma once
// The provider's in-memory configuration: the line table (the exchange's
// extensions with their numbers, which of them are offered to TAPI and how
// hands-free is handled) and the MSN table (the subscriber numbers the lines
// refer to by index). Filled from the registry or from the exchange's address
// list; both keep the order in which entries were read or received.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvarsp {

constexpr size_t kMaxLines = 256, kMaxMsns = 60, kMaxMsnsPerLine = 60;
constexpr size_t kMaxLineAddressChars = 20, kMaxMsnAddressChars = 50;
// Address names are compared as at most this many characters.
constexpr size_t kMaxAddressNameChars = 255;

// Hands-free modes of a line.
constexpr uint8_t kHandsfreeAsCallParams = 0;
constexpr uint8_t kHandsfreeForceOn = 1;
constexpr uint8_t kHandsfreeForceOff = 2;

struct LineConfigEntry {
  uint16_t pbxLineId = 0;
  std::u16string address;     // at most 20 characters
  bool inUse = false;         // offered to TAPI as a line device
  uint8_t handsfreeMode = 0;  // 0 as call parameters say, 1 force on, 2 force off
  uint8_t msnCount = 0;       // at most 60
  std::array<uint8_t, kMaxMsnsPerLine> msnIndexes{};
  bool operator==(const LineConfigEntry&) const = default;
};

struct MsnEntry {
  uint8_t msnIndex = 0;
  std::u16string address;  // at most 50 characters
  bool operator==(const MsnEntry&) const = default;
};

struct ConfigTables {
  std::vector<LineConfigEntry> lines;  // at most 256, in order read/received
  std::vector<MsnEntry> msns;          // at most 60
  bool lineId16Bit = false;            // "16BitLineId"
  bool operator==(const ConfigTables&) const = default;

  // Adding past a limit is silently ignored (return false); addresses are cut
  // to their limit, an MSN count above 60 to 60.
  bool AddLine(LineConfigEntry entry);
  bool AddMsnIndex(size_t lineIndex, uint8_t msnIndex);
  bool AddMsn(uint8_t msnIndex, std::u16string address);

  // First match; null or -1 when none.
  LineConfigEntry* FindLine(uint16_t pbxLineId);
  const LineConfigEntry* FindLine(uint16_t pbxLineId) const;
  int FindLineIndex(uint16_t pbxLineId) const;
  const MsnEntry* FindMsn(uint8_t msnIndex) const;

  size_t InUseCount() const;
  // Empties both tables; the 16-bit flag stays.
  void Clear();

  // Address naming of a line device: address count = max(1, msnCount);
  // address n < msnCount is named by the MSN entry whose index equals the
  // line's n-th MSN index (empty when there is none); with no MSN, address 0
  // is named by the line's own address. A line index out of range has no
  // addresses.
  uint32_t AddressCount(size_t lineIndex) const;
  std::u16string AddressName(size_t lineIndex, uint32_t addressId) const;
  // First address whose name equals the string exactly (case-sensitive, both
  // compared as at most 255 characters); -1 when none.
  int MatchAddress(size_t lineIndex, std::u16string_view dialable) const;
};

// text cut to at most maxChars UTF-16 units; a surrogate pair that the cut
// would split is dropped whole, so the result stays well-formed.
std::u16string CutText(std::u16string_view text, size_t maxChars);

}  // namespace kvarsp
