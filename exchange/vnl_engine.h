#pragma once
// The exchange's side of the VNL call-control protocol: link start-up, the
// address list, line registration, line information, calls and the end of
// the link. Every received block is decoded with the project's codec
// (LINE_ID 8 or 16 bits wide, as the configured line list) and answered with
// the request's confirmation under the request's RefID:
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
//   any other request      its confirmation with RESULT 255
//
// The calls themselves (call_switch.h) report to the PC with
// VNL_NEWCALL_IND, VNL_CALLINFO_IND and VNL_CLOSECALL_IND under RefIDs of the
// exchange's own; their timed actions run on OnTick. A start, an end or a
// lost connection ends every call.
//
// Responses (VNL_END_RESP, VNL_CALLINFO_RESP, ...) are taken and counted; a
// refusing one is reported. A block that does not decode, a type the
// protocol does not define and a message the exchange itself would send are
// reported and not answered.
//
// Faults to inject: refusals with chosen result details, silence after
// VNL_END_CONF, and requests that get no answer at all.
//
// Events, one line each: "vnl-rx NAME ref=N[ line=ID]" for every received
// message, "vnl-tx NAME ref=N result=R[ details=HEX][ call=C]" for every
// confirmation sent, "vnl-tx VNL_END_IND ref=N cause=C", "vnl-tx
// VNL_LINEINFO_IND ref=N line=ID state=S", "vnl-tx VNL_NEWCALL_IND ref=N
// line=ID call=C", "vnl-tx VNL_CALLINFO_IND ref=N call=C state=NAME[
// cause=0xHH]" and "vnl-tx VNL_CLOSECALL_IND ref=N call=C" for indications,
// "call N STATE line=ID party=NUMBER" whenever a call changes state,
// "vnl-refused NAME ref=N[ result=R][ details=HEX]" for a refusing response,
// "vnl-ignored NAME ref=N", "vnl-send-failed NAME ref=N",
// "vnl-undecodable REASON: HEX", "vnl-unknown-type 0xTT ref=N",
// "vnl-unexpected NAME ref=N" and "vnl-warning NAME: TEXT" (a skipped
// unknown parameter).
//
// All state sits behind one mutex, so tests may call from several threads.
// Blocks are sent after the mutex is released: a sink may call back in.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "exchange/call_switch.h"
#include "exchange/exchange_config.h"
#include "exchange/protocol_engine.h"
#include "provider/vnl/codec/vnl_message.h"

namespace exchange {

class VnlEngine : public ProtocolEngine {
 public:
  // Ignore(kAllRequests, ...) applies to every request type.
  static constexpr uint8_t kAllRequests = 0xFF;

  explicit VnlEngine(ExchangeConfig config, EventSink* events = nullptr);

  std::string_view Name() const override { return "vnl"; }
  void OnConnected(BlockSink& out) override;
  void OnDisconnected() override;
  void OnBlock(std::span<const uint8_t> block, BlockSink& out) override;
  void OnTick(uint32_t nowTick, BlockSink& out) override;
  std::optional<CommandResult> OnCommand(std::string_view verb, std::string_view args, BlockSink& out) override;
  // wait-registered and wait-call-state (also taken by OnCommand).
  std::optional<CommandResult> OnWaitCommand(std::string_view verb, std::string_view args) override;
  std::string CommandHelp() const override;

  // Refuse every VNL_START_REQ with RESULT 255 and exactly these result
  // details; an empty list accepts again.
  void RefuseStart(std::vector<uint8_t> details);
  // False: VNL_END_CONF is not followed by VNL_END_IND.
  void SetEndIndication(bool send);
  // Refuse registrations / unregistrations with RESULT 255 and these
  // details; empty accepts again. A refusal whose details hold 0xB0 (which
  // the PC takes as "registered all the same") still records the line.
  void RefuseRegister(std::vector<uint8_t> details);
  void RefuseUnregister(std::vector<uint8_t> details);
  // Requests of this type (kAllRequests: of every type) get no answer.
  // Ignore(kAllRequests, false) ends every ignoring.
  void Ignore(uint8_t requestType, bool ignore);

