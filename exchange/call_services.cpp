// The call switch's supplementary services: transfer, three-party
// conference, park and unpark, pickup (what each does: call_switch.h), and
// the overview of what the legs alone do not show.
//
// In:  the PC's requests, as the other CallSwitch requests, on the caller's
//      thread. Out: the confirmation, and indications and event lines in
//      SwitchOutputs. No thread, lock or clock of its own.
#include <algorithm>
#include <utility>

#include "exchange/call_switch.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {

// ---- transfer ------------------------------------------------------------------

SwitchConfirmation CallSwitch::Transfer(uint16_t callId, std::string_view destination, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  if (leg->state != kCallConnected || legs_.size() >= kMaxLegs || !registered_.count(leg->lineId)) {
    return {255, {}, std::nullopt};
  }
  const uint16_t lineId = leg->lineId;
  SetState(*leg, kCallPendTransfer, out, CallInfo());
  // The consultation call: dial tone, or the destination dialled at once.
  SwitchConfirmation confirmation = Establish(lineId, destination, out);
  if (Leg* consultation = confirmation.callId ? FindLeg(*confirmation.callId) : nullptr) {
    consultation->transferOf = callId;
  }
  return confirmation;
}

SwitchConfirmation CallSwitch::CompleteTransfer(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out) {
  Leg* active = FindLeg(callId);
  Leg* held = FindLeg(heldCallId);
  if (!active || !held) return {255, {kDetailNoSuchCall}, std::nullopt};
  Connection* consult = FindConnection(active->connection);
  Connection* heldConnection = FindConnection(held->connection);
  const bool activeCalling = active->calling;
  const bool ringingOrConnected =
      active->state == kCallConnected || (activeCalling && Waiting(active->state));
  if (!consult || !heldConnection || consult == heldConnection || active->lineId != held->lineId ||
      held->state != kCallPendTransfer || !ringingOrConnected) {
    return {255, {}, std::nullopt};
  }
  Side& activeSide = activeCalling ? consult->calling : consult->called;
  const bool heldCalling = held->calling;
  Side& heldFar = heldCalling ? heldConnection->called : heldConnection->calling;
  const Side& activeFar = activeCalling ? consult->called : consult->calling;
  // Nobody to join: the call at the destination or the held party is gone.
  if (activeSide.legs.size() != 1 || !Present(heldFar) || !Present(activeFar)) return {255, {}, std::nullopt};

  // The PC's legs end first (their events still name their parties); then
  // the held call's far side takes the place of the consultation leg.
  active->transferOf = 0;
  EndPcLeg(callId, out);
  EndPcLeg(heldCallId, out);
  Side moved = std::move(heldFar);
  moved.number = NumberOf(moved);
  if (activeCalling && !heldCalling) consult->callerHangupMs = heldConnection->callerHangupMs;
  if (!activeCalling && heldCalling) consult->rule = heldConnection->rule;
  for (uint16_t id : moved.legs) {
    if (Leg* leg = FindLeg(id)) {
      leg->connection = consult->id;
      leg->calling = activeCalling;
    }
  }
  activeSide = std::move(moved);
  // A hang-up the moved party had planned still comes.
  for (Timer& timer : timers_) {
    if (timer.connection == heldConnection->id && timer.kind == TimerKind::FarHangup) timer.connection = consult->id;
  }
  connections_.erase(heldConnection->id);

  Side& joined = activeCalling ? consult->calling : consult->called;
  Side& other = activeCalling ? consult->called : consult->calling;
  if (consult->connected) {
    ReportConnected(joined, NumberOf(other), out);
    ReportConnected(other, joined.number, out);
  } else {
    // The transferred party now hears the destination ring.
    for (uint16_t id : joined.legs) {
      if (Leg* leg = FindLeg(id)) SetState(*leg, kCallDelivered, out, CallInfo());
    }
  }
  DropConnectionIfEmpty(consult->id);
  return {};
}

// ---- conference ----------------------------------------------------------------

SwitchConfirmation CallSwitch::Conference(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out) {
  Leg* active = FindLeg(callId);
  Leg* held = FindLeg(heldCallId);
  if (!active || !held) return {255, {kDetailNoSuchCall}, std::nullopt};
  if (active->connection == held->connection || active->lineId != held->lineId ||
      active->state != kCallConnected || held->state != kCallPendTransfer) {
    return {255, {}, std::nullopt};
  }
  active->conferencePeer = heldCallId;
  held->conferencePeer = callId;
  SetState(*active, kCallConferenced, out, CallInfo());
  SetState(*held, kCallConferenced, out, CallInfo());
  return {};
}

