#include "exchange/call_switch.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

// Signed distance of a wrapping tick from now: <= 0 when due.
int32_t Until(uint32_t due, uint32_t now) { return static_cast<int32_t>(due - now); }

}  // namespace

CallSwitch::CallSwitch(const ExchangeConfig& config) : lines_(config.lines), msns_(config.msns) {}

vnl::Message CallSwitch::CallInfo() {
  vnl::Message message;
  message.type = vnl::kCallInfoInd;
  return message;
}

void CallSwitch::SetText(vnl::Message& message, uint8_t param, std::string& field, std::string_view value) {
  field = std::string(value);
  message.Set(param);
}

void CallSwitch::SetByte(vnl::Message& message, uint8_t param, uint8_t& field, uint8_t value) {
  field = value;
  message.Set(param);
}

// ---- lines -------------------------------------------------------------------

void CallSwitch::SetRegistered(uint16_t lineId, bool registered, SwitchOutputs& out) {
  if (registered) {
    registered_.insert(lineId);
    return;
  }
  if (registered_.erase(lineId) == 0) return;
  std::vector<uint16_t> ids;
  for (const auto& [id, leg] : legs_) {
    if (leg.lineId == lineId) ids.push_back(id);
  }
  for (uint16_t id : ids) {
    if (FindLeg(id)) LegEnds(id, false, out);
  }
}

void CallSwitch::Reset(SwitchOutputs& out) {
  for (const auto& [id, leg] : legs_) {
    if (leg.state != kCallIdle) StateEvent(leg, kCallIdle, out);
    RememberEnded(id);
  }
  legs_.clear();
  connections_.clear();
  timers_.clear();
  registered_.clear();
  droppedWithConference_.clear();
}

// ---- the PC's requests -------------------------------------------------------

SwitchConfirmation CallSwitch::Establish(uint16_t lineId, std::string_view destination, SwitchOutputs& out) {
  if (!registered_.count(lineId)) return {255, {kDetailNoSuchLine}, std::nullopt};
  if (legs_.size() >= kMaxLegs) return {255, {}, std::nullopt};
  Connection& connection = connections_[nextConnection_];
  connection.id = nextConnection_++;
  Leg& leg = NewLeg(lineId, connection.id, true);
  const ExchangeLine* line = LineById(lineId);
  connection.calling.legs = {leg.callId};
  connection.calling.number = {line ? line->address : std::string(), kAddressInternal};
  connection.calling.shown = connection.calling.number.number;
  if (destination.empty()) {
    SetState(leg, kCallDialtone, out, CallInfo());
  } else {
    Route(leg, destination, out);
  }
  return {0, {}, leg.callId};
}

SwitchConfirmation CallSwitch::Dial(uint16_t callId, std::string_view digits, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  switch (leg->state) {
    case kCallDialtone:
      // A dial with digits completes the number.
      if (!digits.empty()) Route(*leg, digits, out);
      return {};
    case kCallDialing:
    case kCallProceeding:
    case kCallDelivered:
    case kCallConnected:
      return {};  // taken as tones; nothing changes
    default:
      return {255, {}, std::nullopt};
  }
}

SwitchConfirmation CallSwitch::Disconnect(uint16_t callId, SwitchOutputs& out) {
  if (droppedWithConference_.erase(callId)) return {};
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  const uint16_t peer = std::exchange(leg->conferencePeer, 0);
  if (Leg* other = peer ? FindLeg(peer) : nullptr) {
    // A conference dropped by either leg ends for everyone.
    other->conferencePeer = 0;
    LegEnds(callId, true, out);
    LegEnds(peer, true, out);
    droppedWithConference_.insert(peer);
    return {};
  }
  LegEnds(callId, true, out);
  return {};
}

SwitchConfirmation CallSwitch::Answer(uint16_t callId, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  Connection* connection = FindConnection(leg->connection);
  if (leg->calling || !Ringing(leg->state) || !connection) return {255, {}, std::nullopt};
  ConnectLegs(*connection, *leg, out);
  return {};
}

