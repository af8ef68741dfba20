#pragma once
// What every handler of a received message shares: its decoded line in the
// protocol trace, the success test of a confirmation's RESULT, and finding
// the pending request a confirmation answers, and the handlers of requests
// that only complete their TAPI request.
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "provider/call_model.h"
#include "provider/vnl/codec/vnl_message.h"
#include "provider/vnl/pending_requests.h"

namespace kvarsp {

// Writes the message's decoded line to the protocol trace (when it is on).
void TraceReceived(const vnl::Message& m);

// RESULT 0 and 1 both count as success.
inline bool ConfirmationSucceeded(const vnl::Message& m) { return m.result == 0 || m.result == 1; }

// The pending request a confirmation answers: the newest entry with its
// RefID, when that is of one of the kinds. An entry of another kind must not
// take this confirmation (a make-call confirmation would bind whatever call
// it refers to): "MsgRefID and MsgType do not fit together (in <name>)" is
// traced, a call request ends through its abort handler (a TAPI request
// fails; the provider's own watch drop is done and closes its call), a link
// operation's entry without it (its waiter sees no result), and the entry is
// removed. Null then, and when no entry has the RefID.
PendingRequest* EntryForConfirmation(PendingRequests& txns, const vnl::Message& m,
                                     std::initializer_list<uint32_t> kinds, const char* name);

// A time-out or abort handler that traces `text` and fails the entry's TAPI
// request with LINEERR_OPERATIONFAILED; the entry goes.
TxnHandler FailRequestHandler(CallModel& calls, const char* text);

// The handler of the confirmation `name` of a request of `kind` that only
// completes its TAPI request: 0, or LINEERR_OPERATIONFAILED on a refusal.
std::function<void(const vnl::Message&)> CompletingHandler(PendingRequests& txns, CallModel& calls, uint32_t kind,
                                                           const char* name);

}  // namespace kvarsp
