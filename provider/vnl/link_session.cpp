#include "provider/vnl/link_session.h"

#include <new>
#include <string>

#include "platform/codepage.h"
#include "provider/trace.h"
#include "provider/vnl/address_list_parser.h"
#include "provider/vnl/call_state_tables.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {
namespace {

constexpr uint8_t kDriverType = 16;

bool HasDetail(const vnl::Message& m, uint8_t detail) {
  for (uint8_t d : m.resultDetails)
    if (d == detail) return true;
  return false;
}

void SetResult(PendingRequest& entry, int value) { entry.context.result = value; }

int TimeoutCode(uint32_t kind) {
  switch (kind) {
    case kTxnAddressList: return kAddressListTimeout;
    case kTxnLinkEnd: return kEndTimeout;
    case kTxnRegister: return kRegisterTimeout;
    case kTxnUnregister: return kUnregisterTimeout;
    case kTxnLineInfo: return kLineInfoTimeout;
    default: return kStartTimeout;
  }
}

}  // namespace

LinkSession::LinkSession(Layer2& layer2, VnlSender& sender, PendingRequests& txns, ConfigTables& config,
                         CallModel& calls, platform::Clock& clock, LinkTimer& timer)
    : layer2_(layer2), sender_(sender), txns_(txns), config_(config), calls_(calls), clock_(clock), timer_(timer) {}

void LinkSession::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kStartConf, [this](const vnl::Message& m) { OnStartConf(m); });
  d.SetHandler(vnl::kEndConf, [this](const vnl::Message& m) { OnEndConf(m); });
  d.SetHandler(vnl::kEndInd, [this](const vnl::Message& m) { OnEndInd(m); });
  d.SetHandler(vnl::kGetAddressListConf, [this](const vnl::Message& m) { OnAddressListConf(m); });
  d.SetHandler(vnl::kRegisterConf, [this](const vnl::Message& m) { OnRegisterConf(m); });
  d.SetHandler(vnl::kUnregisterConf, [this](const vnl::Message& m) { OnUnregisterConf(m); });
  d.SetHandler(vnl::kGetLineInfoConf, [this](const vnl::Message& m) { OnLineInfoConf(m); });
}

// --- The turn ---------------------------------------------------------------------
// Memory: an operation that cannot be queued or run for want of memory fails
// with its code, and nothing throws out of the session. The steps after a
// registered transaction allocate nothing.

void LinkSession::Submit(int failCode, LinkDone done, std::function<void()> body) {
  QueuedOperation operation{failCode, std::move(done), std::move(body)};
  try {
    queue_.push_back(std::move(operation));
  } catch (const std::bad_alloc&) {
    if (operation.done) operation.done(failCode);  // left as it was
    return;
  }
  RunQueue();
}

void LinkSession::RunQueue() {
  // An operation that finishes at once calls Finish from inside the loop;
  // the loop, not a nested call, then starts the next one.
  if (runningQueue_) return;
  runningQueue_ = true;
  while (!busy_ && !queue_.empty()) {
    QueuedOperation operation = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    current_ = std::move(operation.done);
    currentFailCode_ = operation.failCode;
    try {
      operation.body();
    } catch (const std::bad_alloc&) {
      // Nothing waits for the exchange yet: the operation fails.
      if (busy_ && phase_ == Phase::Idle) Finish(currentFailCode_);
    }
  }
  runningQueue_ = false;
}

void LinkSession::Finish(int result) {
  busy_ = false;
  const LinkDone done = std::move(current_);
  current_ = nullptr;
  if (done) done(result);
  RunQueue();
}

bool LinkSession::Await(uint8_t refId, uint32_t kind, OpenLine* line, Continuation then) {
  const TxnHandler onTimeout = [kind](OpenLine*, const TspCall*, PendingRequest& entry) {
    traceVnl("Timeout");
    SetResult(entry, TimeoutCode(kind));
    return 1;
  };
  const TxnHandler onLinkLoss = [](OpenLine*, const TspCall*, PendingRequest& entry) {
    traceVnl("Layer 2 disconnected");
    SetResult(entry, kLinkDownWhileWaiting);
    return 1;
  };
  TxnDone onDone = [this](PendingRequest& entry) {
    const Continuation next = then_;
    phase_ = Phase::Idle;
    awaited_ = nullptr;
    then_ = nullptr;
    timer_.CancelTimer();
    (this->*next)(entry.context.result);
  };
  if (txns_.lVnlTxnRegister(refId, 0, kind, std::move(onDone), line, nullptr, kTxnTimeoutMs, TxnContext{}, onTimeout,
                            onTimeout, onLinkLoss) != 0)
    return false;
  awaited_ = txns_.pVnlTxnFind(refId);
  then_ = then;
  phase_ = Phase::Confirmation;
  phaseStart_ = clock_.tickCount();
  timer_.ArmTimer(phaseStart_ + kTxnWaitBoundMs);
  return true;
}

