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

TspCall* CallModel::CreateCall(OpenLine& line, HTAPICALL htCall, std::u16string_view destination,
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

TspCall* CallModel::CreateConferenceCall(OpenLine& line, HTAPICALL htConfCall, uint32_t addressId) {
  TspCall* call = AddCall(line, htConfCall);
  call->conferenceRoot = true;
  call->addressId = addressId;
  call->callState = LINECALLSTATE_ONHOLDPENDCONF;
  return call;
}

TspCall* CallModel::CreateOfferedCall(OpenLine& line, uint16_t pbxCallId, std::u16string_view calledNumber,
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

TspCall* CallModel::FindCall(HDRVCALL hdCall) {
  if (!hdCall) return nullptr;
  return FindIn(calls_, [&](const TspCall& c) { return c.hdCall() == hdCall; });
}

TspCall* CallModel::FindCallByHtCall(HTAPICALL htCall) {
  if (!htCall) return nullptr;
  return FindIn(calls_, [&](const TspCall& c) { return c.htCall == htCall; });
}

TspCall* CallModel::FindCallByPbxId(uint16_t pbxCallId, const OpenLine* line) {
  return FindIn(calls_, [&](const TspCall& c) {
    return c.pbxCallIdValid && c.pbxCallId == pbxCallId && (!line || c.line == line->htLine);
  });
}

std::vector<TspCall*> CallModel::Calls() {
  std::vector<TspCall*> out;
  for (auto& c : calls_) out.push_back(c.get());
  return out;
}

std::vector<TspCall*> CallModel::CallsOfLine(const OpenLine& line) {
  std::vector<TspCall*> out;
  for (auto& c : calls_)
    if (c->line == line.htLine) out.push_back(c.get());
  return out;
}

void CallModel::DeleteCall(TspCall* call) {
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

void CallModel::CloseCallByExchange(TspCall& call) {
  if (!call.bound) {
    DeleteCall(&call);
    return;
  }
  SetCallState(call, LINECALLSTATE_IDLE, 0);
  call.pbxCallIdValid = false;
  call.pbxCallId = 0;
}

void CallModel::CloseCallsOfLine(const OpenLine& line) {
  for (TspCall* call : CallsOfLine(line))
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

void CallModel::SetCallState(TspCall& call, uint32_t state, DWORD_PTR mode) {
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
void CallModel::SetNotifying(TspCall& call, T& field, T value, uint32_t bit, bool notify) {
  if (field == value) return;
  field = std::move(value);
  if (notify) SendCallInfo(call, bit);
}

void CallModel::SetAddressId(TspCall& call, uint32_t addressId, bool notify) {
  SetNotifying(call, call.addressId, addressId, LINECALLINFOSTATE_OTHER, notify);
}

void CallModel::SetCallParamFlags(TspCall& call, uint32_t flags, bool notify) {
  SetNotifying(call, call.callParamFlags, flags, LINECALLINFOSTATE_OTHER, notify);
}

void CallModel::SetOrigin(TspCall& call, uint32_t origin, bool notify) {
  SetNotifying(call, call.origin, origin, LINECALLINFOSTATE_ORIGIN, notify);
}

void CallModel::SetReason(TspCall& call, uint32_t reason, bool notify) {
  SetNotifying(call, call.reason, reason, LINECALLINFOSTATE_REASON, notify);
}

void CallModel::SetAppSpecific(TspCall& call, uint32_t value, bool notify) {
  SetNotifying(call, call.appSpecific, value, LINECALLINFOSTATE_APPSPECIFIC, notify);
}

void CallModel::SetPartyId(TspCall& call, PartyRole role, uint32_t flags, std::optional<std::u16string_view> number,
                           std::optional<std::u16string_view> name, bool notify) {
  PartyId value;
  value.flags = flags;
  if (number) value.number = StripDialModeMarks(*number);
  if (name) value.name = std::u16string(*name);
  SetNotifying(call, call.parties[static_cast<size_t>(role)], std::move(value), CallInfoStateBit(role), notify);
}

void CallModel::SetBlob(TspCall& call, CallBlob which, std::vector<uint8_t> bytes, bool notify) {
  SetNotifying(call, call.blobs[static_cast<size_t>(which)], std::move(bytes), CallInfoStateBit(which), notify);
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

void CallModel::StartRinging(TspCall& call) {
  const OpenLine* line = FindLine(reinterpret_cast<HDRVLINE>(call.line));
  SendLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, call.ringCount);
  ++call.ringCount;
  call.ringTimer.Start(clock_, kRingIntervalMs);
}

uint32_t CallModel::RepeatRinging(TspCall& call) {
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
    for (TspCall* call : CallsOfLine(*line)) SetCallState(*call, LINECALLSTATE_IDLE, 0);
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
