#pragma once
// The VNL engine as tksim and in-process tests use it: the protocol core
// (vnl_engine_core.h: what is received, answered and indicated, and the
// event lines) behind a thread-safe shell, with the fault settings and the
// command language of the command interface.
//
// In:  the transport's calls (blocks, ticks, connection changes), fault
//      settings and the simulated parties' actions, from any thread.
// Out: blocks through the caller's BlockSink, event lines through the
//      EventSink.
// Threads: one mutex guards the core and the faults; the core's outputs are
//      sent and reported after it is released, so a sink may call back in.
//      Waits (WaitRegistered, WaitCallState, and the wait commands) block
//      the calling thread on a condition variable that every change wakes,
//      bounded by the real clock; the transport calls them outside its own
//      serialisation so that blocks keep coming meanwhile.
//
// Commands (OnCommand; texts in CommandHelp, results "VERB[ DETAILS]" or
// "VERB: REASON"): refuse-start, refuse-register, refuse-unregister,
// end-ind, ignore, refuse, forward, noanswer-after, vnl-status, party,
// incoming, hangup, answer, hold, hangup-parked, clear-after, calls, parked,
// wait-registered, wait-call-state.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "exchange/fault_injector.h"
#include "exchange/protocol_engine.h"
#include "exchange/vnl_engine_core.h"

namespace exchange {

class VnlEngine : public ProtocolEngine, public RequestRefuser {
 public:
  // Ignore(kAllRequests, ...) applies to every request type.
  static constexpr uint8_t kAllRequests = VnlFaults::kAllRequests;

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

  // --- faults (VnlFaults) ---
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
  // Requests of this type get RESULT 255 with these details and change
  // nothing; nothing (std::nullopt) answers them again.
  void Refuse(uint8_t requestType, std::optional<std::vector<uint8_t>> details);

  // A random refusal (fault_injector.h): a request block is answered with
  // RESULT 255 and changes nothing, as a standing Refuse of its type would
  // (details of a standing refusal stay). False for anything but a request,
  // and for a request that is being ignored.
  bool RefuseRequest(std::span<const uint8_t> block, BlockSink& out) override;

  // --- the exchange's side ---
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
  // The simulated party of a call hangs up / answers (hangup, answer).
  bool FarHangup(uint16_t callId, BlockSink& out, std::string* error);
  bool FarAnswer(uint16_t callId, BlockSink& out, std::string* error);
  void SetPartyRule(std::string number, PartyRule rule);
  void SetClearMs(uint32_t ms);
  // How long a call rings on a line forwarded on no answer before it moves.
  void SetNoAnswerMs(uint32_t ms);
  // The user at the call's extension puts the connected call on hold (hold).
  bool Hold(uint16_t callId, BlockSink& out, std::string* error);
  // The simulated party parked at the address hangs up (hangup-parked).
  bool ParkedHangup(uint16_t parkAddress, BlockSink& out, std::string* error);

  // --- state ---
  std::vector<CallSnapshot> Calls() const;
  // Conferences, parked parties and joined simulated parties (CallSwitch::Overview).
  std::vector<std::string> CallOverview(bool parkedOnly) const;
  std::optional<uint8_t> CallState(uint16_t callId) const;             // CallSwitch::StateOf
  std::optional<uint16_t> FindLine(std::string_view idOrAddress) const;  // CallSwitch::FindLine
  // Wait (bounded, on the real clock) until the line is registered / the
  // call has reached the state (an ended call counts as idle).
  bool WaitRegistered(uint16_t lineId, std::chrono::milliseconds timeout) const;
  bool WaitCallState(uint16_t callId, uint8_t state, std::chrono::milliseconds timeout) const;

  size_t ReceivedCount(uint8_t type) const;
  std::vector<uint16_t> RegisteredLines() const;
  bool Started() const;
  ExchangeConfig Config() const;
  // One consistent view for vnl-status.
  struct Status {
    bool started = false;
    std::vector<uint16_t> registered;
    std::array<size_t, 256> received{};
    bool lineList16 = false;
    bool endIndication = true;
  };
  Status GetStatus() const;

 private:
  // Runs fn(core, outputs) under the mutex, then sends and reports the
  // outputs; returns what fn returns.
  template <typename Fn>
  auto Locked(BlockSink& out, Fn fn);
  void Run(VnlOutputs& outputs, BlockSink& out);
  CommandResult ListCalls(std::string_view verb);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;  // registrations and calls
  EventSink* events_;
  VnlFaults faults_;
  VnlEngineCore core_;
};

}  // namespace exchange
