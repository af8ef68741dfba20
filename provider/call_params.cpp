#include "provider/call_params.h"

#include <new>
#include <string_view>

#include "provider/line_config.h"
#include "provider/line_device_structs.h"
#include "provider/tspi_versions.h"
#include "tapi/tapi_constants.h"

namespace kvarsp {

namespace {

// Offset of a member within the structure, from the member pointer.
uint64_t MemberOffset(const LINECALLPARAMS& params, const DWORD LINECALLPARAMS::*member) {
  return static_cast<uint64_t>(reinterpret_cast<const uint8_t*>(&(params.*member)) -
                               reinterpret_cast<const uint8_t*>(&params));
}

bool MemberPresent(const LINECALLPARAMS& params, const DWORD LINECALLPARAMS::*member) {
  return MemberOffset(params, member) + sizeof(DWORD) <= params.dwTotalSize;
}

// The bytes of one size/offset pair. A pair whose members the structure does
// not hold, or whose size is 0, is no part; a part that reaches past
// dwTotalSize is refused. Sizes are added in 64 bits, so no pair can wrap.
bool ReadPart(const LINECALLPARAMS& params, const DWORD LINECALLPARAMS::*sizeMember,
              const DWORD LINECALLPARAMS::*offsetMember, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (!MemberPresent(params, sizeMember) || !MemberPresent(params, offsetMember)) return true;
  const uint64_t size = params.*sizeMember;
  const uint64_t offset = params.*offsetMember;
  if (size == 0) return true;
  if (offset + size > params.dwTotalSize) return false;
  const auto* start = reinterpret_cast<const uint8_t*>(&params) + offset;
  bytes.assign(start, start + size);
  return true;
}

struct PartMembers {
  CallBlob blob;
  const DWORD LINECALLPARAMS::*size;
  const DWORD LINECALLPARAMS::*offset;
};

// The parts every version copies, in the order they are copied.
constexpr PartMembers kCopiedParts[] = {
    {CallBlob::DisplayableAddress, &LINECALLPARAMS::dwDisplayableAddressSize,
     &LINECALLPARAMS::dwDisplayableAddressOffset},
    {CallBlob::CalledParty, &LINECALLPARAMS::dwCalledPartySize, &LINECALLPARAMS::dwCalledPartyOffset},
    {CallBlob::Comment, &LINECALLPARAMS::dwCommentSize, &LINECALLPARAMS::dwCommentOffset},
    {CallBlob::HighLevelCompatibility, &LINECALLPARAMS::dwHighLevelCompSize, &LINECALLPARAMS::dwHighLevelCompOffset},
    {CallBlob::LowLevelCompatibility, &LINECALLPARAMS::dwLowLevelCompSize, &LINECALLPARAMS::dwLowLevelCompOffset},
    {CallBlob::DevSpecific, &LINECALLPARAMS::dwDevSpecificSize, &LINECALLPARAMS::dwDevSpecificOffset},
};

// Call data is taken only from structures larger than this.
constexpr DWORD kCallDataMinTotalSize = 160;

}  // namespace

LONG FilterDialDigits(const char16_t* destination, std::u16string& digits) {
  digits.clear();
  if (!destination) return 0;
  static constexpr std::u16string_view kKept = u"0123456789*#";
  for (const char16_t* c = destination; *c != u'\0'; ++c) {
    switch (*c) {
      case u'$': return LINEERR_DIALBILLING;
      case u'?': return LINEERR_DIALPROMPT;
      case u'@': return LINEERR_DIALQUIET;
      case u'W': return LINEERR_DIALDIALTONE;
      default: break;
    }
    if (kKept.find(*c) == std::u16string_view::npos) continue;
    // The buffer keeps its last place for the terminator.
    if (digits.size() + 1 >= kDialDigitCapacity) return LINEERR_INVALPOINTER;
    digits.push_back(*c);
  }
  return 0;
}

uint8_t CallOptionsFromFlags(uint32_t callParamFlags) {
  // SECURE, IDLE, BLOCKID, ORIGOFFHOOK and DESTOFFHOOK are bits 0..4; their
  // options are bits 2..6.
  return static_cast<uint8_t>((callParamFlags & kAllowedCallParamFlags) << 2);
}

uint8_t ApplyHandsfreeMode(uint8_t callOptions, uint8_t handsfreeMode) {
  if (handsfreeMode == kHandsfreeForceOn) return callOptions | kCallOptionHandsfree;
  if (handsfreeMode == kHandsfreeForceOff) return callOptions & static_cast<uint8_t>(~kCallOptionHandsfree);
  return callOptions;
}

uint8_t AnswerCallOptions(uint8_t handsfreeMode) {
  return handsfreeMode == kHandsfreeForceOn ? kCallOptionAnswerHandsfree : 0;
}

DWORD CallParamsMember(const LINECALLPARAMS& params, const DWORD LINECALLPARAMS::*member) {
  return MemberPresent(params, member) ? params.*member : 0;
}

LONG CheckCallParams(const LINECALLPARAMS* params, const OpenLine& line, const LineAddresses& addresses,
                     bool oneStepTransferAllowed, CheckedCallParams& out) {
  out = CheckedCallParams{};
  if (!params) return 0;
  // The members below all lie in the fixed part; a shorter structure cannot
  // be read at all.
  if (params->dwTotalSize < kCallParamsFixedSize) return LINEERR_INVALCALLPARAMS;

  if (params->dwBearerMode != LINEBEARERMODE_VOICE) return LINEERR_INVALBEARERMODE;
  if (params->dwMediaMode != 0 && params->dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE) {
    return LINEERR_INVALMEDIAMODE;
  }
  const uint32_t allowed = oneStepTransferAllowed ? kAllowedCallParamFlagsOneStep : kAllowedCallParamFlags;
  if ((params->dwCallParamFlags & ~allowed) != 0) return LINEERR_INVALCALLPARAMS;
  out.callParamFlags = params->dwCallParamFlags;
  out.callOptions = CallOptionsFromFlags(params->dwCallParamFlags);

  const DWORD mode = params->dwAddressMode;
  if ((mode & (LINEADDRESSMODE_ADDRESSID | LINEADDRESSMODE_DIALABLEADDR)) == 0) return LINEERR_INVALADDRESSMODE;
  if (mode & LINEADDRESSMODE_DIALABLEADDR) {
    // A missing, empty or out-of-range originating address names no address.
    const std::optional<std::u16string_view> origin = CallParamsOrigAddress(*params);
    if (!origin) return LINEERR_INVALADDRESS;
    const std::optional<uint32_t> match = addresses.MatchAddress(line.deviceId, *origin);
    if (!match) return LINEERR_INVALADDRESS;
    out.addressId = *match;
  } else {
    if (params->dwAddressID >= addresses.AddressCount(line.deviceId)) return LINEERR_INVALADDRESSID;
    out.addressId = params->dwAddressID;
  }

  try {
    std::vector<uint8_t> bytes;
    for (const PartMembers& part : kCopiedParts) {
      if (!ReadPart(*params, part.size, part.offset, bytes)) return LINEERR_INVALCALLPARAMS;
      out.blobs.emplace_back(part.blob, std::move(bytes));
    }
    if (params->dwTotalSize > kCallDataMinTotalSize && line.tspiVersion >= kTspiVersionHigh) {
      if (!ReadPart(*params, &LINECALLPARAMS::dwCallDataSize, &LINECALLPARAMS::dwCallDataOffset, bytes)) {
        return LINEERR_INVALCALLPARAMS;
      }
      out.blobs.emplace_back(CallBlob::CallData, std::move(bytes));
    }
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  return 0;
}

LONG ApplyCallParams(CallModel& calls, const TspCall& call, const LINECALLPARAMS* params, const OpenLine& line,
                     const LineAddresses& addresses, bool oneStepTransferAllowed, bool notify, uint8_t& callOptions) {
  callOptions = 0;
  CheckedCallParams checked;
  if (LONG rc = CheckCallParams(params, line, addresses, oneStepTransferAllowed, checked)) return rc;
  if (!params) return 0;
  calls.SetCallParamFlags(call, checked.callParamFlags, notify);
  calls.SetAddressId(call, checked.addressId, notify);
  for (auto& [blob, bytes] : checked.blobs) calls.SetBlob(call, blob, std::move(bytes), notify);
  callOptions = checked.callOptions;
  return 0;
}

}  // namespace kvarsp
