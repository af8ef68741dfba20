#pragma once
// The simulated exchange's calls, without sockets, threads or clocks: the
// VNL engine hands it the PC's call requests, the commands of the command
// interface and the transport's tick, and sends what it hands back.
//
// A call as the PC sees it is one leg: an exchange CALL_ID (16 bits, from 1,
// never 0, never two live legs with one ID) on one registered line, with
// its CALL_STATE byte. A connection joins a calling side and a called side;
// each side is either legs on registered lines or one simulated party (an
// external number, or an extension whose line the PC has not registered).
//
//   PC makes a call    VNL_CALLESTABLISH_REQ: dialtone without a destination;
//                      with one (or with the first VNL_DIAL_REQ that carries
//                      digits: a dial completes the number) dialing (with
//                      DEST_ADDRESS, so the PC learns the number), proceeding,
//                      then by the called side:
//     registered line  its line(s) get VNL_NEWCALL_IND, offering (caller's
//                      address, type 3, CALL_TYPE 0x02), accepted; the caller
//                      delivered; VNL_ANSWERCALL_REQ connects both
//     simulated party  its PartyRule: delivered and connected after a while,
//                      busy (cause 0x14), disconnected (0x11 reject, 0x17
//                      unreachable) or delivered for ever
//   incoming           a simulated caller rings the registered line(s) of a
//                      line address or MSN: offering, accepted; an answer
//                      connects; with several lines the first answer wins and
//                      the others are closed
//   PC disconnects     the leg is closed (VNL_CLOSECALL_IND); the other side
//                      ends: a ringing leg gets disconnected and is closed at
//                      once, any other leg gets disconnected (cause 0x00) and
//                      stays until the PC disconnects it or the clear time
//                      has passed
//   far party leaves   the same for the PC's legs of the connection
//   hold / swap        the hold command puts a connected leg on hold; the
//                      exchange reports a held leg as pendTransfer (0x20),
//                      the state the PC holds a call in. VNL_ALTERNATECALL_REQ
//                      (CALL_ID connected, HELDCALL_ID held, one line) holds
//                      the connected leg, then reports the held one connected
//   redirect           VNL_REDIRECTCALL_REQ of a ringing incoming leg: every
//                      ringing leg of the call is closed and the call rings at
//                      the destination: its registered lines (CALL_REASON
//                      redirect, REDIRECTING_ADDRESS the line's address), else
//                      the destination as a simulated party
//   forwarding         a line forwarded unconditionally, or on busy while it
//                      has a call (one that only rings does not count: its
//                      user is free), hands a call for it to the registered
//                      lines of its destination (one step, never back to
//                      itself); forwarded on no answer, it rings for the
//                      no-answer time (default 15000 ms) first. Forwarded
//                      legs carry CALL_REASON and REDIRECTING_ADDRESS. A
//                      destination that is none of the PC's registered lines
//                      leaves the call ringing where it is: this exchange has
//                      nobody outside to hand it to
//   transfer           VNL_TRANSFER_REQ of a connected leg holds it
//                      (pendTransfer) and opens a consultation leg on the
//                      same line, in dial tone or, with a destination,
//                      dialled at once (blind: the PC follows its reports
//                      without a call object). VNL_COMPLETETRANSFER_REQ(a,
//                      held h): h's far side takes a's place in a's
//                      connection (ringing or connected, timers and all) and
//                      the PC's legs a and h go idle and are closed. A
//                      consultation leg that ends otherwise gives the held
//                      leg back (connected), as there is no retrieve request
//   conference         VNL_3PTYCONFERENCE_REQ(a connected, h held, one
//                      line): both legs conferenced (0x21), bridged on the
//                      PC's line. A disconnect of either ends it for
//                      everyone (a disconnect of the other leg right after
//                      is confirmed); a far party leaving ends its leg as
//                      usual and the other leg is connected again
//   park / unpark      VNL_PARKCALL_REQ of a connected or held leg: its far
//                      side waits at the lowest free park address from 1,
//                      the PC's leg goes idle and is closed; a parked party
//                      that leaves frees the address. VNL_UNPARKCALL_REQ
//                      from any registered line connects a new leg to it
//   pickup             VNL_PICKUPCALL_REQ: the oldest call ringing at
//                      another extension (or at the lines of PICKUP_ADDRESS)
//                      - ringing legs of registered lines, or a simulated
//                      extension a PC leg calls - is connected to a new leg
//                      on the picking line; its ringing legs end as a call
//                      whose caller gave up
//
// A leg that is disconnected by the far end is closed by the exchange after
// the clear time (default 5000 ms, 0 = never) because the PC drops such a
// call without telling the exchange.
//
// Time comes only from Tick(now): delays count from the last tick seen (a
// tick comes every few tens of milliseconds); delays scheduled before the
// first tick count from it. Unsigned 32-bit ticks, wrap-around safe.
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/call_party.h"
#include "exchange/exchange_config.h"
#include "provider/vnl/codec/vnl_message.h"