SwitchConfirmation CallSwitch::Alternate(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out) {
  Leg* active = FindLeg(callId);
  Leg* held = FindLeg(heldCallId);
  if (!active || !held) return {255, {kDetailNoSuchCall}, std::nullopt};
  if (callId == heldCallId || active->lineId != held->lineId || active->state != kCallConnected ||
      held->state != kCallPendTransfer) {
    return {255, {}, std::nullopt};
  }
  SetState(*active, kCallPendTransfer, out, CallInfo());
  SetState(*held, kCallConnected, out, CallInfo());
  return {};
}

SwitchConfirmation CallSwitch::Redirect(uint16_t callId, std::string_view destination, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  Connection* connection = FindConnection(leg->connection);
  if (leg->calling || !Ringing(leg->state) || !connection || destination.empty()) return {255, {}, std::nullopt};
  const ExchangeLine* line = LineById(leg->lineId);
  const std::string from = line ? line->address : std::string();
  // The lines ringing now and a PC caller's own line do not ring again.
  std::set<uint16_t> excluded;
  for (uint16_t id : connection->called.legs) {
    if (const Leg* ringing = FindLeg(id)) excluded.insert(ringing->lineId);
  }
  Leg* caller = connection->calling.legs.empty() ? nullptr : FindLeg(connection->calling.legs.front());
  if (caller) excluded.insert(caller->lineId);
  std::vector<RingTarget> targets;
  const std::vector<uint16_t> destinationLines = RegisteredLinesFor(destination, std::nullopt);
  for (uint16_t lineId : destinationLines) {
    if (!excluded.count(lineId)) targets.push_back({lineId, kReasonRedirect, from});
  }
  // To where it rings already (or back to its caller): refused, nothing changes.
  if (targets.empty() && !destinationLines.empty()) return {255, {}, std::nullopt};
  const uint32_t id = connection->id;
  MoveRinging(*connection, targets, out);
  if (targets.empty() && caller) {
    // Nobody of the PC's takes the call: the PC's caller now calls the
    // destination as a simulated party.
    connection->externalAddress = std::string(destination);
    RouteToSimulated(*caller, *connection, destination, out);
  }
  DropConnectionIfEmpty(id);
  return {};
}

void CallSwitch::SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination) {
  for (ExchangeLine& line : lines_) {
    if (line.lineId != lineId) continue;
    line.lineState = lineState;
    line.forwardDestination = lineState == kForwardNone ? std::string() : std::move(destination);
    return;
  }
}

// ---- routing -------------------------------------------------------------------

std::vector<CallSwitch::RingTarget> CallSwitch::RingTargets(const std::vector<uint16_t>& lines,
                                                              std::optional<uint16_t> callerLine) const {
  std::vector<RingTarget> targets;
  auto add = [&targets](RingTarget target) {
    for (const RingTarget& known : targets) {
      if (known.lineId == target.lineId) return;
    }
    targets.push_back(std::move(target));
  };
  for (uint16_t lineId : lines) {
    if (callerLine && lineId == *callerLine) continue;
    const ExchangeLine* line = LineById(lineId);
    uint8_t reason = 0;
    if (line && !line->forwardDestination.empty()) {
      if (line->lineState == kForwardUnconditional) reason = kReasonFwdUncond;
      if (line->lineState == kForwardBusy && LineBusy(lineId)) reason = kReasonFwdBusy;
    }
    std::vector<uint16_t> destination;
    if (reason) {
      destination = RegisteredLinesFor(line->forwardDestination, lineId);
      if (callerLine) destination.erase(std::remove(destination.begin(), destination.end(), *callerLine),
                                        destination.end());
    }
    if (!destination.empty()) {
      for (uint16_t to : destination) add({to, reason, line->address});
    } else if (registered_.count(lineId)) {
      add({lineId, 0, {}});
    }
  }
  return targets;
}

std::vector<uint16_t> CallSwitch::RegisteredLinesFor(std::string_view number, std::optional<uint16_t> except) const {
  std::vector<uint16_t> ids;
  for (uint16_t lineId : LinesFor(number)) {
    if (registered_.count(lineId) && lineId != except) ids.push_back(lineId);
  }
  return ids;
}

