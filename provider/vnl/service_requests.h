#pragma once
// The supplementary service requests the provider sends on TAPI's behalf
// (swap hold, redirect, forward) with their pending transactions, and the
// confirmation handlers that finish them: VNL_ALTERNATECALL_CONF,
// VNL_REDIRECTCALL_CONF and VNL_SETFORWARD_CONF.
// In: the LinkInterface service requests (already checked by the provider's
// ServiceOperations) and the exchange's confirmations through the
// dispatcher. Out: one TAPI completion per request, on its confirmation, its
// time-out ("VNL_..._CONF Timeout" in the protocol trace) or the line's
// close (LINEERR_OPERATIONFAILED), and for a confirmed forward the line's new
// forwarding. No thread of its own: everything runs under the provider lock,
// on whichever thread holds it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "provider/call_model.h"
#include "provider/vnl/pending_requests.h"
#include "provider/vnl/vnl_dispatcher.h"
#include "provider/vnl/vnl_sender.h"

namespace kvarsp {

class ServiceRequests {
 public:
  // lineId16 tells whether LINE_IDs are sent 16 bits wide.
  ServiceRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls, std::function<bool()> lineId16);
  ServiceRequests(const ServiceRequests&) = delete;
  ServiceRequests& operator=(const ServiceRequests&) = delete;

  void RegisterHandlers(VnlDispatcher& dispatcher);

  // The LinkInterface service requests (see there).
  LONG SwapHold(DRV_REQUESTID requestId, OpenLine& line, const TspCall& connected, const TspCall& held);
  LONG Redirect(DRV_REQUESTID requestId, OpenLine& line, const TspCall& call, std::u16string_view digits);
  LONG Forward(DRV_REQUESTID requestId, OpenLine& line, uint8_t forwardingType, uint32_t mode, uint32_t countryCode,
               std::optional<std::u16string> destination);

 private:
  // Registers a sent request whose time-out and abort fail the TAPI request,
  // the time-out with `timeoutText` in the protocol trace.
  LONG Register(uint8_t refId, DRV_REQUESTID requestId, uint32_t kind, OpenLine& line, const TspCall* call,
                TxnContext context, const char* timeoutText);

  void OnSetForwardConf(const vnl::Message& m);

  VnlSender& sender_;
  PendingRequests& txns_;
  CallModel& calls_;
  std::function<bool()> lineId16_;
};

}  // namespace kvarsp
