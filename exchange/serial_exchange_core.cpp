#include "exchange/serial_exchange_core.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace exchange {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kServiceLetter = 0x43;  // 'C'
constexpr uint8_t kCommandAddress = 0x01;  // address bit 0: a command

bool Reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

// Marks the core busy with input for the duration of a call, so that blocks
// handed in from inside the owner's callbacks are queued, not written in
// the middle of handling a frame. True for the outermost call only.
class BusyScope {
 public:
  explicit BusyScope(bool& flag) : flag_(flag), outer_(!flag) { flag_ = true; }
  ~BusyScope() { flag_ = !outer_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  bool Outer() const { return outer_; }

 private:
  bool& flag_;
  bool outer_;
};

}  // namespace

std::string_view SerialExchangeCore::EventHelp() {
  return "service-request          ESC C seen; link state reset, answer sent\n"
         "service-request-ignored  ESC C seen while answering is off\n"
         "link-up                  START answered with UA, or UA for our START\n"
         "link-reset               START (or UA for our START) while the link was up\n"
         "link-reset retries       our I-frame unanswered 3 times: START sent, session kept\n"
         "link-down <why>          disc, dm, service-request, retries, local-disc\n"
         "link-setup-failed        START sent after the retries, repeated 3 times, not answered\n"
         "frame-bad <why>          crc, header-crc, data-crc, length, stale (frame dropped)\n"
         "frame-ignored <frame>    a frame that has no meaning in the current state\n"
         "rej-sent <nr>            an I-frame out of sequence, REJ sent\n"
         "retransmit <ns>          our unacknowledged I-frame sent again (T1 or REJ)\n"
         "poll-answered <nr>       RR with P answered by RR with F\n"
         "peer-busy / peer-ready   RNR received / RR or REJ after RNR\n"
         "frame-dropped            fault: a frame was not sent\n"
         "frame-corrupted <byte>   fault: a byte of a sent frame was inverted\n"
         "frame-in / frame-out <frame>  with the frame trace on: every frame, as\n"
         "                         \"I 2/5\", \"S-RR PF 3\", \"U-START\"\n";
}

SerialExchangeCore::SerialExchangeCore(std::string speedText) : speedText_(std::move(speedText)) {}

bool SerialExchangeCore::LinkUp() const { return up_; }

void SerialExchangeCore::OnBytes(std::span<const uint8_t> bytes, uint32_t nowTick,
                                 SerialLineOutput& out) {
  BusyScope busy(inFrame_);
  if (!bytes.empty()) lastBytesTick_ = nowTick;
  do {
    const size_t taken = parser_.Append(bytes);
    bytes = bytes.subspan(taken);
    while (auto item = parser_.Next()) HandleItem(*item, nowTick, out);
  } while (!bytes.empty());
  if (busy.Outer()) SendNextBlock(nowTick, out);
}

void SerialExchangeCore::OnTick(uint32_t nowTick, SerialLineOutput& out) {
  BusyScope busy(inFrame_);
  if (parser_.Buffered() > 0 && Reached(nowTick, lastBytesTick_ + kStaleFrameMs)) {
    out.Event("frame-bad stale");
    // Everything still buffered is searched again, byte by byte if need be.
    while (parser_.Buffered() > 0) {
      parser_.Abandon();
      while (auto item = parser_.Next()) HandleItem(*item, nowTick, out);
    }
  }
  if (t1Due_ && Reached(nowTick, *t1Due_)) {
    if (startSent_) {
      RepeatStart(nowTick, out);
    } else if (retransmits_ >= kMaxRetransmits) {
      // The link is set up again with START, as the control process does
      // after its own repetitions run out; the session above it goes on,
      // since the control process does not report such a re-setup to its
      // clients. The unacknowledged block goes out again afterwards (a
      // control process that stopped answering after a sequence error
      // waits, without timers, for the exchange to set the link up again).
      out.Event("link-reset retries");
      if (outstanding_) queue_.push_front(std::move(*outstanding_));
      ResetVariables();
      SendStart(nowTick, out);
    } else {
      ++retransmits_;
      Retransmit(nowTick, out);
    }
  }
  if (busy.Outer()) SendNextBlock(nowTick, out);
}

bool SerialExchangeCore::SendBlock(std::span<const uint8_t> block, uint32_t nowTick,
                                   SerialLineOutput& out) {
  if (!up_ || block.size() > serial::kMaxData || queue_.size() >= kMaxQueued) return false;
  queue_.emplace_back(block.begin(), block.end());
  if (!inFrame_) SendNextBlock(nowTick, out);
  return true;
}

