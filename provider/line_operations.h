#pragma once
// The TSPI operations on line devices: open and close (line_open_close.cpp:
// the first open starts the link to the exchange and every open registers
// its line; a close aborts the line's requests, closes its calls, drains its
// events and unregisters it) and capabilities, status and settings
// (line_device_ops.cpp). Runs on TAPI's threads and takes the provider lock
// itself; open and close hand it back while the exchange answers and while
// the line's events drain.
#include <cstdint>

#include "common/sync.h"
#include "provider/call_model.h"
#include "provider/event_queue.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/provider_state.h"
#include "tapi/tspi.h"

namespace kvarsp {

class LineOperations {
 public:
  LineOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, CAsyncComplEvent2Tapi& events,
                 const ConfigTables& config, const LineDirectory& directory, const ProviderSession& session);
  LineOperations(const LineOperations&) = delete;
  LineOperations& operator=(const LineOperations&) = delete;

  // --- Open and close (line_open_close.cpp) --------------------------------
  LONG LineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD tspiVersion, LINEEVENT eventProc);
  LONG LineClose(HDRVLINE hdLine);

  // --- Capabilities, status and settings (line_device_ops.cpp) -------------
  LONG GetDevCaps(DWORD deviceId, DWORD tspiVersion, DWORD extVersion, LPLINEDEVCAPS caps);
  LONG GetAddressCaps(DWORD deviceId, DWORD addressId, DWORD tspiVersion, DWORD extVersion,
                      LPLINEADDRESSCAPS caps);
  LONG GetNumAddressIDs(HDRVLINE hdLine, LPDWORD numAddressIds);
  LONG GetAddressID(HDRVLINE hdLine, LPDWORD addressId, DWORD addressMode, LPCWSTR address, DWORD size);
  LONG GetAddressStatus(HDRVLINE hdLine, DWORD addressId, LPLINEADDRESSSTATUS status);
  LONG GetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS status);
  LONG SetLineDevStatus(DRV_REQUESTID requestId, HDRVLINE hdLine, DWORD statusToChange, DWORD fStatus);
  LONG SetStatusMessages(HDRVLINE hdLine, DWORD lineStates, DWORD addressStates);
  LONG SetDefaultMediaDetection(HDRVLINE hdLine, DWORD mediaModes);
  LONG ConditionalMediaDetection(HDRVLINE hdLine, DWORD mediaModes, LPLINECALLPARAMS callParams);
  LONG GetID(HDRVLINE hdLine, DWORD addressId, HDRVCALL hdCall, DWORD select, LPVARSTRING deviceId,
             LPCWSTR deviceClass);
  LONG GetIcon(DWORD deviceId, LPHICON icon);

 private:
  CCritSec& lock_;
  LinkInterface& link_;
  CallModel& calls_;
  CAsyncComplEvent2Tapi& events_;
  const ConfigTables& config_;
  const LineDirectory& directory_;
  const ProviderSession& session_;
};

}  // namespace kvarsp
