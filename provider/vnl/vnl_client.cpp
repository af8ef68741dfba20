#include "provider/vnl/vnl_client.h"


namespace kvarsp {

VnlClient::VnlClient(Layer2& layer2, platform::Clock& clock, LinkWaiter* waiter)
    : layer2_(layer2),
      clock_(clock),
      sender_(layer2, refIds_),
      dispatcher_([this] { return LineId16(); }),
      txns_(clock),
      blocking_(clock, waiter) {}

void VnlClient::Attach(CCritSec& providerLock, ConfigTables& config, CallModel& calls,
                       std::function<uint32_t()> permanentProviderId) {
  config_ = &config;
  calls_ = &calls;
  session_ = std::make_unique<LinkSession>(layer2_, sender_, txns_, config, calls, clock_, blocking_);
  session_->RegisterHandlers(dispatcher_);
  blocking_.Attach(*session_, providerLock);
  callRequests_ = std::make_unique<CallRequests>(sender_, txns_, calls, [this] { return LineId16(); });
  callRequests_->RegisterHandlers(dispatcher_);
  serviceRequests_ = std::make_unique<ServiceRequests>(sender_, txns_, calls, [this] { return LineId16(); });
  serviceRequests_->RegisterHandlers(dispatcher_);
  transferRequests_ =
      std::make_unique<TransferRequests>(sender_, txns_, calls, transferRecords_, [this] { return LineId16(); });
  transferRequests_->RegisterHandlers(dispatcher_);
  supervision_ = std::make_unique<CallSupervision>(calls, *callRequests_);
  supervision_->SetBlindTransferDuty([this] { transferRequests_->OnTick(); });
  indications_ = std::make_unique<IndicationHandlers>(sender_, calls, std::move(permanentProviderId));
  indications_->RegisterHandlers(dispatcher_);
  indications_->AttachTransfers(transferRecords_,
                                [this](uint16_t pbxCallId) { transferRequests_->OnConsultationState(pbxCallId); });
  // Pending requests and transfer records must not keep pointers to calls
  // that are gone; a blind transfer still waiting for one fails.
  calls.SetCallDeletedHook([this](const TspCall* call) {
    txns_.ForgetCall(call);
    transferRequests_->ForgetCall(*call);
  });
  layer2_.Attach(providerLock, *this);
}

bool VnlClient::LineId16() const { return config_ && config_->lineId16Bit; }

int VnlClient::Load(uint32_t* status) { return layer2_.Load(status); }

int VnlClient::Unload() { return layer2_.Unload(); }

int VnlClient::LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) {
  return blocking_.LinkStart(protocolVersion, providerLock);
}

int VnlClient::LinkEnd(ScopedLock& providerLock) { return blocking_.LinkEnd(providerLock); }

int VnlClient::GetAddressList(ScopedLock& providerLock) { return blocking_.GetAddressList(providerLock); }

LONG VnlClient::RegisterLine(uint16_t pbxLineId, ScopedLock& providerLock) {
  return blocking_.RegisterLine(LineId16(), pbxLineId, providerLock);
}

LONG VnlClient::UnregisterLine(uint16_t pbxLineId, ScopedLock& providerLock) {
  return blocking_.UnregisterLine(LineId16(), pbxLineId, providerLock);
}

LONG VnlClient::GetLineInfo(OpenLine& line, uint16_t pbxLineId, ScopedLock& providerLock) {
  return blocking_.GetLineInfo(line, LineId16(), pbxLineId, providerLock);
}

void VnlClient::AbortLineRequests(OpenLine& line) {
  txns_.vVnlTxnAbortLine(&line);
  if (transferRequests_) transferRequests_->AbortLine(line);
}

LONG VnlClient::MakeCall(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                         uint8_t callOptions) {
  return callRequests_->MakeCall(requestId, line, call, digits, callOptions);
}

LONG VnlClient::Dial(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                     std::u16string_view dialString) {
  return callRequests_->Dial(requestId, line, call, digits, dialString);
}

LONG VnlClient::Answer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint8_t callOptions) {
  return callRequests_->Answer(requestId, line, call, callOptions);
}

LONG VnlClient::Drop(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call) {
  return callRequests_->Drop(requestId, line, call);
}

LONG VnlClient::DropTwo(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t firstCallId,
                        uint16_t secondCallId) {
  return callRequests_->DropTwo(requestId, line, call, firstCallId, secondCallId);
}

LONG VnlClient::SwapHold(DRV_REQUESTID requestId, OpenLine& line, const TspCall& connected, const TspCall& held) {
  return serviceRequests_->SwapHold(requestId, line, connected, held);
}

LONG VnlClient::Redirect(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits) {
  return serviceRequests_->Redirect(requestId, line, call, digits);
}

LONG VnlClient::Forward(DRV_REQUESTID requestId, OpenLine& line, uint8_t forwardingType, uint32_t mode,
                        uint32_t countryCode, std::optional<std::u16string> destination) {
  return serviceRequests_->Forward(requestId, line, forwardingType, mode, countryCode, std::move(destination));
}

LONG VnlClient::BlindTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                              uint8_t callOptions) {
  return transferRequests_->BlindTransfer(requestId, line, call, digits, callOptions);
}

LONG VnlClient::SetupTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& transferred,
                              const TspCall& consultation, std::u16string_view digits, uint8_t callOptions) {
  return transferRequests_->SetupTransfer(requestId, line, transferred, consultation, digits, callOptions);
}

LONG VnlClient::CompleteTransfer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, const TspCall& held) {
  return transferRequests_->CompleteTransfer(requestId, line, call, held);
}

LONG VnlClient::Conference(DRV_REQUESTID requestId, OpenLine& line, const TspCall& conference, const TspCall& connected,
                           const TspCall& held) {
  return transferRequests_->Conference(requestId, line, conference, connected, held);
}

LONG VnlClient::Park(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, LPVARSTRING nonDirAddress) {
  return transferRequests_->Park(requestId, line, call, nonDirAddress);
}

LONG VnlClient::Unpark(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t parkAddress,
                       uint8_t callOptions) {
  return transferRequests_->Unpark(requestId, line, call, parkAddress, callOptions);
}

LONG VnlClient::Pickup(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                       uint8_t callOptions) {
  return transferRequests_->Pickup(requestId, line, call, digits, callOptions);
}

void VnlClient::OnLayer2Tick() {
  txns_.vVnlTxnScan(clock_.tickCount(), [this] { return layer2_.LinkUp(); });
  if (supervision_) supervision_->OnTick();
}

void VnlClient::OnLayer2Message(const uint8_t* bytes, size_t count) {
  dispatcher_.iVnlIntfDecodeMessage(bytes, count, false);
}

void VnlClient::OnLayer2Disconnect() {
  if (session_) session_->ResetStartCount();
  if (calls_) calls_->LinkLost([this](OpenLine& line) { AbortLineRequests(line); });
}

}  // namespace kvarsp