void CallSwitch::LeaveConference(uint16_t peerId, SwitchOutputs& out) {
  Leg* peer = peerId ? FindLeg(peerId) : nullptr;
  if (!peer) return;
  peer->conferencePeer = 0;
  if (peer->state != kCallConferenced) return;
  // Back to a two-party call (not told to a line that is being unregistered).
  if (registered_.count(peer->lineId)) {
    SetState(*peer, kCallConnected, out, CallInfo());
  } else {
    peer->state = kCallConnected;
  }
}

void CallSwitch::RecallTransferred(uint16_t heldId, SwitchOutputs& out) {
  Leg* held = heldId ? FindLeg(heldId) : nullptr;
  if (!held || held->state != kCallPendTransfer) return;
  if (registered_.count(held->lineId)) {
    SetState(*held, kCallConnected, out, CallInfo());
  } else {
    held->state = kCallConnected;
  }
}

// ---- park ----------------------------------------------------------------------

SwitchConfirmation CallSwitch::Park(uint16_t callId, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return {255, {kDetailNoSuchCall}, std::nullopt};
  Connection* connection = FindConnection(leg->connection);
  if (!connection || (leg->state != kCallConnected && leg->state != kCallPendTransfer)) {
    return {255, {}, std::nullopt};
  }
  Side& own = leg->calling ? connection->calling : connection->called;
  const Side& far = leg->calling ? connection->called : connection->calling;
  if (own.legs.size() != 1 || !Present(far)) return {255, {}, std::nullopt};
  std::set<uint16_t> used;
  for (const auto& [id, known] : connections_) {
    if (known.parkAddress) used.insert(known.parkAddress);
  }
  uint16_t address = 1;
  while (used.count(address)) ++address;  // fewer connections than addresses
  connection->parkAddress = address;
  connection->parkedCalling = leg->calling;
  own.legs.clear();
  EndPcLeg(callId, out);
  return {0, {}, address};
}

SwitchConfirmation CallSwitch::Unpark(uint16_t lineId, uint16_t parkAddress, SwitchOutputs& out) {
  if (!registered_.count(lineId)) return {255, {kDetailNoSuchLine}, std::nullopt};
  auto parked = std::find_if(connections_.begin(), connections_.end(), [parkAddress](const auto& entry) {
    return parkAddress != 0 && entry.second.parkAddress == parkAddress;
  });
  if (parked == connections_.end() || legs_.size() >= kMaxLegs) return {255, {}, std::nullopt};
  Connection& connection = parked->second;
  const bool calling = connection.parkedCalling;
  connection.parkAddress = 0;
  Leg& leg = NewLeg(lineId, connection.id, calling);
  const ExchangeLine* line = LineById(lineId);
  Side& own = calling ? connection.calling : connection.called;
  own.legs = {leg.callId};
  own.number = {line ? line->address : std::string(), kAddressInternal};
  own.shown = own.number.number;
  ReportConnected(own, NumberOf(calling ? connection.called : connection.calling), out);
  ReportConnected(calling ? connection.called : connection.calling, own.number, out);
  return {0, {}, leg.callId};
}

bool CallSwitch::ParkedHangup(uint16_t parkAddress, SwitchOutputs& out, std::string* error) {
  for (auto& [id, connection] : connections_) {
    if (parkAddress == 0 || connection.parkAddress != parkAddress) continue;
    Side& far = connection.parkedCalling ? connection.called : connection.calling;
    if (!far.simulated) break;
    FarLeaves(connection, out);
    return true;
  }
  if (error) *error = "no simulated party parked at " + std::to_string(parkAddress);
  return false;
}

// ---- pickup --------------------------------------------------------------------

