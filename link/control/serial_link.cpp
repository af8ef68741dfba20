#include "link/control/serial_link.h"

#include <new>
#include <string>
#include <utility>

#include "link/common/link_log.h"
#include "link/control/link_state.h"
#include "link/control/service_answer.h"

using namespace layer2;

namespace {

constexpr uint32_t kAnswerT1Ms = 50;          // first START after the answer
constexpr uint32_t kAnswerT1SerialMs = 200;   // ... after a serial line changed its speed
constexpr uint32_t kServiceAnswered = 17, kLinkUp = 1;  // VNL2_LinkInfo kinds
constexpr uint32_t kDiscDrainMs = 100;        // UA left to go out before the release

const char* SName(uint8_t kind, bool pollFinal) {
  switch (kind) {
    case kRR: return pollFinal ? "S-RR PF" : "S-RR";
    case kRNR: return pollFinal ? "S-RNR PF" : "S-RNR";
    default: return pollFinal ? "S-REJ PF" : "S-REJ";
  }
}

const char* UName(uint8_t control) {
  switch (control) {
    case kSTART: return "U-START";
    case kDISC: return "U-DISC";
    case kUA: return "U-UA";
    case kDM: return "U-DM";
    default: return "U-FRMR";
  }
}

}  // namespace

SerialLink::SerialLink(LinkHost& host, bool serialLine)
    : host_(host),
      serialLine_(serialLine),
      parser_([](uint32_t level, const std::string& line) { LinkLog(level, "%s", line.c_str()); },
              Layer2FrameParser::Phase::kCtiInit) {}

void SerialLink::SetCopyHookForTest(std::function<void(size_t)> hook) {
  copyHook_ = hook;
  parser_.SetCopyHookForTest(std::move(hook));
}

// --- receiving -----------------------------------------------------------

bool SerialLink::CheckFrame(const uint8_t* bytes, size_t count) {
  LinkLog(kLogTrace, "CheckFrame(0x%x,0x%x,%i)", LinkLogPointer(&frame_), LinkLogPointer(bytes),
          static_cast<int>(count));
  LinkLog(kLogTrace, "CheckFrame() FrameBytes %i,State 0x%x", static_cast<int>(parser_.buffered() + count),
          static_cast<unsigned>(parser_.phase()));
  return parser_.Check(frame_, bytes, count);
}

void SerialLink::OnBytes(const uint8_t* bytes, size_t count) {
  bool found = CheckFrame(bytes, count);
  for (;;) {
    while (found) {
      ProcessFrame(frame_);
      host_.FrameHandled();
      // A released link takes no more frames, not even from the same read.
      if (host_.LinkState() == kLinkReleased) return;
      found = CheckFrame(nullptr, 0);
    }
    std::optional<std::string> answer = parser_.TakeServiceAnswer();
    if (!answer) return;
    OnServiceAnswer(*answer);
    found = CheckFrame(nullptr, 0);  // the bytes after the answer are frames
  }
}

void SerialLink::OnEndOfStream() { parser_.Clear(); }

void SerialLink::OnServiceAnswer(const std::string& answer) {
  host_.StopTimer(kTimerServiceRequest);
  host_.ReportLink(kServiceAnswered);
  retries_ = 0;
  host_.SetLinkState(kLinkSetUp);
  AnnouncedSpeed speed = FindAnnouncedSpeed(answer);
  if (speed.found && serialLine_) {
    // The port logs its own failure to change; the link goes on either way.
    host_.SetLineSpeed(speed.text.c_str());
    host_.StartTimer(kTimerT1, kAnswerT1SerialMs);
  } else {
    host_.StartTimer(kTimerT1, kAnswerT1Ms);
  }
  LinkLog(kLogTrace, "Varnet connect: %s Bps", speed.text.c_str());
}

void SerialLink::ProcessFrame(const Frame& frame) {
  LinkLog(kLogDetail, "ProcessFrame()");
  uint16_t state = host_.LinkState();
  switch (frame.frameClass) {
    case FrameClass::kSupervisory: ProcessSFrame(frame, state); break;
    case FrameClass::kUnnumbered: ProcessUFrame(frame, state); break;
    default: ProcessIFrame(frame, state); break;
  }
  if (host_.LinkState() != kLinkInformationTransfer) return;
  if (!Outstanding() && !peerBusy_ && !txQueue_.empty()) {
    Block next = std::move(txQueue_.front());
    txQueue_.pop_front();
    SendBlock(std::move(next));
  }
  if (ackPending_) {
    SendSFrame(kRR, false, 0);
    ackPending_ = false;
  }
}

