// The line device operations that describe and configure a line and its
// addresses: capabilities, status, address lookup, status messages, media
// detection and the device ID of a line. Opening and closing a line live
// elsewhere.
#include <cstddef>
#include <new>
#include <string>

#include "provider/config_store.h"
#include "provider/line_device_structs.h"
#include "provider/line_operations.h"
#include "provider/trace.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

namespace {

constexpr DWORD kDevStatusAll = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_MSGWAIT |
                                LINEDEVSTATUSFLAGS_INSERVICE | LINEDEVSTATUSFLAGS_LOCKED;
// The call parameter flags a conditional media detection may ask for.
constexpr DWORD kDetectableCallParamFlags = 0x9F;
// The fixed part of LINECALLPARAMS that every TSPI version has.
constexpr DWORD kCallParamsFixedPart = offsetof(LINECALLPARAMS, dwPredictiveAutoTransferStates);

bool OnlyVoice(DWORD mediaModes) { return (mediaModes & ~DWORD{LINEMEDIAMODE_INTERACTIVEVOICE}) == 0; }

}  // namespace

LONG LineOperations::GetDevCaps(DWORD deviceId, DWORD tspiVersion, DWORD extVersion, LPLINEDEVCAPS caps) {
  if (!caps) return LINEERR_INVALPOINTER;
  if (caps->dwTotalSize < sizeof(LINEDEVCAPS)) {
    traceTapi("TSPI_lineGetDevCaps() - LINEDEVCAPS structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  auto index = directory_.LineIndexOf(deviceId);
  if (!index) return LINEERR_BADDEVICEID;
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (extVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;

  try {
    const std::u16string name =
        LineDeviceName(ReadLineName(session_.permanentProviderId, kLineNameReadChars), config_.lines[*index].address);
    DevCapsValues values;
    values.lineName = name;
    values.permanentLineId = (session_.permanentProviderId << 16) + static_cast<uint32_t>(*index);
    values.numAddresses = config_.AddressCount(*index);
    values.tspiVersion = tspiVersion;
    FillLineDevCaps(*caps, values);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  return 0;
}

LONG LineOperations::GetAddressCaps(DWORD deviceId, DWORD addressId, DWORD tspiVersion, DWORD /*extVersion*/,
                                    LPLINEADDRESSCAPS caps) {
  if (!caps) return LINEERR_INVALPOINTER;
  if (caps->dwTotalSize < sizeof(LINEADDRESSCAPS)) {
    traceTapi("TSPI_lineGetAddressCaps() - LINEADDRESSCAPS structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  auto index = directory_.LineIndexOf(deviceId);
  if (!index) return LINEERR_BADDEVICEID;
  if (addressId >= config_.AddressCount(*index)) return LINEERR_INVALADDRESSID;

  try {
    const std::u16string name = config_.AddressName(*index, addressId);
    AddressCapsValues values;
    values.deviceId = deviceId;
    values.addressName = name;
    values.tspiVersion = tspiVersion;
    FillLineAddressCaps(*caps, values);
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  return 0;
}

LONG LineOperations::GetNumAddressIDs(HDRVLINE hdLine, LPDWORD numAddressIds) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (!numAddressIds) return LINEERR_INVALPOINTER;
  // The line's own addresses, the same count its capabilities report and
  // its address IDs are checked against.
  *numAddressIds = directory_.AddressCount(line->deviceId);
  return 0;
}

LONG LineOperations::GetAddressID(HDRVLINE hdLine, LPDWORD addressId, DWORD addressMode, LPCWSTR address, DWORD size) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (addressMode != LINEADDRESSMODE_DIALABLEADDR) return LINEERR_INVALADDRESSMODE;
  if (!addressId) return LINEERR_INVALPOINTER;
  if (!address) return LINEERR_INVALADDRESS;
  auto match = directory_.MatchAddress(line->deviceId, WideTextWithin(address, size));
  if (!match) return LINEERR_INVALADDRESS;
  *addressId = *match;
  return 0;
}

LONG LineOperations::GetAddressStatus(HDRVLINE hdLine, DWORD addressId, LPLINEADDRESSSTATUS status) {
  if (!status) return LINEERR_INVALPOINTER;
  if (status->dwTotalSize < sizeof(LINEADDRESSSTATUS)) {
    traceTapi("TSPI_lineGetAddressStatus() - LINEADDRESSSTATUS structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (LONG rc = calls_.ValidateAddress(*line, addressId)) return rc;

  AddressStatusValues values;
  values.counts = calls_.CountAddress(*line, addressId);
  values.outOfService = line->outOfService;
  values.lineVersion = line->tspiVersion;
  values.forwardMode = line->forwardMode;
  values.forwardCountryCode = line->forwardCountryCode;
  values.forwardDestination = line->forwardDestination ? &*line->forwardDestination : nullptr;
  FillLineAddressStatus(*status, values);
  return 0;
}

LONG LineOperations::GetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS status) {
  if (!status) return LINEERR_INVALPOINTER;
  if (status->dwTotalSize < sizeof(LINEDEVSTATUS)) {
    traceTapi("TSPI_lineGetLineDevStatus() - LINEDEVSTATUS structure too small");
    return LINEERR_OPERATIONFAILED;
  }
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;

  DevStatusValues values;
  values.counts = calls_.CountLine(*line);
  values.outOfService = line->outOfService;
  values.lineVersion = line->tspiVersion;
  FillLineDevStatus(*status, values);
  return 0;
}

LONG LineOperations::SetLineDevStatus(DRV_REQUESTID requestId, HDRVLINE hdLine, DWORD statusToChange, DWORD fStatus) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (line->tspiVersion < kTspiVersionHigh) return LINEERR_OPERATIONFAILED;

  bool accepted;
  if (fStatus) {
    // Switching on: only what the line already is, and only while it is.
    accepted = !line->outOfService &&
               (statusToChange & ~(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE)) == 0;
  } else {
    // Switching off: message waiting and locked are never on; out of service
    // every status is already off.
    accepted = (statusToChange & ~(LINEDEVSTATUSFLAGS_MSGWAIT | LINEDEVSTATUSFLAGS_LOCKED)) == 0 ||
               (line->outOfService && (statusToChange & ~kDevStatusAll) == 0);
  }
  if (!accepted) return LINEERR_OPERATIONFAILED;
  // Nothing changes; the request completes at once.
  events_.QueueCompletion(line->htLine, requestId, 0);
  return static_cast<LONG>(requestId);
}

LONG LineOperations::SetStatusMessages(HDRVLINE hdLine, DWORD lineStates, DWORD addressStates) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  line->lineStateMask = lineStates;
  line->addressStateMask = addressStates;
  return 0;
}

LONG LineOperations::SetDefaultMediaDetection(HDRVLINE hdLine, DWORD mediaModes) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (!OnlyVoice(mediaModes)) return LINEERR_INVALMEDIAMODE;
  line->detectionMediaModes = mediaModes;
  return 0;
}

LONG LineOperations::ConditionalMediaDetection(HDRVLINE hdLine, DWORD mediaModes, LPLINECALLPARAMS callParams) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;
  if (!OnlyVoice(mediaModes)) return LINEERR_INVALMEDIAMODE;
  if (!callParams) return 0;
  // Members past dwTotalSize are not the caller's to read.
  if (callParams->dwTotalSize < kCallParamsFixedPart) return LINEERR_OPERATIONFAILED;
  if (callParams->dwBearerMode != LINEBEARERMODE_VOICE) return LINEERR_OPERATIONFAILED;
  if (!OnlyVoice(callParams->dwMediaMode)) return LINEERR_INVALMEDIAMODE;
  if ((callParams->dwCallParamFlags & ~kDetectableCallParamFlags) != 0) return LINEERR_OPERATIONFAILED;
  if (callParams->dwAddressMode != LINEADDRESSMODE_DIALABLEADDR) return 0;
  auto origin = CallParamsOrigAddress(*callParams);
  if (origin && directory_.MatchAddress(line->deviceId, *origin)) return 0;
  return LINEERR_OPERATIONFAILED;
}

LONG LineOperations::GetID(HDRVLINE hdLine, DWORD addressId, HDRVCALL hdCall, DWORD select, LPVARSTRING deviceId,
                           LPCWSTR deviceClass) {
  ScopedLock lock(&lock_);
  const OpenLine* line = nullptr;
  switch (select) {
    case LINECALLSELECT_LINE:
      line = calls_.FindLine(hdLine);
      if (!line) return LINEERR_INVALLINEHANDLE;
      break;
    case LINECALLSELECT_ADDRESS:
      // The address count belongs to the line, so the line is found first.
      line = calls_.FindLine(hdLine);
      if (!line) return LINEERR_INVALLINEHANDLE;
      if (LONG rc = calls_.ValidateAddress(*line, addressId)) return rc;
      break;
    case LINECALLSELECT_CALL: {
      // The device of a call is the device of the line it belongs to.
      const TspCall* call = calls_.FindCall(hdCall);
      if (!call) return LINEERR_INVALCALLHANDLE;
      line = calls_.FindLine(reinterpret_cast<HDRVLINE>(call->line));
      if (!line) return LINEERR_INVALCALLHANDLE;
      break;
    }
    default:
      return LINEERR_OPERATIONFAILED;
  }
  if (!deviceClass || std::u16string_view(deviceClass) != u"tapi/line") return LINEERR_NODEVICE;
  if (!deviceId) return LINEERR_INVALPOINTER;
  FillDeviceIdVarString(*deviceId, line->deviceId);
  return 0;
}

LONG LineOperations::GetIcon(DWORD deviceId, LPHICON icon) {
  ScopedLock lock(&lock_);
  if (!directory_.LineIndexOf(deviceId)) return LINEERR_BADDEVICEID;
  if (!icon) return LINEERR_INVALPOINTER;
  *icon = nullptr;  // TAPI shows its default icon
  return 0;
}

}  // namespace kvarsp
