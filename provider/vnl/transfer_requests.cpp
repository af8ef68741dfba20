#include "provider/vnl/transfer_requests.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "provider/trace.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {
namespace {

constexpr uint32_t kVarStringFixedSize = 24;

// The states in which a blind-transferred call can still be handed over.
bool StillTransferable(uint32_t state) {
  return state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_ONHOLD ||
         state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

// Traces the mismatch and ends the entry as its abort would.
void Mismatched(PendingRequests& txns, PendingRequest* entry, const char* name) {
  traceVnl("MsgRefID and MsgType do not fit together (in %s)", name);
  if (entry->onAbort) entry->onAbort(entry->line, entry->call, *entry);
  txns.bVnlTxnRemove(entry);
}

}  // namespace

LONG FillParkAddress(VARSTRING& target, uint16_t parkAddress) {
  // At most five digits and the terminator: the string never needs cutting.
  const std::string digits = std::to_string(parkAddress);
  std::u16string text(digits.begin(), digits.end());
  text.push_back(u'\0');
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(char16_t));
  target.dwNeededSize = kVarStringFixedSize + bytes;
  if (target.dwTotalSize < target.dwNeededSize) {
    // Nothing but the fixed part is used: the caller's buffer ends before the string would.
    target.dwUsedSize = kVarStringFixedSize;
    target.dwStringSize = 0;
    target.dwStringOffset = 0;
    return LINEERR_STRUCTURETOOSMALL;
  }
  target.dwUsedSize = target.dwNeededSize;
  target.dwStringFormat = STRINGFORMAT_UNICODE;
  target.dwStringSize = bytes;
  target.dwStringOffset = kVarStringFixedSize;
  std::memcpy(reinterpret_cast<BYTE*>(&target) + kVarStringFixedSize, text.data(), bytes);
  return 0;
}

TransferRequests::TransferRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls,
                                   TransferRecords& records, std::function<bool()> lineId16)
    : sender_(sender), txns_(txns), calls_(calls), records_(records), lineId16_(std::move(lineId16)) {}

void TransferRequests::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kTransferConf, [this](const vnl::Message& m) { OnTransferConf(m); });
  d.SetHandler(vnl::kCompleteTransferConf,
               CompletingHandler(txns_, calls_, kTxnCompleteTransfer, "VNL_COMPLETETRANSFER_CONF"));
  d.SetHandler(vnl::k3PtyConferenceConf, [this](const vnl::Message& m) { OnConferenceConf(m); });
  d.SetHandler(vnl::kParkCallConf, [this](const vnl::Message& m) { OnParkConf(m); });
  d.SetHandler(vnl::kUnparkCallConf,
               [this](const vnl::Message& m) { OnNewCallConf(m, kTxnParkUnpark, "VNL_UNPARKCALL_CONF"); });
  d.SetHandler(vnl::kPickupCallConf,
               [this](const vnl::Message& m) { OnNewCallConf(m, kTxnPickup, "VNL_PICKUPCALL_CONF"); });
}

// --- Sending ------------------------------------------------------------------

LONG TransferRequests::BlindTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                                     std::u16string_view digits, uint8_t callOptions) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendTransferReq(call.pbxCallId, digits, callOptions, refId)) return LINEERR_OPERATIONFAILED;
  const LONG rc = Register(refId, requestId, kTxnTransfer, line, &call, {},
                           [this](OpenLine*, const TspCall* c, PendingRequest& e) {
                             return TransferFailed(c, e, "VNL_TRANSFER_CONF Timeout");
                           });
  if (rc == 0) calls_.MarkBlindTransfer(call, true);
  return rc;
}

LONG TransferRequests::SetupTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& transferred,
                                     const TspCall& consultation, std::u16string_view digits, uint8_t callOptions) {
  if (!transferred.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendTransferReq(transferred.pbxCallId, digits, callOptions, refId)) return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.htCall = consultation.htCall;  // set: the request is a setup transfer
  return Register(refId, requestId, kTxnTransfer, line, &consultation, std::move(context),
                  [this](OpenLine*, const TspCall* c, PendingRequest& e) {
                    return TransferFailed(c, e, "VNL_TRANSFER_CONF Timeout");
                  });
}