namespace exchange {

// CALL_STATE bytes.
inline constexpr uint8_t kCallIdle = 0x10;
inline constexpr uint8_t kCallOffering = 0x11;
inline constexpr uint8_t kCallAccepted = 0x12;
inline constexpr uint8_t kCallConnected = 0x13;
inline constexpr uint8_t kCallBusy = 0x14;
inline constexpr uint8_t kCallDialtone = 0x15;
inline constexpr uint8_t kCallDialing = 0x16;
inline constexpr uint8_t kCallDelivered = 0x17;
inline constexpr uint8_t kCallDisconnected = 0x18;
inline constexpr uint8_t kCallPendTransfer = 0x20;  // held
inline constexpr uint8_t kCallConferenced = 0x21;
inline constexpr uint8_t kCallProceeding = 0x22;

// CALL_REASON bytes of forwarded and redirected calls.
inline constexpr uint8_t kReasonFwdBusy = 0x11;
inline constexpr uint8_t kReasonFwdNoAnswer = 0x12;
inline constexpr uint8_t kReasonFwdUncond = 0x13;
inline constexpr uint8_t kReasonRedirect = 0x16;

// CAUSE bytes.
inline constexpr uint8_t kCauseNormal = 0x00;
inline constexpr uint8_t kCauseReject = 0x11;
inline constexpr uint8_t kCauseBusy = 0x14;
inline constexpr uint8_t kCauseUnreachable = 0x17;

// CALL_TYPE bytes.
inline constexpr uint8_t kCallTypeExternal = 0x01;
inline constexpr uint8_t kCallTypeInternal = 0x02;

// RESULT details of refusals.
inline constexpr uint8_t kDetailNoSuchLine = 0x80;
inline constexpr uint8_t kDetailNoSuchCall = 0x81;

// What the switch hands out, in order: an indication for the PC (its RefID
// is the sender's to choose) or an event line ("call N STATE line=ID
// party=NUMBER").
struct SwitchOutput {
  bool isMessage = false;
  vnl::Message message;
  std::string event;
};
using SwitchOutputs = std::vector<SwitchOutput>;

// The answer to a request: its confirmation's RESULT (and CALL_ID; for a
// park, the PARK_ADDRESS).
struct SwitchConfirmation {
  uint8_t result = 0;
  std::vector<uint8_t> details;
  std::optional<uint16_t> callId;
};

struct IncomingOptions {
  bool internal = false;
  std::optional<uint32_t> hangupAfterMs;  // after the connect
  std::optional<uint32_t> ringTimeoutMs;  // the caller gives up unanswered
};

struct CallSnapshot {
  uint16_t callId = 0;
  uint16_t lineId = 0;
  uint8_t state = 0;
  std::string party;  // the other side's number ("" while unknown)
  bool operator==(const CallSnapshot&) const = default;
};

class CallSwitch {
 public:
  static constexpr uint32_t kDefaultClearMs = 5000;

  explicit CallSwitch(const ExchangeConfig& config);

