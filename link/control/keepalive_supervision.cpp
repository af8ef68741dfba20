#include "link/control/keepalive_supervision.h"

#include <cstdlib>

#include "link/control/link_state.h"
#include "link/control/tagged_frame.h"

namespace {

constexpr unsigned long kLongestPeriodMs = 86400000;

}  // namespace

bool IsKeepAlivePeriodText(const char* text) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  return *end == '\0' && value != 0 && value <= kLongestPeriodMs;
}

uint32_t KeepAlivePeriodFromText(const char* text) {
  if (!IsKeepAlivePeriodText(text)) return kDefaultKeepAlivePeriodMs;
  return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
}

uint32_t KeepAlivePeriodFromEnvironment() { return KeepAlivePeriodFromText(std::getenv("TK_KEEPALIVE_MS")); }

KeepAliveSupervision::KeepAliveSupervision(uint32_t keepaliveValue, uint32_t periodMs)
    : on_((keepaliveValue & 1) != 0), periodMs_(periodMs) {}

bool KeepAliveSupervision::Restart() {
  if (!on_) return false;
  running_ = true;
  return true;
}

bool KeepAliveSupervision::OnClientBlock() { return Restart(); }

KeepAliveSupervision::FrameDecision KeepAliveSupervision::OnFrame(std::span<const uint8_t> data) {
  FrameDecision decision;
  if (seen_) decision.restartTimer = Restart();
  if (on_ && IsKeepAliveData(data)) {
    seen_ = true;
    decision.restartTimer = Restart();
    decision.keepAlive = true;
  }
  return decision;
}

bool KeepAliveSupervision::OnTimeout(uint16_t linkState) {
  running_ = false;
  return linkState == kLinkInformationTransfer;
}
