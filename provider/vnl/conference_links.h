#pragma once
// Conferences as the exchange reports them: a call reported conferenced joins
// a conference call object (the one a conference set-up prepared it for, the
// line's connected one, or a new one announced to TAPI), and a member that
// leaves the conference dissolves it. Built on the call model's public
// operations; under the provider lock.
#include <cstdint>

#include "provider/call_model.h"

namespace kvarsp {

// The conference call the call joins, after linking it there (the call
// remembers its state and mode from before). Null when none could be found or
// made; the call is then left unlinked. activeMode is the mode a new
// conference call is reported CONNECTED with.
const TspCall* JoinConference(CallModel& calls, OpenLine& line, const TspCall& call, uint32_t activeMode);

// The call's conference ends: every other member gets back the state and
// mode it had before it joined, every link to the conference call is cleared
// and the conference call goes IDLE. Nothing happens for a call that is no
// conference member.
void DissolveConference(CallModel& calls, const TspCall& member);

// TAPI's handle of the conference call as the mode of LINECALLSTATE_CONFERENCED
// (0 when there is none).
DWORD_PTR ConferenceModeOf(const TspCall* conference);

}  // namespace kvarsp
