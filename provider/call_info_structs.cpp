#include "provider/call_info_structs.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "provider/tspi_versions.h"
#include "tapi/tapi_constants.h"

namespace kvarsp {

namespace {

// The caller's structure in its buffer of dwTotalSize bytes: the fixed part
// is read and written back only within that size, variable parts are placed
// only where they fit. All arithmetic in 64 bits.
template <typename T>
class CallerStruct {
 public:
  explicit CallerStruct(T& target) : bytes_(reinterpret_cast<uint8_t*>(&target)), total_(target.dwTotalSize) {
    std::memcpy(&image_, bytes_, Within(sizeof(T)));
  }
  T& image() { return image_; }
  uint64_t total() const { return total_; }
  void Put(uint64_t offset, const void* data, uint64_t size) {
    if (size) std::memcpy(bytes_ + offset, data, static_cast<size_t>(size));
  }
  void WriteBack() { std::memcpy(bytes_, &image_, Within(sizeof(T))); }

 private:
  size_t Within(size_t size) const { return static_cast<size_t>(std::min<uint64_t>(total_, size)); }

  uint8_t* bytes_;
  uint64_t total_;
  T image_{};
};

// Places variable parts one after the other from a start offset while they
// fit; every part counts toward the needed size either way.
class PartWriter {
 public:
  PartWriter(CallerStruct<LINECALLINFO>& target, uint64_t start, uint64_t neededBase)
      : target_(target), used_(start), needed_(neededBase) {}

  // An absent part (size 0) leaves its size and offset 0.
  void Add(const void* data, uint64_t size, DWORD& sizeField, DWORD& offsetField) {
    sizeField = 0;
    offsetField = 0;
    if (size == 0) return;
    needed_ += size;
    if (used_ + size > target_.total()) return;
    target_.Put(used_, data, size);
    sizeField = static_cast<DWORD>(size);
    offsetField = static_cast<DWORD>(used_);
    used_ += size;
  }
  void AddText(const std::optional<std::u16string>& text, DWORD& sizeField, DWORD& offsetField) {
    // The terminator travels with the text.
    Add(text ? text->c_str() : nullptr, WideByteSize(text), sizeField, offsetField);
  }
  void AddBytes(const std::vector<uint8_t>& bytes, DWORD& sizeField, DWORD& offsetField) {
    Add(bytes.data(), bytes.size(), sizeField, offsetField);
  }

  DWORD used() const { return static_cast<DWORD>(used_); }
  DWORD needed() const { return static_cast<DWORD>(std::min<uint64_t>(needed_, 0xFFFFFFFF)); }

