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
  if (entry->requestId != 0 && entry->onAbort) entry->onAbort(entry->line, entry->call, *entry);
  txns.bVnlTxnRemove(entry);
  return nullptr;
}

}  // namespace kvarsp
