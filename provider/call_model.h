#pragma once
// The provider's lines and calls: the list of opened lines, the call list,
// handle validation, call counts, call states and the call information that
// TAPI hears of through LINE_CALLSTATE, LINE_CALLINFO, LINE_LINEDEVSTATE and
// LINE_ADDRESSSTATE. Sans-IO: events go to an EventSink, time comes from an
// injected clock. Every operation expects the caller to hold the provider
// lock.
//
// The model is the only writer of a call: it hands out const TspCall views,
// and every change goes through one of its operations, named after what it
// means (a state change, a binding to the exchange's call, a conference link,
// a supervision step), so that what TAPI must hear of is reported.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "provider/event_sink.h"
#include "provider/open_line.h"
#include "provider/tsp_call.h"

namespace kvarsp {

// What the call model needs to know about the addresses of a line device.
class LineAddresses {
 public:
  virtual ~LineAddresses() = default;
  // Number of addresses of the device (at least 1 for a known device).
  virtual uint32_t AddressCount(uint32_t deviceId) const = 0;
  // The address whose name equals the number, or nullopt.
  virtual std::optional<uint32_t> MatchAddress(uint32_t deviceId, std::u16string_view number) const = 0;
};

struct CallCounts {
  uint32_t active = 0;
  uint32_t onHold = 0;
  uint32_t onHoldPending = 0;
  bool operator==(const CallCounts&) const = default;
};

// Duration of the setup watch: a call still being set up after this long is
// dropped at the exchange.
constexpr uint32_t kSetupWatchMs = 180000;
// The states of a call still being set up (offering, accepted, dial tone,
// dialling, ringback, proceeding): the setup watch runs for them.
bool IsCallSetupState(uint32_t state);

// An offered call rings again this often.
constexpr uint32_t kRingIntervalMs = 4000;

class CallModel {
 public:
  CallModel(EventSink& events, const LineAddresses& addresses, platform::Clock& clock = platform::systemClock());
  CallModel(const CallModel&) = delete;
  CallModel& operator=(const CallModel&) = delete;

  // --- Lines --------------------------------------------------------------
  OpenLine& AddLine(const OpenLine& line);  // newest first
  // Deletes the line record (its calls must have been deleted).
  void RemoveLine(HDRVLINE hdLine);
  OpenLine* FindLine(HDRVLINE hdLine);
  OpenLine* FindLineByDevice(uint32_t deviceId);
  bool AnyLineOpen() const { return !lines_.empty(); }
  std::vector<OpenLine*> Lines();

  // 0, or LINEERR_INVALLINEHANDLE / LINEERR_INVALCALLHANDLE / LINEERR_INVALADDRESSID.
  LONG ValidateLine(HDRVLINE hdLine) const;
  LONG ValidateCall(HDRVCALL hdCall) const;
  LONG ValidateAddress(const OpenLine& line, uint32_t addressId) const;

  // --- Calls --------------------------------------------------------------
  // A call created by a TSPI request: bound, with the next call handle. The
  // destination (may be empty) also becomes the called ID.
  const TspCall* CreateCall(OpenLine& line, HTAPICALL htCall, std::u16string_view destination, uint32_t countryCode,
                            uint32_t origin);
  // The call object that stands for a three-party conference: bound, a
  // conference root, in ONHOLDPENDCONF without any event.
  const TspCall* CreateConferenceCall(OpenLine& line, HTAPICALL htConfCall, uint32_t addressId);
  // A call the exchange offers: bound at once, offered-by-exchange, its
  // address found from the called number (0 when none matches), announced
  // with LINE_NEWCALL, which returns only after TAPI wrote the call's htCall.
  const TspCall* CreateOfferedCall(OpenLine& line, uint16_t pbxCallId, std::u16string_view calledNumber,
                                   uint32_t origin);

  const TspCall* FindCall(HDRVCALL hdCall) const;
  const TspCall* FindCallByHtCall(HTAPICALL htCall) const;
  // Line null: any line.
  const TspCall* FindCallByPbxId(uint16_t pbxCallId, const OpenLine* line = nullptr) const;
  std::vector<const TspCall*> Calls() const;  // newest first
  std::vector<const TspCall*> CallsOfLine(const OpenLine& line) const;

