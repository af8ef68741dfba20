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

#include "provider/call_model.h"
#include "provider/vnl/codec/vnl_message.h"
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

  VnlSender& sender_;
  CallModel& calls_;
  std::function<uint32_t()> permanentProviderId_;
};

}  // namespace kvarsp
