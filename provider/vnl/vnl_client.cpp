#include "provider/vnl/vnl_client.h"

#include "provider/provider.h"

namespace kvarsp {

VnlClient::VnlClient(Layer2& layer2, platform::Clock& clock, std::function<void(uint32_t)> sleep)
    : layer2_(layer2),
      clock_(clock),
      sleep_(std::move(sleep)),
      sender_(layer2, refIds_),
      dispatcher_([this] { return LineId16(); }),
      txns_(clock) {}

void VnlClient::Attach(Provider& provider) {
  provider_ = &provider;
  session_ = std::make_unique<LinkSession>(layer2_, sender_, txns_, provider.config(), provider.calls(), clock_,
                                           sleep_);
  session_->RegisterHandlers(dispatcher_);
  layer2_.Attach(provider.lock(), *this);
}

bool VnlClient::LineId16() const { return provider_ && provider_->config().lineId16Bit; }

int VnlClient::Load(uint32_t* status) { return layer2_.Load(status); }

int VnlClient::Unload() { return layer2_.Unload(); }

int VnlClient::LinkStart(uint8_t protocolVersion, ScopedLock& providerLock) {
  return session_->iVnlLinkStart(protocolVersion, providerLock);
}

int VnlClient::LinkEnd(ScopedLock& providerLock) { return session_->iVnlLinkEnd(providerLock); }

int VnlClient::GetAddressList(ScopedLock& providerLock) { return session_->iVnlGetAddressList(providerLock); }

LONG VnlClient::RegisterLine(uint16_t pbxLineId, ScopedLock& providerLock) {
  return session_->lVnlRegisterLine(LineId16(), pbxLineId, providerLock);
}

LONG VnlClient::UnregisterLine(uint16_t pbxLineId, ScopedLock& providerLock) {
  return session_->lVnlUnregisterLine(LineId16(), pbxLineId, providerLock);
}

LONG VnlClient::GetLineInfo(OpenLine& line, uint16_t pbxLineId, ScopedLock& providerLock) {
  return session_->lVnlGetLineInfo(line, LineId16(), pbxLineId, providerLock);
}

void VnlClient::AbortLineRequests(OpenLine& line) { txns_.vVnlTxnAbortLine(&line); }

void VnlClient::OnLayer2Tick() {
  txns_.vVnlTxnScan([this] { return layer2_.LinkUp(); });
}

void VnlClient::OnLayer2Message(const uint8_t* bytes, size_t count) {
  dispatcher_.iVnlIntfDecodeMessage(bytes, count, false);
}

void VnlClient::OnLayer2Disconnect() {
  if (session_) session_->ResetStartCount();
  if (provider_) provider_->calls().LinkLost([this](OpenLine& line) { AbortLineRequests(line); });
}

}  // namespace kvarsp
