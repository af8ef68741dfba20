#include "provider/vnl/call_supervision.h"

namespace kvarsp {

void CallSupervision::OnTick() {
  RepeatRings();
  NoAnswerTimeouts();
  SetupWatch();
}

void CallSupervision::RepeatRings() {}
void CallSupervision::NoAnswerTimeouts() {}
void CallSupervision::SetupWatch() {}

}  // namespace kvarsp