SwitchConfirmation CallSwitch::Pickup(uint16_t lineId, std::string_view address, SwitchOutputs& out) {
  if (!registered_.count(lineId)) return {255, {kDetailNoSuchLine}, std::nullopt};
  if (legs_.size() >= kMaxLegs) return {255, {}, std::nullopt};
  const std::vector<uint16_t> wanted = LinesFor(address);
  auto rings = [&](const Connection& connection) {
    if (connection.connected || connection.parkAddress) return false;
    for (uint16_t id : connection.calling.legs) {
      if (const Leg* caller = FindLeg(id); caller && caller->lineId == lineId) return false;  // one's own call
    }
    if (connection.called.simulated) {
      // A simulated extension (a line the PC has not registered) a PC leg calls.
      const std::vector<uint16_t> lines = LinesFor(connection.called.shown);
      return !connection.called.gone && !lines.empty() && CallerWaits(connection) &&
             (address.empty() || connection.called.shown == address) &&
             std::find(lines.begin(), lines.end(), lineId) == lines.end();
    }
    for (uint16_t id : connection.called.legs) {
      const Leg* ringing = FindLeg(id);
      if (!ringing || !Ringing(ringing->state) || ringing->lineId == lineId) continue;
      if (address.empty() || std::find(wanted.begin(), wanted.end(), ringing->lineId) != wanted.end()) return true;
    }
    return false;
  };
  // Connections are numbered in the order they began: the first is the oldest.
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [&rings](const auto& entry) { return rings(entry.second); });
  if (found == connections_.end()) return {255, {}, std::nullopt};
  Connection& connection = found->second;
  // It stops ringing where it rang, as a call whose caller gave up.
  const std::vector<uint16_t> ringing = std::exchange(connection.called.legs, {});
  for (uint16_t id : ringing) {
    if (Leg* leg = FindLeg(id)) EndLegByFar(*leg, kCauseNormal, std::nullopt, out);
    CloseLeg(id, out, true);
  }
  Leg& leg = NewLeg(lineId, connection.id, false);
  const ExchangeLine* line = LineById(lineId);
  connection.called.simulated = false;
  connection.called.gone = false;
  connection.called.legs = {leg.callId};
  connection.called.number = {line ? line->address : std::string(), kAddressInternal};
  connection.called.shown = connection.called.number.number;
  connection.externalAddress = connection.called.shown;
  ConnectLegs(connection, leg, out);
  return {0, {}, leg.callId};
}

// ---- shared pieces ---------------------------------------------------------------

bool CallSwitch::CallerWaits(const Connection& connection) const {
  if (connection.calling.simulated) return !connection.calling.gone;
  if (connection.calling.legs.empty()) return false;
  auto caller = legs_.find(connection.calling.legs.front());
  return caller != legs_.end() && Waiting(caller->second.state);
}

PresentedNumber CallSwitch::NumberOf(const Side& side) const {
  if (!side.number.number.empty() || side.legs.empty()) return side.number;
  auto leg = legs_.find(side.legs.front());
  const ExchangeLine* line = leg == legs_.end() ? nullptr : LineById(leg->second.lineId);
  return {line ? line->address : std::string(), kAddressInternal};
}

void CallSwitch::EndPcLeg(uint16_t callId, SwitchOutputs& out) {
  Leg* leg = FindLeg(callId);
  if (!leg) return;
  SetState(*leg, kCallIdle, out, CallInfo());
  CloseLeg(callId, out, true);
}

void CallSwitch::ReportConnected(Side& side, const PresentedNumber& to, SwitchOutputs& out) {
  for (uint16_t id : side.legs) {
    Leg* leg = FindLeg(id);
    // A new leg (idle) is told; a held one stays held.
    if (!leg || leg->state == kCallBusy || leg->state == kCallDisconnected || leg->state == kCallPendTransfer) {
      continue;
    }
    vnl::Message connected = CallInfo();
    if (!to.number.empty()) SetText(connected, vnl::kConnectedAddress, connected.connectedAddress, to.number);
    SetByte(connected, vnl::kConnectedAddressType, connected.connectedAddressType, to.type);
    SetState(*leg, kCallConnected, out, connected);
  }
}

std::vector<std::string> CallSwitch::Overview(bool parkedOnly) const {
  std::vector<std::string> lines;
  auto shown = [](const std::string& number) { return number.empty() ? std::string("-") : number; };
  for (const auto& [id, connection] : connections_) {
    const Side& far = connection.parkedCalling ? connection.called : connection.calling;
    if (connection.parkAddress) {
      const std::string& number = connection.parkedCalling ? connection.externalAddress : far.shown;
      lines.push_back("parked " + std::to_string(connection.parkAddress) + " party=" + shown(number));
    } else if (!parkedOnly && connection.calling.legs.empty() && connection.called.legs.empty()) {
      lines.push_back("link " + shown(connection.calling.shown) + " " + shown(connection.called.shown) +
                      " state=" + (connection.connected ? "connected" : "ringing"));
    }
  }
  if (parkedOnly) return lines;
  for (const auto& [id, leg] : legs_) {
    if (leg.conferencePeer > id) {
      lines.push_back("conference line=" + std::to_string(leg.lineId) + " calls=" + std::to_string(id) + "," +
                      std::to_string(leg.conferencePeer));
    }
  }
  return lines;
}

}  // namespace exchange
