#pragma once
// The provider's narrow view of its link to the exchange: binding the
// layer-2 library with its link interface thread, the link operations of
// line open and close and of the configuration dialog, and the abort of a
// line's pending requests. The provider's TSPI operations go through this
// interface only, so that tests can put a double in its place.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tapi/tapi_structs.h"
#include "tapi/tapi_types.h"
#include "tapi/tspi.h"

class ScopedLock;

namespace kvarsp {

struct OpenLine;
struct TspCall;

// Status codes of a failed load.
constexpr uint32_t kLinkLoadThreadFailed = 28;   // events or the link interface thread
constexpr uint32_t kLinkLoadLibraryFailed = 29;  // "VNLSOCK.DLL" did not load
constexpr uint32_t kLinkLoadEntryMissing = 30;   // an entry point is missing

// The protocol version a TAPI line open starts the link with.
constexpr uint8_t kLineOpenProtocolVersion = 0x30;

class LinkInterface {
 public:
  virtual ~LinkInterface() = default;

  // Binds the layer-2 library and starts the link interface thread, or
  // counts one more user. 0 on success, else a system error code; *status
  // receives 0 or one of the status codes above.
  virtual int Load(uint32_t* status) = 0;
  // Undoes one Load; the last one stops the thread and unbinds. 0 or a system error code.
  virtual int Unload() = 0;

  // The synchronous link operations with the exchange. They run with the
  // provider lock taken through `providerLock`, hand every level of it back
  // while they wait for the exchange (one operation at a time; the others
  // wait for their turn), and take it again before they return. Every wait
  // is bounded: without an answer an operation ends with its time-out code.
  // Start, end and address list return 0 or their result code (1..99).
  virtual int LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) = 0;
  virtual int LinkEnd(ScopedLock& providerLock) = 0;
  virtual int GetAddressList(ScopedLock& providerLock) = 0;
  // Register, unregister and line information return 0 or LINEERR_OPERATIONFAILED.
  // The line ID is sent 16 bits wide when the configuration says so.
  virtual LONG RegisterLine(uint16_t pbxLineId, ScopedLock& providerLock) = 0;
  virtual LONG UnregisterLine(uint16_t pbxLineId, ScopedLock& providerLock) = 0;
  // On success the line's forwarding is set from the exchange's answer.
  virtual LONG GetLineInfo(OpenLine& line, uint16_t pbxLineId, ScopedLock& providerLock) = 0;

  // --- Call requests ------------------------------------------------------
  // Each sends its request to the exchange and registers the pending
  // transaction under TAPI's request ID; its confirmation, its time-out or
  // the line's close completes the request later. Returns 0, or
  // LINEERR_OPERATIONFAILED when the request could not be sent, or the
  // registration's code. Under the provider lock.
  //
  // VNL_CALLESTABLISH_REQ for a call the provider just created; the
  // confirmation binds it to TAPI's htCall, a refusal or time-out deletes it.
  virtual LONG MakeCall(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                        uint8_t callOptions) = 0;
  // VNL_DIAL_REQ with the filtered digits; `dialString` is the caller's
  // unfiltered text, kept with the request.
  virtual LONG Dial(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                    std::u16string_view dialString) = 0;
  virtual LONG Answer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint8_t callOptions) = 0;
  // VNL_DISCONNECT_REQ for the call's own CALL_ID.
  virtual LONG Drop(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call) = 0;
  // A call that stands for two exchange calls (a conference root): the
  // first CALL_ID is disconnected, then the second; the request completes
  // after the second confirmation.
  virtual LONG DropTwo(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t firstCallId,
                       uint16_t secondCallId) = 0;

  // --- Supplementary service requests -------------------------------------
  // Registered and completed as the call requests above: the confirmation
  // completes 0 (or LINEERR_OPERATIONFAILED on a refusal), a time-out or the
  // line's close LINEERR_OPERATIONFAILED. Under the provider lock.
  //
  // VNL_ALTERNATECALL_REQ(CALL_ID = the connected call, HELDCALL_ID = the
  // held call); both calls have their CALL_ID. The new states arrive as
  // indications.
  virtual LONG SwapHold(DRV_REQUESTID requestId, OpenLine& line, const TspCall& connected, const TspCall& held) = 0;
  // VNL_REDIRECTCALL_REQ for the call's CALL_ID with the filtered digits.
  virtual LONG Redirect(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits) = 0;
  // VNL_SETFORWARD_REQ for the line with FORWARDING_TYPE and the filtered
  // destination; mode (LINEFORWARDMODE_, 0 for cancel), country code and
  // destination are kept with the request and become the line's forwarding
  // when the exchange confirms.
  virtual LONG Forward(DRV_REQUESTID requestId, OpenLine& line, uint8_t forwardingType, uint32_t mode,
                       uint32_t countryCode, std::optional<std::u16string> destination) = 0;

  // VNL_TRANSFER_REQ(CALL_ID of the call, the filtered destination) for a
  // blind transfer: the call is marked as blind-transferring; when the
  // exchange confirms, the request stays open until its consultation call
  // rings (then VNL_COMPLETETRANSFER_REQ under the same request ID) or fails.
  virtual LONG BlindTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                             std::u16string_view digits, uint8_t callOptions) = 0;
  // VNL_TRANSFER_REQ(CALL_ID of the transferred call, target digits or
  // none) for the unbound consultation call the provider just created; the
  // confirmation binds it (DIALTONE), a refusal or time-out deletes it.
  virtual LONG SetupTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& transferred,
                             const TspCall& consultation, std::u16string_view digits, uint8_t callOptions) = 0;
  // VNL_COMPLETETRANSFER_REQ(CALL_ID = call, HELDCALL_ID = held).
  virtual LONG CompleteTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                                const TspCall& held) = 0;
  // VNL_3PTYCONFERENCE_REQ(connected, held) for the conference call object
  // the provider just created; the confirmation connects it, a refusal or
  // time-out deletes it.
  virtual LONG Conference(DRV_REQUESTID requestId, OpenLine& line, const TspCall& conference,
                          const TspCall& connected, const TspCall& held) = 0;
  // VNL_PARKCALL_REQ for the call; the confirmation writes the park address
  // into the caller's VARSTRING, which TAPI keeps until the completion.
  virtual LONG Park(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, LPVARSTRING nonDirAddress) = 0;
  // VNL_UNPARKCALL_REQ / VNL_PICKUPCALL_REQ for the line, on behalf of the
  // unbound call the provider just created; the confirmation binds it with
  // the CALL_ID it got, a refusal or time-out deletes it.
  virtual LONG Unpark(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t parkAddress,
                      uint8_t callOptions) = 0;
  virtual LONG Pickup(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                      uint8_t callOptions) = 0;

  // Line close: every pending request of the line is aborted (asynchronous
  // TAPI requests complete with LINEERR_OPERATIONFAILED) and the line's
  // transfer records are deleted. Under the provider lock.
  virtual void AbortLineRequests(OpenLine& line) = 0;
};

}  // namespace kvarsp