void LinkSession::OnTimer(uint32_t now) {
  switch (phase_) {
    case Phase::Confirmation:
      // The scan of the 500 ms tick normally ends the wait at the deadline;
      // without ticks the bound gives the same time-out.
      if (now - phaseStart_ >= kTxnWaitBoundMs && awaited_) txns_.TimeOut(awaited_);
      break;
    case Phase::EndIndication:
      if (now - phaseStart_ >= kEndIndicationWaitMs) EndIndicationWaitOver(false);
      break;
    case Phase::Idle: break;
  }
}

// --- Operations --------------------------------------------------------------------

void LinkSession::Start(uint8_t protocolVersion, LinkDone done) {
  Submit(kStartFailed, std::move(done), [this, protocolVersion] {
    if (startCount_ > 0) {
      ++startCount_;
      return Finish(kLinkOk);
    }
    if (layer2_.OpenConnection() != 0) return Finish(kStartOpenFailed);
    uint8_t refId = 0;
    if (!sender_.iSendStartReq(protocolVersion, kDriverType, u"", refId)) {
      layer2_.CloseConnection();
      return Finish(kStartSendFailed);
    }
    if (!Await(refId, kTxnLinkStart, nullptr, &LinkSession::StartConfirmed)) {
      layer2_.CloseConnection();
      Finish(kStartFailed);
    }
  });
}

void LinkSession::StartConfirmed(int result) {
  if (result != 0) {
    layer2_.CloseConnection();
    return Finish(result < 0 ? kStartFailed : result);
  }
  ++startCount_;
  Finish(kLinkOk);
}

void LinkSession::End(LinkDone done) {
  Submit(kEndFailed, std::move(done), [this] {
    if (startCount_ == 0) return Finish(kLinkOk);
    if (--startCount_ > 0) return Finish(kLinkOk);
    uint8_t refId = 0;
    if (!sender_.iSendEndReq(0, refId)) {
      layer2_.CloseConnection();
      return Finish(kEndSendFailed);
    }
    endIndication_ = -1;
    if (!Await(refId, kTxnLinkEnd, nullptr, &LinkSession::EndConfirmed)) {
      layer2_.CloseConnection();
      Finish(kEndFailed);
    }
  });
}

void LinkSession::EndConfirmed(int result) {
  if (result != 0) {
    layer2_.CloseConnection();
    return Finish(result < 0 ? kEndFailed : result);
  }
  traceVnl("Waiting for VNL_END_IND");
  if (endIndication_ != -1) return EndIndicationWaitOver(true);  // it came before the confirmation
  phase_ = Phase::EndIndication;
  phaseStart_ = clock_.tickCount();
  timer_.ArmTimer(phaseStart_ + kEndIndicationWaitMs);
}

void LinkSession::EndIndicationWaitOver(bool received) {
  phase_ = Phase::Idle;
  timer_.CancelTimer();
  traceVnl(received ? "VNL_END_IND received" : "Timeout VNL_END_IND");
  layer2_.CloseConnection();
  Finish(received ? kLinkOk : kEndIndMissing);
}

void LinkSession::GetAddressList(LinkDone done) {
  Submit(kAddressListFailed, std::move(done), [this] {
    if (startCount_ == 0) return Finish(kAddressListNotStarted);
    uint8_t refId = 0;
    if (!sender_.iSendGetAddressListReq(refId)) return Finish(kAddressListSendFailed);
    if (!Await(refId, kTxnAddressList, nullptr, &LinkSession::AddressListConfirmed)) Finish(kAddressListFailed);
  });
}

void LinkSession::AddressListConfirmed(int result) { Finish(result < 0 ? kAddressListFailed : result); }

void LinkSession::LineRequest(uint32_t kind, HDRVLINE hdLine, bool lineId16, uint16_t lineId) {
  if (kind != kTxnLineInfo && startCount_ == 0) return Finish(LINEERR_OPERATIONFAILED);
  // The line is looked up when the turn comes: it may have been closed while
  // the request waited.
  OpenLine* line = hdLine ? calls_.FindLine(hdLine) : nullptr;
  if (hdLine && !line) return Finish(LINEERR_OPERATIONFAILED);
  uint8_t refId = 0;
  int sent = 0;
  switch (kind) {
    case kTxnRegister: sent = sender_.iSendRegisterReq(lineId16, lineId, refId); break;
    case kTxnUnregister: sent = sender_.iSendUnregisterReq(lineId16, lineId, refId); break;
    default: sent = sender_.iSendGetLineInfoReq(lineId16, lineId, refId); break;
  }
  if (!sent) return Finish(LINEERR_OPERATIONFAILED);
  if (!Await(refId, kind, line, &LinkSession::LineRequestConfirmed)) Finish(LINEERR_OPERATIONFAILED);
}

void LinkSession::LineRequestConfirmed(int result) { Finish(result != 0 ? LINEERR_OPERATIONFAILED : 0); }

