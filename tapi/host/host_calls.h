#pragma once
// The calls of the lines a TelephonyHost has open, as a program sees them:
// makes a call (the host hands out TAPI's htCall for calls it creates),
// dials, accepts, answers, drops and closes calls and reads their
// LINECALLINFO and LINECALLSTATUS. Calls are named by TAPI's htCall; the
// provider's hdCall stays inside. Calls the provider offers are learnt from
// LINE_NEWCALL (the harness writes TAPI's htCall through its dwParam2), read
// from the host's event log with a cursor of their own, so no reader of the
// log misses an event because of it.
//
// Asynchronous operations return the AsyncCall of their request; the result
// comes as a completion through the host's event log. A call whose
// TSPI_lineMakeCall fails, at once or in its completion, is forgotten.
//
// The supplementary services (host_services.cpp) work the same way: a
// service that creates a call (the consultation call of a transfer, the
// conference call, an unparked or picked-up call) gets a handle from the host
// like a made call, is known before the request goes out and is forgotten
// when the request fails. Park hands the provider a VARSTRING that stays
// alive until the request completes; the park address is read from it then.
//
// Threads: every method may be called from any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tapi/host/host_event.h"
#include "tapi/host/telephony_host.h"

namespace tapihost {

struct HostCall {
  HTAPICALL htCall = nullptr;
  HDRVCALL hdCall = nullptr;
  uint32_t deviceId = 0;
  bool offered = false;  // announced by the provider with LINE_NEWCALL

  bool operator==(const HostCall&) const = default;
};

class HostCalls {
 public:
  // TSPI_lineGetCallInfo is asked at most this often for a structure that
  // fits; a provider asking for more than kMaxStructSize gets what fits.
  static constexpr int kStructAttempts = 3;
  static constexpr DWORD kMaxStructSize = 64 * 1024;

  explicit HostCalls(TelephonyHost& host);
  // A park still outstanding while the provider runs keeps its buffer for
  // the rest of the process (the provider may still write into it).
  ~HostCalls();
  HostCalls(const HostCalls&) = delete;
  HostCalls& operator=(const HostCalls&) = delete;

  // TSPI_lineMakeCall on an open line to destination; with a non-empty
  // origAddress, LINECALLPARAMS names the originating address
  // (LINEADDRESSMODE_DIALABLEADDR). *htCall is the new call's handle, also
  // when the request fails (the call is forgotten then).
  // LINEERR_INVALLINEHANDLE (request ID 0) when the line is not open.
  AsyncCall MakeCall(uint32_t deviceId, std::u16string_view destination, std::u16string_view origAddress,
                     HTAPICALL* htCall, DWORD countryCode = 0);
  // The same with the application's own call parameters: destination
  // (nullopt: none) and callParams (may be null) go to TSPI_lineMakeCall as
  // they are; callParams is read only during the call.
  AsyncCall MakeCall(uint32_t deviceId, std::optional<std::u16string_view> destination,
                     const LINECALLPARAMS* callParams, HTAPICALL* htCall, DWORD countryCode = 0);
  // The call operations; LINEERR_INVALCALLHANDLE (request ID 0) for a call
  // the host does not know.
  AsyncCall Dial(HTAPICALL htCall, std::u16string_view digits, DWORD countryCode = 0);
  AsyncCall Accept(HTAPICALL htCall);
  AsyncCall Answer(HTAPICALL htCall);
  AsyncCall Drop(HTAPICALL htCall);
  // TSPI_lineCloseCall; the host forgets the call whatever the provider says.
  LONG CloseCall(HTAPICALL htCall);

