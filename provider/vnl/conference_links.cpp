#include "provider/vnl/conference_links.h"

namespace kvarsp {
namespace {

TspCall* ConferenceByHandle(CallModel& calls, uintptr_t handle) {
  for (TspCall* c : calls.Calls())
    if (c->conferenceRoot && c->handle == handle) return c;
  return nullptr;
}

// The conference call a conference set-up prepared the call for, else the
// line's conference call that is connected.
TspCall* ExistingConference(CallModel& calls, const OpenLine& line, const TspCall& call) {
  if (call.pendingConference) {
    TspCall* prepared = ConferenceByHandle(calls, call.pendingConferenceHdCall);
    if (prepared && prepared->bound) return prepared;
  }
  for (TspCall* c : calls.CallsOfLine(line))
    if (c->conferenceRoot && c->bound && c->callState == LINECALLSTATE_CONNECTED) return c;
  return nullptr;
}

// A conference the provider did not set up: a new conference call object,
// announced to TAPI and connected. It is known by the CALL_ID of the line's
// connected call (the conference's own leg), else by the joining call's.
TspCall* NewConference(CallModel& calls, OpenLine& line, const TspCall& call, uint32_t activeMode) {
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
  TspCall* conference = calls.CreateOfferedCall(line, conferenceId, u"", LINECALLORIGIN_CONFERENCE);
  if (!conference) return nullptr;
  if (!conference->htCall) {  // TAPI could not take the call
    calls.DeleteCall(conference);
    return nullptr;
  }
  conference->pbxCallIdValid = false;
  conference->pbxCallId = 0;
  conference->conferenceRoot = true;
  conference->conferencePbxCallId = conferenceId;
  calls.SetAddressId(*conference, call.addressId, false);
  calls.SetCallState(*conference, LINECALLSTATE_CONNECTED, activeMode);
  return conference;
}

}  // namespace

TspCall* JoinConference(CallModel& calls, OpenLine& line, TspCall& call, uint32_t activeMode) {
  TspCall* conference = ExistingConference(calls, line, call);
  if (!conference) conference = NewConference(calls, line, call, activeMode);
  if (!conference) return nullptr;
  // A repeated report keeps the state from before the first one.
  if (!call.conferenceMember) {
    call.savedCallState = call.callState;
    call.savedCallStateMode = call.callStateMode;
  }
  call.conferenceMember = true;
  call.conferenceHdCall = conference->handle;
  call.pendingConference = false;
  call.pendingConferenceHdCall = 0;
  return conference;
}

void DissolveConference(CallModel& calls, TspCall& member) {
  if (!member.conferenceMember) return;
  const uintptr_t handle = member.conferenceHdCall;
  for (TspCall* c : calls.Calls()) {
    if (!c->conferenceMember || c->conferenceHdCall != handle) continue;
    c->conferenceMember = false;
    c->conferenceHdCall = 0;
    if (c != &member) calls.SetCallState(*c, c->savedCallState, c->savedCallStateMode);
    c->savedCallState = 0;
    c->savedCallStateMode = 0;
  }
  if (TspCall* conference = ConferenceByHandle(calls, handle)) calls.SetCallState(*conference, LINECALLSTATE_IDLE, 0);
}

DWORD_PTR ConferenceModeOf(const TspCall* conference) {
  return conference ? reinterpret_cast<DWORD_PTR>(conference->htCall) : 0;
}

}  // namespace kvarsp
