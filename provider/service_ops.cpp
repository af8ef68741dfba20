// The supplementary services TAPI asks for: swap hold, redirect and forward.
// Each checks its arguments in order, hands one request to the link and
// returns the request ID; the link completes the request later.
#include "provider/service_ops.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "provider/call_params.h"

namespace kvarsp {

namespace {

bool IsHeld(uint32_t state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDCONF ||
         state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

DWORD ReadDword(const BYTE* at) {
  DWORD value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::optional<uint8_t> ForwardingTypeOf(uint32_t mode) {
  switch (mode) {
    case LINEFORWARDMODE_UNCOND:
      return 0;
    case LINEFORWARDMODE_BUSY:
      return 1;
    case LINEFORWARDMODE_NOANSW:
      return 2;
    default:
      return std::nullopt;
  }
}

LONG ReadForwardList(const LINEFORWARDLIST* list, ForwardWish& wish) {
  wish = ForwardWish{};
  if (!list) return 0;
  constexpr size_t kHeadSize = offsetof(LINEFORWARDLIST, ForwardList);
  const BYTE* base = reinterpret_cast<const BYTE*>(list);
  const uint64_t totalSize = ReadDword(base);
  if (totalSize < kHeadSize) return LINEERR_STRUCTURETOOSMALL;
  const DWORD numEntries = ReadDword(base + offsetof(LINEFORWARDLIST, dwNumEntries));
  if (numEntries == 0) return 0;
  if (numEntries != 1) return LINEERR_INVALPARAM;
  if (totalSize < kHeadSize + sizeof(LINEFORWARD)) return LINEERR_STRUCTURETOOSMALL;
  LINEFORWARD entry;
  std::memcpy(&entry, base + kHeadSize, sizeof entry);

  if (entry.dwDestAddressSize == 0 || entry.dwDestAddressOffset == 0) return LINEERR_INVALADDRESS;
  // 64-bit sum: no offset and size can wrap past the end of the list.
  if (uint64_t{entry.dwDestAddressOffset} + entry.dwDestAddressSize > totalSize) return LINEERR_INVALADDRESS;
  // The destination is a wide string of at most dwDestAddressSize bytes,
  // ended by its terminator or by its size; the copy is terminated.
  std::u16string text(entry.dwDestAddressSize / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), base + entry.dwDestAddressOffset, text.size() * sizeof(char16_t));
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  std::u16string digits;
  if (LONG rc = FilterDialDigits(text.c_str(), digits)) return rc;
  if (digits.empty()) return LINEERR_INVALADDRESS;
  wish.mode = entry.dwForwardMode;
  wish.countryCode = entry.dwDestCountryCode;
  wish.destination = std::move(digits);
  return 0;
}

ServiceOperations::ServiceOperations(CCritSec& lock, LinkInterface& link, CallModel& calls,
                                     const LineDirectory& directory)
    : lock_(lock), link_(link), calls_(calls), directory_(directory) {}

LONG ServiceOperations::SwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  ScopedLock lock(&lock_);
  const TspCall* first = calls_.FindCall(hdActiveCall);
  const TspCall* second = calls_.FindCall(hdHeldCall);
  if (!first || !second || first->line != second->line) return LINEERR_INVALCALLHANDLE;
  OpenLine* line = calls_.FindLine(reinterpret_cast<HDRVLINE>(first->line));
  if (!line) return LINEERR_INVALCALLHANDLE;
  // Exactly one held and exactly one connected, in either order.
  if (IsHeld(first->callState) && second->callState == LINECALLSTATE_CONNECTED) std::swap(first, second);
  if (first->callState != LINECALLSTATE_CONNECTED || !IsHeld(second->callState)) return LINEERR_INVALCALLSTATE;
  if (!first->pbxCallIdValid || !second->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  if (LONG rc = link_.SwapHold(requestId, *line, *first, *second)) return rc;
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::Redirect(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD /*countryCode*/) {
  ScopedLock lock(&lock_);
  const TspCall* call = calls_.FindCall(hdCall);
  OpenLine* line = call ? calls_.FindLine(reinterpret_cast<HDRVLINE>(call->line)) : nullptr;
  if (!line) return LINEERR_INVALCALLHANDLE;
  if (call->callState != LINECALLSTATE_OFFERING && call->callState != LINECALLSTATE_ACCEPTED)
    return LINEERR_INVALCALLSTATE;
  std::u16string digits;
  try {
    if (LONG rc = FilterDialDigits(destAddress, digits)) return rc;
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  if (digits.empty()) return LINEERR_INVALADDRESS;
  if (!call->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  if (LONG rc = link_.Redirect(requestId, *line, *call, digits)) return rc;
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::Forward(DRV_REQUESTID requestId, HDRVLINE hdLine, DWORD allAddresses, DWORD addressId,
                                const LINEFORWARDLIST* forwardList, LPHDRVCALL lphdConsultCall) {
  if (lphdConsultCall) *lphdConsultCall = nullptr;
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (line->outOfService) return LINEERR_INVALLINESTATE;
  if (!allAddresses && addressId >= directory_.AddressCount(line->deviceId)) return LINEERR_INVALADDRESSID;
  ForwardWish wish;
  try {
    if (LONG rc = ReadForwardList(forwardList, wish)) return rc;
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  const bool cancel = !wish.destination;
  const std::optional<uint8_t> forwardingType =
      cancel ? std::optional<uint8_t>(kForwardingTypeCancel) : ForwardingTypeOf(wish.mode);
  if (!forwardingType) return LINEERR_INVALPARAM;
  if (!directory_.PbxLineIdOf(line->deviceId)) return LINEERR_OPERATIONFAILED;
  if (LONG rc =
          link_.Forward(requestId, *line, *forwardingType, wish.mode, wish.countryCode, std::move(wish.destination)))
    return rc;
  return static_cast<LONG>(requestId);
}

}  // namespace kvarsp
