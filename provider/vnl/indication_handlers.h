#pragma once
// The exchange's reports about calls and lines: VNL_NEWCALL_IND,
// VNL_CALLINFO_IND, VNL_CLOSECALL_IND, VNL_LINEINFO_IND and
// VNL_FAILURE_IND, plus the confirmations that only trace
// (VNL_GETCALLINFO_CONF, VNL_GETCTICAPS_CONF). Each handler writes its trace
// line, changes the call and line model (which reports LINE_NEWCALL,
// LINE_CALLSTATE, LINE_CALLINFO and LINE_ADDRESSSTATE to TAPI) and answers
// the indication with its _RESP. Runs on the link interface thread under
// the provider lock.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "provider/call_model.h"
#include "provider/vnl/codec/vnl_message.h"
#include "provider/vnl/transfer_records.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"

namespace kvarsp {

// Result details of a refused indication.
constexpr uint8_t kUnknownLineDetail = 0x80;
constexpr uint8_t kUnknownCallDetail = 0x81;

class IndicationHandlers {
 public:
  // permanentProviderId names the provider's configuration, where the dial
  // prefixes for national and international numbers are kept.
  IndicationHandlers(VnlSender& sender, CallModel& calls, std::function<uint32_t()> permanentProviderId);
  IndicationHandlers(const IndicationHandlers&) = delete;
  IndicationHandlers& operator=(const IndicationHandlers&) = delete;

  void RegisterHandlers(VnlDispatcher& dispatcher);

  // The transfer records of blind transfers, and who hears of a state
  // reported for one of their consultation calls. Without them no CALL_ID
  // has a record.
  void AttachTransfers(TransferRecords& records, std::function<void(uint16_t pbxCallId)> onConsultationState);

  void OnNewCall(const vnl::Message& m);
  void OnCallInfo(const vnl::Message& m);
  void OnCloseCall(const vnl::Message& m);
  void OnLineInfo(const vnl::Message& m);
  void OnFailure(const vnl::Message& m);
  void OnGetCallInfoConf(const vnl::Message& m);
  void OnGetCtiCapsConf(const vnl::Message& m);

 private:
  // The open line registered with this LINE_ID that is in service, or null.
  OpenLine* UsableLine(uint16_t pbxLineId);

  // Steps of VNL_CALLINFO_IND for a known call.
  void SetState(const TspCall& call, OpenLine* line, uint32_t state, uint32_t tspiVersion, const vnl::Message& m);
  void UpdateOrigin(const TspCall& call, uint32_t origin, bool forced, const vnl::Message& m);
  void AppendDialledDigits(const TspCall& call, const vnl::Message& m);
  void UpdateParties(const TspCall& call, const vnl::Message& m);
  // A party from its address (prefixed by its type) and type: an address
  // sets number and flags, a type alone the flags of an empty number,
  // neither leaves the party as it is.
  void UpdateParty(const TspCall& call, PartyRole role, const std::string& address, std::optional<uint8_t> addressType);

  // The transfer records of blind transfers, kept for the exchange's
  // consultation calls. Each answers whether a record for the CALL_ID exists.
  bool RecordTransferState(uint16_t pbxCallId, uint8_t callState);
  bool DeleteTransferRecord(uint16_t pbxCallId);
  // Finishes or fails the blind transfer waiting on the consultation call.
  void FinishBlindTransfer(uint16_t pbxCallId);

  VnlSender& sender_;
  CallModel& calls_;
  std::function<uint32_t()> permanentProviderId_;
  TransferRecords* transferRecords_ = nullptr;
  std::function<void(uint16_t)> onConsultationState_;
};

}  // namespace kvarsp
