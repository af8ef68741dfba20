#pragma once
// The exchange's end of the serial link, without I/O: it answers the
// control process's service request (ESC "C") with a text line announcing
// the line speed, then runs the exchange's side of the layer-2 frame
// protocol (START/UA set-up, numbered I-frames one at a time with their
// acknowledgements, polls and their answers, REJ, RNR, DISC/UA/DM). Every
// received data block goes out to the owner, which gives it to the protocol
// engine; the engine's answers come back in as blocks to send as I-frames.
// Fault injection on the frames it sends sits here too.
//
// Our I-frames go out one at a time for service 0x20 and are repeated after
// T1 (1000 ms by the ticks) with the current N(R); after three unanswered
// repetitions the core sets the link up again with START (the session
// above goes on, and the block goes out again once UA came), and only when
// three START repetitions go unanswered as well does the link count as lost;
// the core then waits for a new START or service request. I-frames and polls
// that arrive while the link is down are answered with DM, which makes the
// control process send START.
//
// In:  bytes read from the line, the tick of the transport's clock (OnTick
//      every few milliseconds), blocks to send, fault commands.
// Out: through SerialLineOutput: bytes for the line (one frame or one text
//      line per call, in order), received blocks, the link going up and
//      down, and event lines for what happened on the line.
// Threads: none; the owner (SerialExchange) serialises every call. The owner
//      may call SendBlock from inside Block (the engine answering at once):
//      the block is queued and goes out, carrying the acknowledgement, when
//      the received frame has been handled.
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/serial_frames.h"

namespace exchange {

// What comes out of the core, to its owner.
class SerialLineOutput {
 public:
  virtual ~SerialLineOutput() = default;
  // Bytes for the line (the owner paces them at the line rate).
  virtual void Write(std::vector<uint8_t> bytes) = 0;
  // A data block received in sequence, for the engine (once per block).
  virtual void Block(std::span<const uint8_t> block) = 0;
  // The link came up (UA sent for the control process's START, or UA
  // received for this side's START) or went down (DISC, DM, a new service
  // request, the retries ran out).
  virtual void LinkChanged(bool up) = 0;
  // An event line for the event output ("service-request", "link-up",
  // "rej-sent 3", ...; names listed in SerialExchangeCore::EventHelp()).
  virtual void Event(std::string_view line) = 0;
};

class SerialExchangeCore {
 public:
  static constexpr uint32_t kT1Ms = 1000;        // our I-frame's acknowledgement
  static constexpr unsigned kMaxRetransmits = 3;  // then START, three times, then lost
  static constexpr size_t kMaxQueued = 64;       // blocks waiting for the window
  // A frame begun but not continued for this long is given up and its bytes
  // searched again (a control process that restarted mid-frame and now
  // sends its service request).
  static constexpr uint32_t kStaleFrameMs = 1000;

  // The event lines this core writes, one per line with its meaning.
  static std::string_view EventHelp();

  // speedText: the speed the service answer announces ("1200" ... "115200").
  explicit SerialExchangeCore(std::string speedText);

  void OnBytes(std::span<const uint8_t> bytes, uint32_t nowTick, SerialLineOutput& out);
  void OnTick(uint32_t nowTick, SerialLineOutput& out);
  // An engine's answer block (BlockSink of the engine calls): queued and sent
  // as an I-frame for service 0x20 as soon as the window allows. False when
  // the link is not up or the block is longer than an I-frame can carry.
  bool SendBlock(std::span<const uint8_t> block, uint32_t nowTick, SerialLineOutput& out);

  bool LinkUp() const;
  uint8_t Vs() const { return vs_; }
  uint8_t Vr() const { return vr_; }
  size_t QueuedBlocks() const { return queue_.size(); }
  bool Outstanding() const { return outstanding_.has_value(); }
  bool PeerBusy() const { return peerBusy_; }

  // Faults, each for the next frame this side sends (or from now on):
  void CorruptNextFrame(size_t byteIndex);     // flips the bits of byte N of the next frame
  void DropNextFrame();                        // the next frame is not sent
  void SetSilent(bool silent);                 // nothing is sent (received bytes are still taken in)
  void SetAnsweringServiceRequest(bool on);    // off: service requests are ignored
  bool RepeatLastIFrame(SerialLineOutput& out);  // sends the last I-frame again, as it was
  // Sends one S-frame (kind RR, RNR, REJ with the current N(R)) or U-frame
  // (START, DISC, UA, DM) now. False for anything else.
  bool SendControlFrame(std::string_view name, SerialLineOutput& out);
  // On: an event "frame-in <frame>" / "frame-out <frame>" for every frame
  // received / sent ("frame-in U-START", "frame-out S-REJ 3"). Off by default.
  void SetFrameTrace(bool on) { frameTrace_ = on; }

 private:
  void HandleItem(const serial::ParsedItem& item, uint32_t now, SerialLineOutput& out);
  void HandleSkipped(std::span<const uint8_t> bytes, SerialLineOutput& out);
  void HandleIFrame(const serial::SerialFrame& frame, uint32_t now, SerialLineOutput& out);
  void HandleSFrame(const serial::SerialFrame& frame, uint32_t now, SerialLineOutput& out);
  void HandleUFrame(const serial::SerialFrame& frame, SerialLineOutput& out);
  void Acknowledged(uint8_t nr);
  // Sends the next queued block when the window is free; true when it did.
  bool SendNextBlock(uint32_t now, SerialLineOutput& out);
  void Retransmit(uint32_t now, SerialLineOutput& out);
  void SendS(uint8_t kind, bool pollFinal, uint8_t address, SerialLineOutput& out);
  void Emit(std::vector<uint8_t> frame, SerialLineOutput& out);
  void ResetVariables();
  void LinkUpNow(SerialLineOutput& out);
  void LinkDown(std::string_view why, SerialLineOutput& out);
  // This side sets the link up: START, repeated on T1 until UA comes.
  void SendStart(uint32_t now, SerialLineOutput& out);
  void RepeatStart(uint32_t now, SerialLineOutput& out);

  std::string speedText_;
  serial::SerialFrameParser parser_;
  bool escPending_ = false;  // the last byte skipped was ESC
  uint32_t lastBytesTick_ = 0;

  bool up_ = false;
  bool startSent_ = false;  // this side sent START and waits for UA
  unsigned startRepeats_ = 0;  // repetitions of that START
  uint8_t vs_ = 0;
  uint8_t vr_ = 0;
  bool peerBusy_ = false;
  bool rejectSent_ = false;
  bool inFrame_ = false;  // a received frame is being handled: SendBlock only queues

  std::optional<std::vector<uint8_t>> outstanding_;  // data of our unacknowledged I-frame
  unsigned retransmits_ = 0;
  std::optional<uint32_t> t1Due_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<uint8_t> lastIFrame_;  // as built, for RepeatLastIFrame

  std::optional<size_t> corruptByte_;
  bool dropNext_ = false;
  bool silent_ = false;
  bool answering_ = true;
  bool frameTrace_ = false;
};

}  // namespace exchange
