#include "provider/vnl/call_requests.h"

#include "provider/trace.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/conference_links.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {
namespace {

}  // namespace

CallRequests::CallRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls,
                           std::function<bool()> lineId16)
    : sender_(sender), txns_(txns), calls_(calls), lineId16_(std::move(lineId16)) {}

void CallRequests::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kCallEstablishConf, [this](const vnl::Message& m) { OnCallEstablishConf(m); });
  d.SetHandler(vnl::kDialConf, CompletingHandler(txns_, calls_, kTxnDial, "VNL_DIAL_CONF"));
  d.SetHandler(vnl::kAnswerCallConf, CompletingHandler(txns_, calls_, kTxnAnswer, "VNL_ANSWERCALL_CONF"));
  d.SetHandler(vnl::kDisconnectConf, [this](const vnl::Message& m) { OnDisconnectConf(m); });
}

// --- Sending ------------------------------------------------------------------

LONG CallRequests::MakeCall(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                            uint8_t callOptions) {
  uint8_t refId = 0;
  if (!sender_.iSendCallEstablishReq(lineId16_(), line.pbxLineId, digits, callOptions, refId))
    return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.htCall = call.htCall;
  const TxnHandler onTimeout = [this](OpenLine* l, const TspCall* c, PendingRequest& entry) {
    return MakeCallFailed(l, c, entry);
  };
  return txns_.lVnlTxnRegister(refId, requestId, kTxnMakeCall, nullptr, &line, &call, kTxnTimeoutMs, std::move(context),
                               onTimeout, onTimeout);
}

LONG CallRequests::Dial(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                        std::u16string_view dialString) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendDialReq(call.pbxCallId, digits, refId)) return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.dialString = dialString;
  const TxnHandler onTimeout = FailRequestHandler(calls_, "VNL_DIAL_CONF Timeout");
  return txns_.lVnlTxnRegister(refId, requestId, kTxnDial, nullptr, &line, &call, kTxnTimeoutMs, std::move(context),
                               onTimeout, onTimeout);
}

LONG CallRequests::Answer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint8_t callOptions) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendAnswerCallReq(call.pbxCallId, callOptions, refId)) return LINEERR_OPERATIONFAILED;
  const TxnHandler onTimeout = FailRequestHandler(calls_, "VNL_ANSWER_CONF Timeout");
  return txns_.lVnlTxnRegister(refId, requestId, kTxnAnswer, nullptr, &line, &call, kTxnTimeoutMs, {}, onTimeout,
                               onTimeout);
}

LONG CallRequests::Drop(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  return SendDisconnect(requestId, kTxnDrop, line, call, call.pbxCallId, {});
}

LONG CallRequests::DropTwo(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t firstCallId,
                           uint16_t secondCallId) {
  TxnContext context;
  context.secondCallId = secondCallId;
  return SendDisconnect(requestId, kTxnDropTwo, line, call, firstCallId, std::move(context));
}

bool CallRequests::SendWatchDisconnect(OpenLine& line, const TspCall& call) {
  // Without the exchange's CALL_ID there is nothing to disconnect.
  if (!call.pbxCallIdValid) return false;
  return SendDisconnect(0, kTxnDrop, line, call, call.pbxCallId, {}) == 0;
}

bool CallRequests::SendUntrackedDisconnect(uint16_t callId) {
  uint8_t refId = 0;
  return sender_.iSendDisconnectReq(callId, refId) != 0;
}

LONG CallRequests::SendDisconnect(DRV_REQUESTID requestId, uint32_t kind, OpenLine& line, const TspCall& call,
                                  uint16_t callId, TxnContext context) {
  uint8_t refId = 0;
  if (!sender_.iSendDisconnectReq(callId, refId)) return LINEERR_OPERATIONFAILED;
  const TxnHandler onTimeout = [this](OpenLine* l, const TspCall* c, PendingRequest& entry) {
    return DisconnectTimedOut(l, c, entry);
  };
  return txns_.lVnlTxnRegister(refId, requestId, kind, nullptr, &line, &call, kTxnTimeoutMs, std::move(context),
                               onTimeout, onTimeout);
}

