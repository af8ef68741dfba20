#include "provider/call_model.h"

#include <algorithm>

namespace kvarsp {

bool IsCallSetupState(uint32_t state) {
  switch (state) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_PROCEEDING: return true;
    default: return false;
  }
}

namespace {

void Count(const TspCall& call, CallCounts& counts) {
  if (!call.bound) return;
  switch (call.callState) {
    case LINECALLSTATE_ONHOLD: ++counts.onHold; return;
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_ONHOLDPENDTRANSFER: ++counts.onHoldPending; return;
    case LINECALLSTATE_IDLE:
    case LINECALLSTATE_UNKNOWN: return;
    case LINECALLSTATE_CONNECTED:
      if (call.conferenceRoot) return;
      break;
    default: break;
  }
  ++counts.active;
}

template <typename List, typename Pred>
auto FindIn(List& list, Pred pred) -> decltype(list.front().get()) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return pred(*p); });
  return it == list.end() ? nullptr : it->get();
}

}  // namespace

CallModel::CallModel(EventSink& events, const LineAddresses& addresses, platform::Clock& clock)
    : events_(events), addresses_(addresses), clock_(clock) {}

// --- Lines ------------------------------------------------------------------

OpenLine& CallModel::AddLine(const OpenLine& line) {
  lines_.push_front(std::make_unique<OpenLine>(line));
  return *lines_.front();
}

void CallModel::RemoveLine(HDRVLINE hdLine) {
  lines_.remove_if([&](const auto& l) { return l->hdLine() == hdLine; });
}

OpenLine* CallModel::FindLine(HDRVLINE hdLine) {
  if (!hdLine) return nullptr;
  return FindIn(lines_, [&](const OpenLine& l) { return l.hdLine() == hdLine; });
}

OpenLine* CallModel::FindLineByDevice(uint32_t deviceId) {
  return FindIn(lines_, [&](const OpenLine& l) { return l.deviceId == deviceId; });
}

std::vector<OpenLine*> CallModel::Lines() {
  std::vector<OpenLine*> out;
  for (auto& l : lines_) out.push_back(l.get());
  return out;
}

LONG CallModel::ValidateLine(HDRVLINE hdLine) const {
  bool found = hdLine && std::any_of(lines_.begin(), lines_.end(), [&](const auto& l) { return l->hdLine() == hdLine; });
  return found ? 0 : LINEERR_INVALLINEHANDLE;
}

LONG CallModel::ValidateCall(HDRVCALL hdCall) const {
  bool found = hdCall && std::any_of(calls_.begin(), calls_.end(), [&](const auto& c) { return c->hdCall() == hdCall; });
  return found ? 0 : LINEERR_INVALCALLHANDLE;
}

LONG CallModel::ValidateAddress(const OpenLine& line, uint32_t addressId) const {
  return addressId < addresses_.AddressCount(line.deviceId) ? 0 : LINEERR_INVALADDRESSID;
}

// --- Calls ------------------------------------------------------------------

TspCall* CallModel::AddCall(OpenLine& line, HTAPICALL htCall) {
  auto call = std::make_unique<TspCall>();
  call->line = line.htLine;
  call->htCall = htCall;
  call->handle = nextCallHandle_;
  nextCallHandle_ += 4;
  call->stateEntryTime = clock_.utcTime();
  calls_.push_front(std::move(call));
  return calls_.front().get();
}

const TspCall* CallModel::CreateCall(OpenLine& line, HTAPICALL htCall, std::u16string_view destination,
                                     uint32_t countryCode, uint32_t origin) {
  TspCall* call = AddCall(line, htCall);
  call->dialledNumber = destination;
  call->countryCode = countryCode;
  call->origin = origin;
  if (!destination.empty()) {
    PartyId& called = call->parties[static_cast<size_t>(PartyRole::Called)];
    called.flags = LINECALLPARTYID_ADDRESS;
    called.number = StripDialModeMarks(destination);
  }
  return call;
}