  // Changes a line's forwarding (lineState: kForwardNone, kForwardUnconditional,
  // kForwardBusy, kForwardNoAnswer; destination ANSI) and, when the line is
  // registered, sends VNL_LINEINFO_IND through out. A registration lasts at
  // most as long as its connection, so a registered line means a live one.
  // False for an unknown line ID.
  bool SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination, BlockSink& out);

  // A call from a simulated party (the incoming command): the CALL_IDs of
  // the ringing legs, or nothing with *error.
  std::vector<uint16_t> StartIncoming(std::string_view target, std::string_view from, const IncomingOptions& options,
                                      BlockSink& out, std::string* error);
  std::vector<CallSnapshot> Calls() const;
  // Wait (bounded, on the real clock) until the line is registered / the
  // call has reached the state (an ended call counts as idle).
  bool WaitRegistered(uint16_t lineId, std::chrono::milliseconds timeout) const;
  bool WaitCallState(uint16_t callId, uint8_t state, std::chrono::milliseconds timeout) const;

  size_t ReceivedCount(uint8_t type) const;
  std::vector<uint16_t> RegisteredLines() const;
  bool Started() const;
  ExchangeConfig Config() const;

 private:
  // What one call produces: event lines and blocks, in order. Blocks are
  // sent (and their "vnl-tx" lines reported) after the mutex is released.
  struct Step {
    std::string event;           // without a block: an event line
    std::vector<uint8_t> block;  // with a block: event is its "vnl-tx" line
    bool isBlock = false;
  };
  using Steps = std::vector<Step>;

  void Run(Steps& steps, BlockSink& out);

  void HandleLocked(std::span<const uint8_t> block, Steps& steps);
  void HandleRequestLocked(const vnl::Message& request, Steps& steps);
  void StartLocked(const vnl::Message& request, Steps& steps);
  void EndLocked(const vnl::Message& request, Steps& steps);
  void AddressListLocked(const vnl::Message& request, Steps& steps);
  void RegisterLocked(const vnl::Message& request, Steps& steps);
  void UnregisterLocked(const vnl::Message& request, Steps& steps);
  void LineInfoLocked(const vnl::Message& request, Steps& steps);
  void LineInfoIndicationLocked(const ExchangeLine& line, Steps& steps);
  void ResponseLocked(const vnl::Message& response, Steps& steps);

  // Calls (vnl_engine_calls.cpp).
  void CallEstablishLocked(const vnl::Message& request, Steps& steps);
  void DialLocked(const vnl::Message& request, Steps& steps);
  void DisconnectLocked(const vnl::Message& request, Steps& steps);
  void AnswerCallLocked(const vnl::Message& request, Steps& steps);
  void ConfirmCallLocked(const vnl::Message& request, const SwitchConfirmation& confirmation, Steps& steps);
  void SwitchStepsLocked(SwitchOutputs& outputs, Steps& steps);
  void SetRegisteredLocked(uint16_t lineId, bool registered, Steps& steps);
  void ResetCallsLocked(Steps& steps);
  std::optional<CommandResult> CallCommand(std::string_view verb, std::string_view args, BlockSink& out);
  CommandResult ListCalls(std::string_view verb);

  ExchangeLine* FindLineLocked(uint16_t lineId);
  bool IgnoredLocked(uint8_t type) const;
  uint8_t NextRefIdLocked();

  mutable std::mutex mutex_;
  EventSink* events_;
  ExchangeConfig config_;
  bool started_ = false;
  bool endIndication_ = true;
  bool ignoreAll_ = false;
  std::set<uint8_t> ignored_;
  std::vector<uint8_t> startRefusal_;
  std::vector<uint8_t> registerRefusal_;
  std::vector<uint8_t> unregisterRefusal_;
  std::set<uint16_t> registered_;
  std::array<size_t, 256> received_{};
  uint8_t refIdCounter_ = 0;  // RefIDs of the exchange's own indications
  CallSwitch calls_;
  mutable std::condition_variable changed_;  // registrations and calls
};

}  // namespace exchange
