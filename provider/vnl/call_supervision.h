#pragma once
// The provider's own supervision of its calls, run on every 500 ms tick of
// the link interface thread after the transaction scan: ring repetition for
// offered calls, the no-answer time-out of outgoing calls, the blind-transfer
// wait (handed in as a duty of its own), and the setup watch that drops a
// call still being set up after three minutes.
// Sans-IO: time comes from the call model's clock; requests go out through
// CallRequests. Under the provider lock.
#include <cstddef>
#include <functional>

#include "provider/call_model.h"
#include "provider/vnl/call_requests.h"

namespace kvarsp {

// The setup watch handles at most this many calls per tick.
constexpr size_t kSetupWatchCallsPerTick = 20;

class CallSupervision {
 public:
  CallSupervision(CallModel& calls, CallRequests& requests) : calls_(calls), requests_(requests) {}

  void OnTick();
  // Runs on every tick after the no-answer time-outs.
  void SetBlindTransferDuty(std::function<void()> duty) { blindTransferDuty_ = std::move(duty); }

 private:
  void RepeatRings();
  void NoAnswerTimeouts();
  void SetupWatch();

  CallModel& calls_;
  CallRequests& requests_;
  std::function<void()> blindTransferDuty_;
};

}  // namespace kvarsp
