#include "provider/vnl/call_supervision.h"

namespace kvarsp {
namespace {

bool AwaitsAnswer(uint32_t state) {
  return state == LINECALLSTATE_PROCEEDING || state == LINECALLSTATE_RINGBACK;
}

}  // namespace

void CallSupervision::OnTick() {
  RepeatRings();
  NoAnswerTimeouts();
  if (blindTransferDuty_) blindTransferDuty_();
  SetupWatch();
}

void CallSupervision::RepeatRings() {
  for (const TspCall* call : calls_.Calls()) calls_.RepeatRinging(*call);
}

void CallSupervision::NoAnswerTimeouts() {
  const uint32_t now = calls_.clock().tickCount();
  for (const TspCall* call : calls_.Calls()) {
    // A call in another state keeps its expired timer until it gets here.
    if (!AwaitsAnswer(call->callState) || !call->noAnswerTimer.HasExpired(now)) continue;
    // Without the exchange's CALL_ID nothing can be disconnected. A failed
    // send is tried again on the next tick, so that the flag (which makes
    // the call's end a no-answer disconnect) is set only for a disconnect
    // that went out.
    if (!call->pbxCallIdValid || !requests_.SendUntrackedDisconnect(call->pbxCallId)) continue;
    calls_.NoAnswerDisconnectSent(*call);
  }
}

void CallSupervision::SetupWatch() {
  const uint32_t now = calls_.clock().tickCount();
  size_t handled = 0;
  for (const TspCall* call : calls_.Calls()) {
    if (handled == kSetupWatchCallsPerTick) return;
    if (!IsCallSetupState(call->callState) || call->watchDropSent || call->watchDropDone) continue;
    if (!call->setupWatchTimer.HasExpired(now)) continue;
    // A call the exchange has not named cannot be disconnected there; it
    // does not take one of this tick's places either.
    if (!call->pbxCallIdValid) continue;
    OpenLine* line = calls_.FindLine(reinterpret_cast<HDRVLINE>(call->line));
    if (!line) continue;
    ++handled;
    if (!requests_.SendWatchDisconnect(*line, *call)) return;  // the rest waits for the next tick
    calls_.WatchDropSent(*call);
  }
}

}  // namespace kvarsp