const TspCall* CallModel::CreateConferenceCall(OpenLine& line, HTAPICALL htConfCall, uint32_t addressId) {
  TspCall* call = AddCall(line, htConfCall);
  call->conferenceRoot = true;
  call->addressId = addressId;
  call->callState = LINECALLSTATE_ONHOLDPENDCONF;
  return call;
}

const TspCall* CallModel::CreateOfferedCall(OpenLine& line, uint16_t pbxCallId, std::u16string_view calledNumber,
                                            uint32_t origin) {
  TspCall* call = AddCall(line, nullptr);
  call->offeredByExchange = true;
  call->pbxCallIdValid = true;
  call->pbxCallId = pbxCallId;
  call->origin = origin;
  call->addressId = addresses_.MatchAddress(line.deviceId, calledNumber).value_or(0);
  // TAPI writes its htCall for the new call through dwParam2 before the
  // queue lets us go on, so the call's first LINE_CALLSTATE carries it.
  if (line.eventProc)
    events_.QueueEvent(line.htLine, line.eventProc, line.htLine, nullptr, LINE_NEWCALL,
                       reinterpret_cast<DWORD_PTR>(call->hdCall()), reinterpret_cast<DWORD_PTR>(&call->htCall), 0,
                       /*waitForDelivery=*/true);
  return call;
}

const TspCall* CallModel::FindCall(HDRVCALL hdCall) const {
  if (!hdCall) return nullptr;
  return FindIn(calls_, [&](const TspCall& c) { return c.hdCall() == hdCall; });
}

const TspCall* CallModel::FindCallByHtCall(HTAPICALL htCall) const {
  if (!htCall) return nullptr;
  return FindIn(calls_, [&](const TspCall& c) { return c.htCall == htCall; });
}

const TspCall* CallModel::FindCallByPbxId(uint16_t pbxCallId, const OpenLine* line) const {
  return FindIn(calls_, [&](const TspCall& c) {
    return c.pbxCallIdValid && c.pbxCallId == pbxCallId && (!line || c.line == line->htLine);
  });
}

std::vector<const TspCall*> CallModel::Calls() const {
  std::vector<const TspCall*> out;
  for (auto& c : calls_) out.push_back(c.get());
  return out;
}

std::vector<const TspCall*> CallModel::CallsOfLine(const OpenLine& line) const {
  std::vector<const TspCall*> out;
  for (auto& c : calls_)
    if (c->line == line.htLine) out.push_back(c.get());
  return out;
}

void CallModel::DeleteCall(const TspCall* call) {
  calls_.remove_if([&](const auto& c) {
    if (c.get() != call) return false;
    if (callDeleted_) callDeleted_(call);
    return true;
  });
}

void CallModel::DeleteCallsOfLine(const OpenLine& line) {
  calls_.remove_if([&](const auto& c) {
    if (c->line != line.htLine) return false;
    if (callDeleted_) callDeleted_(c.get());
    return true;
  });
}

void CallModel::CloseCallByExchange(const TspCall& call) {
  if (!call.bound) {
    DeleteCall(&call);
    return;
  }
  SetCallState(call, LINECALLSTATE_IDLE, 0);
  ForgetPbxCall(call);
}

void CallModel::CloseCallsOfLine(const OpenLine& line) {
  for (const TspCall* call : CallsOfLine(line))
    if (call->callState != LINECALLSTATE_IDLE && call->callState != 0) SetCallState(*call, LINECALLSTATE_IDLE, 0);
  DeleteCallsOfLine(line);
}

CallCounts CallModel::CountLine(const OpenLine& line) const {
  CallCounts counts;
  for (const auto& c : calls_)
    if (c->line == line.htLine) Count(*c, counts);
  return counts;
}

CallCounts CallModel::CountAddress(const OpenLine& line, uint32_t addressId) const {
  CallCounts counts;
  for (const auto& c : calls_)
    if (c->line == line.htLine && c->addressId == addressId) Count(*c, counts);
  return counts;
}

