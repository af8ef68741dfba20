#include "provider/vnl/call_requests.h"

namespace kvarsp {

CallRequests::CallRequests(VnlSender& sender, PendingRequests& txns, CallModel& calls,
                           std::function<bool()> lineId16)
    : sender_(sender), txns_(txns), calls_(calls), lineId16_(std::move(lineId16)) {}

void CallRequests::RegisterHandlers(VnlDispatcher&) {}

LONG CallRequests::MakeCall(DRV_REQUESTID, OpenLine&, TspCall&, std::u16string_view, uint8_t) {
  return LINEERR_OPERATIONFAILED;
}
LONG CallRequests::Dial(DRV_REQUESTID, OpenLine&, TspCall&, std::u16string_view, std::u16string_view) {
  return LINEERR_OPERATIONFAILED;
}
LONG CallRequests::Answer(DRV_REQUESTID, OpenLine&, TspCall&, uint8_t) { return LINEERR_OPERATIONFAILED; }
LONG CallRequests::Drop(DRV_REQUESTID, OpenLine&, TspCall&) { return LINEERR_OPERATIONFAILED; }
LONG CallRequests::DropTwo(DRV_REQUESTID, OpenLine&, TspCall&, uint16_t, uint16_t) { return LINEERR_OPERATIONFAILED; }
bool CallRequests::SendWatchDisconnect(OpenLine&, TspCall&) { return false; }
bool CallRequests::SendUntrackedDisconnect(uint16_t) { return false; }

}  // namespace kvarsp
