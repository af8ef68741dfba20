#include "exchange/keepalive_monitor.h"

#include <algorithm>

#include "exchange/tagged_frame.h"

namespace exchange {

KeepaliveMonitor::KeepaliveMonitor(const platform::Clock& clock, uint32_t periodMs)
    : clock_(clock), periodMs_(periodMs) {}

void KeepaliveMonitor::SetPeriod(uint32_t periodMs) {
  periodMs_ = periodMs;
  lastTick_ = clock_.tickCount();
  if (periodMs == 0) outstanding_.reset();
}

void KeepaliveMonitor::Start() {
  running_ = true;
  lastTick_ = clock_.tickCount();
  outstanding_.reset();
}

void KeepaliveMonitor::Stop() {
  running_ = false;
  outstanding_.reset();
}

KeepaliveMonitor::Due KeepaliveMonitor::Poll() {
  Due due;
  if (!Active()) return due;
  const uint32_t now = clock_.tickCount();
  if (static_cast<uint32_t>(now - lastTick_) < periodMs_) return due;
  if (outstanding_) due.missed = std::move(outstanding_);
  ++counter_;
  std::vector<uint8_t> data = {kKeepAliveMarker, static_cast<uint8_t>(counter_ >> 8),
                               static_cast<uint8_t>(counter_ & 0xFF)};
  outstanding_ = data;
  due.send = std::move(data);
  lastTick_ = now;
  return due;
}

KeepaliveMonitor::EchoVerdict KeepaliveMonitor::OnEcho(std::span<const uint8_t> data) {
  if (!outstanding_) return EchoVerdict::Unexpected;
  const bool same = std::equal(data.begin(), data.end(), outstanding_->begin(), outstanding_->end());
  outstanding_.reset();
  return same ? EchoVerdict::Matched : EchoVerdict::Mismatched;
}

uint32_t KeepaliveMonitor::MillisecondsUntilDue() const {
  if (!Active()) return kNever;
  const uint32_t elapsed = clock_.tickCount() - lastTick_;
  return elapsed >= periodMs_ ? 0 : periodMs_ - elapsed;
}

}  // namespace exchange