void CallModel::SetCallState(const TspCall& view, uint32_t state, DWORD_PTR mode) {
  TspCall& call = Writable(view);
  if (state == 0) return;
  // A conferenced call keeps mode 0; the mode given (TAPI's handle of the
  // conference call) is only reported.
  uint32_t storedMode = state == LINECALLSTATE_CONFERENCED ? 0 : static_cast<uint32_t>(mode);
  if (call.callState == state && call.callStateMode == storedMode) return;

  OpenLine* line = FindLine(reinterpret_cast<HDRVLINE>(call.line));
  CallCounts lineBefore, addressBefore;
  if (line) {
    lineBefore = CountLine(*line);
    addressBefore = CountAddress(*line, call.addressId);
  }
  call.callState = state;
  call.callStateMode = storedMode;

  if (call.bound) SendLineEvent(line, call.htCall, LINE_CALLSTATE, state, mode, call.mediaMode);
  if (line && CountLine(*line) != lineBefore) SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS);
  if (line && CountAddress(*line, call.addressId) != addressBefore)
    SendLineEvent(line, nullptr, LINE_ADDRESSSTATE, call.addressId, LINEADDRESSSTATE_NUMCALLS);

  if (!call.setupWatchTimer.IsRunning() && IsCallSetupState(state)) {
    call.setupWatchTimer.Start(clock_, kSetupWatchMs);
    call.watchDropSent = false;
    call.watchDropDone = false;
  }
  call.stateEntryTime = clock_.utcTime();
}

void CallModel::SendCallInfo(const TspCall& call, uint32_t bit) {
  if (!call.bound) return;
  const OpenLine* line = FindLine(reinterpret_cast<HDRVLINE>(call.line));
  SendLineEvent(line, call.htCall, LINE_CALLINFO, bit);
}

template <typename T>
void CallModel::SetNotifying(const TspCall& call, T& field, T value, uint32_t bit, bool notify) {
  if (field == value) return;
  field = std::move(value);
  if (notify) SendCallInfo(call, bit);
}

void CallModel::SetAddressId(const TspCall& call, uint32_t addressId, bool notify) {
  SetNotifying(call, Writable(call).addressId, addressId, LINECALLINFOSTATE_OTHER, notify);
}

void CallModel::SetCallParamFlags(const TspCall& call, uint32_t flags, bool notify) {
  SetNotifying(call, Writable(call).callParamFlags, flags, LINECALLINFOSTATE_OTHER, notify);
}

void CallModel::SetOrigin(const TspCall& call, uint32_t origin, bool notify) {
  SetNotifying(call, Writable(call).origin, origin, LINECALLINFOSTATE_ORIGIN, notify);
}

void CallModel::SetReason(const TspCall& call, uint32_t reason, bool notify) {
  SetNotifying(call, Writable(call).reason, reason, LINECALLINFOSTATE_REASON, notify);
}

void CallModel::SetAppSpecific(const TspCall& call, uint32_t value, bool notify) {
  SetNotifying(call, Writable(call).appSpecific, value, LINECALLINFOSTATE_APPSPECIFIC, notify);
}

void CallModel::SetPartyId(const TspCall& call, PartyRole role, uint32_t flags,
                           std::optional<std::u16string_view> number, std::optional<std::u16string_view> name,
                           bool notify) {
  PartyId value;
  value.flags = flags;
  if (number) value.number = StripDialModeMarks(*number);
  if (name) value.name = std::u16string(*name);
  SetNotifying(call, Writable(call).parties[static_cast<size_t>(role)], std::move(value), CallInfoStateBit(role),
               notify);
}

void CallModel::SetBlob(const TspCall& call, CallBlob which, std::vector<uint8_t> bytes, bool notify) {
  SetNotifying(call, Writable(call).blobs[static_cast<size_t>(which)], std::move(bytes), CallInfoStateBit(which),
               notify);
}

void CallModel::AppendDialledDigits(const TspCall& call, std::u16string_view digits) {
  Writable(call).dialledNumber += digits;
}