 private:
  CallerStruct<LINECALLINFO>& target_;
  uint64_t used_;
  uint64_t needed_;
};

void AddParty(PartWriter& parts, const PartyId& party, DWORD& flags, DWORD& numberSize, DWORD& numberOffset,
              DWORD& nameSize, DWORD& nameOffset) {
  flags = party.flags;
  parts.AddText(party.number, numberSize, numberOffset);
  parts.AddText(party.name, nameSize, nameOffset);
}

bool IsV20(uint32_t lineVersion) { return lineVersion >= kTspiVersionHigh; }

}  // namespace

void FillLineCallInfo(LINECALLINFO& info, const TspCall& call, uint32_t deviceId, uint32_t lineVersion) {
  CallerStruct<LINECALLINFO> target(info);
  LINECALLINFO& s = target.image();
  const bool v20 = IsV20(lineVersion);

  s.dwLineDeviceID = deviceId;
  s.dwAddressID = call.addressId;
  s.dwBearerMode = LINEBEARERMODE_VOICE;
  s.dwRate = 0;
  s.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  s.dwAppSpecific = call.appSpecific;
  s.dwCallID = call.pbxCallId;
  s.dwRelatedCallID = 0;
  s.dwCallParamFlags = call.callParamFlags;
  s.dwCallStates = kReportedCallStates;
  s.DialParams = LINEDIALPARAMS{};
  s.dwOrigin = call.origin;
  s.dwReason = call.reason;
  s.dwCompletionID = 0;
  s.dwCountryCode = call.countryCode;
  s.dwTrunk = 0xFFFFFFFF;
  s.dwTerminalModesSize = 0;
  s.dwTerminalModesOffset = 0;

  // TAPI may already have used room behind the fixed part; our parts follow it.
  const uint64_t start = std::max<uint64_t>(s.dwUsedSize, kCallInfoFixedSize);
  PartWriter parts(target, start, kCallInfoFixedSize);
  AddParty(parts, call.party(PartyRole::Caller), s.dwCallerIDFlags, s.dwCallerIDSize, s.dwCallerIDOffset,
           s.dwCallerIDNameSize, s.dwCallerIDNameOffset);
  AddParty(parts, call.party(PartyRole::Called), s.dwCalledIDFlags, s.dwCalledIDSize, s.dwCalledIDOffset,
           s.dwCalledIDNameSize, s.dwCalledIDNameOffset);
  AddParty(parts, call.party(PartyRole::Connected), s.dwConnectedIDFlags, s.dwConnectedIDSize,
           s.dwConnectedIDOffset, s.dwConnectedIDNameSize, s.dwConnectedIDNameOffset);
  AddParty(parts, call.party(PartyRole::Redirection), s.dwRedirectionIDFlags, s.dwRedirectionIDSize,
           s.dwRedirectionIDOffset, s.dwRedirectionIDNameSize, s.dwRedirectionIDNameOffset);
  AddParty(parts, call.party(PartyRole::Redirecting), s.dwRedirectingIDFlags, s.dwRedirectingIDSize,
           s.dwRedirectingIDOffset, s.dwRedirectingIDNameSize, s.dwRedirectingIDNameOffset);
  parts.AddBytes(call.blob(CallBlob::Display), s.dwDisplaySize, s.dwDisplayOffset);
  parts.AddBytes(call.blob(CallBlob::UserUserInfo), s.dwUserUserInfoSize, s.dwUserUserInfoOffset);
  parts.AddBytes(call.blob(CallBlob::HighLevelCompatibility), s.dwHighLevelCompSize, s.dwHighLevelCompOffset);
  parts.AddBytes(call.blob(CallBlob::LowLevelCompatibility), s.dwLowLevelCompSize, s.dwLowLevelCompOffset);
  parts.AddBytes(call.blob(CallBlob::ChargingInfo), s.dwChargingInfoSize, s.dwChargingInfoOffset);
  parts.AddBytes(call.blob(CallBlob::DevSpecific), s.dwDevSpecificSize, s.dwDevSpecificOffset);
  if (v20) {
    s.dwCallTreatment = 0;
    parts.AddBytes(call.blob(CallBlob::CallData), s.dwCallDataSize, s.dwCallDataOffset);
    s.dwSendingFlowspecSize = 0;
    s.dwSendingFlowspecOffset = 0;
    s.dwReceivingFlowspecSize = 0;
    s.dwReceivingFlowspecOffset = 0;
  }
  s.dwNeededSize = parts.needed();
  s.dwUsedSize = parts.used();
  target.WriteBack();
}

uint32_t CallFeaturesNow(uint32_t state, const CallFeatureContext& context) {
  const CallCounts& counts = context.lineCounts;
  const bool severalCalls = counts.active + counts.onHold + counts.onHoldPending > 1;
  const bool held = counts.onHold + counts.onHoldPending > 0;

  uint32_t features = 0;
  switch (state) {
    case LINECALLSTATE_OFFERING:
      features = LINECALLFEATURE_ACCEPT | LINECALLFEATURE_DROP | LINECALLFEATURE_REDIRECT;
      break;
    case LINECALLSTATE_ACCEPTED:
      features = LINECALLFEATURE_DROP | LINECALLFEATURE_REDIRECT;
      if (!severalCalls) features |= LINECALLFEATURE_ANSWER;
      break;
    // Swapping needs a connected call: a call still being set up beside a
    // held one can only be dropped (or completed from the held call).
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
      features = LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_PROCEEDING:
      features = LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_DISCONNECTED:
      features = LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_CONNECTED:
      features = LINECALLFEATURE_DROP;
      if (context.conferenceRoot) break;  // no CALL_ID to park, transfer or swap
      features |= LINECALLFEATURE_PARK;
      if (!severalCalls) {
        features |= LINECALLFEATURE_SETUPTRANSFER;
        if (!context.blindTransferring) features |= LINECALLFEATURE_BLINDTRANSFER;
      }
      if (held) features |= LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_SWAPHOLD;
      break;
    // A held call completes a transfer with a call being set up or connected,
    // and swaps only with a connected one.
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      features = LINECALLFEATURE_DROP | LINECALLFEATURE_PARK;
      if (context.transferPartners > 0) features |= LINECALLFEATURE_COMPLETETRANSF;
      if (context.connectedPartners > 0) features |= LINECALLFEATURE_SWAPHOLD;
      break;
    case LINECALLSTATE_CONFERENCED:
      if (context.conferenceCallIdHolder) features = LINECALLFEATURE_DROP;
      break;
    default:  // IDLE, UNKNOWN and anything the exchange never reports
      break;
  }
  features |= LINECALLFEATURE_SETCALLPARAMS;
  if (IsV20(context.lineVersion)) features |= LINECALLFEATURE_SETCALLDATA;
  return features;
}

uint32_t CallFeatures2For(uint32_t callFeatures) {
  uint32_t features2 = 0;
  if (callFeatures & LINECALLFEATURE_SETUPTRANSFER) features2 |= LINECALLFEATURE2_ONESTEPTRANSFER;
  if (callFeatures & LINECALLFEATURE_COMPLETETRANSF) {
    features2 |= LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
  }
  if (callFeatures & LINECALLFEATURE_PARK) features2 |= LINECALLFEATURE2_PARKNONDIRECT;
  return features2;
}

void FillLineCallStatus(LINECALLSTATUS& status, const TspCall& call, const CallFeatureContext& context) {
  CallerStruct<LINECALLSTATUS> target(status);
  LINECALLSTATUS& s = target.image();
  s.dwCallState = call.callState;
  s.dwCallStateMode = call.callStateMode;
  s.dwCallFeatures = CallFeaturesNow(call.callState, context);
  s.dwDevSpecificSize = 0;
  s.dwDevSpecificOffset = 0;
  if (IsV20(context.lineVersion)) {
    s.dwCallFeatures2 = CallFeatures2For(s.dwCallFeatures);
    const platform::SystemTime& t = call.stateEntryTime;
    s.tStateEntryTime = SYSTEMTIME{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds};
  }
  target.WriteBack();
}

}  // namespace kvarsp
