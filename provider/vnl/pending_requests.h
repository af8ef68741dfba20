#pragma once
// The table of requests that wait for their confirmation from the exchange.
// Each entry is keyed by its request's RefID; confirmations find it there,
// the 500 ms scan times it out, link loss and line close abort it. Handlers
// take (line, call, entry) and return non-zero when the entry is to go; the
// table removes it after the handler returned, which signals its completion
// event. Sans-IO: time comes from the injected clock, and everything runs
// under the provider lock.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "common/tick_timer.h"
#include "platform/clock.h"
#include "platform/wait.h"
#include "tapi/tspi.h"

namespace kvarsp {

struct OpenLine;
struct TspCall;

// Transaction kinds: what the request was for.
enum TxnKind : uint32_t {
  kTxnMakeCall = 1,
  kTxnDrop = 2,
  kTxnAnswer = 3,
  kTxnDial = 4,
  kTxnLinkStart = 5,
  kTxnAddressList = 6,
  kTxnLinkEnd = 7,
  kTxnRegister = 8,
  kTxnUnregister = 9,
  kTxnForward = 10,
  kTxnLineInfo = 11,
  kTxnTransfer = 12,
  kTxnCompleteTransfer = 13,
  kTxnSwapHold = 14,
  kTxnPickup = 15,
  kTxnRedirect = 16,
  kTxnConference = 17,
  kTxnDropTwo = 18,
  kTxnParkUnpark = 19,
};

// Every kind waits this long for its confirmation.
constexpr uint32_t kTxnTimeoutMs = 5000;

// The request message a kind sends ("VNL_CALLESTABLISH_REQ" ...); "" for an unknown kind.
const char* TxnKindRequest(uint32_t kind);

// What a forward request asked for, kept until its confirmation.
struct ForwardRecord {
  uint32_t mode = 0;  // LINEFORWARDMODE_, 0 for cancel
  uint32_t countryCode = 0;
  std::optional<std::u16string> destination;
};

// The operation data an entry carries (only what its kind uses).
struct TxnContext {
  int* resultSlot = nullptr;         // synchronous operations
  HTAPICALL htCall = nullptr;        // TAPI's handle of a new call
  std::u16string dialString;         // dial
  ForwardRecord forward;             // forward
  LPVARSTRING parkAddress = nullptr; // park: the caller's VARSTRING
  std::optional<uint16_t> secondCallId;  // drop of a call that stands for two exchange calls
};

struct PendingRequest;
using TxnHandler = std::function<int(OpenLine* line, TspCall* call, PendingRequest& entry)>;

struct PendingRequest {
  uint32_t keyClass = 1;  // always 1: the key is a VNL RefID
  uint32_t key = 0;       // the RefID
  DRV_REQUESTID requestId = 0;  // 0: no TAPI request to complete
  uint32_t kind = 0;
  std::shared_ptr<platform::Event> completionEvent;  // auto-reset; synchronous operations only
  OpenLine* line = nullptr;
  TspCall* call = nullptr;
  TickTimer deadline;  // armed when start and end differ
  TxnHandler onTimeout;
  TxnHandler onAbort;
  TxnContext context;
  TxnHandler onLinkLoss;  // none: the entry waits for its deadline even without link
};

class PendingRequests {
 public:
  explicit PendingRequests(platform::Clock& clock = platform::systemClock()) : clock_(clock) {}
  PendingRequests(const PendingRequests&) = delete;
  PendingRequests& operator=(const PendingRequests&) = delete;

  // Adds an entry at the head. With newEvent, an auto-reset completion event
  // is created and handed out. 0, LINEERR_NOMEM (no entry) or
  // LINEERR_OPERATIONFAILED (no event).
  LONG lVnlTxnRegister(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind,
                       std::shared_ptr<platform::Event>* newEvent, OpenLine* line, TspCall* call,
                       uint32_t timeoutMs, TxnContext context, TxnHandler onTimeout, TxnHandler onAbort,
                       TxnHandler onLinkLoss = {});

  // The newest entry with this RefID (a wrapped-around RefID finds the newest), or null.
  PendingRequest* pVnlTxnFind(uint8_t refId);

  // Signals the entry's event, unlinks and frees it. False when it is not in the table.
  bool bVnlTxnRemove(PendingRequest* entry);

  // The 500 ms duty: entries past their deadline get their time-out handler;
  // otherwise, while the link is down, entries with a link-loss handler get
  // it. linkUp is asked at most once per scan, and only when needed.
  void vVnlTxnScan(const std::function<bool()>& linkUp);

  // Line close and link loss: every entry of the line gets its abort handler.
  void vVnlTxnAbortLine(const OpenLine* line);

  // The entries that refer to a call get their call pointer cleared when the
  // call object goes, so that no handler sees a deleted call.
  void ForgetCall(const TspCall* call);

  size_t Count() const { return entries_.size(); }

 private:
  using Entries = std::list<std::unique_ptr<PendingRequest>>;
  // The entry's position, or end() when it is gone.
  Entries::iterator Locate(const PendingRequest* entry);
  // Runs the handler and removes the entry when it asks for it (or has no handler).
  void RunAndRemove(PendingRequest* entry, const TxnHandler& handler);

  platform::Clock& clock_;
  Entries entries_;  // newest first
};

}  // namespace kvarsp