void SerialExchangeCore::HandleItem(const serial::ParsedItem& item, uint32_t now,
                                    SerialLineOutput& out) {
  using Kind = serial::ParsedItem::Kind;
  if (item.kind == Kind::kSkipped) {
    HandleSkipped(item.bytes, out);
    return;
  }
  escPending_ = false;
  if (item.kind == Kind::kBad) {
    out.Event("frame-bad " + std::string(item.why));
    return;
  }
  if (frameTrace_) out.Event("frame-in " + serial::FrameName(item.frame));
  switch (item.frame.kind) {
    case serial::SerialFrame::Kind::kI: HandleIFrame(item.frame, now, out); break;
    case serial::SerialFrame::Kind::kS: HandleSFrame(item.frame, now, out); break;
    case serial::SerialFrame::Kind::kU: HandleUFrame(item.frame, out); break;
  }
}

void SerialExchangeCore::HandleSkipped(std::span<const uint8_t> bytes, SerialLineOutput& out) {
  for (uint8_t b : bytes) {
    const bool request = escPending_ && b == kServiceLetter;
    escPending_ = b == kEsc;
    if (!request) continue;
    if (!answering_) {
      out.Event("service-request-ignored");
      continue;
    }
    out.Event("service-request");
    if (up_) {
      LinkDown("service-request", out);
    } else {
      ResetVariables();
      queue_.clear();
      startSent_ = false;
    }
    if (silent_) continue;
    const std::string answer = "\r\nCTI TKSIM " + speedText_ + "\r";
    out.Write(std::vector<uint8_t>(answer.begin(), answer.end()));
  }
}

void SerialExchangeCore::HandleIFrame(const serial::SerialFrame& frame, uint32_t now,
                                      SerialLineOutput& out) {
  if (!up_) {
    // The peer believes in a link this side no longer has: DM makes it set
    // the link up again.
    out.Event("frame-ignored " + serial::FrameName(frame));
    Emit(serial::BuildUFrame(serial::kDM), out);
    return;
  }
  Acknowledged(frame.Nr());
  if (frame.Ns() != vr_) {
    if (!rejectSent_) {
      rejectSent_ = true;
      SendS(serial::kREJ, false, 0, out);
      out.Event("rej-sent " + std::to_string(vr_));
    } else {
      SendS(serial::kRR, true, 0, out);
    }
    return;
  }
  vr_ = (vr_ + 1) & 7;
  rejectSent_ = false;
  out.Block(frame.data);
  // An answer queued inside Block goes out now and carries the acknowledgement.
  if (!SendNextBlock(now, out)) SendS(serial::kRR, false, 0, out);
}

void SerialExchangeCore::HandleSFrame(const serial::SerialFrame& frame, uint32_t now,
                                      SerialLineOutput& out) {
  const bool poll = (frame.address & kCommandAddress) != 0 && frame.PollFinal();
  const uint8_t kind = frame.SKind();
  if (!up_ || (kind != serial::kRR && kind != serial::kRNR && kind != serial::kREJ)) {
    out.Event("frame-ignored " + serial::FrameName(frame));
    if (!up_ && poll) Emit(serial::BuildUFrame(serial::kDM), out);
    return;
  }
  const bool busy = kind == serial::kRNR;
  if (busy != peerBusy_) out.Event(busy ? "peer-busy" : "peer-ready");
  peerBusy_ = busy;
  Acknowledged(frame.Nr());
  if (poll) {
    SendS(serial::kRR, true, 0, out);
    out.Event("poll-answered " + std::to_string(vr_));
  }
  if (kind == serial::kREJ && outstanding_) Retransmit(now, out);
}

void SerialExchangeCore::HandleUFrame(const serial::SerialFrame& frame, SerialLineOutput& out) {
  switch (frame.control) {
    case serial::kSTART:
      Emit(serial::BuildUFrame(serial::kUA), out);
      startSent_ = false;
      ResetVariables();
      LinkUpNow(out);
      return;
    case serial::kUA:
      if (!startSent_) break;
      startSent_ = false;
      ResetVariables();
      LinkUpNow(out);
      return;
    case serial::kDISC:
      if (up_) {
        Emit(serial::BuildUFrame(serial::kUA), out);
        LinkDown("disc", out);
      } else {
        Emit(serial::BuildUFrame(serial::kDM), out);
      }
      return;
    case serial::kDM:
      if (!up_) break;
      LinkDown("dm", out);
      return;
    default:
      break;
  }
  out.Event("frame-ignored " + serial::FrameName(frame));
}

void SerialExchangeCore::Acknowledged(uint8_t nr) {
  // Window 1: only N(R) = V(S) acknowledges anything; the previous value
  // acknowledges nothing new, and no other value can be right.
  if (!outstanding_ || nr != vs_) return;
  outstanding_.reset();
  t1Due_.reset();
  retransmits_ = 0;
}

