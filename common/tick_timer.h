#pragma once
// A time-out on the 32-bit millisecond tick count: the tick at which it was
// started and the tick at which it ends. Start equal to end means stopped.
// Expiry is measured as the time elapsed since the start, modulo 2^32, so it
// holds across the wrap of the tick count (after about 49.7 days), also for
// a timer whose end lies beyond the wrap.
#include <cstdint>

#include "platform/clock.h"

class TickTimer {
 public:
  // Starts the timer for durationMs from now; a duration of 0 stops it.
  void Start(uint32_t now, uint32_t durationMs) {
    start_ = now;
    end_ = now + durationMs;
  }
  void Start(const platform::Clock& clock, uint32_t durationMs) { Start(clock.tickCount(), durationMs); }
  void Stop() { start_ = end_ = 0; }

  bool IsRunning() const { return start_ != end_; }

  // True for a running timer once more than its duration has passed.
  bool HasExpired(uint32_t now) const {
    return IsRunning() && static_cast<uint32_t>(now - start_) > static_cast<uint32_t>(end_ - start_);
  }
  bool HasExpired(const platform::Clock& clock) const { return HasExpired(clock.tickCount()); }

  uint32_t StartTick() const { return start_; }
  uint32_t EndTick() const { return end_; }

 private:
  uint32_t start_ = 0;
  uint32_t end_ = 0;
};