// --- The exchange's call --------------------------------------------------------

void CallModel::CallEstablished(const TspCall& call, HTAPICALL htCall, std::optional<uint16_t> pbxCallId) {
  Writable(call).htCall = htCall;
  Bind(call);
  if (pbxCallId) BindPbxCall(call, *pbxCallId);
}

void CallModel::BindPbxCall(const TspCall& call, uint16_t pbxCallId) {
  TspCall& writable = Writable(call);
  writable.pbxCallIdValid = true;
  writable.pbxCallId = pbxCallId;
}

void CallModel::ForgetPbxCall(const TspCall& call) {
  TspCall& writable = Writable(call);
  writable.pbxCallIdValid = false;
  writable.pbxCallId = 0;
}

// --- Supervision ------------------------------------------------------------------

void CallModel::StartNoAnswerTimer(const TspCall& call, uint32_t durationMs) {
  Writable(call).noAnswerTimer.Start(clock_, durationMs);
}

void CallModel::StopNoAnswerTimer(const TspCall& call) { Writable(call).noAnswerTimer.Stop(); }

void CallModel::NoAnswerDisconnectSent(const TspCall& call) {
  TspCall& writable = Writable(call);
  writable.noAnswerDropped = true;
  writable.noAnswerTimer.Stop();
}

void CallModel::WatchDropSent(const TspCall& call) { Writable(call).watchDropSent = true; }

void CallModel::WatchDropConfirmed(const TspCall& call) {
  TspCall& writable = Writable(call);
  writable.watchDropDone = true;
  writable.watchDropSent = false;
}

// --- Conferences ------------------------------------------------------------------

void CallModel::PrepareConference(const TspCall& call, const TspCall& conference) {
  TspCall& writable = Writable(call);
  writable.pendingConference = true;
  writable.pendingConferenceHdCall = conference.handle;
}

void CallModel::ForgetPreparedConference(const TspCall& conference) {
  for (const auto& c : calls_) {
    if (!c->pendingConference || c->pendingConferenceHdCall != conference.handle) continue;
    c->pendingConference = false;
    c->pendingConferenceHdCall = 0;
  }
}

void CallModel::MarkBlindTransfer(const TspCall& call, bool sent) { Writable(call).blindTransfer = sent; }

void CallModel::StartBlindTransferWait(const TspCall& call, uint16_t consultationPbxCallId, DRV_REQUESTID requestId,
                                       uint32_t durationMs) {
  TspCall::BlindTransferWait& wait = Writable(call).blindTransferWait;
  wait.active = true;
  wait.consultationPbxCallId = consultationPbxCallId;
  wait.requestId = requestId;
  wait.timer.Start(clock_, durationMs);
}

TspCall::BlindTransferWait CallModel::EndBlindTransferWait(const TspCall& call) {
  TspCall::BlindTransferWait& wait = Writable(call).blindTransferWait;
  const TspCall::BlindTransferWait was = wait;
  wait = TspCall::BlindTransferWait{};
  return was;
}

void CallModel::BecomeConferenceRoot(const TspCall& call, uint16_t conferencePbxCallId) {
  ForgetPbxCall(call);
  TspCall& writable = Writable(call);
  writable.conferenceRoot = true;
  writable.conferencePbxCallId = conferencePbxCallId;
}

void CallModel::JoinConference(const TspCall& member, const TspCall& conference) {
  TspCall& call = Writable(member);
  // A repeated report keeps the state from before the first one.
  if (!call.conferenceMember) {
    call.savedCallState = call.callState;
    call.savedCallStateMode = call.callStateMode;
  }
  call.conferenceMember = true;
  call.conferenceHdCall = conference.handle;
  call.pendingConference = false;
  call.pendingConferenceHdCall = 0;
}

