#include "provider/vnl/pending_requests.h"

#include <new>
#include <vector>

#include "tapi/tapi_constants.h"

namespace kvarsp {

const char* TxnKindRequest(uint32_t kind) {
  switch (kind) {
    case kTxnMakeCall: return "VNL_CALLESTABLISH_REQ";
    case kTxnDrop: return "VNL_DISCONNECT_REQ";
    case kTxnAnswer: return "VNL_ANSWERCALL_REQ";
    case kTxnDial: return "VNL_DIAL_REQ";
    case kTxnLinkStart: return "VNL_START_REQ";
    case kTxnAddressList: return "VNL_GETADDRESSLIST_REQ";
    case kTxnLinkEnd: return "VNL_END_REQ";
    case kTxnRegister: return "VNL_REGISTER_REQ";
    case kTxnUnregister: return "VNL_UNREGISTER_REQ";
    case kTxnForward: return "VNL_SETFORWARD_REQ";
    case kTxnLineInfo: return "VNL_GETLINEINFO_REQ";
    case kTxnTransfer: return "VNL_TRANSFER_REQ";
    case kTxnCompleteTransfer: return "VNL_COMPLETETRANSFER_REQ";
    case kTxnSwapHold: return "VNL_ALTERNATECALL_REQ";
    case kTxnPickup: return "VNL_PICKUPCALL_REQ";
    case kTxnRedirect: return "VNL_REDIRECTCALL_REQ";
    case kTxnConference: return "VNL_3PTYCONFERENCE_REQ";
    case kTxnDropTwo: return "VNL_DISCONNECT_REQ";
    case kTxnParkUnpark: return "VNL_PARKCALL_REQ";
    default: return "";
  }
}

LONG PendingRequests::lVnlTxnRegister(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, TxnDone onDone,
                                      OpenLine* line, const TspCall* call, uint32_t timeoutMs, TxnContext context,
                                      TxnHandler onTimeout, TxnHandler onAbort, TxnHandler onLinkLoss) {
  std::unique_ptr<PendingRequest> entry(new (std::nothrow) PendingRequest);
  if (!entry) return LINEERR_NOMEM;
  try {
    entry->onDone = std::move(onDone);
    entry->key = refId;
    entry->requestId = requestId;
    entry->kind = kind;
    entry->line = line;
    entry->call = call;
    entry->context = std::move(context);
    entry->onTimeout = std::move(onTimeout);
    entry->onAbort = std::move(onAbort);
    entry->onLinkLoss = std::move(onLinkLoss);
    entry->deadline.Start(clock_, timeoutMs);
    entries_.push_front(std::move(entry));
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  }
  return 0;
}

PendingRequest* PendingRequests::pVnlTxnFind(uint8_t refId) {
  for (auto& entry : entries_)
    if (entry->keyClass == 1 && entry->key == refId) return entry.get();
  return nullptr;
}

PendingRequests::Entries::iterator PendingRequests::Locate(const PendingRequest* entry) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->get() == entry) return it;
  return entries_.end();
}

PendingRequests::Entries::const_iterator PendingRequests::Locate(const PendingRequest* entry) const {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->get() == entry) return it;
  return entries_.end();
}

bool PendingRequests::Contains(const PendingRequest* entry) const { return Locate(entry) != entries_.end(); }

bool PendingRequests::TimeOut(PendingRequest* entry) {
  if (!Contains(entry)) return false;
  RunAndRemove(entry, entry->onTimeout);
  return true;
}

bool PendingRequests::bVnlTxnRemove(PendingRequest* entry) {
  auto it = Locate(entry);
  if (it == entries_.end()) return false;
  std::unique_ptr<PendingRequest> gone = std::move(*it);
  entries_.erase(it);
  if (gone->onDone) gone->onDone(*gone);
  return true;
}

void PendingRequests::RunAndRemove(PendingRequest* entry, const TxnHandler& handler) {
  // A handler may add entries (at the head) or remove others; the entry
  // itself is looked up again before it is removed.
  const int remove = handler ? handler(entry->line, entry->call, *entry) : 1;
  if (remove) bVnlTxnRemove(entry);
}

void PendingRequests::vVnlTxnScan(uint32_t now, const std::function<bool()>& linkUp) {
  std::vector<PendingRequest*> snapshot;
  snapshot.reserve(entries_.size());
  for (auto& entry : entries_) snapshot.push_back(entry.get());
  std::optional<bool> up;
  for (PendingRequest* entry : snapshot) {
    if (Locate(entry) == entries_.end()) continue;  // removed by an earlier handler
    if (entry->deadline.HasExpired(now)) {
      RunAndRemove(entry, entry->onTimeout);
      continue;
    }
    if (!entry->onLinkLoss) continue;
    if (!up) up = linkUp ? linkUp() : true;
    if (!*up) RunAndRemove(entry, entry->onLinkLoss);
  }
}

void PendingRequests::vVnlTxnAbortLine(const OpenLine* line) {
  std::vector<PendingRequest*> ofLine;
  for (auto& entry : entries_)
    if (entry->line == line) ofLine.push_back(entry.get());
  for (PendingRequest* entry : ofLine) {
    if (Locate(entry) == entries_.end()) continue;
    // An abort always ends the entry, whatever its handler answers.
    if (entry->onAbort) entry->onAbort(entry->line, entry->call, *entry);
    bVnlTxnRemove(entry);
  }
}

void PendingRequests::ForgetCall(const TspCall* call) {
  for (auto& entry : entries_)
    if (entry->call == call) entry->call = nullptr;
}

}  // namespace kvarsp