bool CallSwitch::LineBusy(uint16_t lineId) const {
  // A call ringing at the line does not make it busy: its user is free.
  for (const auto& [id, leg] : legs_) {
    if (leg.lineId == lineId && !Ended(leg.state) && !(Ringing(leg.state) && !leg.calling)) return true;
  }
  return false;
}

void CallSwitch::Ring(Connection& connection, const RingTarget& target, std::string_view externalAddress,
                      SwitchOutputs& out) {
  Leg& leg = NewLeg(target.lineId, connection.id, false);
  connection.called.legs.push_back(leg.callId);
  NewCallIndication(leg, out);
  vnl::Message offering = CallInfo();
  const PresentedNumber& caller = connection.calling.number;
  if (!caller.number.empty()) SetText(offering, vnl::kOrigAddress, offering.origAddress, caller.number);
  SetByte(offering, vnl::kOrigAddressType, offering.origAddressType, caller.type);
  if (target.reason) {
    if (!target.redirecting.empty()) {
      SetText(offering, vnl::kRedirectingAddress, offering.redirectingAddress, target.redirecting);
    }
    SetByte(offering, vnl::kRedirectingAddressType, offering.redirectingAddressType, kAddressInternal);
    SetByte(offering, vnl::kCallReason, offering.callReason, target.reason);
  }
  SetByte(offering, vnl::kCallType, offering.callType, connection.callType);
  SetText(offering, vnl::kExternalAddress, offering.externalAddress, externalAddress);
  SetState(leg, kCallOffering, out, offering);
  SetState(leg, kCallAccepted, out, CallInfo());
  // Forwarding on no answer: one step, so not for a call that was forwarded
  // or redirected here.
  const ExchangeLine* line = LineById(target.lineId);
  if (!target.reason && line && line->lineState == kForwardNoAnswer && !line->forwardDestination.empty()) {
    Schedule(TimerKind::NoAnswerForward, noAnswerMs_, connection.id, leg.serial);
  }
}

void CallSwitch::MoveRinging(Connection& connection, const std::vector<RingTarget>& targets, SwitchOutputs& out) {
  const std::vector<uint16_t> ringing = connection.called.legs;
  connection.called.legs.clear();
  for (uint16_t id : ringing) CloseLeg(id, out, true);
  for (const RingTarget& target : targets) {
    if (legs_.size() >= kMaxLegs) break;
    Ring(connection, target, connection.externalAddress, out);
  }
}


void CallSwitch::Route(Leg& caller, std::string_view digits, SwitchOutputs& out) {
  Connection& connection = *FindConnection(caller.connection);
  connection.externalAddress = std::string(digits);

  vnl::Message dialing = CallInfo();
  SetText(dialing, vnl::kDestAddress, dialing.destAddress, digits);
  SetState(caller, kCallDialing, out, dialing);

  const std::vector<uint16_t> lines = LinesFor(digits);
  const bool ownLine = std::find(lines.begin(), lines.end(), caller.lineId) != lines.end();
  const std::vector<RingTarget> ringing = RingTargets(lines, caller.lineId);
  connection.callType = lines.empty() ? kCallTypeExternal : kCallTypeInternal;
  vnl::Message proceeding = CallInfo();
  SetByte(proceeding, vnl::kCallType, proceeding.callType, connection.callType);
  SetState(caller, kCallProceeding, out, proceeding);

  if (ringing.empty() && ownLine) {
    // Calling one's own line: busy.
    connection.called.simulated = true;
    connection.called.gone = true;
    vnl::Message busy = CallInfo();
    SetByte(busy, vnl::kCause, busy.cause, kCauseBusy);
    SetState(caller, kCallBusy, out, busy);
    return;
  }
  if (ringing.empty()) {
    RouteToSimulated(caller, connection, digits, out);
    return;
  }
  connection.called.shown = std::string(digits);
  const uint32_t id = connection.id;
  const uint16_t callerId = caller.callId;
  for (const RingTarget& target : ringing) {
    if (legs_.size() >= kMaxLegs) break;
    Ring(*FindConnection(id), target, digits, out);
  }
  SetState(*FindLeg(callerId), kCallDelivered, out, CallInfo());
}