  // --- the PC's lines ---
  // A line the PC registers can make and take calls; when it unregisters,
  // its legs end without a word to the PC and their other sides end.
  void SetRegistered(uint16_t lineId, bool registered, SwitchOutputs& out);
  bool Registered(uint16_t lineId) const { return registered_.count(lineId) != 0; }
  // Link start, end or loss: every call and registration is gone, without
  // messages (the legs report "idle" events).
  void Reset(SwitchOutputs& out);

  // --- the PC's requests ---
  SwitchConfirmation Establish(uint16_t lineId, std::string_view destination, SwitchOutputs& out);
  SwitchConfirmation Dial(uint16_t callId, std::string_view digits, SwitchOutputs& out);
  SwitchConfirmation Disconnect(uint16_t callId, SwitchOutputs& out);
  SwitchConfirmation Answer(uint16_t callId, SwitchOutputs& out);
  SwitchConfirmation Alternate(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out);
  SwitchConfirmation Redirect(uint16_t callId, std::string_view destination, SwitchOutputs& out);
  // A line's forwarding (lineState: kForwardNone, ...) for calls from now on.
  void SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination);
  static constexpr uint32_t kDefaultNoAnswerMs = 15000;
  void SetNoAnswerMs(uint32_t ms) { noAnswerMs_ = ms; }

  // --- supplementary services (call_services.cpp) ---
  SwitchConfirmation Transfer(uint16_t callId, std::string_view destination, SwitchOutputs& out);
  SwitchConfirmation CompleteTransfer(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out);
  SwitchConfirmation Conference(uint16_t callId, uint16_t heldCallId, SwitchOutputs& out);
  SwitchConfirmation Park(uint16_t callId, SwitchOutputs& out);  // callId: the PARK_ADDRESS
  SwitchConfirmation Unpark(uint16_t lineId, uint16_t parkAddress, SwitchOutputs& out);
  SwitchConfirmation Pickup(uint16_t lineId, std::string_view address, SwitchOutputs& out);
  // The party parked at the address hangs up.
  bool ParkedHangup(uint16_t parkAddress, SwitchOutputs& out, std::string* error);

  // --- the simulated parties ---
  void SetPartyRule(std::string number, PartyRule rule) { rules_.Set(std::move(number), std::move(rule)); }
  const PartyRule& PartyRuleFor(std::string_view number) const { return rules_.For(number); }
  // A call from `from` to the registered lines of a line address or MSN:
  // the CALL_IDs of the ringing legs (first: the first line's), or nothing
  // with *error.
  std::vector<uint16_t> Incoming(std::string_view target, std::string_view from, const IncomingOptions& options,
                                 SwitchOutputs& out, std::string* error);
  // The simulated party of the leg's connection hangs up / answers now.
  bool FarHangup(uint16_t callId, SwitchOutputs& out, std::string* error);
  bool FarAnswer(uint16_t callId, SwitchOutputs& out, std::string* error);
  // The user at the leg's extension puts the connected leg on hold.
  bool Hold(uint16_t callId, SwitchOutputs& out, std::string* error);
  void SetClearMs(uint32_t ms) { clearMs_ = ms; }
  uint32_t ClearMs() const { return clearMs_; }

  // --- time ---
  void Tick(uint32_t now, SwitchOutputs& out);

  // --- state ---
  std::vector<CallSnapshot> Calls() const;
  // What the legs alone do not show, one line each: "conference line=ID
  // calls=A,B", "parked P party=NUMBER" and "link NUMBER NUMBER
  // state=connected|ringing" (two simulated parties a transfer joined).
  // parkedOnly: the parked lines alone.
  std::vector<std::string> Overview(bool parkedOnly = false) const;
  // The leg's state; kCallIdle for a leg that has ended (the last 1024 are
  // remembered); nothing for a CALL_ID never handed out.
  std::optional<uint8_t> StateOf(uint16_t callId) const;
  // The line with this ID, else the line with this address.
  std::optional<uint16_t> FindLine(std::string_view idOrAddress) const;

