#include "provider/vnl/link_session.h"

#include <string>

#include "platform/codepage.h"
#include "provider/trace.h"
#include "provider/vnl/address_list_parser.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/codec/vnl_trace_text.h"
#include "provider/vnl/received_message.h"

namespace kvarsp {
namespace {

constexpr uint32_t kTurnPauseMs = 50;
constexpr uint32_t kEndIndicationSliceMs = 20;  // how often the end wait looks at the clock
constexpr uint8_t kDriverType = 16;

bool HasDetail(const vnl::Message& m, uint8_t detail) {
  for (uint8_t d : m.resultDetails)
    if (d == detail) return true;
  return false;
}

void SetResult(PendingRequest& entry, int value) {
  if (entry.context.resultSlot) *entry.context.resultSlot = value;
}

// The wait hands every level of the caller's hold on the provider lock back
// and takes them again afterwards.
template <typename Fn>
void WithLockReleased(ScopedLock& lock, Fn&& fn) {
  const int depth = lock.Depth();
  for (int i = 0; i < depth; ++i) lock.Unlock();
  fn();
  for (int i = 0; i < depth; ++i) lock.Lock();
}

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

uint32_t ForwardModeOf(uint8_t lineState) {
  switch (lineState) {
    case 0x10: return LINEFORWARDMODE_UNCOND;
    case 0x11: return LINEFORWARDMODE_BUSY;
    case 0x12: return LINEFORWARDMODE_NOANSW;
    default: return 0;
  }
}

}  // namespace

LinkSession::LinkSession(Layer2& layer2, VnlSender& sender, PendingRequests& txns, ConfigTables& config,
                         CallModel& calls, platform::Clock& clock, std::function<void(uint32_t)> sleep)
    : layer2_(layer2),
      sender_(sender),
      txns_(txns),
      config_(config),
      calls_(calls),
      clock_(clock),
      sleep_(std::move(sleep)) {}

void LinkSession::RegisterHandlers(VnlDispatcher& d) {
  d.SetHandler(vnl::kStartConf, [this](const vnl::Message& m) { OnStartConf(m); });
  d.SetHandler(vnl::kEndConf, [this](const vnl::Message& m) { OnEndConf(m); });
  d.SetHandler(vnl::kEndInd, [this](const vnl::Message& m) { OnEndInd(m); });
  d.SetHandler(vnl::kGetAddressListConf, [this](const vnl::Message& m) { OnAddressListConf(m); });
  d.SetHandler(vnl::kRegisterConf, [this](const vnl::Message& m) { OnRegisterConf(m); });
  d.SetHandler(vnl::kUnregisterConf, [this](const vnl::Message& m) { OnUnregisterConf(m); });
  d.SetHandler(vnl::kGetLineInfoConf, [this](const vnl::Message& m) { OnLineInfoConf(m); });
}

void LinkSession::WaitForTurn(ScopedLock& lock) {
  while (waiting_) WithLockReleased(lock, [&] { sleep_(kTurnPauseMs); });
}

bool LinkSession::WaitForTransaction(uint8_t refId, uint32_t kind, OpenLine* line, int& result, ScopedLock& lock) {
  result = -1;
  TxnContext context;
  context.resultSlot = &result;
  const TxnHandler onTimeout = [kind](OpenLine*, TspCall*, PendingRequest& entry) {
    traceVnl("Timeout");
    SetResult(entry, TimeoutCode(kind));
    return 1;
  };
  const TxnHandler onLinkLoss = [](OpenLine*, TspCall*, PendingRequest& entry) {
    traceVnl("Layer 2 disconnected");
    SetResult(entry, kLinkDownWhileWaiting);
    return 1;
  };
  std::shared_ptr<platform::Event> done;
  if (txns_.lVnlTxnRegister(refId, 0, kind, &done, line, nullptr, kTxnTimeoutMs, std::move(context), onTimeout,
                            onTimeout, onLinkLoss) != 0)
    return false;
  waiting_ = true;
  WithLockReleased(lock, [&] { done->wait(); });
  waiting_ = false;
  return true;
}

int LinkSession::iVnlLinkStart(uint8_t protocolVersion, ScopedLock& lock) {
  WaitForTurn(lock);
  if (startCount_ > 0) {
    ++startCount_;
    return kLinkOk;
  }
  if (layer2_.OpenConnection() != 0) return kStartOpenFailed;
  uint8_t refId = 0;
  if (!sender_.iSendStartReq(protocolVersion, kDriverType, u"", refId)) {
    layer2_.CloseConnection();
    return kStartSendFailed;
  }
  int result = -1;
  if (!WaitForTransaction(refId, kTxnLinkStart, nullptr, result, lock) || result < 0) {
    layer2_.CloseConnection();
    return kStartFailed;
  }
  if (result != 0) {
    layer2_.CloseConnection();
    return result;
  }
  ++startCount_;
  return kLinkOk;
}

int LinkSession::iVnlLinkEnd(ScopedLock& lock) {
  WaitForTurn(lock);
  if (startCount_ == 0) return kLinkOk;
  if (--startCount_ > 0) return kLinkOk;

  uint8_t refId = 0;
  if (!sender_.iSendEndReq(0, refId)) {
    layer2_.CloseConnection();
    return kEndSendFailed;
  }
  endIndication_ = -1;
  endIndEvent_ = std::make_shared<platform::Event>(platform::Event::Reset::Auto);
  int result = -1;
  if (!WaitForTransaction(refId, kTxnLinkEnd, nullptr, result, lock) || result < 0) {
    endIndEvent_.reset();
    layer2_.CloseConnection();
    return kEndFailed;
  }
  if (result != 0) {
    endIndEvent_.reset();
    layer2_.CloseConnection();
    return result;
  }

  traceVnl("Waiting for VNL_END_IND");
  waiting_ = true;
  std::shared_ptr<platform::Event> indication = endIndEvent_;
  WithLockReleased(lock, [&] {
    const uint32_t start = clock_.tickCount();
    while (!indication->wait(kEndIndicationSliceMs)) {
      if (static_cast<uint32_t>(clock_.tickCount() - start) >= kEndIndicationWaitMs) break;
    }
  });
  waiting_ = false;
  endIndEvent_.reset();

  const bool received = endIndication_ != -1;
  traceVnl(received ? "VNL_END_IND received" : "Timeout VNL_END_IND");
  layer2_.CloseConnection();
  return received ? kLinkOk : kEndIndMissing;
}

int LinkSession::iVnlGetAddressList(ScopedLock& lock) {
  WaitForTurn(lock);
  if (startCount_ == 0) return kAddressListNotStarted;
  uint8_t refId = 0;
  if (!sender_.iSendGetAddressListReq(refId)) return kAddressListSendFailed;
  int result = -1;
  if (!WaitForTransaction(refId, kTxnAddressList, nullptr, result, lock)) return kAddressListFailed;
  return result < 0 ? kAddressListFailed : result;
}

LONG LinkSession::LineRequest(uint32_t kind, OpenLine* line, bool lineId16, uint16_t lineId, ScopedLock& lock) {
  WaitForTurn(lock);
  if (kind != kTxnLineInfo && startCount_ == 0) return LINEERR_OPERATIONFAILED;
  uint8_t refId = 0;
  int sent = 0;
  switch (kind) {
    case kTxnRegister: sent = sender_.iSendRegisterReq(lineId16, lineId, refId); break;
    case kTxnUnregister: sent = sender_.iSendUnregisterReq(lineId16, lineId, refId); break;
    default: sent = sender_.iSendGetLineInfoReq(lineId16, lineId, refId); break;
  }
  if (!sent) return LINEERR_OPERATIONFAILED;
  int result = -1;
  if (!WaitForTransaction(refId, kind, line, result, lock) || result != 0) return LINEERR_OPERATIONFAILED;
  return 0;
}

LONG LinkSession::lVnlRegisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return LineRequest(kTxnRegister, nullptr, lineId16, lineId, lock);
}

LONG LinkSession::lVnlUnregisterLine(bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return LineRequest(kTxnUnregister, nullptr, lineId16, lineId, lock);
}

LONG LinkSession::lVnlGetLineInfo(OpenLine& line, bool lineId16, uint16_t lineId, ScopedLock& lock) {
  return LineRequest(kTxnLineInfo, &line, lineId16, lineId, lock);
}

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
  if (endIndEvent_) endIndEvent_->set();
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
    const uint32_t mode = ForwardModeOf(m.lineState);
    std::optional<std::u16string> destination;
    if (m.Has(vnl::kDestAddress) && !m.destAddress.empty()) destination = platform::ansiToWide(m.destAddress);
    calls_.SetLineForwarding(*entry->line, mode, 0, std::move(destination));
  }
  txns_.bVnlTxnRemove(entry);
}

}  // namespace kvarsp