void CallSwitch::RouteToSimulated(Leg& caller, Connection& connection, std::string_view digits, SwitchOutputs& out) {
  Side& called = connection.called;
  called.simulated = true;
  called.number = {std::string(digits),
                   connection.callType == kCallTypeInternal ? kAddressInternal : kAddressUnknown};
  called.shown = std::string(digits);
  connection.rule = rules_.For(digits);
  switch (connection.rule.kind) {
    case PartyRule::Kind::Answer:
      // A caller that rang a line before (a redirect) is delivered already.
      if (caller.state != kCallDelivered) SetState(caller, kCallDelivered, out, CallInfo());
      Schedule(TimerKind::FarAnswer, connection.rule.answerAfterMs, connection.id);
      return;
    case PartyRule::Kind::NoAnswer:
      if (caller.state != kCallDelivered) SetState(caller, kCallDelivered, out, CallInfo());
      return;
    case PartyRule::Kind::Busy: {
      called.gone = true;
      vnl::Message busy = CallInfo();
      SetByte(busy, vnl::kCause, busy.cause, kCauseBusy);
      SetState(caller, kCallBusy, out, busy);
      return;
    }
    case PartyRule::Kind::Reject:
      called.gone = true;
      EndLegByFar(caller, kCauseReject, std::nullopt, out);
      return;
    case PartyRule::Kind::Unreachable:
      called.gone = true;
      EndLegByFar(caller, kCauseUnreachable, std::nullopt, out);
      return;
  }
}

// ---- connecting and ending -------------------------------------------------------

void CallSwitch::ConnectLegs(Connection& connection, Leg& answering, SwitchOutputs& out) {
  // The first answer wins; the other ringing legs are closed.
  std::vector<uint16_t> others;
  for (uint16_t id : connection.called.legs) {
    if (id != answering.callId) others.push_back(id);
  }
  connection.called.legs = {answering.callId};
  for (uint16_t id : others) CloseLeg(id, out, true);

  connection.connected = true;
  const PresentedNumber& caller = connection.calling.number;
  vnl::Message toCalled = CallInfo();
  if (!caller.number.empty()) SetText(toCalled, vnl::kConnectedAddress, toCalled.connectedAddress, caller.number);
  SetByte(toCalled, vnl::kConnectedAddressType, toCalled.connectedAddressType, caller.type);
  SetState(answering, kCallConnected, out, toCalled);

  if (!connection.calling.legs.empty()) {
    if (Leg* calling = FindLeg(connection.calling.legs.front())) {
      const ExchangeLine* line = LineById(answering.lineId);
      vnl::Message toCaller = CallInfo();
      if (line && !line->address.empty()) {
        SetText(toCaller, vnl::kConnectedAddress, toCaller.connectedAddress, line->address);
      }
      SetByte(toCaller, vnl::kConnectedAddressType, toCaller.connectedAddressType, kAddressInternal);
      SetState(*calling, kCallConnected, out, toCaller);
    }
  }
  if (connection.calling.simulated && connection.callerHangupMs) {
    Schedule(TimerKind::FarHangup, *connection.callerHangupMs, connection.id);
  }
}

void CallSwitch::FarConnects(Connection& connection, SwitchOutputs& out) {
  Leg* caller = connection.calling.legs.empty() ? nullptr : FindLeg(connection.calling.legs.front());
  // A simulated caller (joined to the party by a transfer) has no leg to tell.
  if (!caller && !connection.calling.simulated) return;
  connection.connected = true;
  const PresentedNumber& called = connection.called.number;
  vnl::Message connected = CallInfo();
  SetText(connected, vnl::kConnectedAddress, connected.connectedAddress, called.number);
  SetByte(connected, vnl::kConnectedAddressType, connected.connectedAddressType, called.type);
  if (caller) SetState(*caller, kCallConnected, out, connected);
  if (connection.rule.hangupAfterMs) Schedule(TimerKind::FarHangup, *connection.rule.hangupAfterMs, connection.id);
}