void SerialLink::ProcessIFrame(const Frame& frame, uint16_t state) {
  if (state == kLinkInformationTransfer || state == kLinkTimerRecovery) {
    if (frame.ns == vr_) {
      ackPending_ = true;
      vr_ = (vr_ + 1) & 7;
      rejectSent_ = false;
      static const uint8_t kNoData = 0;
      // A refused block (queue full, service not open) is lost.
      host_.DeliverBlock(frame.address, frame.data.empty() ? &kNoData : frame.data.data(),
                         static_cast<uint32_t>(frame.data.size()));
    } else if (!rejectSent_) {
      SendSFrame(kREJ, false, 0);
      rejectSent_ = true;
      ackPending_ = true;
    } else {
      AnswerPoll();
    }
  }
  // N(R) counts only on a link that is up. Checked while the link is being
  // set up or taken down, a stale frame would stop T1 as a sequence error
  // and stall the START or DISC repetitions for good.
  if (state != kLinkInformationTransfer && state != kLinkTimerRecovery) return;
  if (frame.nr == vs_) {
    ackNr_ = frame.nr;
    if (!peerBusy_ && host_.LinkState() == kLinkInformationTransfer) {
      host_.StopTimer(kTimerT1);
      host_.StopTimer(kTimerT3);
      host_.StartTimer(kTimerT3, kT3Ms);
    }
  } else if (frame.nr != ackNr_) {
    SequenceError();
  }
}

void SerialLink::ProcessSFrame(const Frame& frame, uint16_t state) {
  if (state != kLinkInformationTransfer && state != kLinkTimerRecovery) return;
  const uint8_t kind = frame.control & ~kPollFinal;
  if (kind == kRR || kind == kREJ) peerBusy_ = false;
  if (kind == kRNR) peerBusy_ = true;
  if ((frame.address & 1) && frame.pollFinal) AnswerPoll();
  if (!ValidNr(frame.nr)) {
    SequenceError();
    return;
  }
  // The final answer to this side's poll: address 0 with the F bit.
  const bool final = frame.address == 0 && frame.pollFinal;
  const bool recovery = state == kLinkTimerRecovery;
  switch (kind) {
    case kRR:
      if (!recovery) {
        if (frame.nr != vs_) return;
        ackNr_ = frame.nr;
        host_.StopTimer(kTimerT1);
        host_.StartTimer(kTimerT3, kT3Ms);
        return;
      }
      ackNr_ = frame.nr;
      if (!final) return;
      host_.StopTimer(kTimerT1);
      host_.StartTimer(kTimerT3, kT3Ms);
      if (Outstanding()) Retransmit();
      host_.SetLinkState(kLinkInformationTransfer);
      return;
    case kRNR:
      ackNr_ = frame.nr;
      if (!recovery) {
        host_.StopTimer(kTimerT3);
        host_.StartTimer(kTimerT1, kT1Ms);
        return;
      }
      if (!final) return;
      host_.StartTimer(kTimerT1, kT1Ms);
      Retransmit();
      host_.SetLinkState(kLinkInformationTransfer);
      return;
    case kREJ:
      ackNr_ = frame.nr;
      if (!final) return;
      host_.StopTimer(kTimerT1);
      host_.StartTimer(kTimerT3, kT3Ms);
      Retransmit();
      host_.SetLinkState(kLinkInformationTransfer);
      return;
    default:
      return;  // an S-frame of no known kind
  }
}

