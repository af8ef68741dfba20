#pragma once
// The call requests the provider sends on TAPI's behalf (make call, dial,
// answer, drop, and the drop of a call that stands for two exchange calls)
// with their pending transactions, and the confirmation handlers that finish
// them: VNL_CALLESTABLISH_CONF, VNL_DIAL_CONF, VNL_ANSWERCALL_CONF and
// VNL_DISCONNECT_CONF. Time-outs and line close complete the TAPI request
// with LINEERR_OPERATIONFAILED. Also the provider's own disconnects (no TAPI
// request), whose confirmation or time-out closes the call when the exchange
// could not be relied on to do so. Everything runs under the provider lock.
#include <cstdint>
#include <functional>
#include <string_view>

#include "provider/call_model.h"
#include "provider/vnl/pending_requests.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"

namespace kvarsp {

class CallRequests {
 public:
  // lineId16 tells whether LINE_IDs are sent 16 bits wide.
  CallRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls, std::function<bool()> lineId16);
  CallRequests(const CallRequests&) = delete;
  CallRequests& operator=(const CallRequests&) = delete;

  void RegisterHandlers(VnlDispatcher& dispatcher);

  // The LinkInterface call requests (see there).
  LONG MakeCall(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
                uint8_t callOptions);
  LONG Dial(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits,
            std::u16string_view dialString);
  LONG Answer(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint8_t callOptions);
  LONG Drop(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call);
  LONG DropTwo(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, uint16_t firstCallId,
               uint16_t secondCallId);

  // The provider's own disconnect of a call (the setup watch): sends
  // VNL_DISCONNECT_REQ for the call's CALL_ID and registers a drop without
  // TAPI request. False when the send or the registration failed.
  bool SendWatchDisconnect(OpenLine& line, const TspCall& call);

  // A disconnect that is not followed up at all (no transaction): the
  // no-answer time-out and the end of a failed blind transfer. True when sent.
  bool SendUntrackedDisconnect(uint16_t callId);

 private:
  // Sends VNL_DISCONNECT_REQ for callId and registers it (kind 2 or 18).
  LONG SendDisconnect(DRV_REQUESTID requestId, uint32_t kind, OpenLine& line, const TspCall& call, uint16_t callId,
                      TxnContext context);
  // The second disconnect of a kind 18 drop, as kind 2 under the first's TAPI request.
  void DisconnectSecond(PendingRequest& first, uint16_t secondCallId);

  // Time-out and abort handlers: each traces its text and fails the TAPI request.
  int MakeCallFailed(OpenLine* line, const TspCall* call, PendingRequest& entry);
  int DisconnectTimedOut(OpenLine* line, const TspCall* call, PendingRequest& entry);

  void OnCallEstablishConf(const vnl::Message& m);
  void OnDisconnectConf(const vnl::Message& m);

  VnlSender& sender_;
  PendingRequests& txns_;
  CallModel& calls_;
  std::function<bool()> lineId16_;
};

}  // namespace kvarsp