void CallSwitch::FarLeaves(Connection& connection, SwitchOutputs& out) {
  if (connection.called.simulated && !connection.called.gone) {
    connection.called.gone = true;
    EndOtherSide(connection, false, kCauseNormal, out);
  } else if (connection.calling.simulated && !connection.calling.gone) {
    connection.calling.gone = true;
    EndOtherSide(connection, true, kCauseNormal, out);
  }
  DropConnectionIfEmpty(connection.id);
}

void CallSwitch::EndOtherSide(Connection& connection, bool callingEnded, uint8_t cause, SwitchOutputs& out) {
  Side& other = callingEnded ? connection.called : connection.calling;
  if (other.simulated) {
    other.gone = true;
    return;
  }
  // A simulated called party that was connected reports its charge.
  std::optional<vnl::Charging> charge;
  if (!callingEnded && connection.connected && connection.called.simulated) charge = connection.rule.charge;
  const std::vector<uint16_t> ids = other.legs;
  for (uint16_t id : ids) {
    Leg* leg = FindLeg(id);
    if (!leg || Ended(leg->state)) continue;
    if (Ringing(leg->state)) {
      // Nobody answered: the call is gone at once.
      EndLegByFar(*leg, cause, std::nullopt, out);
      other.legs.erase(std::remove(other.legs.begin(), other.legs.end(), id), other.legs.end());
      CloseLeg(id, out, true);
    } else {
      EndLegByFar(*leg, cause, charge, out);
    }
  }
}

void CallSwitch::EndLegByFar(Leg& leg, uint8_t cause, const std::optional<vnl::Charging>& charge,
                             SwitchOutputs& out) {
  vnl::Message disconnected = CallInfo();
  SetByte(disconnected, vnl::kCause, disconnected.cause, cause);
  if (charge) {
    disconnected.charging = *charge;
    disconnected.Set(vnl::kChargingInfo);
  }
  SetState(leg, kCallDisconnected, out, disconnected);
  LeaveConference(std::exchange(leg.conferencePeer, 0), out);
  if (clearMs_ != 0) Schedule(TimerKind::Clear, clearMs_, leg.connection, leg.serial);
}

void CallSwitch::LegEnds(uint16_t callId, bool tellPc, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return;
  Connection* connection = FindConnection(leg->connection);
  if (!connection) {
    CloseLeg(callId, out, tellPc);
    return;
  }
  const bool calling = leg->calling;
  if (tellPc && calling && leg->state == kCallConnected && connection->called.simulated &&
      connection->rule.charge) {
    // The charge of the call goes with its last state.
    vnl::Message idle = CallInfo();
    idle.charging = *connection->rule.charge;
    idle.Set(vnl::kChargingInfo);
    SetState(*leg, kCallIdle, out, idle);
  }
  Side& side = calling ? connection->calling : connection->called;
  side.legs.erase(std::remove(side.legs.begin(), side.legs.end(), callId), side.legs.end());
  CloseLeg(callId, out, tellPc);
  if (side.legs.empty()) {
    EndOtherSide(*connection, calling, calling || connection->connected ? kCauseNormal : kCauseReject, out);
  }
  DropConnectionIfEmpty(connection->id);
}

void CallSwitch::CloseLeg(uint16_t callId, SwitchOutputs& out, bool tellPc) {
  Leg* leg = FindLeg(callId);
  if (!leg) return;
  const uint16_t peer = std::exchange(leg->conferencePeer, 0);
  const uint16_t held = std::exchange(leg->transferOf, 0);
  if (leg->state != kCallIdle) StateEvent(*leg, kCallIdle, out);
  if (tellPc) CloseIndication(callId, out);
  legs_.erase(callId);
  RememberEnded(callId);
  LeaveConference(peer, out);
  RecallTransferred(held, out);
}

void CallSwitch::DropConnectionIfEmpty(uint32_t id) {
  Connection* connection = FindConnection(id);
  if (!connection || !connection->calling.legs.empty() || !connection->called.legs.empty()) return;
  // Kept without legs: a parked party, and two simulated parties a transfer joined.
  const bool calling = Present(connection->calling);
  const bool called = Present(connection->called);
  if ((connection->parkAddress && (calling || called)) || (calling && called)) return;
  connections_.erase(id);
}

