#include "provider/vnl/service_requests.h"

#include "provider/trace.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {

ServiceRequests::ServiceRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls,
                                 std::function<bool()> lineId16)
    : sender_(sender), txns_(txns), calls_(calls), lineId16_(std::move(lineId16)) {}

void ServiceRequests::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kAlternateCallConf, CompletingHandler(txns_, calls_, kTxnSwapHold, "VNL_ALTERNATECALL_CONF"));
  d.SetHandler(vnl::kRedirectCallConf, CompletingHandler(txns_, calls_, kTxnRedirect, "VNL_REDIRECTCALL_CONF"));
  d.SetHandler(vnl::kSetForwardConf, [this](const vnl::Message& m) { OnSetForwardConf(m); });
}

// --- Sending ------------------------------------------------------------------

LONG ServiceRequests::SwapHold(DRV_REQUESTID requestId, OpenLine& line, const TspCall& connected, const TspCall& held) {
  if (!connected.pbxCallIdValid || !held.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendAlternateCallReq(connected.pbxCallId, held.pbxCallId, refId)) return LINEERR_OPERATIONFAILED;
  return Register(refId, requestId, kTxnSwapHold, line, &connected, {}, "VNL_ALTERNATECALL_CONF Timeout");
}

LONG ServiceRequests::Redirect(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call,
                               std::u16string_view digits) {
  if (!call.pbxCallIdValid) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  if (!sender_.iSendRedirectCallReq(call.pbxCallId, digits, refId)) return LINEERR_OPERATIONFAILED;
  return Register(refId, requestId, kTxnRedirect, line, &call, {}, "VNL_REDIRECTCALL_CONF Timeout");
}

LONG ServiceRequests::Forward(DRV_REQUESTID requestId, OpenLine& line, uint8_t forwardingType, uint32_t mode,
                              uint32_t countryCode, std::optional<std::u16string> destination) {
  uint8_t refId = 0;
  if (!sender_.iSendSetForwardReq(lineId16_(), line.pbxLineId, forwardingType, destination.value_or(u""), refId))
    return LINEERR_OPERATIONFAILED;
  TxnContext context;
  context.forward.mode = mode;
  context.forward.countryCode = countryCode;
  context.forward.destination = std::move(destination);
  return Register(refId, requestId, kTxnForward, line, nullptr, std::move(context), "VNL_SETFORWARD_CONF Timeout");
}

LONG ServiceRequests::Register(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, OpenLine& line,
                               const TspCall* call, TxnContext context, const char* timeoutText) {
  const TxnHandler onTimeout = FailRequestHandler(calls_, timeoutText);
  return txns_.lVnlTxnRegister(refId, requestId, kind, nullptr, &line, call, kTxnTimeoutMs, std::move(context),
                               onTimeout, onTimeout);
}

// --- Confirmations ----------------------------------------------------------------

void ServiceRequests::OnSetForwardConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnForward}, "VNL_SETFORWARD_CONF");
  if (!entry) return;
  if (!ConfirmationSucceeded(m)) {
    calls_.Complete(entry->line, entry->requestId, LINEERR_OPERATIONFAILED);
  } else {
    // TAPI hears of the completion before the addresses' new forwarding.
    calls_.Complete(entry->line, entry->requestId, 0);
    if (entry->line) {
      ForwardRecord& record = entry->context.forward;
      calls_.SetLineForwarding(*entry->line, record.mode, record.countryCode, std::move(record.destination));
    }
  }
  txns_.bVnlTxnRemove(entry);
}

}  // namespace kvarsp
