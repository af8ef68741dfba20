#pragma once
// The structures that describe a line device and its addresses to TAPI:
// LINEDEVCAPS, LINEADDRESSCAPS, LINEADDRESSSTATUS, LINEDEVSTATUS and the
// VARSTRING of lineGetID. Pure functions: they take plain values and fill the
// caller's structure, whose dwTotalSize is the size of the caller's buffer.
//
// Rules shared by all of them:
// - Nothing is written past dwTotalSize, not even a member of the fixed part:
//   a structure smaller than its fixed part gets only the members that lie
//   within it. All size arithmetic is done in 64 bits.
// - dwTotalSize and the members that TAPI owns (dwNumOpens,
//   dwOpenMediaModes, dwAppInfoSize/Offset of LINEDEVSTATUS) keep their
//   values; so do members that the TSPI version in use does not have. Every
//   other member of the fixed part is written, the unused ones as 0.
// - dwNeededSize counts every variable part; a variable part is appended at
//   dwUsedSize only when it fits, otherwise its size and offset stay 0.
// - Strings are UTF-16 with a terminator; their sizes are bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "provider/call_model.h"
#include "tapi/tapi_structs.h"

namespace kvarsp {

// The provider information string of every line device.
inline constexpr std::u16string_view kProviderInfo = u"Dienstanbieter f\u00fcr Marlix TK-Anlagen";
// Line names are cut to this many characters, address names to
// kMaxAddressNameChars, the provider information to kMaxProviderInfoChars.
constexpr size_t kMaxLineNameChars = 100;
constexpr size_t kMaxProviderInfoChars = 255;
// The configured "LineName" is read with room for this many characters
// (including the terminator); more could never show in a line name.
constexpr size_t kLineNameReadChars = kMaxLineNameChars + 1;

// "<configured name> NSt. <line address>", cut to 100 characters.
std::u16string LineDeviceName(std::u16string_view configuredName, std::u16string_view lineAddress);

struct DevCapsValues {
  std::u16string_view lineName;
  std::u16string_view providerInfo = kProviderInfo;
  uint32_t permanentLineId = 0;
  uint32_t numAddresses = 1;
  uint32_t tspiVersion = 0;  // of the request
};
void FillLineDevCaps(LINEDEVCAPS& caps, const DevCapsValues& values);

struct AddressCapsValues {
  uint32_t deviceId = 0;
  std::u16string_view addressName;  // cut to 255 characters here
  uint32_t tspiVersion = 0;         // of the request
};
void FillLineAddressCaps(LINEADDRESSCAPS& caps, const AddressCapsValues& values);

struct AddressStatusValues {
  CallCounts counts;  // of the address
  bool outOfService = false;
  uint32_t lineVersion = 0;  // TSPI version the line was opened with
  uint32_t forwardMode = 0;  // 0: the extension is not forwarded
  uint32_t forwardCountryCode = 0;
  const std::u16string* forwardDestination = nullptr;  // null: none
};
void FillLineAddressStatus(LINEADDRESSSTATUS& status, const AddressStatusValues& values);

struct DevStatusValues {
  CallCounts counts;  // of the line
  bool outOfService = false;
  uint32_t lineVersion = 0;
};
void FillLineDevStatus(LINEDEVSTATUS& status, const DevStatusValues& values);

// The device ID of a line as lineGetID reports it for "tapi/line": 28 bytes
// needed; with less room only dwNeededSize is written.
void FillDeviceIdVarString(VARSTRING& varString, uint32_t deviceId);

// The address features of an address and the line features of a line in
// their current state, as the status structures report them.
uint32_t AddressFeaturesNow(const CallCounts& counts, bool outOfService, uint32_t lineVersion);
uint32_t LineFeaturesNow(const CallCounts& counts, bool outOfService, uint32_t lineVersion);

// A UTF-16 text handed in with its size in bytes: at most maxBytes / 2
// characters, ending early at a terminator. Null gives an empty text.
std::u16string_view WideTextWithin(const char16_t* text, uint64_t maxBytes);

// The originating address of call parameters, or nullopt when there is none
// or its size/offset reach past dwTotalSize (or into the fixed part).
std::optional<std::u16string_view> CallParamsOrigAddress(const LINECALLPARAMS& params);

}  // namespace kvarsp