void SerialLink::ProcessUFrame(const Frame& frame, uint16_t state) {
  switch (frame.control) {
    case kUA:
      if (state == kLinkSetUp) {
        ResetVariables();
        host_.StopTimer(kTimerT1);
        host_.StartTimer(kTimerT3, kT3Ms);
        ReportLinkUp();
        host_.SetLinkState(kLinkInformationTransfer);
      } else if (state == kLinkDisconnecting) {
        host_.Release();
      }
      return;
    case kSTART:
      if (state == kLinkDisconnecting) {
        SendUFrame(kDM);
        return;
      }
      SendUFrame(kUA);
      ResetVariables();
      host_.StopTimer(kTimerT1);
      host_.StopTimer(kTimerT3);
      host_.StartTimer(kTimerT3, kT3Ms);
      // An exchange that sets the link up first: the clients learn that it
      // is up, once; a START that restarts a link they know about is silent.
      if (!reportedUp_) ReportLinkUp();
      host_.SetLinkState(kLinkInformationTransfer);
      return;
    case kDISC:
      if (state == kLinkSetUp) {
        SendUFrame(kDM);
        return;
      }
      EmptyTxQueue();
      SendUFrame(kUA);
      host_.StopTimer(kTimerT1);
      host_.StopTimer(kTimerT3);
      host_.Pause(kDiscDrainMs);
      host_.SetLinkState(kLinkDisconnected);
      host_.Release();
      return;
    case kDM:
      if (state == kLinkInformationTransfer || state == kLinkTimerRecovery) {
        SendStart();
        retries_ = 0;
        ResetVariables();
        host_.StartTimer(kTimerT1, kT1Ms);
        host_.StopTimer(kTimerT3);
        host_.SetLinkState(kLinkSetUp);
      } else if (state == kLinkDisconnecting) {
        host_.StopTimer(kTimerT1);
        host_.SetLinkState(kLinkDisconnected);
        host_.Release();
      }
      return;
    default:
      return;  // FRMR and unknown U-frames
  }
}

// --- sending ---------------------------------------------------------------

void SerialLink::SendIFrame(uint8_t service, uint8_t ns, std::span<const uint8_t> data) {
  LinkLog(kLogTrace, "SendFrame I-Frame Dest: %x NSend: %x NRec %x Length %x &Buffer %lx", service, ns, vr_,
          static_cast<unsigned>(data.size()), static_cast<unsigned long>(LinkLogPointer(data.data())));
  std::vector<uint8_t> frame;
  try {
    frame = BuildIFrame(vr_, ns, service, data);
  } catch (const std::bad_alloc&) {
    // Lost like a frame the line dropped: T1 repeats it.
    LinkLog(kLogError, "SendFrame failed - no memory for %u bytes !", static_cast<unsigned>(data.size()));
    return;
  }
  if (!frame.empty()) host_.SendBytes(frame.data(), frame.size());
}

void SerialLink::SendSFrame(uint8_t kind, bool pollFinal, uint8_t address) {
  LinkLog(kLogTrace, "SendFrame %s Dest %x NRec %x", SName(kind, pollFinal), address, vr_);
  std::vector<uint8_t> frame = BuildSFrame(kind, pollFinal, vr_, address);
  host_.SendBytes(frame.data(), frame.size());
}

void SerialLink::SendUFrame(uint8_t control) {
  LinkLog(kLogTrace, "SendFrame %s", UName(control));
  std::vector<uint8_t> frame = BuildUFrame(control, 0);
  host_.SendBytes(frame.data(), frame.size());
}

void SerialLink::SendBlock(Block block) {
  SendIFrame(block.service, vs_, block.data);
  retries_ = 0;
  retransmission_ = std::move(block);
  ackPending_ = false;  // the frame carries the acknowledgement
  vs_ = (vs_ + 1) & 7;
  host_.StopTimer(kTimerT3);
  host_.StartTimer(kTimerT1, kT1Ms);
}

void SerialLink::Retransmit() {
  if (retransmission_) SendIFrame(retransmission_->service, (vs_ - 1) & 7, retransmission_->data);
}

void SerialLink::Poll() {
  SendSFrame(kRR, true, 1);
  host_.StartTimer(kTimerT1, kT1Ms);
  ackPending_ = false;
}

void SerialLink::AnswerPoll() {
  SendSFrame(kRR, true, 0);
  ackPending_ = false;
}

void SerialLink::SendStart() { SendUFrame(kSTART); }

