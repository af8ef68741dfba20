#pragma once
// The provider's process-wide state and its provider-level TSPI operations:
// enumeration, start-up and shut-down, version negotiation, line device
// creation and the configuration dialog's requests. The per-line and
// per-call operations build on the same state.
#include <cstdint>

#include "common/sync.h"
#include "platform/clock.h"
#include "provider/call_model.h"
#include "provider/device_table.h"
#include "provider/event_queue.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/ui_request_block.h"
#include "tapi/tspi.h"

namespace kvarsp {

class Provider : public LineAddresses {
 public:
  explicit Provider(LinkInterface& link, platform::Clock& clock = platform::systemClock(),
                    std::function<void(uint32_t)> sleep = platform::sleepMs);
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  LONG EnumDevices(DWORD permanentProviderId, LPDWORD numLines, LPDWORD numPhones, HPROVIDER provider,
                   LINEEVENT lineCreateProc);
  LONG Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase, DWORD_PTR numLines,
            ASYNC_COMPLETION completionProc, LPDWORD tspiOptions);
  LONG Shutdown(DWORD tspiVersion, DWORD permanentProviderId);
  LONG CreateLineDevice(DWORD_PTR tempId, DWORD deviceId);
  LONG NegotiateTspiVersion(DWORD deviceId, DWORD lowVersion, DWORD highVersion, LPDWORD tspiVersion);
  LONG GenericDialogData(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size);

  // The dialog requests on a block (the provider lock is taken inside).
  void HandleUiRequest(UiRequestBlock& block);

  // --- Line devices: open and close (line_open_close.cpp) -----------------
  LONG LineOpen(DWORD deviceId, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD tspiVersion, LINEEVENT eventProc);
  LONG LineClose(HDRVLINE hdLine);

  // --- Line devices: capabilities, status and settings (line_device_ops.cpp)
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

  // --- Calls: basic call operations (call_ops.cpp) -------------------------
  LONG MakeCall(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                LPCWSTR destAddress, DWORD countryCode, LPLINECALLPARAMS callParams);
  LONG DialCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  LONG AcceptCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG AnswerCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG DropCall(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCSTR userUserInfo, DWORD size);
  LONG DropOnClose(HDRVCALL hdCall);
  LONG DropNoOwner(HDRVCALL hdCall);
  // Returns after the queued events of the call have gone to TAPI (or the
  // drain wait gave up); the provider lock is free during that wait.
  LONG CloseCall(HDRVCALL hdCall);
  LONG GetCallInfo(HDRVCALL hdCall, LPLINECALLINFO callInfo);
  LONG GetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS callStatus);
  LONG GetCallAddressID(HDRVCALL hdCall, LPDWORD addressId);
  LONG SetAppSpecific(HDRVCALL hdCall, DWORD appSpecific);
  LONG SetCallData(DRV_REQUESTID requestId, HDRVCALL hdCall, LPVOID callData, DWORD size);
  LONG SetCallParams(DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD bearerMode, DWORD minRate, DWORD maxRate,
                     LPLINEDIALPARAMS dialParams);
  LONG SetMediaMode(HDRVCALL hdCall, DWORD mediaMode);

  // The PBX line ID of a device; nullopt for an invalid device ID.
  std::optional<uint16_t> PbxLineIdOf(uint32_t deviceId) const;

  // LineAddresses
  uint32_t AddressCount(uint32_t deviceId) const override;
  std::optional<uint32_t> MatchAddress(uint32_t deviceId, std::u16string_view number) const override;

  // Device ID to line-table index; nullopt for an invalid device ID.
  std::optional<size_t> LineIndexOf(uint32_t deviceId) const { return devices_.LineIndexOf(deviceId, config_); }

  CCritSec& lock() { return lock_; }
  CallModel& calls() { return calls_; }
  ConfigTables& config() { return config_; }
  DeviceTable& devices() { return devices_; }
  CAsyncComplEvent2Tapi& events() { return events_; }
  LinkInterface& link() { return link_; }

  int initCount() const { return initCount_; }
  uint32_t permanentProviderId() const { return permanentProviderId_; }
  uint32_t providerTspiVersion() const { return providerTspiVersion_; }

 private:
  void ReloadConfiguration();
  void SaveAndRebuildDevices();

  LinkInterface& link_;
  platform::Clock& clock_;
  CCritSec lock_;
  int initCount_ = 0;
  uint32_t permanentProviderId_ = 0;
  uint32_t providerTspiVersion_ = 0;
  LINEEVENT lineCreateProc_ = nullptr;
  HPROVIDER providerHandle_ = nullptr;
  CAsyncComplEvent2Tapi events_;
  ConfigTables config_;
  DeviceTable devices_;
  uint32_t configurationOpen_ = 0;
  CallModel calls_;
};

}  // namespace kvarsp