void CallModel::LeaveConference(const TspCall& member, bool restoreSavedState) {
  TspCall& call = Writable(member);
  call.conferenceMember = false;
  call.conferenceHdCall = 0;
  if (restoreSavedState) SetCallState(call, call.savedCallState, call.savedCallStateMode);
  call.savedCallState = 0;
  call.savedCallStateMode = 0;
}

// --- Ring repetition ----------------------------------------------------------

namespace {
bool Rings(const TspCall& call) {
  return call.callState == LINECALLSTATE_OFFERING || call.callState == LINECALLSTATE_ACCEPTED;
}
// After a long stall (a suspended machine, say) the missed rings are not all
// caught up: a few are sent and the timer starts afresh from now.
constexpr uint32_t kMaxRingsPerTick = 16;
}  // namespace

void CallModel::StartRinging(const TspCall& view) {
  TspCall& call = Writable(view);
  const OpenLine* line = FindLine(reinterpret_cast<HDRVLINE>(call.line));
  SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, call.ringCount);
  ++call.ringCount;
  call.ringTimer.Start(clock_, kRingIntervalMs);
}

uint32_t CallModel::RepeatRinging(const TspCall& view) {
  TspCall& call = Writable(view);
  const uint32_t now = clock_.tickCount();
  uint32_t rings = 0;
  const OpenLine* line = FindLine(reinterpret_cast<HDRVLINE>(call.line));
  // The next interval starts where the last one ended, so the elapsed time
  // since that start shrinks by one interval per ring and the loop ends,
  // also across a wrap of the tick count.
  while (Rings(call) && call.ringTimer.HasExpired(now)) {
    if (rings == kMaxRingsPerTick) {
      call.ringTimer.Start(now, kRingIntervalMs);
      break;
    }
    SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, call.ringCount);
    ++call.ringCount;
    ++rings;
    call.ringTimer.Start(call.ringTimer.EndTick(), kRingIntervalMs);
  }
  return rings;
}

void CallModel::Complete(const OpenLine* line, DRV_REQUESTID requestId, LONG result) {
  if (requestId == 0) return;
  events_.QueueCompletion(line ? line->htLine : nullptr, requestId, result);
}

// --- Events -----------------------------------------------------------------

bool CallModel::SendLineEvent(const OpenLine* line, HTAPICALL htCall, DWORD msg, DWORD_PTR param1, DWORD_PTR param2,
                              DWORD_PTR param3) {
  if (!line || !line->eventProc) return false;
  if (msg == LINE_LINEDEVSTATE && !(param1 & line->lineStateMask)) return false;
  if (msg == LINE_ADDRESSSTATE && !(param2 & line->addressStateMask)) return false;
  return events_.QueueEvent(line->htLine, line->eventProc, line->htLine, htCall, msg, param1, param2, param3);
}

void CallModel::SetLineForwarding(OpenLine& line, uint32_t mode, uint32_t countryCode,
                                  std::optional<std::u16string> destination) {
  if (mode == 0) {
    countryCode = 0;
    destination.reset();
  }
  if (line.forwardMode == mode && line.forwardCountryCode == countryCode && line.forwardDestination == destination)
    return;
  line.forwardMode = mode;
  line.forwardCountryCode = countryCode;
  line.forwardDestination = std::move(destination);
  const uint32_t addresses = addresses_.AddressCount(line.deviceId);
  for (uint32_t id = 0; id < addresses; ++id)
    SendLineEvent(&line, nullptr, LINE_ADDRESSSTATE, id, LINEADDRESSSTATE_FORWARD);
}

void CallModel::LinkLost(const std::function<void(OpenLine&)>& abortLineRequests) {
  for (OpenLine* line : Lines()) {
    for (const TspCall* call : CallsOfLine(*line)) SetCallState(*call, LINECALLSTATE_IDLE, 0);
    if (!line->outOfService) {
      line->outOfService = true;
      SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_DISCONNECTED);
      SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE);
    }
    if (abortLineRequests) abortLineRequests(*line);
    SendLineEvent(line, nullptr, LINE_CLOSE);
  }
}

}  // namespace kvarsp
