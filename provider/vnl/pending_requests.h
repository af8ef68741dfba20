#pragma once
// The table of requests that wait for their confirmation from the exchange.
// In: registrations (RefID, kind, handlers, an optional completion callback),
// confirmations looking up their entry, the scan with an explicit `now`, line
// close and link loss. Out: handler calls, and the completion callback of an
// entry as it leaves the table (whatever removed it). Handlers take (line,
// call, entry) and return non-zero when the entry is to go; the table removes
// it after the handler returned. Sans-IO: no thread, no event, no wait; the
// deadline is armed from the injected clock at registration and compared
// with the scan's `now`. Everything runs under the provider lock, on
// whichever thread holds it.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "common/tick_timer.h"
#include "platform/clock.h"
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

// The kinds of the link operations (start, end, address list, register,
// unregister, line information): they carry no TAPI request and no call.
constexpr bool IsLinkOperation(uint32_t kind) {
  return kind == kTxnLinkStart || kind == kTxnAddressList || kind == kTxnLinkEnd || kind == kTxnRegister ||
         kind == kTxnUnregister || kind == kTxnLineInfo;
}

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
  int result = -1;                   // link operations: their code, -1 while no handler set one
  HTAPICALL htCall = nullptr;        // TAPI's handle of a new call
  std::u16string dialString;         // dial
  ForwardRecord forward;             // forward
  LPVARSTRING parkAddress = nullptr; // park: the caller's VARSTRING
  std::optional<uint16_t> secondCallId;  // drop of a call that stands for two exchange calls
};

struct PendingRequest;
using TxnHandler = std::function<int(OpenLine* line, const TspCall* call, PendingRequest& entry)>;
// Runs once when the entry has left the table (it is unlinked, still intact).
using TxnDone = std::function<void(PendingRequest& entry)>;

struct PendingRequest {
  uint32_t keyClass = 1;  // always 1: the key is a VNL RefID
  uint32_t key = 0;       // the RefID
  DRV_REQUESTID requestId = 0;  // 0: no TAPI request to complete
  uint32_t kind = 0;
  TxnDone onDone;  // link operations only
  OpenLine* line = nullptr;
  const TspCall* call = nullptr;
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

  // Adds an entry at the head; onDone (may be empty) runs when it leaves the
  // table. 0 or LINEERR_NOMEM (no entry).
  LONG lVnlTxnRegister(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, TxnDone onDone, OpenLine* line,
                       const TspCall* call, uint32_t timeoutMs, TxnContext context, TxnHandler onTimeout,
                       TxnHandler onAbort, TxnHandler onLinkLoss = {});

  // The newest entry with this RefID (a wrapped-around RefID finds the newest), or null.
  PendingRequest* pVnlTxnFind(uint8_t refId);

  // Unlinks the entry, runs its completion callback and frees it. False when
  // it is not in the table.
  bool bVnlTxnRemove(PendingRequest* entry);

  // True while the entry is in the table.
  bool Contains(const PendingRequest* entry) const;

  // Gives the entry its time-out handler now, as the scan does past its
  // deadline. False when it is not in the table.
  bool TimeOut(PendingRequest* entry);

  // The 500 ms duty: entries past their deadline get their time-out handler;
  // otherwise, while the link is down, entries with a link-loss handler get
  // it. linkUp is asked at most once per scan, and only when needed.
  void vVnlTxnScan(uint32_t now, const std::function<bool()>& linkUp);

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
  Entries::const_iterator Locate(const PendingRequest* entry) const;
  // Runs the handler and removes the entry when it asks for it (or has no handler).
  void RunAndRemove(PendingRequest* entry, const TxnHandler& handler);

  platform::Clock& clock_;
  Entries entries_;  // newest first
};

}  // namespace kvarsp