// ---- the simulated parties -------------------------------------------------------

std::vector<uint16_t> CallSwitch::Incoming(std::string_view target, std::string_view from,
                                           const IncomingOptions& options, SwitchOutputs& out, std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return std::vector<uint16_t>{};
  };
  const std::vector<uint16_t> lines = LinesFor(target);
  if (lines.empty()) return fail("no line address or MSN '" + std::string(target) + "'");
  const std::vector<RingTarget> ringing = RingTargets(lines, std::nullopt);
  if (ringing.empty()) return fail("no registered line for '" + std::string(target) + "'");
  if (legs_.size() + ringing.size() > kMaxLegs) return fail("too many calls");

  Connection& connection = connections_[nextConnection_];
  connection.id = nextConnection_++;
  connection.calling.simulated = true;
  connection.calling.number = PresentCaller(from, options.internal);
  connection.calling.shown = std::string(from);
  connection.called.number = {std::string(target), kAddressInternal};
  connection.called.shown = std::string(target);
  connection.callType = options.internal ? kCallTypeInternal : kCallTypeExternal;
  connection.externalAddress = std::string(target);
  connection.callerHangupMs = options.hangupAfterMs;

  for (const RingTarget& ring : ringing) Ring(connection, ring, target, out);
  const std::vector<uint16_t> ids = connection.called.legs;
  if (options.ringTimeoutMs) Schedule(TimerKind::RingTimeout, *options.ringTimeoutMs, connection.id);
  return ids;
}

bool CallSwitch::FarHangup(uint16_t callId, SwitchOutputs& out, std::string* error) {
  Leg* leg = FindLeg(callId);
  Connection* connection = leg ? FindConnection(leg->connection) : nullptr;
  if (!connection) {
    if (error) *error = "no call " + std::to_string(callId);
    return false;
  }
  const Side& far = OtherSide(*leg);
  if (!far.simulated) {
    if (error) *error = "call " + std::to_string(callId) + " has no simulated party";
    return false;
  }
  if (far.gone || Ended(leg->state)) {
    if (error) *error = "the party of call " + std::to_string(callId) + " has already left";
    return false;
  }
  FarLeaves(*connection, out);
  return true;
}

bool CallSwitch::FarAnswer(uint16_t callId, SwitchOutputs& out, std::string* error) {
  Leg* leg = FindLeg(callId);
  Connection* connection = leg ? FindConnection(leg->connection) : nullptr;
  if (!connection) {
    if (error) *error = "no call " + std::to_string(callId);
    return false;
  }
  if (!leg->calling || !connection->called.simulated || connection->called.gone || !Waiting(leg->state)) {
    if (error) *error = "call " + std::to_string(callId) + " is no call of the PC to a simulated party that rings";
    return false;
  }
  FarConnects(*connection, out);
  return true;
}

bool CallSwitch::Hold(uint16_t callId, SwitchOutputs& out, std::string* error) {
  Leg* leg = FindLeg(callId);
  if (!leg || leg->state != kCallConnected) {
    if (error) *error = (leg ? "call " : "no call ") + std::to_string(callId) + (leg ? " is not connected" : "");
    return false;
  }
  SetState(*leg, kCallPendTransfer, out, CallInfo());
  return true;
}

// ---- time ------------------------------------------------------------------------

void CallSwitch::Schedule(TimerKind kind, uint32_t afterMs, uint32_t connection, uint64_t legSerial) {
  timers_.push_back({now_ + afterMs, kind, connection, legSerial});
}

void CallSwitch::Tick(uint32_t now, SwitchOutputs& out) {
  if (!haveTime_) {
    // Delays scheduled before the first tick count from it.
    for (Timer& timer : timers_) timer.due = now + (timer.due - now_);
    haveTime_ = true;
  }
  now_ = now;
  // Firing may schedule more (a zero delay is due at once); bounded rounds.
  for (int round = 0; round < 100; ++round) {
    std::vector<Timer> due;
    auto isDue = [this](const Timer& timer) { return Until(timer.due, now_) <= 0; };
    std::copy_if(timers_.begin(), timers_.end(), std::back_inserter(due), isDue);
    if (due.empty()) return;
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), isDue), timers_.end());
    std::stable_sort(due.begin(), due.end(),
                     [this](const Timer& a, const Timer& b) { return Until(a.due, now_) < Until(b.due, now_); });
    for (const Timer& timer : due) Fire(timer, out);
  }
}