  // Unbound calls neither count nor report; binding gives them back their handle.
  void Unbind(const TspCall& call) { Writable(call).bound = false; }
  void Bind(const TspCall& call) { Writable(call).bound = true; }

  void DeleteCall(const TspCall* call);
  void DeleteCallsOfLine(const OpenLine& line);
  // Called for every call object just before it is freed (the pending
  // requests forget their pointer to it).
  void SetCallDeletedHook(std::function<void(const TspCall*)> hook) { callDeleted_ = std::move(hook); }

  // The exchange ended the call (or the provider gave it up as if it had):
  // a bound call goes IDLE (mode 0) and forgets its PBX call ID; an unbound
  // call, which TAPI has already closed, is deleted.
  void CloseCallByExchange(const TspCall& call);
  // Closing a line: every call not yet IDLE (or without state) goes IDLE, then all are deleted.
  void CloseCallsOfLine(const OpenLine& line);

  CallCounts CountLine(const OpenLine& line) const;
  CallCounts CountAddress(const OpenLine& line, uint32_t addressId) const;

  // Sets the state with its LINE_CALLSTATE, NUMCALLS events and the setup
  // watch start. The mode is pointer-wide because a CONFERENCED call reports
  // TAPI's handle of its conference call as its mode.
  void SetCallState(const TspCall& call, uint32_t state, DWORD_PTR mode);

  // Field setters: with notify, a real change sends LINE_CALLINFO with its bit.
  void SetAddressId(const TspCall& call, uint32_t addressId, bool notify);
  void SetCallParamFlags(const TspCall& call, uint32_t flags, bool notify);
  void SetOrigin(const TspCall& call, uint32_t origin, bool notify);
  void SetReason(const TspCall& call, uint32_t reason, bool notify);
  void SetAppSpecific(const TspCall& call, uint32_t value, bool notify);
  // Numbers lose their 'P' and 'T' marks; null strings mean "not known".
  void SetPartyId(const TspCall& call, PartyRole role, uint32_t flags, std::optional<std::u16string_view> number,
                  std::optional<std::u16string_view> name, bool notify);
  void SetBlob(const TspCall& call, CallBlob which, std::vector<uint8_t> bytes, bool notify);
  // Digits the exchange reports dialled on an outgoing call add to its
  // dialled number (no event: the caller reports the called ID).
  void AppendDialledDigits(const TspCall& call, std::u16string_view digits);

  // --- The exchange's call ------------------------------------------------
  // The exchange confirmed a call made by TAPI: the call gets TAPI's handle
  // back, is bound, and knows the exchange's CALL_ID when one came.
  void CallEstablished(const TspCall& call, HTAPICALL htCall, std::optional<uint16_t> pbxCallId);
  // The call is known at the exchange by this CALL_ID.
  void BindPbxCall(const TspCall& call, uint16_t pbxCallId);
  // The call no longer has a CALL_ID at the exchange.
  void ForgetPbxCall(const TspCall& call);

  // --- Supervision --------------------------------------------------------
  // dwNoAnswerTimeout of a call being made: after this long without an
  // answer the exchange's call is disconnected.
  void StartNoAnswerTimer(const TspCall& call, uint32_t durationMs);
  // The call was answered (or joined a conference): no time-out any more.
  void StopNoAnswerTimer(const TspCall& call);
  // The no-answer disconnect went out: the call's end is a no-answer
  // disconnect, and the timer is done.
  void NoAnswerDisconnectSent(const TspCall& call);
  // The setup watch's disconnect went out and awaits its confirmation.
  void WatchDropSent(const TspCall& call);
  // The exchange answered the setup watch's disconnect (or never will): the
  // watch is over for this call.
  void WatchDropConfirmed(const TspCall& call);