LONG TransferRequests::CompleteTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                                        const TspCall& held) {
  if (!call.pbxCallIdValid || !held.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendCompleteTransferReq(call.pbxCallId, held.pbxCallId, refId)) return LINEERR_OPERATIONFAILED;
  return Register(refId, requestId, kTxnCompleteTransfer, line, &call, {},
                  FailRequestHandler(calls_, "VNL_COMPLETETRANSFER_CONF Timeout"));
}

LONG TransferRequests::Conference(DRV_REQUESTID requestId, OpenLine& line, const TspCall& conference,
                                  const TspCall& connected, const TspCall& held) {
  if (!connected.pbxCallIdValid || !held.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSend3PtyConferenceReq(connected.pbxCallId, held.pbxCallId, refId)) return LINEERR_OPERATIONFAILED;
  return Register(refId, requestId, kTxnConference, line, &conference, {},
                  [this](OpenLine*, const TspCall* c, PendingRequest& e) {
                    return ConferenceFailed(c, e, "VNL_3PTYCONFERENCE_CONF Timeout");
                  });
}

LONG TransferRequests::Park(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, LPVARSTRING nonDirAddress) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendParkCallReq(call.pbxCallId, refId)) return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.parkAddress = nonDirAddress;  // set: the request is a park
  return Register(refId, requestId, kTxnParkUnpark, line, &call, std::move(context),
                  FailRequestHandler(calls_, "VNL_PARKCALL_CONF Timeout"));
}

LONG TransferRequests::Unpark(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t parkAddress,
                              uint8_t callOptions) {
  uint8_t refId = 0;
  if (!sender_.iSendUnparkCallReq(lineId16_(), line.pbxLineId, parkAddress, callOptions, refId))
    return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.htCall = call.htCall;
  return Register(refId, requestId, kTxnParkUnpark, line, &call, std::move(context),
                  [this](OpenLine*, const TspCall* c, PendingRequest& e) {
                    return NewCallFailed(c, e, "VNL_UNPARKCALL_CONF Timeout");
                  });
}

LONG TransferRequests::Pickup(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                              std::u16string_view digits, uint8_t callOptions) {
  uint8_t refId = 0;
  if (!sender_.iSendPickupCallReq(lineId16_(), line.pbxLineId, digits, callOptions, refId))
    return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.htCall = call.htCall;
  return Register(refId, requestId, kTxnPickup, line, &call, std::move(context),
                  [this](OpenLine*, const TspCall* c, PendingRequest& e) {
                    return NewCallFailed(c, e, "VNL_PICKUPCALL_CONF Timeout");
                  });
}

LONG TransferRequests::Register(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, OpenLine& line,
                                const TspCall* call, TxnContext context, TxnHandler onTimeout) {
  return txns_.lVnlTxnRegister(refId, requestId, kind, nullptr, &line, call, kTxnTimeoutMs, std::move(context),
                               onTimeout, onTimeout);
}

void TransferRequests::Disconnect(uint16_t callId) {
  uint8_t refId = 0;
  sender_.iSendDisconnectReq(callId, refId);
}

OpenLine* TransferRequests::LineOf(const TspCall& call) {
  return calls_.FindLine(reinterpret_cast<HDRVLINE>(call.line));
}

// --- Time-outs and aborts -------------------------------------------------------

int TransferRequests::TransferFailed(const TspCall* call, PendingRequest& entry, const char* text) {
  if (text) traceVnl("%s", text);
  if (entry.context.htCall) {
    if (call) calls_.DeleteCall(call);  // the setup transfer's consultation call
  } else if (call) {
    calls_.MarkBlindTransfer(*call, false);
  }
  calls_.Complete(entry.line, entry.requestId, LINEERR_OPERATIONFAILED);
  return 1;
}

