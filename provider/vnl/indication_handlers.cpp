#include "provider/vnl/indication_handlers.h"

namespace kvarsp {

IndicationHandlers::IndicationHandlers(VnlSender& sender, CallModel& calls,
                                       std::function<uint32_t()> permanentProviderId)
    : sender_(sender), calls_(calls), permanentProviderId_(std::move(permanentProviderId)) {}

void IndicationHandlers::RegisterHandlers(VnlDispatcher&) {}
void IndicationHandlers::OnNewCall(const vnl::Message&) {}
void IndicationHandlers::OnCallInfo(const vnl::Message&) {}
void IndicationHandlers::OnCloseCall(const vnl::Message&) {}
void IndicationHandlers::OnLineInfo(const vnl::Message&) {}
void IndicationHandlers::OnFailure(const vnl::Message&) {}
void IndicationHandlers::OnGetCallInfoConf(const vnl::Message&) {}
void IndicationHandlers::OnGetCtiCapsConf(const vnl::Message&) {}
OpenLine* IndicationHandlers::UsableLine(uint16_t) { return nullptr; }

}  // namespace kvarsp