  // --- Blind transfer -----------------------------------------------------
  // The call's blind-transfer request is out (or no longer is).
  void MarkBlindTransfer(const TspCall& call, bool sent);
  // The exchange opened the consultation call: the transferred call waits
  // up to durationMs for it to ring, under TAPI's request ID.
  void StartBlindTransferWait(const TspCall& call, uint16_t consultationPbxCallId, DRV_REQUESTID requestId,
                              uint32_t durationMs);
  // Ends the wait and gives it back as it was (inactive when none ran).
  TspCall::BlindTransferWait EndBlindTransferWait(const TspCall& call);

  // --- Conferences --------------------------------------------------------
  // A conference set-up prepared this conference call object for the call.
  void PrepareConference(const TspCall& call, const TspCall& conference);
  // A conference set-up failed: no call is prepared for this conference call any more.
  void ForgetPreparedConference(const TspCall& conference);
  // The call object stands for a conference the exchange knows by
  // conferencePbxCallId; it has no CALL_ID of its own.
  void BecomeConferenceRoot(const TspCall& call, uint16_t conferencePbxCallId);
  // The call joins the conference: it remembers its state and mode from
  // before (a repeated join keeps the first) and is no longer prepared for
  // another conference.
  void JoinConference(const TspCall& member, const TspCall& conference);
  // The call leaves its conference; with restoreSavedState it goes back to
  // the state and mode it had before it joined. The saved state is cleared.
  void LeaveConference(const TspCall& member, bool restoreSavedState);

  // --- Ring repetition ----------------------------------------------------
  // Reports LINEDEVSTATE_RINGING (ring mode 1, the current ring count),
  // counts the ring and starts the ring timer with kRingIntervalMs.
  void StartRinging(const TspCall& call);
  // The tick's duty for one call: while the call is OFFERING or ACCEPTED and
  // its running ring timer has expired, ring again and move the timer's end
  // on by kRingIntervalMs, as often as intervals were missed. Returns the
  // number of rings sent.
  uint32_t RepeatRinging(const TspCall& call);

  // Queues the completion of a TAPI request on the line; request ID 0 completes nothing.
  void Complete(const OpenLine* line, DRV_REQUESTID requestId, LONG result);

  // --- Line forwarding ----------------------------------------------------
  // Stores the line's forwarding (mode 0: none, which clears country code and
  // destination); when anything changed, reports LINE_ADDRESSSTATE with
  // LINEADDRESSSTATE_FORWARD for every address of the line.
  void SetLineForwarding(OpenLine& line, uint32_t mode, uint32_t countryCode,
                         std::optional<std::u16string> destination);

  // --- Events -------------------------------------------------------------
  // Queues a line event, subject to the line's masks; false when dropped.
  bool SendLineEvent(const OpenLine* line, HTAPICALL htCall, DWORD msg, DWORD_PTR param1 = 0,
                     DWORD_PTR param2 = 0, DWORD_PTR param3 = 0);

  // The layer-2 link is lost: every call of every open line goes IDLE, the
  // line is reported DISCONNECTED and OUTOFSERVICE (once), its pending
  // requests are aborted through the hook, and it is closed toward TAPI.
  void LinkLost(const std::function<void(OpenLine&)>& abortLineRequests);

  platform::Clock& clock() { return clock_; }

 private:
  // Every call is created by the model and owned by its list as a mutable
  // object; the const views it hands out come back here to be changed.
  static TspCall& Writable(const TspCall& call) { return const_cast<TspCall&>(call); }
  TspCall* AddCall(OpenLine& line, HTAPICALL htCall);
  void SendCallInfo(const TspCall& call, uint32_t bit);
  template <typename T>
  void SetNotifying(const TspCall& call, T& field, T value, uint32_t bit, bool notify);

  EventSink& events_;
  const LineAddresses& addresses_;
  platform::Clock& clock_;
  std::list<std::unique_ptr<OpenLine>> lines_;  // newest first
  std::list<std::unique_ptr<TspCall>> calls_;   // newest first
  uintptr_t nextCallHandle_ = 1;                // 1, 5, 9, ...
  std::function<void(const TspCall*)> callDeleted_;
};

}  // namespace kvarsp