int TransferRequests::ConferenceFailed(const TspCall* call, PendingRequest& entry, const char* text) {
  if (text) traceVnl("%s", text);
  if (call) {
    // No call stays prepared for, or linked to, the conference call that goes.
    calls_.ForgetPreparedConference(*call);
    for (const TspCall* member : calls_.Calls())
      if (member->conferenceMember && member->conferenceHdCall == call->handle) calls_.LeaveConference(*member, true);
    calls_.DeleteCall(call);
  }
  calls_.Complete(entry.line, entry.requestId, LINEERR_OPERATIONFAILED);
  return 1;
}

int TransferRequests::NewCallFailed(const TspCall* call, PendingRequest& entry, const char* text) {
  if (text) traceVnl("%s", text);
  if (call) calls_.DeleteCall(call);
  calls_.Complete(entry.line, entry.requestId, LINEERR_OPERATIONFAILED);
  return 1;
}

// --- Confirmations ----------------------------------------------------------------

void TransferRequests::OnTransferConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnTransfer}, "VNL_TRANSFER_CONF");
  if (!entry) return;
  const TspCall* call = entry->call;
  const bool setup = entry->context.htCall != nullptr;
  if (!ConfirmationSucceeded(m) || !m.Has(vnl::kCallId)) {
    TransferFailed(call, *entry, nullptr);
  } else if (!call) {
    // The call the request was for is gone: the exchange's new consultation
    // call has no owner and is disconnected again.
    Disconnect(m.callId);
    calls_.Complete(entry->line, entry->requestId, LINEERR_OPERATIONFAILED);
  } else if (setup) {
    calls_.CallEstablished(*call, entry->context.htCall, m.callId);
    // TAPI hears of the completion before the consultation call's first state.
    calls_.Complete(entry->line, entry->requestId, 0);
    calls_.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  } else {
    StartBlindTransferWait(*entry, *call, m.callId);
  }
  txns_.bVnlTxnRemove(entry);
}

void TransferRequests::StartBlindTransferWait(PendingRequest& entry, const TspCall& call, uint16_t consultationId) {
  calls_.MarkBlindTransfer(call, false);
  TransferRecord* record = nullptr;
  try {
    if (entry.line) record = &records_.Create(consultationId, *entry.line);
  } catch (const std::bad_alloc&) {
    calls_.Complete(entry.line, entry.requestId, LINEERR_NOMEM);
    return;
  }
  if (!record) {
    calls_.Complete(entry.line, entry.requestId, LINEERR_OPERATIONFAILED);
    return;
  }
  record->attached = &call;
  calls_.StartBlindTransferWait(call, consultationId, entry.requestId, kBlindTransferWaitMs);
  // The exchange may have reported the consultation call already.
  OnConsultationState(consultationId);
}

void TransferRequests::OnConferenceConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnConference}, "VNL_3PTYCONFERENCE_CONF");
  if (!entry) return;
  const TspCall* conference = entry->call;
  if (!ConfirmationSucceeded(m)) {
    ConferenceFailed(conference, *entry, nullptr);
  } else {
    calls_.Complete(entry->line, entry->requestId, 0);
    const uint32_t version = entry->line ? entry->line->tspiVersion : 0;
    if (conference) calls_.SetCallState(*conference, LINECALLSTATE_CONNECTED, version > 0x10003 ? 1 : 0);
  }
  txns_.bVnlTxnRemove(entry);
}

void TransferRequests::OnParkConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnParkUnpark}, "VNL_PARKCALL_CONF");
  if (!entry) return;
  LPVARSTRING target = entry->context.parkAddress;
  if (!target) {  // an unpark shares the kind, not the confirmation
    Mismatched(txns_, entry, "VNL_PARKCALL_CONF");
    return;
  }
  LONG result = LINEERR_OPERATIONFAILED;
  if (ConfirmationSucceeded(m) && m.Has(vnl::kParkAddress)) result = FillParkAddress(*target, m.parkAddress);
  calls_.Complete(entry->line, entry->requestId, result);
  txns_.bVnlTxnRemove(entry);
}

