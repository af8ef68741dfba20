#pragma once
// The protocol core of the serial and USB links (a LinkProtocol, see
// link_protocol.h): the exchange's service answer, then the HDLC-like frame
// protocol with one outstanding I-frame, sequence numbers modulo 8, the
// response timer T1 and the idle supervision T3.
//
// In: received bytes (text phases, then frames: layer2_frame.h), outbound
// client blocks, the expiry of T1 and T3, and WM_CLOSE. Out, through the
// LinkHost: frames for the transport, received blocks for the clients, link
// reports (17 service answered, 1 link up), the line speed the exchange
// announced (serial line only), timer (re)starts and stops, LinkState
// changes and the end of the link (Release). No threads, clocks or I/O: the
// host enters it under its link lock, so one thread at a time.
//
// Client blocks wait in TxQueue (20 blocks, each a private copy) while an
// I-frame is outstanding, the peer is busy or the link is not up; the last
// I-frame sent is kept for retransmission. The service request itself (ESC
// "C" and its repetitions on timer 0x1001) is the host's.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "link/control/layer2_frame.h"
#include "link/control/link_protocol.h"

class SerialLink final : public LinkProtocol {
 public:
  static constexpr size_t kTxQueueCapacity = 20;
  static constexpr uint32_t kT1Ms = 1000;
  static constexpr uint32_t kT3Ms = 10000;
  static constexpr uint16_t kMaxRetries = 3;

  // serialLine false: a USB link (no speed switch after the service answer).
  SerialLink(LinkHost& host, bool serialLine);

  // The text phases until the service answer, then the frames: each
  // complete frame is handled (ProcessFrame) and reported to the host.
  void OnBytes(const uint8_t* bytes, size_t count) override;
  void OnEndOfStream() override;
  // Sent at once when nothing is outstanding, else queued; a block of more
  // than 2038 bytes, a 21st block or one that cannot be copied is refused.
  // An empty block is ignored.
  bool OnClientBlock(uint32_t service, const void* data, uint32_t length) override;
  // kTimerT1 and kTimerT3; other ids are ignored.
  void OnTimer(uintptr_t id) override;
  // LinkState 2, 3 or 4: state 6, TxQueue emptied, DISC with T1 running.
  void OnClose() override;

  uint8_t sendState() const { return vs_; }        // V(S)
  uint8_t receiveState() const { return vr_; }     // V(R)
  uint8_t acknowledged() const { return ackNr_; }  // acknowledged N(R)
  bool peerBusy() const { return peerBusy_; }
  size_t queued() const { return txQueue_.size(); }
  uint16_t retries() const { return retries_; }
  layer2::Layer2FrameParser::Phase parserPhase() const { return parser_.phase(); }

  // For tests: called with the size of every copy of a block (TxQueue and
  // retransmission copy, received I-frame data) before it is made; it may
  // throw std::bad_alloc to stand for memory running short.
  void SetCopyHookForTest(std::function<void(size_t)> hook);

 private:
  struct Block {
    uint8_t service = 0;
    std::vector<uint8_t> data;
  };

  // One call of the receive parser (CheckFrame), with its trace lines.
  bool CheckFrame(const uint8_t* bytes, size_t count);
  void OnServiceAnswer(const std::string& answer);
  void ProcessFrame(const layer2::Frame& frame);
  void ProcessIFrame(const layer2::Frame& frame, uint16_t state);
  void ProcessSFrame(const layer2::Frame& frame, uint16_t state);
  void ProcessUFrame(const layer2::Frame& frame, uint16_t state);

  // SendFrame for each kind of frame, with its log line.
  void SendIFrame(uint8_t service, uint8_t ns, std::span<const uint8_t> data);
  void SendSFrame(uint8_t kind, bool pollFinal, uint8_t address);
  void SendUFrame(uint8_t control);
  void SendBlock(Block block);  // Sending an I-frame
  void Retransmit();
  void Poll();
  void AnswerPoll();
  void SendStart();

  void ResetVariables();
  void EmptyTxQueue();
  void SequenceError();
  // VNL2_LinkInfo kind 1.
  void ReportLinkUp();
  // One more START of the set-up, with T1 for its answer.
  void RepeatStart();
  // The N(R) of a received frame: equal to V(S) or to the acknowledged N(R).
  bool ValidNr(uint8_t nr) const { return nr == vs_ || nr == ackNr_; }
  bool Outstanding() const { return vs_ != ackNr_; }
  void Copy(std::vector<uint8_t>& to, const uint8_t* data, size_t length) const;

  LinkHost& host_;
  const bool serialLine_;
  layer2::Layer2FrameParser parser_;
  layer2::Frame frame_;
  uint8_t vs_ = 0, vr_ = 0, ackNr_ = 0;
  bool peerBusy_ = false;
  bool ackPending_ = false;
  bool rejectSent_ = false;
  bool reportedUp_ = false;  // the clients have been told the link is up
  uint16_t retries_ = 0;  // repetitions of START, DISC, polls and I-frames
  std::optional<Block> retransmission_;
  std::deque<Block> txQueue_;
  std::function<void(size_t)> copyHook_;
};
