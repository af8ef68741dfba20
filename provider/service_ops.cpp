// The supplementary services TAPI asks for: transfers, conference, swap
// hold, park, unpark, pickup, redirect and forward. Each checks its arguments
// in order, hands one request to the link and returns the request ID; the
// link completes the request later.
#include "provider/service_ops.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "provider/call_params.h"
#include "provider/tspi_versions.h"

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

// Line calls: active, held and held-pending calls of the line.
uint32_t LineCalls(const CallCounts& counts) { return counts.active + counts.onHold + counts.onHoldPending; }

// The states a consultation call may be in when a transfer is completed.
bool CompletesTransfer(uint32_t state) {
  switch (state) {
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_CONNECTED:
    case LINECALLSTATE_PROCEEDING:
    case LINECALLSTATE_DISCONNECTED: return true;
    default: return false;
  }
}

// The one-step transfer's target address of call parameters on a 0x20000
// line, through the digit filter: empty when there is none. Nothing is read
// outside dwTotalSize.
LONG OneStepTarget(const LINECALLPARAMS* params, uint32_t lineVersion, std::u16string& digits) {
  digits.clear();
  if (!params || lineVersion < kTspiVersionHigh) return 0;
  if (!(CallParamsMember(*params, &LINECALLPARAMS::dwCallParamFlags) & LINECALLPARAMFLAGS_ONESTEPTRANSFER)) return 0;
  const DWORD size = CallParamsMember(*params, &LINECALLPARAMS::dwTargetAddressSize);
  const DWORD offset = CallParamsMember(*params, &LINECALLPARAMS::dwTargetAddressOffset);
  if (size == 0 || offset == 0) return 0;
  if (uint64_t{offset} + size > params->dwTotalSize) return LINEERR_INVALCALLPARAMS;
  std::u16string text(size / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), reinterpret_cast<const BYTE*>(params) + offset, text.size() * sizeof(char16_t));
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return FilterDialDigits(text.c_str(), digits);
}