void CallSwitch::Fire(const Timer& timer, SwitchOutputs& out) {
  if (timer.kind == TimerKind::Clear) {
    Leg* leg = FindLegBySerial(timer.legSerial);
    if (leg && leg->state == kCallDisconnected) LegEnds(leg->callId, true, out);
    return;
  }
  if (timer.kind == TimerKind::NoAnswerForward) {
    NoAnswerForward(timer.legSerial, out);
    return;
  }
  Connection* connection = FindConnection(timer.connection);
  if (!connection) return;
  switch (timer.kind) {
    case TimerKind::FarAnswer: {
      if (!connection->connected && connection->called.simulated && !connection->called.gone &&
          CallerWaits(*connection)) {
        FarConnects(*connection, out);
      }
      return;
    }
    case TimerKind::FarHangup:
      if (connection->connected) FarLeaves(*connection, out);
      return;
    case TimerKind::RingTimeout:
      if (!connection->connected) FarLeaves(*connection, out);
      return;
    case TimerKind::Clear:
    case TimerKind::NoAnswerForward: return;
  }
}

void CallSwitch::NoAnswerForward(uint64_t legSerial, SwitchOutputs& out) {
  Leg* leg = FindLegBySerial(legSerial);
  Connection* connection = leg ? FindConnection(leg->connection) : nullptr;
  const ExchangeLine* line = leg ? LineById(leg->lineId) : nullptr;
  if (!connection || !Ringing(leg->state) || !line || line->lineState != kForwardNoAnswer) return;
  std::vector<uint16_t> destination = RegisteredLinesFor(line->forwardDestination, leg->lineId);
  // Lines the call rings on already and a PC caller's own line are left out.
  for (uint16_t id : connection->called.legs) {
    if (const Leg* ringing = FindLeg(id)) {
      destination.erase(std::remove(destination.begin(), destination.end(), ringing->lineId), destination.end());
    }
  }
  if (const Leg* caller = connection->calling.legs.empty() ? nullptr : FindLeg(connection->calling.legs.front())) {
    destination.erase(std::remove(destination.begin(), destination.end(), caller->lineId), destination.end());
  }
  if (destination.empty()) return;
  const uint16_t callId = leg->callId;
  Side& called = connection->called;
  called.legs.erase(std::remove(called.legs.begin(), called.legs.end(), callId), called.legs.end());
  CloseLeg(callId, out, true);
  for (uint16_t lineId : destination) {
    if (legs_.size() >= kMaxLegs) break;
    Ring(*connection, {lineId, kReasonFwdNoAnswer, line->address}, connection->externalAddress, out);
  }
}

// ---- indications and events ------------------------------------------------------

void CallSwitch::SetState(Leg& leg, uint8_t state, SwitchOutputs& out, vnl::Message info) {
  leg.state = state;
  StateEvent(leg, state, out);
  info.type = vnl::kCallInfoInd;
  SetByte(info, vnl::kCallState, info.callState, state);
  info.callId = leg.callId;
  info.Set(vnl::kCallId);
  out.push_back({true, std::move(info), {}});
}

void CallSwitch::NewCallIndication(const Leg& leg, SwitchOutputs& out) {
  vnl::Message message;
  message.type = vnl::kNewCallInd;
  message.lineId = leg.lineId;
  message.callId = leg.callId;
  message.Set(vnl::kLineId);
  message.Set(vnl::kCallId);
  out.push_back({true, std::move(message), {}});
}

void CallSwitch::CloseIndication(uint16_t callId, SwitchOutputs& out) {
  vnl::Message message;
  message.type = vnl::kCloseCallInd;
  message.callId = callId;
  message.Set(vnl::kCallId);
  out.push_back({true, std::move(message), {}});
}

