#pragma once
// The provider's lines and calls: the list of opened lines, the call list,
// handle validation, call counts, call states and the call information that
// TAPI hears of through LINE_CALLSTATE, LINE_CALLINFO, LINE_LINEDEVSTATE and
// LINE_ADDRESSSTATE. Sans-IO: events go to an EventSink, time comes from an
// injected clock. Every operation expects the caller to hold the provider
// lock.
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
  TspCall* CreateCall(OpenLine& line, HTAPICALL htCall, std::u16string_view destination, uint32_t countryCode,
                      uint32_t origin);
  // The call object that stands for a three-party conference: bound, a
  // conference root, in ONHOLDPENDCONF without any event.
  TspCall* CreateConferenceCall(OpenLine& line, HTAPICALL htConfCall, uint32_t addressId);
  // A call the exchange offers: bound at once, offered-by-exchange, its
  // address found from the called number (0 when none matches), announced
  // with LINE_NEWCALL, which returns only after TAPI wrote the call's htCall.
  TspCall* CreateOfferedCall(OpenLine& line, uint16_t pbxCallId, std::u16string_view calledNumber, uint32_t origin);

  TspCall* FindCall(HDRVCALL hdCall);
  TspCall* FindCallByHtCall(HTAPICALL htCall);
  // Line null: any line.
  TspCall* FindCallByPbxId(uint16_t pbxCallId, const OpenLine* line = nullptr);
  std::vector<TspCall*> Calls();  // newest first
  std::vector<TspCall*> CallsOfLine(const OpenLine& line);

  // Unbound calls neither count nor report; binding gives them back their handle.
  void Unbind(TspCall& call) { call.bound = false; }
  void Bind(TspCall& call) { call.bound = true; }

  void DeleteCall(TspCall* call);
  void DeleteCallsOfLine(const OpenLine& line);
  // Called for every call object just before it is freed (the pending
  // requests forget their pointer to it).
  void SetCallDeletedHook(std::function<void(const TspCall*)> hook) { callDeleted_ = std::move(hook); }

  // The exchange ended the call (or the provider gave it up as if it had):
  // a bound call goes IDLE (mode 0) and forgets its PBX call ID; an unbound
  // call, which TAPI has already closed, is deleted.
  void CloseCallByExchange(TspCall& call);
  // Closing a line: every call not yet IDLE (or without state) goes IDLE, then all are deleted.
  void CloseCallsOfLine(const OpenLine& line);

  CallCounts CountLine(const OpenLine& line) const;
  CallCounts CountAddress(const OpenLine& line, uint32_t addressId) const;

  // Sets the state with its LINE_CALLSTATE, NUMCALLS events and the setup
  // watch start. The mode is pointer-wide because a CONFERENCED call reports
  // TAPI's handle of its conference call as its mode.
  void SetCallState(TspCall& call, uint32_t state, DWORD_PTR mode);

  // Field setters: with notify, a real change sends LINE_CALLINFO with its bit.
  void SetAddressId(TspCall& call, uint32_t addressId, bool notify);
  void SetCallParamFlags(TspCall& call, uint32_t flags, bool notify);
  void SetOrigin(TspCall& call, uint32_t origin, bool notify);
  void SetReason(TspCall& call, uint32_t reason, bool notify);
  void SetAppSpecific(TspCall& call, uint32_t value, bool notify);
  // Numbers lose their 'P' and 'T' marks; null strings mean "not known".
  void SetPartyId(TspCall& call, PartyRole role, uint32_t flags, std::optional<std::u16string_view> number,
                  std::optional<std::u16string_view> name, bool notify);
  void SetBlob(TspCall& call, CallBlob which, std::vector<uint8_t> bytes, bool notify);

  // --- Ring repetition ----------------------------------------------------
  // Reports LINEDEVSTATE_RINGING (ring mode 1, the current ring count),
  // counts the ring and starts the ring timer with kRingIntervalMs.
  void StartRinging(TspCall& call);
  // The tick's duty for one call: while the call is OFFERING or ACCEPTED and
  // its running ring timer has expired, ring again and move the timer's end
  // on by kRingIntervalMs, as often as intervals were missed. Returns the
  // number of rings sent.
  uint32_t RepeatRinging(TspCall& call);

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
  TspCall* AddCall(OpenLine& line, HTAPICALL htCall);
  void SendCallInfo(const TspCall& call, uint32_t bit);
  template <typename T>
  void SetNotifying(TspCall& call, T& field, T value, uint32_t bit, bool notify);

  EventSink& events_;
  const LineAddresses& addresses_;
  platform::Clock& clock_;
  std::list<std::unique_ptr<OpenLine>> lines_;  // newest first
  std::list<std::unique_ptr<TspCall>> calls_;   // newest first
  uintptr_t nextCallHandle_ = 1;                // 1, 5, 9, ...
  std::function<void(const TspCall*)> callDeleted_;
};

}  // namespace kvarsp