bool SerialLink::OnClientBlock(uint32_t service, const void* data, uint32_t length) {
  if (!data || length == 0) return true;  // nothing to send
  // The frame's limit. Never sent, so V(S) does not move and the link is
  // not set up again for a frame the exchange never saw.
  if (length > kMaxIFrameData) {
    LinkLog(kLogError, "SendFrame failed - block of %u bytes too long !", length);
    return false;
  }
  const bool sendNow = txQueue_.empty() && !Outstanding() && !peerBusy_ &&
                       host_.LinkState() == kLinkInformationTransfer;
  if (!sendNow && txQueue_.size() >= kTxQueueCapacity) {
    LinkLog(kLogError, "TxQueue full - block for service %x refused !", service & 0xFF);
    return false;
  }
  Block block;
  block.service = static_cast<uint8_t>(service);
  try {
    Copy(block.data, static_cast<const uint8_t*>(data), length);
    if (!sendNow) {
      txQueue_.push_back(std::move(block));
      return true;
    }
  } catch (const std::bad_alloc&) {
    LinkLog(kLogError, "TxQueue - no memory for a block of %u bytes, refused !", length);
    return false;
  }
  SendBlock(std::move(block));
  return true;
}

void SerialLink::Copy(std::vector<uint8_t>& to, const uint8_t* data, size_t length) const {
  if (copyHook_) copyHook_(length);
  to.assign(data, data + length);
}

// --- timers and close --------------------------------------------------------

void SerialLink::OnTimer(uintptr_t id) {
  const uint16_t state = host_.LinkState();
  if (id == kTimerT1) {
    switch (state) {
      case kLinkSetUp:
        if (retries_ < kMaxRetries) {
          RepeatStart();
        } else {
          EmptyTxQueue();
          host_.Release();
        }
        return;
      case kLinkInformationTransfer:
      case kLinkTimerRecovery:
        if (retries_ < kMaxRetries) {
          if (Outstanding() && !peerBusy_) {
            Retransmit();
            ackPending_ = false;
            host_.StopTimer(kTimerT3);
            host_.StartTimer(kTimerT1, kT1Ms);
          } else {
            Poll();
          }
          ++retries_;
          host_.SetLinkState(kLinkTimerRecovery);
        } else {
          host_.StartTimer(kTimerT1, kT1Ms);
          SendStart();
          retries_ = 0;
          host_.SetLinkState(kLinkSetUp);
        }
        return;
      case kLinkDisconnecting:
        if (retries_ < kMaxRetries) {
          ++retries_;
          SendUFrame(kDISC);
          host_.StartTimer(kTimerT1, kT1Ms);
        } else {
          EmptyTxQueue();
          host_.Release();
        }
        return;
      default:
        return;
    }
  }
  if (id == kTimerT3) {
    if (state == kLinkSetUp) {
      if (retries_ < kMaxRetries) {
        RepeatStart();
      } else {
        EmptyTxQueue();
      }
    } else if (state == kLinkInformationTransfer) {
      Poll();
      host_.SetLinkState(kLinkTimerRecovery);
      retries_ = 0;
    }
  }
}

void SerialLink::OnClose() {
  const uint16_t state = host_.LinkState();
  if (state != kLinkSetUp && state != kLinkInformationTransfer && state != kLinkTimerRecovery) return;
  host_.SetLinkState(kLinkDisconnecting);
  retries_ = 0;
  EmptyTxQueue();
  host_.StartTimer(kTimerT1, kT1Ms);
  SendUFrame(kDISC);
}

// --- variables -----------------------------------------------------------------

void SerialLink::ResetVariables() {
  vs_ = vr_ = ackNr_ = 0;
  peerBusy_ = false;
}

void SerialLink::EmptyTxQueue() {
  txQueue_.clear();
  retransmission_.reset();
}

void SerialLink::RepeatStart() {
  ++retries_;
  host_.StartTimer(kTimerT1, kT1Ms);
  SendStart();
}

void SerialLink::ReportLinkUp() {
  host_.ReportLink(kLinkUp);
  reportedUp_ = true;
}

void SerialLink::SequenceError() {
  host_.StopTimer(kTimerT1);
  host_.StopTimer(kTimerT3);
  retries_ = 0;
  host_.SetLinkState(kLinkSetUp);
}
