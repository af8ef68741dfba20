#pragma once
// What the exchange does with the data blocks it receives. The transport
// (LanExchange) reassembles frames, answers nothing by itself except
// keep-alives, and hands every data block to one engine; the engine answers
// through a BlockSink, which frames its blocks and sends them. A protocol
// engine never sees sockets, frames or keep-alives, so the same engine can
// later sit behind the serial and USB links as well.
//
// The transport calls an engine from one thread at a time (it serialises the
// calls), so an engine needs no lock of its own; only an engine that offers
// waiting commands (OnWaitCommand) is called beside that and guards itself.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace exchange {

// Where an engine's answers go: one call is one data block, sent as one frame.
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // False when the block could not be sent (no connection, too long).
  virtual bool SendBlock(std::span<const uint8_t> block) = 0;
};

// Machine-readable event lines, one per call, e.g. "connected" or
// "block 10010003100105". Implementations are called from several threads.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Event(std::string_view line) = 0;
};

class ProtocolEngine {
 public:
  virtual ~ProtocolEngine() = default;

  // Short name for the status line ("echo", "script", ...).
  virtual std::string_view Name() const = 0;

  // A connection came up; the engine may send at once (a greeting, say).
  virtual void OnConnected(BlockSink& out) { (void)out; }
  virtual void OnDisconnected() {}

  // One received data block (never a keep-alive).
  virtual void OnBlock(std::span<const uint8_t> block, BlockSink& out) = 0;

  // Called regularly (every few tens of milliseconds) while connected, with
  // the tick of the transport's clock: for answers the engine delays.
  virtual void OnTick(uint32_t nowTick, BlockSink& out) {
    (void)nowTick;
    (void)out;
  }

  // A command of the command interface that the transport does not know.
  // Returns the result text (what follows "ok " or "error "; see
  // CommandResult), or nullopt when the engine does not know the command
  // either. out is the current connection (SendBlock fails without one).
  struct CommandResult {
    bool ok = true;
    std::string text;
  };
  virtual std::optional<CommandResult> OnCommand(std::string_view verb, std::string_view args, BlockSink& out) {
    (void)verb;
    (void)args;
    (void)out;
    return std::nullopt;
  }

  // A command that waits for the peer (a registration, a call state). The
  // transport offers every command here first, without serialising the
  // call with the engine's others, so the peer's blocks keep coming while it
  // waits; an engine with such commands guards its own state. nullopt: no
  // such command (it then goes to OnCommand).
  virtual std::optional<CommandResult> OnWaitCommand(std::string_view verb, std::string_view args) {
    (void)verb;
    (void)args;
    return std::nullopt;
  }

  // Lines of help for the engine's own commands, for tksim --help.
  virtual std::string CommandHelp() const { return {}; }
};

}  // namespace exchange
