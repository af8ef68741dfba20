#pragma once
// The exchange's side of the VNL call-control protocol, sans-IO: received
// blocks, connection changes, ticks and the simulated parties' actions go
// in; the blocks to send and the event lines to report come out, in order,
// as VnlOutputs. No thread, lock, clock or socket lives here: the caller
// (VnlEngine, the thread-safe shell) serialises the calls, sends the blocks
// and reports the events. Faults come from a VnlFaults the caller owns and
// may change between calls; the core only reads it.
//
// Every received block is decoded with the project's codec (LINE_ID 8 or
// 16 bits wide, as the configured line list) and answered with the
// request's confirmation under the request's RefID:
//
//   VNL_START_REQ          RESULT 0, the exchange's protocol version and
//                          manufacturer text; a requested version above the
//                          exchange's own is refused (RESULT 255, 0xC0)
//   VNL_END_REQ            RESULT 0, then VNL_END_IND (CAUSE 0) under a RefID
//                          of the exchange's own
//   VNL_GETADDRESSLIST_REQ RESULT 0, LINE_LIST or LINE_LIST_16 and MSN_LIST
//   VNL_REGISTER_REQ,      RESULT 0; an unknown line: RESULT 255, 0x80
//   VNL_UNREGISTER_REQ
//   VNL_GETLINEINFO_REQ    RESULT 0, the CALL_IDs of the line's calls,
//                          LINE_STATE and (while forwarding) DEST_ADDRESS;
//                          unknown line: 255, 0x80
//   VNL_CALLESTABLISH_REQ  RESULT 0 and the new CALL_ID; a line that is
//                          unknown or not registered: 255, 0x80
//   VNL_DIAL_REQ,          RESULT 0; an unknown CALL_ID: 255, 0x81; a call
//   VNL_DISCONNECT_REQ,    in a state that does not allow it: 255
//   VNL_ANSWERCALL_REQ
//   VNL_ALTERNATECALL_REQ  RESULT 0 (the swap: see call_switch.h); an unknown
//                          CALL_ID or HELDCALL_ID: 255, 0x81; legs not one
//                          connected and one held on one line: 255
//   VNL_REDIRECTCALL_REQ   RESULT 0 (see call_switch.h); unknown CALL_ID:
//                          255, 0x81; no ringing incoming leg, or no DEST_ADDRESS: 255
//   VNL_TRANSFER_REQ       RESULT 0 and the consultation call's CALL_ID; then
//                          the held call and the consultation call's
//                          progress (see call_switch.h); unknown CALL_ID:
//                          255, 0x81; a call not connected: 255
//   VNL_COMPLETETRANSFER_REQ, VNL_3PTYCONFERENCE_REQ
//                          RESULT 0; unknown CALL_ID or HELDCALL_ID: 255,
//                          0x81; not a held and a ringing or connected (for a
//                          conference: connected) call of one line: 255
//   VNL_PARKCALL_REQ       RESULT 0 and PARK_ADDRESS; unknown CALL_ID: 255,
//                          0x81; neither connected nor held: 255
//   VNL_UNPARKCALL_REQ,    RESULT 0 and the new CALL_ID; a line that is
//   VNL_PICKUPCALL_REQ     unknown or not registered: 255, 0x80; nothing
//                          parked at PARK_ADDRESS / nothing ringing: 255
//   VNL_SETFORWARD_REQ     RESULT 0, then the line's new state by
//                          VNL_LINEINFO_IND; FORWARDING_TYPE 0 unconditional,
//                          1 busy, 2 no answer (each with a DEST_ADDRESS),
//                          3 none; a line that is unknown or not registered:
//                          255, 0x80; another type or no destination: 255
//   any other request      its confirmation with RESULT 255
//
// The calls themselves (call_switch.h) report to the PC with
// VNL_NEWCALL_IND, VNL_CALLINFO_IND and VNL_CLOSECALL_IND under RefIDs of the
// exchange's own; their timed actions run on Tick. A start, an end or a
// connection change ends every call and registration.
//
// Responses (VNL_END_RESP, VNL_CALLINFO_RESP, ...) are taken and counted; a
// refusing one is reported. A block that does not decode, a type the
// protocol does not define and a message the exchange itself would send are
// reported and not answered.
//
// Faults (VnlFaults): refusals with chosen result details, silence after
// VNL_END_CONF, requests that get no answer at all, and request types
// refused (RESULT 255 with chosen details) without any change.
//
// Events, one line each: "vnl-rx NAME ref=N[ line=ID]" for every received
// message, "vnl-tx NAME ref=N result=R[ details=HEX][ call=C| park=P]" for
// every confirmation, "vnl-tx VNL_END_IND ref=N cause=C", "vnl-tx
// VNL_LINEINFO_IND ref=N line=ID state=S", "vnl-tx VNL_NEWCALL_IND ref=N
// line=ID call=C", "vnl-tx VNL_CALLINFO_IND ref=N call=C state=NAME[
// cause=0xHH]" and "vnl-tx VNL_CLOSECALL_IND ref=N call=C" for indications,
// "call N STATE line=ID party=NUMBER" whenever a call changes state,
// "vnl-refused NAME ref=N[ result=R][ details=HEX]" for a refusing response,
// "vnl-ignored NAME ref=N", "vnl-undecodable REASON: HEX",
// "vnl-unknown-type 0xTT ref=N", "vnl-unexpected NAME ref=N" and
// "vnl-warning NAME: TEXT" (a skipped unknown parameter). The "vnl-tx" line
// of a block is its output's event; the sender reports it once the block
// is sent ("vnl-send-failed ..." when it could not be).
#include <array>
#include <map>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/call_switch.h"
#include "exchange/exchange_config.h"
#include "provider/vnl/codec/vnl_message.h"

