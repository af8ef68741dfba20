// TSPI_lineOpen and TSPI_lineClose: a line is opened by starting the link to
// the exchange (counted: the first opener performs the start handshake),
// registering the line and fetching its forwarding; it is closed by aborting
// its pending requests, deleting its calls, unregistering it and ending the
// link (the last one performs the end handshake).
#include "provider/line_operations.h"
#include "provider/trace.h"
#include "provider/tspi_versions.h"

namespace kvarsp {

LineOperations::LineOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, CAsyncComplEvent2Tapi& events,
                               const ConfigTables& config, const LineDirectory& directory,
                               const ProviderSession& session)
    : lock_(lock),
      link_(link),
      calls_(calls),
      events_(events),
      config_(config),
      directory_(directory),
      session_(session) {}

LONG LineOperations::LineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD tspiVersion,
                              LINEEVENT eventProc) {
  ScopedLock lock(&lock_);
  if (!directory_.LineIndexOf(deviceId)) return LINEERR_BADDEVICEID;
  if (!IsAcceptedTspiVersion(tspiVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (calls_.FindLineByDevice(deviceId)) {
    traceTapi("TSPI_lineOpen - Line already in use");
    return LINEERR_RESOURCEUNAVAIL;
  }
  if (!lphdLine) return LINEERR_INVALPOINTER;

  const HDRVLINE hdLine = reinterpret_cast<HDRVLINE>(htLine);
  OpenLine record;
  record.deviceId = deviceId;
  record.tspiVersion = tspiVersion;
  record.htLine = htLine;
  record.eventProc = eventProc;
  try {
    calls_.AddLine(record);
  } catch (const std::bad_alloc&) {
    traceTapi("TSPI_lineOpen - Cannot create line in TSP");
    return LINEERR_NOMEM;
  }
  *lphdLine = hdLine;

  const std::optional<uint16_t> pbxLineId = directory_.PbxLineIdOf(deviceId);
  if (!pbxLineId) {
    calls_.RemoveLine(hdLine);
    traceTapi("TSPI_lineOpen - Cannot query PBX line ID");
    return LINEERR_OPERATIONFAILED;
  }
  calls_.FindLine(hdLine)->pbxLineId = *pbxLineId;

  const int started = link_.LinkStart(kLineOpenProtocolVersion, lock);
  if (started != 0) {
    calls_.RemoveLine(hdLine);
    traceTapi("TSPI_lineOpen - Cannot initialize Varnet (%ld)", static_cast<long>(started));
    return LINEERR_OPERATIONFAILED;
  }
  if (link_.RegisterLine(*pbxLineId, lock) != 0) {
    calls_.RemoveLine(hdLine);
    link_.LinkEnd(lock);
    traceTapi("TSPI_lineOpen - Cannot register line");
    return LINEERR_OPERATIONFAILED;
  }
  // The lock was handed back while the exchange answered; the line is looked
  // up again rather than trusted.
  if (OpenLine* line = calls_.FindLine(hdLine)) link_.GetLineInfo(*line, *pbxLineId, lock);
  return 0;
}

LONG LineOperations::LineClose(HDRVLINE hdLine) {
  ScopedLock lock(&lock_);
  OpenLine* line = calls_.FindLine(hdLine);
  if (!line) return LINEERR_INVALLINEHANDLE;

  link_.AbortLineRequests(*line);
  calls_.CloseCallsOfLine(*line);

  // The line is unregistered under the ID it was registered with, also when
  // the configuration has changed since.
  const uint16_t pbxLineId = line->pbxLineId;
  const bool wasOutOfService = line->outOfService;
  const HTAPILINE htLine = line->htLine;
  calls_.RemoveLine(hdLine);
  events_.WaitForLine(htLine);

  if (wasOutOfService) return 0;
  const LONG unregistered = link_.UnregisterLine(pbxLineId, lock);
  const int ended = link_.LinkEnd(lock);
  return unregistered != 0 || ended != 0 ? LINEERR_OPERATIONFAILED : 0;
}

}  // namespace kvarsp