 private:
  struct Leg {
    uint16_t callId = 0;
    uint16_t lineId = 0;
    uint8_t state = kCallIdle;
    uint64_t serial = 0;  // tells a reused CALL_ID apart
    uint32_t connection = 0;
    bool calling = false;  // the leg made the call
    uint16_t conferencePeer = 0;  // the other leg of its three-party conference
    uint16_t transferOf = 0;      // a consultation leg: the leg it holds for a transfer
  };
  struct Side {
    std::vector<uint16_t> legs;  // legs on registered lines (the calling side: at most one)
    bool simulated = false;      // a simulated party instead
    bool gone = false;           // the simulated party has left
    PresentedNumber number;      // how the other side sees this one
    std::string shown;           // the number as dialled or given, for events
  };
  struct Connection {
    uint32_t id = 0;
    Side calling;
    Side called;
    uint8_t callType = kCallTypeExternal;
    std::string externalAddress;  // the number the caller chose
    PartyRule rule;               // of a simulated called party
    std::optional<uint32_t> callerHangupMs;  // of a simulated caller
    bool connected = false;
    uint16_t parkAddress = 0;    // parked: the PC's side (calling or called) is empty
    bool parkedCalling = false;
  };
  enum class TimerKind { FarAnswer, FarHangup, RingTimeout, Clear, NoAnswerForward };
  struct Timer {
    uint32_t due = 0;
    TimerKind kind = TimerKind::Clear;
    uint32_t connection = 0;
    uint64_t legSerial = 0;  // Clear and NoAnswerForward only
  };
  // A line a call rings on, and why it rings there instead of on the line
  // it was for (forwardedFrom, reason: CALL_REASON; reason 0: not forwarded).
  struct RingTarget {
    uint16_t lineId = 0;
    uint8_t reason = 0;
    std::string redirecting;  // the forwarding or redirecting line's address
  };

  Leg& NewLeg(uint16_t lineId, uint32_t connection, bool calling);
  uint16_t NextCallId();
  void Route(Leg& caller, std::string_view digits, SwitchOutputs& out);
  void RouteToSimulated(Leg& caller, Connection& connection, std::string_view digits, SwitchOutputs& out);
  // The registered lines a call for these lines rings on, after forwarding
  // (callerLine: a PC caller's own line, never forwarded to).
  std::vector<RingTarget> RingTargets(const std::vector<uint16_t>& lines, std::optional<uint16_t> callerLine) const;
  // The registered lines of a destination, but not `except`.
  std::vector<uint16_t> RegisteredLinesFor(std::string_view number, std::optional<uint16_t> except) const;
  // The line has a call that is neither ringing nor over.
  bool LineBusy(uint16_t lineId) const;
  // A new ringing leg of the connection's called side: NEWCALL, offering, accepted.
  void Ring(Connection& connection, const RingTarget& target, std::string_view externalAddress, SwitchOutputs& out);
  // Every ringing leg of the called side is closed; the call rings at the targets instead.
  void MoveRinging(Connection& connection, const std::vector<RingTarget>& targets, SwitchOutputs& out);
  void ConnectLegs(Connection& connection, Leg& answering, SwitchOutputs& out);
  void FarConnects(Connection& connection, SwitchOutputs& out);
  void FarLeaves(Connection& connection, SwitchOutputs& out);
  // The other side of an ended leg (or the far party) is told the end.
  void EndOtherSide(Connection& connection, bool callingEnded, uint8_t cause, SwitchOutputs& out);
  void EndLegByFar(Leg& leg, uint8_t cause, const std::optional<vnl::Charging>& charge, SwitchOutputs& out);
  // The leg ends on the PC's side (a disconnect, a clear, an unregistered
  // line); its connection's other side learns when no leg of its side is left.
  void LegEnds(uint16_t callId, bool tellPc, SwitchOutputs& out);
  void CloseLeg(uint16_t callId, SwitchOutputs& out, bool tellPc);
  void DropConnectionIfEmpty(uint32_t id);
  void Schedule(TimerKind kind, uint32_t afterMs, uint32_t connection, uint64_t legSerial = 0);
  void Fire(const Timer& timer, SwitchOutputs& out);
  // The calling side still waits for the called one (a leg delivered or
  // proceeding, or a simulated caller that has not left).
  bool CallerWaits(const Connection& connection) const;
  // A side is there: legs, or a simulated party that has not left.
  static bool Present(const Side& side) { return !side.legs.empty() || (side.simulated && !side.gone); }
  // How the other side sees this one (a side of legs without a number of
  // its own: its first line's address, internal).
  PresentedNumber NumberOf(const Side& side) const;
  // A leg of the PC that a service took away: idle, then closed; its
  // connection is left to the caller.
  void EndPcLeg(uint16_t callId, SwitchOutputs& out);
  // A leg has left its conference (its conferencePeer cleared): the other
  // leg, peerId, is connected again.
  void LeaveConference(uint16_t peerId, SwitchOutputs& out);
  // A consultation leg ended without a completed transfer: the leg it held,
  // heldId, is connected again.
  void RecallTransferred(uint16_t heldId, SwitchOutputs& out);
  // The leg's legs (side) are told that they are connected to `to` now.
  void ReportConnected(Side& side, const PresentedNumber& to, SwitchOutputs& out);
  // The leg has rung for the no-answer time on a line forwarded on no answer.
  void NoAnswerForward(uint64_t legSerial, SwitchOutputs& out);