void TransferRequests::OnNewCallConf(const vnl::Message& m, uint32_t kind, const char* name) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kind}, name);
  if (!entry) return;
  if (entry->context.parkAddress) {  // a park shares the kind, not the confirmation
    Mismatched(txns_, entry, name);
    return;
  }
  const TspCall* call = entry->call;
  if (!ConfirmationSucceeded(m) || !m.Has(vnl::kCallId)) {
    NewCallFailed(call, *entry, nullptr);
  } else if (!call) {
    Disconnect(m.callId);  // nobody owns the exchange's call any more
    calls_.Complete(entry->line, entry->requestId, LINEERR_OPERATIONFAILED);
  } else {
    calls_.CallEstablished(*call, entry->context.htCall, m.callId);
    calls_.Complete(entry->line, entry->requestId, 0);  // its state follows from indications
  }
  txns_.bVnlTxnRemove(entry);
}

// --- Blind transfer ---------------------------------------------------------------

void TransferRequests::OnConsultationState(uint16_t pbxCallId) {
  TransferRecord* record = records_.Find(pbxCallId);
  if (!record) return;
  const uint8_t state = record->lastCallState;
  const bool rings = state == kPbxStateConnected || state == kPbxStateDelivered;
  const bool failed = state == kPbxStateIdle || state == kPbxStateBusy || state == kPbxStateDisconnected;
  const TspCall* call = record->attached;
  if ((!rings && !failed) || !call) return;
  if (!call->blindTransferWait.active || call->blindTransferWait.consultationPbxCallId != pbxCallId) return;
  record->attached = nullptr;
  const TspCall::BlindTransferWait wait = calls_.EndBlindTransferWait(*call);
  OpenLine* line = LineOf(*call);
  if (failed || !line || !StillTransferable(call->callState) || !call->pbxCallIdValid) {
    Disconnect(pbxCallId);
    calls_.Complete(line, wait.requestId, LINEERR_OPERATIONFAILED);
    return;
  }
  uint8_t refId = 0;
  if (!sender_.iSendCompleteTransferReq(pbxCallId, call->pbxCallId, refId)) {
    calls_.Complete(line, wait.requestId, LINEERR_OPERATIONFAILED);
    return;
  }
  const LONG rc = Register(refId, wait.requestId, kTxnCompleteTransfer, *line, call, {},
                           FailRequestHandler(calls_, "VNL_COMPLETETRANSFER_CONF Timeout"));
  if (rc != 0) calls_.Complete(line, wait.requestId, rc);
}

void TransferRequests::FailBlindTransfer(const TspCall& call) {
  const TspCall::BlindTransferWait wait = calls_.EndBlindTransferWait(call);
  TransferRecord* record = records_.Find(wait.consultationPbxCallId);
  if (record && record->attached == &call) {
    record->attached = nullptr;
    Disconnect(wait.consultationPbxCallId);
  }
  calls_.Complete(LineOf(call), wait.requestId, LINEERR_OPERATIONFAILED);
}

void TransferRequests::OnTick() {
  const uint32_t now = calls_.clock().tickCount();
  for (const TspCall* call : calls_.Calls())
    if (call->blindTransferWait.active && call->blindTransferWait.timer.HasExpired(now)) FailBlindTransfer(*call);
}

void TransferRequests::AbortLine(const OpenLine& line) {
  for (const TspCall* call : calls_.CallsOfLine(line))
    if (call->blindTransferWait.active) FailBlindTransfer(*call);
  records_.DeleteLine(line);
}

void TransferRequests::ForgetCall(const TspCall& call) {
  if (call.blindTransferWait.active) FailBlindTransfer(call);
  records_.ForgetCall(&call);
}

}  // namespace kvarsp