// The digit filter on an application's destination; LINEERR_NOMEM when
// the digits cannot be stored.
LONG FilterDestination(LPCWSTR destAddress, std::u16string& digits) {
  try {
    return FilterDialDigits(destAddress, digits);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
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

std::optional<uint16_t> ParseParkAddress(const char16_t* text) {
  uint32_t value = 0;
  for (const char16_t* p = text; p && *p; ++p) {
    if (*p < u'0' || *p > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(*p - u'0');
    if (value > std::numeric_limits<uint16_t>::max()) return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

ServiceOperations::ServiceOperations(CCritSec& lock, LinkInterface& link, CallModel& calls,
                                     const LineDirectory& directory)
    : lock_(lock), link_(link), calls_(calls), directory_(directory) {}

OpenLine* ServiceOperations::LineOfCall(HDRVCALL hdCall, const TspCall*& call) {
  call = calls_.FindCall(hdCall);
  return call ? calls_.FindLine(reinterpret_cast<HDRVLINE>(call->line)) : nullptr;
}

std::optional<uint8_t> ServiceOperations::HandsfreeOptions(const OpenLine& line) const {
  const std::optional<uint8_t> handsfreeMode = directory_.HandsfreeModeOf(line.deviceId);
  if (!handsfreeMode) return std::nullopt;
  return ApplyHandsfreeMode(0, *handsfreeMode);
}

LONG ServiceOperations::BlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress,
                                      DWORD /*countryCode*/) {
  ScopedLock lock(&lock_);
  const TspCall* call = nullptr;
  OpenLine* line = LineOfCall(hdCall, call);
  if (!line) return LINEERR_INVALCALLHANDLE;
  // A call whose blind transfer is already under way has only one wait to keep.
  if (call->callState != LINECALLSTATE_CONNECTED || call->blindTransfer || call->blindTransferWait.active)
    return LINEERR_INVALCALLSTATE;
  if (LineCalls(calls_.CountLine(*line)) >= 2) return LINEERR_INVALLINESTATE;
  std::u16string digits;
  if (LONG rc = FilterDestination(destAddress, digits)) return rc;
  if (digits.empty()) return LINEERR_INVALADDRESS;
  const std::optional<uint8_t> options = HandsfreeOptions(*line);
  if (!directory_.PbxLineIdOf(line->deviceId) || !call->pbxCallIdValid || !options) return LINEERR_OPERATIONFAILED;
  if (LONG rc = link_.BlindTransfer(requestId, *line, *call, digits, *options)) return rc;
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::SetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                      LPHDRVCALL lphdConsultCall, const LINECALLPARAMS* callParams) {
  ScopedLock lock(&lock_);
  const TspCall* call = nullptr;
  OpenLine* line = LineOfCall(hdCall, call);
  if (!line) return LINEERR_INVALCALLHANDLE;
  if (call->callState != LINECALLSTATE_CONNECTED) return LINEERR_INVALCALLSTATE;
  if (LineCalls(calls_.CountLine(*line)) >= 2) return LINEERR_INVALLINESTATE;
  std::u16string digits;
  const TspCall* consultation = nullptr;
  try {
    if (LONG rc = OneStepTarget(callParams, line->tspiVersion, digits)) return rc;
    if (!lphdConsultCall) return LINEERR_INVALPOINTER;
    consultation = calls_.CreateCall(*line, htConsultCall, digits, 0, LINECALLORIGIN_OUTBOUND);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  // Every failure from here on takes the consultation call away again.
  auto fail = [&](LONG rc) {
    calls_.DeleteCall(consultation);
    return rc;
  };
  uint8_t callOptions = 0;
  if (LONG rc = ApplyCallParams(calls_, *consultation, callParams, *line, directory_, true, false, callOptions))
    return fail(rc);
  const std::optional<uint8_t> handsfreeMode = directory_.HandsfreeModeOf(line->deviceId);
  if (!directory_.PbxLineIdOf(line->deviceId) || !call->pbxCallIdValid || !handsfreeMode)
    return fail(LINEERR_OPERATIONFAILED);
  callOptions = ApplyHandsfreeMode(callOptions, *handsfreeMode);
  if (LONG rc = link_.SetupTransfer(requestId, *line, *call, *consultation, digits, callOptions)) return fail(rc);

  if (line->tspiVersion >= kTspiVersionHigh && callParams) {
    const DWORD seconds = CallParamsMember(*callParams, &LINECALLPARAMS::dwNoAnswerTimeout);
    if (seconds != 0)
      calls_.StartNoAnswerTimer(*consultation,
                                static_cast<uint32_t>(std::min<uint64_t>(uint64_t{seconds} * 1000, UINT32_MAX)));
  }
  calls_.Unbind(*consultation);
  *lphdConsultCall = reinterpret_cast<HDRVCALL>(consultation->handle);
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::CompleteTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                                         HTAPICALL htConfCall, LPHDRVCALL lphdConfCall, DWORD transferMode) {
  if (lphdConfCall) *lphdConfCall = nullptr;
  ScopedLock lock(&lock_);
  const TspCall* first = nullptr;
  const TspCall* second = nullptr;
  OpenLine* line = LineOfCall(hdCall, first);
  OpenLine* consultLine = LineOfCall(hdConsultCall, second);
  if (!line || line != consultLine) return LINEERR_INVALCALLHANDLE;
  bool conference = false;
  if (transferMode == LINETRANSFERMODE_CONFERENCE) {
    conference = true;
  } else if (transferMode != 0 && transferMode != LINETRANSFERMODE_TRANSFER) {
    return LINEERR_OPERATIONFAILED;
  }
  // Exactly one held; the other one qualifies for the mode.
  if (IsHeld(first->callState)) std::swap(first, second);
  const TspCall* other = first;
  const TspCall* held = second;
  if (IsHeld(other->callState) || !IsHeld(held->callState)) return LINEERR_INVALCALLSTATE;
  if (conference ? other->callState != LINECALLSTATE_CONNECTED : !CompletesTransfer(other->callState))
    return LINEERR_INVALCALLSTATE;
  if (!other->pbxCallIdValid || !held->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  if (!conference) {
    if (LONG rc = link_.CompleteTransfer(requestId, *line, *other, *held)) return rc;
    return static_cast<LONG>(requestId);
  }

  if (!lphdConfCall) return LINEERR_INVALPOINTER;
  const TspCall* root = nullptr;
  try {
    root = calls_.CreateConferenceCall(*line, htConfCall, other->addressId);
  } catch (const std::bad_alloc&) {
    return LINEERR_OPERATIONFAILED;
  }
  calls_.BecomeConferenceRoot(*root, other->pbxCallId);
  calls_.SetOrigin(*root, LINECALLORIGIN_CONFERENCE, false);
  calls_.PrepareConference(*other, *root);
  calls_.PrepareConference(*held, *root);
  if (LONG rc = link_.Conference(requestId, *line, *root, *other, *held)) {
    calls_.ForgetPreparedConference(*root);
    calls_.DeleteCall(root);
    return rc;
  }
  *lphdConfCall = root->hdCall();
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::Park(DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD parkMode, LPVARSTRING nonDirAddress) {
  if (parkMode != LINEPARKMODE_NONDIRECTED) return LINEERR_INVALPARKMODE;
  if (!nonDirAddress) return LINEERR_INVALPOINTER;
  if (nonDirAddress->dwTotalSize < kParkAddressNeededSize) {
    // A buffer too small even for dwNeededSize only hears the error.
    if (nonDirAddress->dwTotalSize >= offsetof(VARSTRING, dwNeededSize) + sizeof(DWORD))
      nonDirAddress->dwNeededSize = kParkAddressNeededSize;
    return LINEERR_STRUCTURETOOSMALL;
  }
  ScopedLock lock(&lock_);
  const TspCall* call = nullptr;
  OpenLine* line = LineOfCall(hdCall, call);
  if (!line) return LINEERR_INVALCALLHANDLE;
  if (call->callState != LINECALLSTATE_CONNECTED && !IsHeld(call->callState)) return LINEERR_INVALCALLSTATE;
  if (!call->pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  if (LONG rc = link_.Park(requestId, *line, *call, nonDirAddress)) return rc;
  return static_cast<LONG>(requestId);
}

template <typename Send>
LONG ServiceOperations::NewCallRequest(DRV_REQUESTID requestId, OpenLine& line, HTAPICALL htCall,
                                       LPHDRVCALL lphdCall, uint32_t reason, Send&& send) {
  if (!lphdCall) return LINEERR_INVALPOINTER;
  const TspCall* call = nullptr;
  try {
    call = calls_.CreateCall(line, htCall, u"", 0, LINECALLORIGIN_UNAVAIL);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  const std::optional<uint8_t> options = HandsfreeOptions(line);
  LONG rc = !directory_.PbxLineIdOf(line.deviceId) || !options ? LINEERR_OPERATIONFAILED : send(*call, *options);
  if (rc != 0) {
    calls_.DeleteCall(call);
    return rc;
  }
  calls_.SetReason(*call, reason, false);
  calls_.Unbind(*call);
  *lphdCall = reinterpret_cast<HDRVCALL>(call->handle);
  return static_cast<LONG>(requestId);
}

LONG ServiceOperations::Unpark(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                               LPCWSTR destAddress) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (line->outOfService) return LINEERR_INVALLINESTATE;
  const std::optional<uint16_t> parkAddress = ParseParkAddress(destAddress);
  if (!parkAddress) return LINEERR_INVALADDRESS;
  return NewCallRequest(requestId, *line, htCall, lphdCall, LINECALLREASON_UNPARK,
                        [&](const TspCall& call, uint8_t options) {
                          return link_.Unpark(requestId, *line, call, *parkAddress, options);
                        });
}

LONG ServiceOperations::Pickup(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                               LPCWSTR destAddress) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (line->outOfService) return LINEERR_INVALLINESTATE;
  std::u16string digits;  // none: the oldest call ringing elsewhere
  if (LONG rc = FilterDestination(destAddress, digits)) return rc;
  return NewCallRequest(requestId, *line, htCall, lphdCall, LINECALLREASON_PICKUP,
                        [&](const TspCall& call, uint8_t options) {
                          return link_.Pickup(requestId, *line, call, digits, options);
                        });
}

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
  if (LONG rc = FilterDestination(destAddress, digits)) return rc;
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