// --- Time-outs and aborts -------------------------------------------------------

int CallRequests::MakeCallFailed(OpenLine* line, const TspCall* call, PendingRequest& entry) {
  traceVnl("VNL_CALLESTABLISH_CONF Timeout");
  if (call) calls_.DeleteCall(call);
  calls_.Complete(line, entry.requestId, LINEERR_OPERATIONFAILED);
  return 1;
}

int CallRequests::DisconnectTimedOut(OpenLine* line, const TspCall* call, PendingRequest& entry) {
  traceVnl("VNL_DISCONNECT_CONF Timeout");
  if (entry.requestId != 0) {
    calls_.Complete(line, entry.requestId, LINEERR_OPERATIONFAILED);
  } else if (call && call->watchDropSent) {
    calls_.WatchDropConfirmed(*call);
  }
  // The exchange did not answer: the call is given up as if the exchange had
  // ended it. A conference root stands for two exchange calls and stays.
  if (call && !call->conferenceRoot && call->pbxCallIdValid) {
    DissolveConference(calls_, *call);
    calls_.CloseCallByExchange(*call);
  }
  return 1;
}

// --- Confirmations ----------------------------------------------------------------

void CallRequests::OnCallEstablishConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnMakeCall}, "VNL_CALLESTABLISH_CONF");
  if (!entry) return;
  const TspCall* call = entry->call;
  if (!ConfirmationSucceeded(m)) {
    if (call) calls_.DeleteCall(call);
    calls_.Complete(entry->line, entry->requestId, LINEERR_OPERATIONFAILED);
  } else if (!call) {
    // TAPI closed the call while the exchange set it up: the exchange's call
    // has no owner any more and is disconnected again.
    if (m.Has(vnl::kCallId)) SendUntrackedDisconnect(m.callId);
    calls_.Complete(entry->line, entry->requestId, LINEERR_OPERATIONFAILED);
  } else {
    calls_.CallEstablished(*call, entry->context.htCall,
                           m.Has(vnl::kCallId) ? std::optional<uint16_t>(m.callId) : std::nullopt);
    // TAPI hears of the completion before the call's first state.
    calls_.Complete(entry->line, entry->requestId, 0);
    calls_.SetCallState(*call, LINECALLSTATE_DIALTONE, 0);
  }
  txns_.bVnlTxnRemove(entry);
}

void CallRequests::OnDisconnectConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnDrop, kTxnDropTwo}, "VNL_DISCONNECT_CONF");
  if (!entry) return;
  if (entry->requestId != 0) {
    if (entry->kind == kTxnDropTwo && entry->context.secondCallId) {
      // The first of the two exchange calls is answered (whatever its
      // result): the second follows under the same TAPI request.
      DisconnectSecond(*entry, *entry->context.secondCallId);
    } else {
      calls_.Complete(entry->line, entry->requestId, ConfirmationSucceeded(m) ? 0 : LINEERR_OPERATIONFAILED);
    }
  } else if (const TspCall* call = entry->call; call && call->watchDropSent) {
    calls_.WatchDropConfirmed(*call);
    if (!ConfirmationSucceeded(m) && call->pbxCallIdValid) calls_.CloseCallByExchange(*call);
  }
  txns_.bVnlTxnRemove(entry);
}

void CallRequests::DisconnectSecond(PendingRequest& first, uint16_t secondCallId) {
  uint8_t refId = 0;
  if (!sender_.iSendDisconnectReq(secondCallId, refId)) {
    calls_.Complete(first.line, first.requestId, LINEERR_OPERATIONFAILED);
    return;
  }
  const TxnHandler onTimeout = [this](OpenLine* l, const TspCall* c, PendingRequest& entry) {
    return DisconnectTimedOut(l, c, entry);
  };
  const LONG registered = txns_.lVnlTxnRegister(refId, first.requestId, kTxnDrop, nullptr, first.line, first.call,
                                                kTxnTimeoutMs, {}, onTimeout, onTimeout);
  if (registered != 0) calls_.Complete(first.line, first.requestId, registered);
}

}  // namespace kvarsp
