#pragma once
// Keep-alive bookkeeping of the exchange's side of the LAN link, sans-IO on
// an injected clock. While a connection stands and the period is not 0, a
// keep-alive is due one period after the connection came up and one period
// after each keep-alive sent. Its data is 0xF2 followed by a 16-bit
// big-endian counter (1, 2, ... wrapping past 0xFFFF to 0). The peer must
// send it back unchanged before the next one is due; a keep-alive still
// unanswered when the next is due is reported as missed.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/clock.h"

namespace exchange {

class KeepaliveMonitor {
 public:
  static constexpr uint32_t kNever = 0xFFFFFFFF;

  explicit KeepaliveMonitor(const platform::Clock& clock, uint32_t periodMs = 0);

  // 0 turns keep-alive off and forgets an unanswered one. A new period
  // counts from now.
  void SetPeriod(uint32_t periodMs);
  uint32_t Period() const { return periodMs_; }

  // The connection came up / went down.
  void Start();
  void Stop();

  struct Due {
    std::optional<std::vector<uint8_t>> missed;  // the unanswered keep-alive, when there was one
    std::optional<std::vector<uint8_t>> send;    // data of the keep-alive to send now
  };
  // Called regularly; reports what became due since the last call.
  Due Poll();

  enum class EchoVerdict { Matched, Mismatched, Unexpected };
  // A keep-alive frame came back. Matched and Mismatched both settle the
  // outstanding keep-alive; Unexpected means none was outstanding.
  EchoVerdict OnEcho(std::span<const uint8_t> data);

  // Milliseconds until the next keep-alive is due; kNever when none will be.
  uint32_t MillisecondsUntilDue() const;
  bool Outstanding() const { return outstanding_.has_value(); }

 private:
  bool Active() const { return running_ && periodMs_ != 0; }

  const platform::Clock& clock_;
  uint32_t periodMs_;
  bool running_ = false;
  uint32_t lastTick_ = 0;  // start of the current period
  uint16_t counter_ = 0;
  std::optional<std::vector<uint8_t>> outstanding_;
};

}  // namespace exchange