  static bool Ringing(uint8_t state) { return state == kCallOffering || state == kCallAccepted; }
  static bool Ended(uint8_t state) { return state == kCallIdle || state == kCallBusy || state == kCallDisconnected; }
  // A calling leg waits for the called side in these states.
  static bool Waiting(uint8_t state) { return state == kCallProceeding || state == kCallDelivered; }

  // Indications and events.
  static vnl::Message CallInfo();
  static void SetText(vnl::Message& message, uint8_t param, std::string& field, std::string_view value);
  static void SetByte(vnl::Message& message, uint8_t param, uint8_t& field, uint8_t value);
  void SetState(Leg& leg, uint8_t state, SwitchOutputs& out, vnl::Message info);
  void NewCallIndication(const Leg& leg, SwitchOutputs& out);
  void CloseIndication(uint16_t callId, SwitchOutputs& out);
  void StateEvent(const Leg& leg, uint8_t state, SwitchOutputs& out) const;

  Leg* FindLeg(uint16_t callId);
  Leg* FindLegBySerial(uint64_t serial);
  Connection* FindConnection(uint32_t id);
  const Side& OtherSide(const Leg& leg) const;
  std::string PartyOf(const Leg& leg) const;
  const ExchangeLine* LineById(uint16_t lineId) const;
  // The configured lines of a line address or MSN, registered or not.
  std::vector<uint16_t> LinesFor(std::string_view number) const;
  void RememberEnded(uint16_t callId);

  std::vector<ExchangeLine> lines_;
  std::vector<ExchangeMsn> msns_;
  std::set<uint16_t> registered_;
  PartyRules rules_;
  uint32_t clearMs_ = kDefaultClearMs;
  uint32_t noAnswerMs_ = kDefaultNoAnswerMs;

  std::map<uint16_t, Leg> legs_;
  std::map<uint32_t, Connection> connections_;
  std::vector<Timer> timers_;
  std::deque<uint16_t> ended_;
  // Legs that ended with a conference dropped by its other leg: their own
  // disconnect, which follows, is confirmed once.
  std::set<uint16_t> droppedWithConference_;
  uint16_t lastCallId_ = 0;
  uint64_t nextSerial_ = 1;
  uint32_t nextConnection_ = 1;
  static constexpr size_t kMaxLegs = 1000;
  static constexpr size_t kEndedRemembered = 1024;
  uint32_t now_ = 0;
  bool haveTime_ = false;
};

}  // namespace exchange
