#include "provider/line_device_structs.h"

#include <algorithm>
#include <cstring>

#include "provider/line_config.h"
#include "tapi/tapi_constants.h"

namespace kvarsp {

namespace {

constexpr uint32_t kVersion14 = 0x10004;  // first version with dwLineFeatures / dwAddressFeatures
constexpr uint32_t kVersion20 = 0x20000;  // first version with the TAPI 2.0 members

// The caller's buffer: the structure at its start, dwTotalSize bytes long.
class CallerBuffer {
 public:
  CallerBuffer(void* start, DWORD totalSize) : bytes_(static_cast<uint8_t*>(start)), total_(totalSize) {}

  // Both values stay far below 2^63, so the sum cannot overflow.
  bool Fits(uint64_t offset, uint64_t size) const { return offset + size <= total_; }

  // A copy of the fixed part as the caller holds it; bytes past dwTotalSize read as 0.
  template <typename T>
  T ReadFixed() const {
    T copy{};
    std::memcpy(&copy, bytes_, std::min<uint64_t>(total_, sizeof(T)));
    return copy;
  }
  // Writes the fixed part back, but only the bytes within dwTotalSize.
  template <typename T>
  void WriteFixed(const T& image) {
    std::memcpy(bytes_, &image, std::min<uint64_t>(total_, sizeof(T)));
  }
  // Only after Fits(offset, size).
  void Put(uint64_t offset, const void* data, size_t size) {
    if (size) std::memcpy(bytes_ + offset, data, size);
  }
  // The text and its terminator; only after Fits(offset, WideSize(text)).
  void PutWide(uint64_t offset, std::u16string_view text) {
    const char16_t terminator = u'\0';
    Put(offset, text.data(), text.size() * sizeof(char16_t));
    Put(offset + text.size() * sizeof(char16_t), &terminator, sizeof terminator);
  }

 private:
  uint8_t* bytes_;
  uint64_t total_;
};

uint64_t WideSize(std::u16string_view text) { return (uint64_t{text.size()} + 1) * sizeof(char16_t); }

// The variable part behind a fixed part: every piece counts toward the
// needed size; a piece is placed at the used size when it fits.
class VariablePart {
 public:
  VariablePart(CallerBuffer& buffer, uint64_t fixedSize) : buffer_(buffer), needed_(fixedSize), used_(fixedSize) {}

  // Places the bytes and sets the size/offset pair, or leaves the pair 0.
  bool Append(const void* data, uint64_t size, DWORD& sizeField, DWORD& offsetField) {
    return Place(size, sizeField, offsetField,
                 [&](uint64_t at) { buffer_.Put(at, data, static_cast<size_t>(size)); });
  }
  bool AppendWide(std::u16string_view text, DWORD& sizeField, DWORD& offsetField) {
    return Place(WideSize(text), sizeField, offsetField, [&](uint64_t at) { buffer_.PutWide(at, text); });
  }

  DWORD needed() const { return static_cast<DWORD>(needed_); }
  DWORD used() const { return static_cast<DWORD>(used_); }

 private:
  template <typename Write>
  bool Place(uint64_t size, DWORD& sizeField, DWORD& offsetField, Write write) {
    needed_ += size;
    if (!buffer_.Fits(used_, size)) {
      sizeField = 0;
      offsetField = 0;
      return false;
    }
    write(used_);
    sizeField = static_cast<DWORD>(size);
    offsetField = static_cast<DWORD>(used_);
    used_ += size;
    return true;
  }