void CallSwitch::StateEvent(const Leg& leg, uint8_t state, SwitchOutputs& out) const {
  std::string party = PartyOf(leg);
  out.push_back({false,
                 {},
                 "call " + std::to_string(leg.callId) + " " + vnl::CallStateName(state) +
                     " line=" + std::to_string(leg.lineId) + " party=" + (party.empty() ? "-" : party)});
}

// ---- lookups -----------------------------------------------------------------------

CallSwitch::Leg& CallSwitch::NewLeg(uint16_t lineId, uint32_t connection, bool calling) {
  Leg leg;
  leg.callId = NextCallId();
  droppedWithConference_.erase(leg.callId);
  leg.lineId = lineId;
  leg.serial = nextSerial_++;
  leg.connection = connection;
  leg.calling = calling;
  return legs_[leg.callId] = leg;
}

uint16_t CallSwitch::NextCallId() {
  // 1 .. 65535, then 1 again, skipping live legs (at most kMaxLegs of them).
  for (size_t i = 0; i <= kMaxLegs; ++i) {
    lastCallId_ = static_cast<uint16_t>(lastCallId_ == 0xFFFF ? 1 : lastCallId_ + 1);
    if (!legs_.count(lastCallId_)) break;
  }
  return lastCallId_;
}

CallSwitch::Leg* CallSwitch::FindLeg(uint16_t callId) {
  auto it = legs_.find(callId);
  return it == legs_.end() ? nullptr : &it->second;
}

CallSwitch::Leg* CallSwitch::FindLegBySerial(uint64_t serial) {
  for (auto& [id, leg] : legs_) {
    if (leg.serial == serial) return &leg;
  }
  return nullptr;
}

CallSwitch::Connection* CallSwitch::FindConnection(uint32_t id) {
  auto it = connections_.find(id);
  return it == connections_.end() ? nullptr : &it->second;
}

const CallSwitch::Side& CallSwitch::OtherSide(const Leg& leg) const {
  const Connection& connection = connections_.at(leg.connection);
  return leg.calling ? connection.called : connection.calling;
}

std::string CallSwitch::PartyOf(const Leg& leg) const {
  auto it = connections_.find(leg.connection);
  if (it == connections_.end()) return {};
  return leg.calling ? it->second.externalAddress : it->second.calling.shown;
}

const ExchangeLine* CallSwitch::LineById(uint16_t lineId) const {
  for (const ExchangeLine& line : lines_) {
    if (line.lineId == lineId) return &line;
  }
  return nullptr;
}

std::vector<uint16_t> CallSwitch::LinesFor(std::string_view number) const {
  std::vector<uint16_t> ids;
  auto add = [&ids](uint16_t id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  if (number.empty()) return ids;
  for (const ExchangeLine& line : lines_) {
    if (line.address == number) add(line.lineId);
  }
  for (const ExchangeMsn& msn : msns_) {
    if (msn.number != number) continue;
    for (uint16_t id : msn.lineIds) add(id);
  }
  return ids;
}

std::optional<uint16_t> CallSwitch::FindLine(std::string_view idOrAddress) const {
  std::string_view digits = idOrAddress;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  uint16_t id = 0;
  auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), id, base);
  if (!digits.empty() && failure == std::errc() && end == digits.data() + digits.size() && LineById(id)) return id;
  for (const ExchangeLine& line : lines_) {
    if (!line.address.empty() && line.address == idOrAddress) return line.lineId;
  }
  return std::nullopt;
}

void CallSwitch::RememberEnded(uint16_t callId) {
  ended_.push_back(callId);
  if (ended_.size() > kEndedRemembered) ended_.pop_front();
}

std::vector<CallSnapshot> CallSwitch::Calls() const {
  std::vector<CallSnapshot> calls;
  for (const auto& [id, leg] : legs_) calls.push_back({id, leg.lineId, leg.state, PartyOf(leg)});
  return calls;
}

std::optional<uint8_t> CallSwitch::StateOf(uint16_t callId) const {
  auto it = legs_.find(callId);
  if (it != legs_.end()) return it->second.state;
  if (std::find(ended_.begin(), ended_.end(), callId) != ended_.end()) return kCallIdle;
  return std::nullopt;
}

}  // namespace exchange