  // TSPI_lineGetCallInfo into buffer: LINECALLINFO followed by its variable
  // part. Starts with buffer's size (at least the fixed part) and asks again
  // with dwNeededSize while that does not fit. LINEERR_OPERATIONFAILED when
  // the provider misreports the sizes of the buffer it was given.
  LONG GetCallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer);
  // TSPI_lineGetCallStatus into buffer (LINECALLSTATUS, at least its size).
  LONG GetCallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer);

  // The supplementary services; an unknown call is LINEERR_INVALCALLHANDLE
  // and a line that is not open LINEERR_INVALLINEHANDLE (request ID 0).
  AsyncCall BlindTransfer(HTAPICALL htCall, std::u16string_view destination, DWORD countryCode = 0);
  // *htConsultCall is the consultation call the provider opens (in dial
  // tone once the exchange confirms it).
  AsyncCall SetupTransfer(HTAPICALL htCall, HTAPICALL* htConsultCall);
  // The same with the application's call parameters (may be null), passed
  // to TSPI_lineSetupTransfer as they are.
  AsyncCall SetupTransfer(HTAPICALL htCall, const LINECALLPARAMS* callParams, HTAPICALL* htConsultCall);
  // LINETRANSFERMODE_TRANSFER or _CONFERENCE; for a conference
  // *htConfCall (may be null otherwise) is the conference call.
  AsyncCall CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode, HTAPICALL* htConfCall);
  AsyncCall SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall);
  // Parks the call without a directed address (LINEPARKMODE_NONDIRECTED);
  // ParkAddress tells where once the request has completed with 0.
  AsyncCall Park(HTAPICALL htCall);
  std::optional<std::u16string> ParkAddress(DRV_REQUESTID requestId);
  // A new call *htCall for the call parked at address (empty: none given).
  AsyncCall Unpark(uint32_t deviceId, std::u16string_view address, HTAPICALL* htCall);
  // A new call *htCall for a call ringing elsewhere: at the extension
  // number, or (empty) wherever the exchange picks.
  AsyncCall Pickup(uint32_t deviceId, std::u16string_view number, HTAPICALL* htCall);
  AsyncCall Redirect(HTAPICALL htCall, std::u16string_view destination, DWORD countryCode = 0);
  // Forwards every address of the line to destination in forwardMode (a
  // LINEFORWARDMODE_ value); mode 0 cancels the forwarding.
  AsyncCall Forward(uint32_t deviceId, DWORD forwardMode, std::u16string_view destination);

  // The call with that handle.
  std::optional<HostCall> Find(HTAPICALL htCall);
  // The call an event is about: for LINE_NEWCALL the call it announces,
  // else the one its htCall names.
  std::optional<HostCall> CallOf(const HostEvent& event);
  // Every known call, in order of their handles.
  std::vector<HostCall> Calls();
  // Forgets the calls of a line (closing a line ends its calls).
  void ForgetLine(uint32_t deviceId);
  // Reads the host's events it has not yet seen; returns its cursor into the
  // host's log (every event before it has been read), so the host's owner
  // can free what all readers have passed.
  size_t Refresh();

 private:
  AsyncCall onCall(HTAPICALL htCall, const std::function<AsyncCall(HDRVCALL)>& operation);
  // Runs a request that creates a call on deviceId with a new handle
  // (*htCall, also when it fails): the call is known before the request goes
  // out, since the provider may report its states at once, takes the hdCall
  // the provider writes, and is forgotten when the request fails.
  using NewCallRequest = std::function<AsyncCall(HTAPICALL, HDRVCALL*)>;
  AsyncCall newCall(uint32_t deviceId, HTAPICALL* htCall, const NewCallRequest& request);
  HTAPICALL nextHandleLocked();
  void refreshLocked();
  std::optional<HostCall> findLocked(HTAPICALL htCall);

  TelephonyHost& host_;
  std::mutex m_;
  size_t cursor_ = 0;
  uintptr_t nextHtCall_;
  std::map<HTAPICALL, HostCall> calls_;  // handles carry the harness's tag
  std::map<DRV_REQUESTID, HTAPICALL> pendingMakes_;  // requests creating a call, not yet completed
  std::map<DRV_REQUESTID, std::vector<uint8_t>> parkBuffers_;  // VARSTRINGs of parks not yet completed
  std::map<DRV_REQUESTID, std::u16string> parkAddresses_;     // of parks completed with 0
};

}  // namespace tapihost
