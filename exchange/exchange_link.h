#pragma once
// The exchange's side of one link as the command interface sees it: the
// LAN link (LanExchange) or the serial or USB link (SerialExchange). They all
// carry data blocks to and from one protocol engine; what they share is here,
// and what only some offer (the LAN's tagged frames, keep-alives and segment
// shaping; the frame faults of the serial and USB links; the USB device's
// faults) is reached through LanControls, SerialControls or UsbControls,
// which a link offers only when it has them. A command of another link then
// answers "not on this link".
//
// Threads: every call may come from any command thread (standard input, a
// scenario, the control port); the implementations serialise with their
// network thread themselves.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/protocol_engine.h"

namespace exchange {

// What only the LAN link does.
class LanControls {
 public:
  virtual ~LanControls() = default;
  virtual bool SendTaggedFrame(uint8_t tag, std::span<const uint8_t> data) = 0;
  virtual bool Drop() = 0;
  virtual void SetKeepalivePeriod(uint32_t periodMs) = 0;
  virtual void SetDropOnMissedKeepalive(bool drop) = 0;
  virtual void SplitNext(unsigned parts, uint32_t pauseMs) = 0;
  virtual void SplitNextAt(std::vector<size_t> offsets, uint32_t pauseMs) = 0;
  virtual void MergeNext(uint32_t holdMs) = 0;
};

// What only the serial link does: faults of the frame protocol, each for the
// next frame sent or from now on.
class SerialControls {
 public:
  virtual ~SerialControls() = default;
  virtual void CorruptNextFrame(size_t byteIndex) = 0;
  virtual void DropNextFrame() = 0;
  virtual void SetSilent(bool silent) = 0;
  virtual void SetAnsweringServiceRequest(bool on) = 0;
  // On: every frame sent and received is reported (frame-in, frame-out).
  virtual void SetFrameTrace(bool on) = 0;
  // False when no I-frame has been sent yet.
  virtual bool RepeatLastIFrame() = 0;
  // name: RR, RNR, REJ, START, DISC, UA or DM; false for anything else.
  virtual bool SendControlFrame(std::string_view name) = 0;
};

// What only the USB link does: faults of the device driver stand-in.
class UsbControls {
 public:
  virtual ~UsbControls() = default;
  // The next write request is answered as done with 0 bytes written (its
  // bytes are lost).
  virtual void ZeroNextWrite() = 0;
  // The next read request (or the one pending) fails with 31.
  virtual void FailNextRead() = 0;
  // The device goes away: the client's connection is closed and the socket
  // file removed. Nothing when unplugged already.
  virtual void Unplug() = 0;
  // The device is back (a new socket); true when plugged already.
  virtual bool Plug(std::string* error) = 0;
};

class ExchangeLink {
 public:
  virtual ~ExchangeLink() = default;

  // Starts / ends the network thread.
  virtual bool Start() = 0;
  virtual void Stop() = 0;

  // The longest data block one frame carries on this link.
  virtual size_t MaxBlockSize() const = 0;
  // One data block as one frame; false without a link or on a send error.
  virtual bool SendBlock(std::span<const uint8_t> block) = 0;
  // Bytes as they are, without framing.
  virtual bool SendRaw(std::span<const uint8_t> bytes) = 0;
  // Off: received blocks are still reported but not given to the engine.
  virtual void SetAnswering(bool answering) = 0;

  virtual bool WaitConnected(std::chrono::milliseconds timeout) = 0;
  virtual bool WaitDisconnected(std::chrono::milliseconds timeout) = 0;
  // See received_blocks.h.
  virtual std::optional<std::vector<uint8_t>> WaitBlock(std::span<const uint8_t> prefix,
                                                        std::chrono::milliseconds timeout) = 0;

  // What follows "ok status ": state and counters as NAME=VALUE words.
  virtual std::string StatusText() const = 0;

  // A command for the engine (serialised with its other calls).
  virtual std::optional<ProtocolEngine::CommandResult> EngineCommand(std::string_view verb,
                                                                     std::string_view args) = 0;
  virtual std::string EngineHelp() const = 0;

  // nullptr when the link has no such controls.
  virtual LanControls* Lan() { return nullptr; }
  virtual SerialControls* Serial() { return nullptr; }
  virtual UsbControls* Usb() { return nullptr; }
};

}  // namespace exchange
