#include "provider/vnl/received_message.h"

#include <algorithm>

#include "provider/trace.h"
#include "provider/vnl/codec/vnl_trace_text.h"

namespace kvarsp {

void TraceReceived(const vnl::Message& m) {
  if (VnlTraceOn()) traceVnl("%s", vnl::DecodedTraceText(m).c_str());
}

PendingRequest* EntryForConfirmation(PendingRequests& txns, const vnl::Message& m,
                                     std::initializer_list<uint32_t> kinds, const char* name) {
  PendingRequest* entry = txns.pVnlTxnFind(m.refId);
  if (!entry) return nullptr;
  if (std::find(kinds.begin(), kinds.end(), entry->kind) != kinds.end()) return entry;
  traceVnl("MsgRefID and MsgType do not fit together (in %s)", name);
  // A call request ends through its abort handler: a TAPI request fails, and
  // the provider's own watch drop (no request ID) is marked done and closes
  // its call as on a refusal. A link operation's waiter sees no result (-1).
  if (!IsLinkOperation(entry->kind) && entry->onAbort) entry->onAbort(entry->line, entry->call, *entry);
  txns.bVnlTxnRemove(entry);
  return nullptr;
}

TxnHandler FailRequestHandler(CallModel& calls, const char* text) {
  return [&calls, text](OpenLine* line, const TspCall*, PendingRequest& entry) {
    traceVnl("%s", text);
    calls.Complete(line, entry.requestId, LINEERR_OPERATIONFAILED);
    return 1;
  };
}

std::function<void(const vnl::Message&)> CompletingHandler(PendingRequests& txns, CallModel& calls, uint32_t kind,
                                                           const char* name) {
  return [&txns, &calls, kind, name](const vnl::Message& m) {
    TraceReceived(m);
    PendingRequest* entry = EntryForConfirmation(txns, m, {kind}, name);
    if (!entry) return;
    calls.Complete(entry->line, entry->requestId, ConfirmationSucceeded(m) ? 0 : LINEERR_OPERATIONFAILED);
    txns.bVnlTxnRemove(entry);
  };
}

}  // namespace kvarsp
