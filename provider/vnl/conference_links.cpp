#include "provider/vnl/conference_links.h"

namespace kvarsp {
namespace {

const TspCall* ConferenceByHandle(const CallModel& calls, uintptr_t handle) {
  for (const TspCall* c : calls.Calls())
    if (c->conferenceRoot && c->handle == handle) return c;
  return nullptr;
}

// The conference call a conference set-up prepared the call for, else the
// line's conference call that is connected.
const TspCall* ExistingConference(const CallModel& calls, const OpenLine& line, const TspCall& call) {
  if (call.pendingConference) {
    const TspCall* prepared = ConferenceByHandle(calls, call.pendingConferenceHdCall);
    if (prepared && prepared->bound) return prepared;
  }
  for (const TspCall* c : calls.CallsOfLine(line))
    if (c->conferenceRoot && c->bound && c->callState == LINECALLSTATE_CONNECTED) return c;
  return nullptr;
}

// A conference the provider did not set up: a new conference call object,
// announced to TAPI and connected. It is known by the CALL_ID of the line's
// connected call (the conference's own leg), else by the joining call's.
const TspCall* NewConference(CallModel& calls, OpenLine& line, const TspCall& call, uint32_t activeMode) {
  uint16_t conferenceId = call.pbxCallId;
  for (const TspCall* c : calls.CallsOfLine(line)) {
    if (!c->conferenceRoot && c->pbxCallIdValid && c->callState == LINECALLSTATE_CONNECTED) {
      conferenceId = c->pbxCallId;
      break;
    }
  }
  // Announced like any call the exchange brings; afterwards it keeps the
  // CALL_ID only as the conference's, so that reports for that CALL_ID keep
  // finding the member call.
  const TspCall* conference = calls.CreateOfferedCall(line, conferenceId, u"", LINECALLORIGIN_CONFERENCE);
  if (!conference) return nullptr;
  if (!conference->htCall) {  // TAPI could not take the call
    calls.DeleteCall(conference);
    return nullptr;
  }
  calls.BecomeConferenceRoot(*conference, conferenceId);
  calls.SetAddressId(*conference, call.addressId, false);
  calls.SetCallState(*conference, LINECALLSTATE_CONNECTED, activeMode);
  return conference;
}

}  // namespace

const TspCall* JoinConference(CallModel& calls, OpenLine& line, const TspCall& call, uint32_t activeMode) {
  const TspCall* conference = ExistingConference(calls, line, call);
  if (!conference) conference = NewConference(calls, line, call, activeMode);
  if (!conference) return nullptr;
  calls.JoinConference(call, *conference);
  return conference;
}

void DissolveConference(CallModel& calls, const TspCall& member) {
  if (!member.conferenceMember) return;
  const uintptr_t handle = member.conferenceHdCall;
  for (const TspCall* c : calls.Calls()) {
    if (!c->conferenceMember || c->conferenceHdCall != handle) continue;
    calls.LeaveConference(*c, /*restoreSavedState=*/c != &member);
  }
  if (const TspCall* conference = ConferenceByHandle(calls, handle))
    calls.SetCallState(*conference, LINECALLSTATE_IDLE, 0);
}

DWORD_PTR ConferenceModeOf(const TspCall* conference) {
  return conference ? reinterpret_cast<DWORD_PTR>(conference->htCall) : 0;
}

}  // namespace kvarsp