bool SerialExchangeCore::SendNextBlock(uint32_t now, SerialLineOutput& out) {
  if (!up_ || startSent_ || outstanding_ || peerBusy_ || queue_.empty()) return false;
  std::vector<uint8_t> data = std::move(queue_.front());
  queue_.pop_front();
  lastIFrame_ = serial::BuildIFrame(vs_, vr_, serial::kServiceAddress, data);
  vs_ = (vs_ + 1) & 7;
  outstanding_ = std::move(data);
  retransmits_ = 0;
  t1Due_ = now + kT1Ms;
  Emit(lastIFrame_, out);
  return true;
}

void SerialExchangeCore::Retransmit(uint32_t now, SerialLineOutput& out) {
  const uint8_t ns = (vs_ + 7) & 7;
  lastIFrame_ = serial::BuildIFrame(ns, vr_, serial::kServiceAddress, *outstanding_);
  t1Due_ = now + kT1Ms;
  out.Event("retransmit " + std::to_string(ns));
  Emit(lastIFrame_, out);
}

void SerialExchangeCore::SendS(uint8_t kind, bool pollFinal, uint8_t address,
                               SerialLineOutput& out) {
  Emit(serial::BuildSFrame(kind, pollFinal, vr_, address), out);
}

void SerialExchangeCore::Emit(std::vector<uint8_t> frame, SerialLineOutput& out) {
  if (silent_) return;
  if (frameTrace_) {
    // Our own frames parse back to their short name.
    serial::SerialFrameParser parser;
    parser.Append(frame);
    if (auto item = parser.Next(); item && item->kind == serial::ParsedItem::Kind::kFrame) {
      out.Event("frame-out " + serial::FrameName(item->frame));
    }
  }
  if (dropNext_) {
    dropNext_ = false;
    out.Event("frame-dropped");
    return;
  }
  if (corruptByte_) {
    const size_t index = std::min(*corruptByte_, frame.size() - 1);
    frame[index] ^= 0xFF;
    corruptByte_.reset();
    out.Event("frame-corrupted " + std::to_string(index));
  }
  out.Write(std::move(frame));
}

void SerialExchangeCore::ResetVariables() {
  vs_ = 0;
  vr_ = 0;
  peerBusy_ = false;
  rejectSent_ = false;
  outstanding_.reset();
  t1Due_.reset();
  retransmits_ = 0;
}

void SerialExchangeCore::LinkUpNow(SerialLineOutput& out) {
  if (up_) {
    out.Event("link-reset");
    return;
  }
  up_ = true;
  out.Event("link-up");
  out.LinkChanged(true);
}

void SerialExchangeCore::SendStart(uint32_t now, SerialLineOutput& out) {
  Emit(serial::BuildUFrame(serial::kSTART), out);
  startSent_ = true;
  startRepeats_ = 0;
  t1Due_ = now + kT1Ms;
}

void SerialExchangeCore::RepeatStart(uint32_t now, SerialLineOutput& out) {
  if (startRepeats_ >= kMaxRetransmits) {
    // Nobody answers: the link is lost (when it was up) and stays down
    // until a START or a service request comes from the other side.
    startSent_ = false;
    t1Due_.reset();
    out.Event("link-setup-failed");
    LinkDown("retries", out);
    return;
  }
  ++startRepeats_;
  Emit(serial::BuildUFrame(serial::kSTART), out);
  t1Due_ = now + kT1Ms;
}

void SerialExchangeCore::LinkDown(std::string_view why, SerialLineOutput& out) {
  const bool was = up_;
  up_ = false;
  startSent_ = false;
  ResetVariables();
  queue_.clear();
  if (!was) return;
  out.Event("link-down " + std::string(why));
  out.LinkChanged(false);
}

void SerialExchangeCore::CorruptNextFrame(size_t byteIndex) { corruptByte_ = byteIndex; }
void SerialExchangeCore::DropNextFrame() { dropNext_ = true; }
void SerialExchangeCore::SetSilent(bool silent) { silent_ = silent; }
void SerialExchangeCore::SetAnsweringServiceRequest(bool on) { answering_ = on; }

bool SerialExchangeCore::RepeatLastIFrame(SerialLineOutput& out) {
  if (lastIFrame_.empty()) return false;
  Emit(lastIFrame_, out);
  return true;
}

bool SerialExchangeCore::SendControlFrame(std::string_view name, SerialLineOutput& out) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "rr" || lower == "rnr" || lower == "rej") {
    SendS(lower == "rr" ? serial::kRR : lower == "rnr" ? serial::kRNR : serial::kREJ, false, 0,
          out);
    return true;
  }
  if (lower == "start") {
    Emit(serial::BuildUFrame(serial::kSTART), out);
    startSent_ = true;
    return true;
  }
  if (lower == "disc") {
    Emit(serial::BuildUFrame(serial::kDISC), out);
    LinkDown("local-disc", out);
    return true;
  }
  if (lower == "ua" || lower == "dm") {
    Emit(serial::BuildUFrame(lower == "ua" ? serial::kUA : serial::kDM), out);
    return true;
  }
  return false;
}

}  // namespace exchange