  CallerBuffer& buffer_;
  uint64_t needed_;
  uint64_t used_;
};

uint32_t CallTotal(const CallCounts& counts) { return counts.active + counts.onHold + counts.onHoldPending; }

}  // namespace

std::u16string LineDeviceName(std::u16string_view configuredName, std::u16string_view lineAddress) {
  std::u16string name(configuredName);
  name += u" NSt. ";
  name += lineAddress;
  return CutText(name, kMaxLineNameChars);
}

uint32_t AddressFeaturesNow(const CallCounts& counts, bool outOfService, uint32_t lineVersion) {
  if (outOfService) return 0;
  const bool v20 = lineVersion >= kVersion20;
  uint32_t features = 0;
  if (counts.active == 0) features |= LINEADDRFEATURE_MAKECALL;
  if (CallTotal(counts) < 2) {
    features |= LINEADDRFEATURE_PICKUP | LINEADDRFEATURE_UNPARK;
    if (v20) features |= LINEADDRFEATURE_PICKUPGROUP | LINEADDRFEATURE_PICKUPDIRECT;
  }
  features |= LINEADDRFEATURE_FORWARD;
  if (v20) features |= LINEADDRFEATURE_FORWARDFWD;
  return features;
}

uint32_t LineFeaturesNow(const CallCounts& counts, bool outOfService, uint32_t lineVersion) {
  uint32_t features = 0;
  if (!outOfService) {
    features |= LINEFEATURE_FORWARD;
    if (counts.active == 0) features |= LINEFEATURE_MAKECALL;
  }
  // Settable status and forwarding to a forwarded number are offered even out of service.
  if (lineVersion >= kVersion20) features |= LINEFEATURE_SETDEVSTATUS | LINEFEATURE_FORWARDFWD;
  return features;
}

void FillLineDevCaps(LINEDEVCAPS& caps, const DevCapsValues& values) {
  CallerBuffer buffer(&caps, caps.dwTotalSize);
  const LINEDEVCAPS original = buffer.ReadFixed<LINEDEVCAPS>();
  const uint32_t version = values.tspiVersion;

  LINEDEVCAPS s{};
  s.dwTotalSize = original.dwTotalSize;
  if (version < kVersion14) s.dwLineFeatures = original.dwLineFeatures;
  if (version < kVersion20) s.dwSettableDevStatus = original.dwSettableDevStatus;

  VariablePart variable(buffer, sizeof(LINEDEVCAPS));
  variable.AppendWide(CutText(values.providerInfo, kMaxProviderInfoChars), s.dwProviderInfoSize,
                      s.dwProviderInfoOffset);
  variable.AppendWide(CutText(values.lineName, kMaxLineNameChars), s.dwLineNameSize, s.dwLineNameOffset);
  s.dwNeededSize = variable.needed();
  s.dwUsedSize = variable.used();

  s.dwPermanentLineID = values.permanentLineId;
  s.dwStringFormat = STRINGFORMAT_UNICODE;
  s.dwAddressModes = LINEADDRESSMODE_ADDRESSID;
  s.dwNumAddresses = values.numAddresses;
  s.dwBearerModes = LINEBEARERMODE_VOICE;
  s.dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  s.dwDevCapFlags = LINEDEVCAPFLAGS_CROSSADDRCONF;
  s.dwMaxNumActiveCalls = 2;
  s.dwAnswerMode = LINEANSWERMODE_HOLD;
  s.dwRingModes = 1;
  // RINGING, CONNECTED, INSERVICE, OPEN, CLOSE, NUMCALLS, REINIT, TRANSLATECHANGE, REMOVED
  s.dwLineStates = 0x1440E46;
  if (version >= kVersion14) {
    s.dwLineFeatures = LINEFEATURE_FORWARD | LINEFEATURE_MAKECALL;
    if (version >= kVersion20) s.dwLineFeatures |= LINEFEATURE_SETDEVSTATUS | LINEFEATURE_FORWARDFWD;
  }
  if (version >= kVersion20) {
    s.dwSettableDevStatus = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_MSGWAIT |
                            LINEDEVSTATUSFLAGS_INSERVICE | LINEDEVSTATUSFLAGS_LOCKED;
  }
  buffer.WriteFixed(s);
}

void FillLineAddressCaps(LINEADDRESSCAPS& caps, const AddressCapsValues& values) {
  CallerBuffer buffer(&caps, caps.dwTotalSize);
  const LINEADDRESSCAPS original = buffer.ReadFixed<LINEADDRESSCAPS>();
  const uint32_t version = values.tspiVersion;
  const bool v20 = version >= kVersion20;

  LINEADDRESSCAPS s{};
  s.dwTotalSize = original.dwTotalSize;
  if (version < kVersion14) s.dwAddressFeatures = original.dwAddressFeatures;
  if (!v20) {
    s.dwPredictiveAutoTransferStates = original.dwPredictiveAutoTransferStates;
    s.dwNumCallTreatments = original.dwNumCallTreatments;
    s.dwCallTreatmentListSize = original.dwCallTreatmentListSize;
    s.dwCallTreatmentListOffset = original.dwCallTreatmentListOffset;
  }

  // The name first, right behind the fixed part; the list of device classes
  // follows wherever the used size then is.
  std::u16string name = CutText(values.addressName, kMaxAddressNameChars);
  VariablePart variable(buffer, sizeof(LINEADDRESSCAPS));
  variable.AppendWide(name, s.dwAddressSize, s.dwAddressOffset);
  // "tapi/line" and three terminators: a list of one class, 24 bytes.
  static constexpr char16_t kDeviceClasses[12] = u"tapi/line\0\0";
  variable.Append(kDeviceClasses, sizeof kDeviceClasses, s.dwDeviceClassesSize, s.dwDeviceClassesOffset);
  s.dwNeededSize = variable.needed();
  s.dwUsedSize = variable.used();

  s.dwLineDeviceID = values.deviceId;
  s.dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
  s.dwAddressStates = LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_FORWARD;
  // APPSPECIFIC, ORIGIN, REASON, NUMOWNERINCR, NUMOWNERDECR, NUMMONITORS,
  // CALLERID, CALLEDID, CONNECTEDID, REDIRECTINGID, CHARGINGINFO; 2.0 adds
  // TREATMENT and CALLDATA.
  s.dwCallInfoStates = v20 ? 0x510BBB20 : 0x10BBB20;
  s.dwCallerIDFlags = 0x69;  // BLOCKED, ADDRESS, UNKNOWN, UNAVAIL
  s.dwCalledIDFlags = 0x68;  // ADDRESS, UNKNOWN, UNAVAIL
  s.dwConnectedIDFlags = 0x69;
  s.dwRedirectionIDFlags = 0x69;
  s.dwRedirectingIDFlags = 0x69;
  s.dwCallStates = 0xFF7F;  // every state but SPECIALINFO
  s.dwDialToneModes = LINEDIALTONEMODE_UNAVAIL;
  s.dwBusyModes = LINEBUSYMODE_UNAVAIL;
  s.dwSpecialInfo = LINESPECIALINFO_UNAVAIL;
  // NORMAL through UNAVAIL; 1.4 adds NODIALTONE; 2.0 adds NUMBERCHANGED,
  // OUTOFORDER, TEMPFAILURE, QOSUNAVAIL, BLOCKED and DONOTDISTURB.
  s.dwDisconnectModes = v20 ? 0x7FFFF : version >= kVersion14 ? 0x1FFF : 0xFFF;
  s.dwMaxNumActiveCalls = 2;
  s.dwMaxNumOnHoldCalls = 1;
  s.dwMaxNumOnHoldPendingCalls = 1;
  s.dwMaxNumConference = 3;
  s.dwMaxNumTransConf = 3;
  // SECURE, BLOCKIDOVERRIDE, DIALED, ORIGOFFHOOK, DESTOFFHOOK, AUTORECONNECT, PARTIALDIAL, CONFDROP
  s.dwAddrCapFlags = 0x2104F4;
  // ACCEPT, ANSWER, BLINDTRANSFER, COMPLETETRANSF, DIAL, DROP, PARK,
  // REDIRECT, SETCALLPARAMS, SETUPTRANSFER, SWAPHOLD; 2.0 adds SETTREATMENT
  // and SETCALLDATA.
  s.dwCallFeatures = v20 ? 0xA62280ED : 0x62280ED;
  s.dwRemoveFromConfCaps = LINEREMOVEFROMCONF_NONE;
  s.dwTransferModes = LINETRANSFERMODE_TRANSFER | LINETRANSFERMODE_CONFERENCE;
  s.dwParkModes = LINEPARKMODE_NONDIRECTED;
  s.dwForwardModes = LINEFORWARDMODE_UNCOND | LINEFORWARDMODE_BUSY | LINEFORWARDMODE_NOANSW;
  s.dwMaxForwardEntries = 1;
  s.dwMinFwdNumRings = 4;
  s.dwMaxFwdNumRings = 4;
  if (version >= kVersion14) {
    s.dwAddressFeatures =
        LINEADDRFEATURE_FORWARD | LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_PICKUP | LINEADDRFEATURE_UNPARK;
    if (v20) {
      s.dwAddressFeatures |=
          LINEADDRFEATURE_PICKUPGROUP | LINEADDRFEATURE_PICKUPDIRECT | LINEADDRFEATURE_FORWARDFWD;
    }
  }
  s.dwMaxCallDataSize = 0x7FFF;
  s.dwCallFeatures2 = LINECALLFEATURE2_ONESTEPTRANSFER | LINECALLFEATURE2_TRANSFERNORM |
                      LINECALLFEATURE2_TRANSFERCONF | LINECALLFEATURE2_PARKNONDIRECT;
  s.dwMaxNoAnswerTimeout = 120;
  s.dwConnectedModes = LINECONNECTEDMODE_ACTIVE;
  s.dwOfferingModes = LINEOFFERINGMODE_ACTIVE;
  s.dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  buffer.WriteFixed(s);
}

void FillLineAddressStatus(LINEADDRESSSTATUS& status, const AddressStatusValues& values) {
  CallerBuffer buffer(&status, status.dwTotalSize);
  const LINEADDRESSSTATUS original = buffer.ReadFixed<LINEADDRESSSTATUS>();

  LINEADDRESSSTATUS s{};
  s.dwTotalSize = original.dwTotalSize;
  s.dwNumActiveCalls = values.counts.active;
  s.dwNumOnHoldCalls = values.counts.onHold;
  s.dwNumOnHoldPendCalls = values.counts.onHoldPending;
  s.dwNumInUse = CallTotal(values.counts) != 0 ? 1 : 0;
  s.dwAddressFeatures = AddressFeaturesNow(values.counts, values.outOfService, values.lineVersion);
  s.dwNumRingsNoAnswer = 4;

  uint64_t needed = sizeof(LINEADDRESSSTATUS);
  uint64_t used = sizeof(LINEADDRESSSTATUS);
  if (values.forwardMode != 0) {
    // One entry with its destination right behind it; the entry goes in only
    // together with its destination, so that it never points at nothing.
    const uint64_t entryOffset = used;
    const uint64_t destinationOffset = entryOffset + sizeof(LINEFORWARD);
    const uint64_t destinationSize = values.forwardDestination ? WideSize(*values.forwardDestination) : 0;
    needed = destinationOffset + destinationSize;
    if (buffer.Fits(entryOffset, sizeof(LINEFORWARD) + destinationSize)) {
      LINEFORWARD entry{};
      entry.dwForwardMode = values.forwardMode;
      entry.dwDestCountryCode = values.forwardCountryCode;
      if (values.forwardDestination) {
        buffer.PutWide(destinationOffset, *values.forwardDestination);
        entry.dwDestAddressSize = static_cast<DWORD>(destinationSize);
        entry.dwDestAddressOffset = static_cast<DWORD>(destinationOffset);
      }
      buffer.Put(entryOffset, &entry, sizeof entry);
      s.dwForwardNumEntries = 1;
      s.dwForwardSize = sizeof(LINEFORWARD);
      s.dwForwardOffset = static_cast<DWORD>(entryOffset);
      used = needed;
    }
  }
  s.dwNeededSize = static_cast<DWORD>(needed);
  s.dwUsedSize = static_cast<DWORD>(used);
  buffer.WriteFixed(s);
}

void FillLineDevStatus(LINEDEVSTATUS& status, const DevStatusValues& values) {
  CallerBuffer buffer(&status, status.dwTotalSize);
  const LINEDEVSTATUS original = buffer.ReadFixed<LINEDEVSTATUS>();
  const bool v20 = values.lineVersion >= kVersion20;

  LINEDEVSTATUS s{};
  s.dwTotalSize = original.dwTotalSize;
  s.dwNumOpens = original.dwNumOpens;
  s.dwOpenMediaModes = original.dwOpenMediaModes;
  s.dwAppInfoSize = original.dwAppInfoSize;
  s.dwAppInfoOffset = original.dwAppInfoOffset;
  if (!v20) s.dwAvailableMediaModes = original.dwAvailableMediaModes;

  s.dwNeededSize = sizeof(LINEDEVSTATUS);
  s.dwUsedSize = sizeof(LINEDEVSTATUS);
  s.dwNumActiveCalls = values.counts.active;
  s.dwNumOnHoldCalls = values.counts.onHold;
  s.dwNumOnHoldPendCalls = values.counts.onHoldPending;
  s.dwLineFeatures = LineFeaturesNow(values.counts, values.outOfService, values.lineVersion);
  s.dwSignalLevel = 0xFFFF;
  s.dwBatteryLevel = 0xFFFF;
  s.dwRoamMode = LINEROAMMODE_UNAVAIL;
  s.dwDevStatusFlags = values.outOfService ? 0 : LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  if (v20) s.dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  buffer.WriteFixed(s);
}

void FillDeviceIdVarString(VARSTRING& varString, uint32_t deviceId) {
  constexpr DWORD kNeeded = sizeof(VARSTRING) + sizeof(DWORD);
  CallerBuffer buffer(&varString, varString.dwTotalSize);
  VARSTRING s = buffer.ReadFixed<VARSTRING>();
  s.dwNeededSize = kNeeded;
  if (buffer.Fits(0, kNeeded)) {
    s.dwUsedSize = kNeeded;
    s.dwStringFormat = STRINGFORMAT_BINARY;
    s.dwStringSize = sizeof(DWORD);
    s.dwStringOffset = sizeof(VARSTRING);
    buffer.Put(sizeof(VARSTRING), &deviceId, sizeof deviceId);
  }
  buffer.WriteFixed(s);
}

std::u16string_view WideTextWithin(const char16_t* text, uint64_t maxBytes) {
  if (!text) return {};
  const uint64_t maxChars = maxBytes / sizeof(char16_t);
  size_t length = 0;
  while (length < maxChars && text[length] != u'\0') ++length;
  return std::u16string_view(text, length);
}

std::optional<std::u16string_view> CallParamsOrigAddress(const LINECALLPARAMS& params) {
  constexpr uint64_t kFixedPart = offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);
  const uint64_t total = params.dwTotalSize;
  if (total < kFixedPart) return std::nullopt;
  const uint64_t size = params.dwOrigAddressSize, offset = params.dwOrigAddressOffset;
  if (size == 0 || offset < kFixedPart || offset + size > total || offset % alignof(char16_t) != 0) {
    return std::nullopt;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(&params);
  return WideTextWithin(reinterpret_cast<const char16_t*>(bytes + offset), size);
}

}  // namespace kvarsp
