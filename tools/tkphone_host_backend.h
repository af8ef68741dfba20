#pragma once
// tkphone's backend on the real telephony host: the line operations of
// TelephonyHost and the call operations of HostCalls, and the host's event
// log read with a cursor of its own.
#include <cstddef>

#include "tapi/host/host_calls.h"
#include "tapi/host/telephony_host.h"
#include "tools/tkphone_session.h"

namespace tkphone {

class HostBackend : public PhoneBackend {
 public:
  explicit HostBackend(tapihost::TelephonyHost& host) : host_(host), calls_(host) {}

  uint32_t LineCount() override { return host_.LineCount(); }
  std::string LineName(uint32_t line) override;
  LONG OpenLine(uint32_t line) override { return host_.OpenLine(line); }
  LONG CloseLine(uint32_t line) override;
  tapihost::AsyncCall MakeCall(uint32_t line, const std::string& number, const std::string& address,
                               HTAPICALL* htCall) override;
  tapihost::AsyncCall Dial(HTAPICALL htCall, const std::string& digits) override;
  tapihost::AsyncCall Accept(HTAPICALL htCall) override { return calls_.Accept(htCall); }
  tapihost::AsyncCall Answer(HTAPICALL htCall) override { return calls_.Answer(htCall); }
  tapihost::AsyncCall Drop(HTAPICALL htCall) override { return calls_.Drop(htCall); }
  LONG CloseCall(HTAPICALL htCall) override { return calls_.CloseCall(htCall); }
  LONG CallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) override { return calls_.GetCallInfo(htCall, buffer); }
  LONG CallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) override {
    return calls_.GetCallStatus(htCall, buffer);
  }
  tapihost::AsyncCall BlindTransfer(HTAPICALL htCall, const std::string& number) override;
  tapihost::AsyncCall SetupTransfer(HTAPICALL htCall, HTAPICALL* newCall) override {
    return calls_.SetupTransfer(htCall, newCall);
  }
  tapihost::AsyncCall CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode,
                                       HTAPICALL* newCall) override {
    return calls_.CompleteTransfer(htCall, htConsultCall, transferMode, newCall);
  }
  tapihost::AsyncCall SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) override {
    return calls_.SwapHold(htActiveCall, htHeldCall);
  }
  tapihost::AsyncCall Park(HTAPICALL htCall) override { return calls_.Park(htCall); }
  std::optional<std::string> ParkAddress(DRV_REQUESTID requestId) override;
  tapihost::AsyncCall Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) override;
  tapihost::AsyncCall Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) override;
  tapihost::AsyncCall Redirect(HTAPICALL htCall, const std::string& number) override;
  tapihost::AsyncCall Forward(uint32_t line, DWORD forwardMode, const std::string& number) override;
  std::vector<tapihost::HostEvent> NextEvents(uint32_t timeoutMs) override;

 private:
  tapihost::TelephonyHost& host_;
  tapihost::HostCalls calls_;
  size_t cursor_ = 0;
};

}  // namespace tkphone