namespace exchange {

// What the exchange does wrong on purpose. Empty refusal details accept.
struct VnlFaults {
  // Ignoring kAllRequests applies to every request type.
  static constexpr uint8_t kAllRequests = 0xFF;

  std::vector<uint8_t> startRefusal;       // VNL_START_REQ: RESULT 255 with these details
  std::vector<uint8_t> registerRefusal;    // 0xB0 among them still registers the line
  std::vector<uint8_t> unregisterRefusal;  // the line stays registered
  bool endIndication = true;               // VNL_END_CONF followed by VNL_END_IND
  bool ignoreAll = false;                  // no request is answered
  std::set<uint8_t> ignored;               // request types that get no answer
  // Request types answered RESULT 255 with these details, changing nothing.
  std::map<uint8_t, std::vector<uint8_t>> refused;

  bool Ignores(uint8_t requestType) const { return ignoreAll || ignored.count(requestType) != 0; }
  // Ignore (or answer again) one type or, with kAllRequests, every type;
  // answering all again also ends every single ignoring.
  void SetIgnored(uint8_t requestType, bool ignore);
};

// One output: an event line, or a block to send with its "vnl-tx" line.
struct VnlOutput {
  std::string event;
  std::vector<uint8_t> block;
  bool isBlock = false;
};
using VnlOutputs = std::vector<VnlOutput>;

class VnlEngineCore {
 public:
  // faults must outlive the core.
  VnlEngineCore(ExchangeConfig config, const VnlFaults& faults);

  // --- from the transport ---
  // A connection came up or went down: a new session, without registrations
  // or calls.
  void Reset(VnlOutputs& out);
  void Block(std::span<const uint8_t> block, VnlOutputs& out);
  void Tick(uint32_t nowTick, VnlOutputs& out);

  // --- from the command side ---
  // Changes a line's forwarding (lineState: kForwardNone, ...; destination
  // ANSI) and, when the line is registered, indicates it with
  // VNL_LINEINFO_IND. False for an unknown line ID.
  bool SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination, VnlOutputs& out);
  // A call from a simulated party: the CALL_IDs of the ringing legs, or
  // nothing with *error.
  std::vector<uint16_t> Incoming(std::string_view target, std::string_view from, const IncomingOptions& options,
                                 VnlOutputs& out, std::string* error);
  // The simulated party of a call hangs up / answers now.
  bool FarHangup(uint16_t callId, VnlOutputs& out, std::string* error);
  bool FarAnswer(uint16_t callId, VnlOutputs& out, std::string* error);
  void SetPartyRule(std::string number, PartyRule rule) { calls_.SetPartyRule(std::move(number), std::move(rule)); }
  void SetClearMs(uint32_t ms) { calls_.SetClearMs(ms); }
  void SetNoAnswerMs(uint32_t ms) { calls_.SetNoAnswerMs(ms); }
  // The user at the call's extension puts the connected call on hold.
  bool Hold(uint16_t callId, VnlOutputs& out, std::string* error);
  // The simulated party parked at the address hangs up.
  bool ParkedHangup(uint16_t parkAddress, VnlOutputs& out, std::string* error);

  // --- state ---
  bool Started() const { return started_; }
  const std::set<uint16_t>& RegisteredLines() const { return registered_; }
  size_t ReceivedCount(uint8_t type) const { return received_[type]; }
  const std::array<size_t, 256>& ReceivedCounts() const { return received_; }
  const ExchangeConfig& Config() const { return config_; }
  std::vector<CallSnapshot> Calls() const { return calls_.Calls(); }
  std::vector<std::string> CallOverview(bool parkedOnly) const { return calls_.Overview(parkedOnly); }
  // See CallSwitch::StateOf and CallSwitch::FindLine.
  std::optional<uint8_t> StateOf(uint16_t callId) const { return calls_.StateOf(callId); }
  std::optional<uint16_t> FindLine(std::string_view idOrAddress) const { return calls_.FindLine(idOrAddress); }

 private:
  void Request(const vnl::Message& request, VnlOutputs& out);
  void Start(const vnl::Message& request, VnlOutputs& out);
  void End(const vnl::Message& request, VnlOutputs& out);
  void AddressList(const vnl::Message& request, VnlOutputs& out);
  void Register(const vnl::Message& request, VnlOutputs& out);
  void Unregister(const vnl::Message& request, VnlOutputs& out);
  void LineInfo(const vnl::Message& request, VnlOutputs& out);
  void LineInfoIndication(const ExchangeLine& line, VnlOutputs& out);
  void SetForward(const vnl::Message& request, VnlOutputs& out);
  void Response(const vnl::Message& response, VnlOutputs& out);

  // Calls (vnl_engine_core_calls.cpp).
  void CallRequest(const vnl::Message& request, VnlOutputs& out);
  void ConfirmCall(const vnl::Message& request, const SwitchConfirmation& confirmation, VnlOutputs& out);
  void SwitchOutputsTo(SwitchOutputs& outputs, VnlOutputs& out);
  void SetRegistered(uint16_t lineId, bool registered, VnlOutputs& out);
  void ResetCalls(VnlOutputs& out);

  ExchangeLine* FindConfiguredLine(uint16_t lineId);
  uint8_t NextRefId();

  const VnlFaults& faults_;
  ExchangeConfig config_;
  bool started_ = false;
  std::set<uint16_t> registered_;
  std::array<size_t, 256> received_{};
  uint8_t refIdCounter_ = 0;  // RefIDs of the exchange's own indications
  CallSwitch calls_;
};

}  // namespace exchange