void LinkSession::RegisterLine(bool lineId16, uint16_t lineId, LinkDone done) {
  Submit(LINEERR_OPERATIONFAILED, std::move(done),
         [=, this] { LineRequest(kTxnRegister, nullptr, lineId16, lineId); });
}

void LinkSession::UnregisterLine(bool lineId16, uint16_t lineId, LinkDone done) {
  Submit(LINEERR_OPERATIONFAILED, std::move(done),
         [=, this] { LineRequest(kTxnUnregister, nullptr, lineId16, lineId); });
}

void LinkSession::GetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, LinkDone done) {
  Submit(LINEERR_OPERATIONFAILED, std::move(done),
         [=, this, hdLine = line.hdLine()] { LineRequest(kTxnLineInfo, hdLine, lineId16, lineId); });
}

// --- Confirmations and the end indication -----------------------------------------

void LinkSession::OnStartConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnLinkStart}, "VNL_START_CONF");
  if (!entry) return;
  int result = kLinkOk;
  if (!ConfirmationSucceeded(m)) {
    result = kStartFailed;
    for (uint8_t detail : m.resultDetails) {
      switch (detail) {
        case 0xC0: result = kStartRefusedC0; break;
        case 0xC1: result = kStartRefusedC1; break;
        case 0xC2: result = kLinkOk; break;
        case 0xFF: result = kStartRefusedFF; break;
        default: break;
      }
    }
  }
  SetResult(*entry, result);
  txns_.bVnlTxnRemove(entry);
}

void LinkSession::OnEndConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnLinkEnd}, "VNL_END_CONF");
  if (!entry) return;
  SetResult(*entry, ConfirmationSucceeded(m) ? kLinkOk : kEndFailed);
  txns_.bVnlTxnRemove(entry);
}

void LinkSession::OnEndInd(const vnl::Message& m) {
  TraceReceived(m);
  sender_.SendEndResp(0, {}, m.refId);
  endIndication_ = 0;
  if (phase_ == Phase::EndIndication) EndIndicationWaitOver(true);
}

void LinkSession::OnAddressListConf(const vnl::Message& m) {
  // A refusal carries no lists; it leaves the tables as they are instead of
  // emptying them.
  if (ConfirmationSucceeded(m)) RefillFromAddressList(config_, ParseAddressList(m.lineList, m.lineList16, m.msnList));
  if (VnlTraceOn()) {
    traceVnl("%s", vnl::ConfirmationTraceText("TK -> PC: VNL_GETADDRESSLIST_CONF", m, {}).c_str());
    TraceAddressMap();
  }
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnAddressList}, "VNL_GETADDRESSLIST_CONF");
  if (!entry) return;
  SetResult(*entry, ConfirmationSucceeded(m) ? kLinkOk : kAddressListFailed);
  txns_.bVnlTxnRemove(entry);
}

void LinkSession::TraceAddressMap() const {
  for (const LineConfigEntry& line : config_.lines) {
    traceVnl("TK -> PC:      Line-ID: 0x%04x   Line-Address: \"%s\"", line.pbxLineId,
             platform::wideToUtf8(line.address).c_str());
    traceVnl("TK -> PC:      MSN Indexes:");
    for (size_t i = 0; i < line.msnCount; ++i) traceVnl("TK -> PC:                     %d", line.msnIndexes[i]);
  }
  traceVnl("TK -> PC");
  for (const MsnEntry& msn : config_.msns)
    traceVnl("TK -> PC:      MSN Index: %d   MSN: \"%s\"", msn.msnIndex, platform::wideToUtf8(msn.address).c_str());
}

void LinkSession::OnRegisterConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnRegister}, "VNL_REGISTER_CONF");
  if (!entry) return;
  SetResult(*entry, ConfirmationSucceeded(m) || HasDetail(m, 0xB0) ? kLinkOk : kRegisterRefused);
  txns_.bVnlTxnRemove(entry);
}

void LinkSession::OnUnregisterConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnUnregister}, "VNL_UNREGISTER_CONF");
  if (!entry) return;
  SetResult(*entry, ConfirmationSucceeded(m) ? kLinkOk : kUnregisterRefused);
  txns_.bVnlTxnRemove(entry);
}

void LinkSession::OnLineInfoConf(const vnl::Message& m) {
  TraceReceived(m);
  PendingRequest* entry = EntryForConfirmation(txns_, m, {kTxnLineInfo}, "VNL_GETLINEINFO_CONF");
  if (!entry) return;
  const bool ok = ConfirmationSucceeded(m);
  SetResult(*entry, ok ? kLinkOk : kLineInfoRefused);
  if (ok && entry->line) {
    const uint32_t mode = ForwardModeOfLineState(m.lineState);
    std::optional<std::u16string> destination;
    if (m.Has(vnl::kDestAddress) && !m.destAddress.empty()) destination = platform::ansiToWide(m.destAddress);
    calls_.SetLineForwarding(*entry->line, mode, 0, std::move(destination));
  }
  txns_.bVnlTxnRemove(entry);
}

}  // namespace kvarsp
