#include "exchange/lan_exchange.h"

#include <algorithm>

#include "exchange/hex_text.h"
#include "exchange/tagged_frame.h"

namespace exchange {
namespace {

// The longest the network thread sleeps between looks at the listener,
// the keep-alive schedule and a held merge.
constexpr uint32_t kPollMs = 20;
constexpr size_t kReceiveChunk = 4096;
// Connections refused per loop round; more wait for the next round.
constexpr int kMaxRefusalsPerRound = 8;
constexpr auto kDropWait = std::chrono::milliseconds(3000);
constexpr auto kStopWaitMs = 5000u;

}  // namespace

LanExchange::LanExchange(ProtocolEngine& engine, EventSink& events, const platform::Clock& clock)
    : engine_(engine), events_(events), clock_(clock), keepalive_(clock, kDefaultKeepaliveMs) {}

LanExchange::~LanExchange() { Stop(); }

bool LanExchange::Listen(const std::string& address, uint16_t port, bool allowNonLoopback, std::string* error) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (!platform::isIpv4Address(address)) return fail("'" + address + "' is not a dotted IPv4 address");
  if (!allowNonLoopback && !platform::isLoopbackIpv4(address)) {
    return fail("refusing to listen on " + address +
                ": not a loopback address (127.0.0.0/8); --allow-non-loopback permits it");
  }
  int code = 0;
  platform::TcpListener listener = platform::TcpListener::listen(address, port, &code);
  if (!listener.valid()) {
    return fail("cannot listen on " + address + ":" + std::to_string(port) + ": " + platform::socketErrorText(code));
  }
  listener_ = std::move(listener);
  address_ = address;
  events_.Event("listening " + address_ + ":" + std::to_string(listener_.port()));
  return true;
}

uint16_t LanExchange::Port() const { return listener_.port(); }

bool LanExchange::Start() {
  if (!listener_.valid() || thread_.running()) return false;
  stopping_ = false;
  return thread_.start([this] { Run(); }, "tksim-lan");
}

void LanExchange::Stop() {
  stopping_ = true;
  thread_.join(kStopWaitMs);
}

void LanExchange::SetKeepalivePeriod(uint32_t periodMs) {
  std::lock_guard lock(keepaliveMutex_);
  keepalive_.SetPeriod(periodMs);
}

uint32_t LanExchange::KeepalivePeriod() const {
  std::lock_guard lock(keepaliveMutex_);
  return keepalive_.Period();
}

void LanExchange::SplitNext(unsigned parts, uint32_t pauseMs) {
  std::lock_guard lock(sendMutex_);
  shaper_.SplitNext(parts, pauseMs);
}

void LanExchange::SplitNextAt(std::vector<size_t> offsets, uint32_t pauseMs) {
  std::lock_guard lock(sendMutex_);
  shaper_.SplitNextAt(std::move(offsets), pauseMs);
}

void LanExchange::MergeNext(uint32_t holdMs) {
  std::lock_guard lock(sendMutex_);
  shaper_.MergeNext(holdMs);
}

void LanExchange::SetFaults(FaultInjector* faults, RequestRefuser* refuser) {
  faults_ = faults && faults->Enabled() ? faults : nullptr;
  refuser_ = refuser;
}

bool LanExchange::Connected() const {
  std::lock_guard lock(stateMutex_);
  return connected_;
}

void LanExchange::SetConnected(bool connected) {
  {
    std::lock_guard lock(stateMutex_);
    connected_ = connected;
  }
  stateChanged_.notify_all();
}

bool LanExchange::WaitConnected(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stateMutex_);
  return stateChanged_.wait_for(lock, timeout, [this] { return connected_; });
}

bool LanExchange::WaitDisconnected(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stateMutex_);
  return stateChanged_.wait_for(lock, timeout, [this] { return !connected_; });
}

std::optional<std::vector<uint8_t>> LanExchange::WaitBlock(std::span<const uint8_t> prefix,
                                                           std::chrono::milliseconds timeout) {
  return received_.WaitFor(prefix, timeout);
}

LanExchange::Status LanExchange::GetStatus() const {
  Status status;
  status.connected = Connected();
  status.answering = answering_;
  status.dropOnMissed = dropOnMissed_;
  status.keepaliveMs = KeepalivePeriod();
  status.connections = connections_;
  status.blocksReceived = blocksReceived_;
  status.framesSent = framesSent_;
  status.keepalivesMissed = keepalivesMissed_;
  std::lock_guard lock(engineMutex_);
  status.engine = std::string(engine_.Name());
  return status;
}

std::string LanExchange::StatusText() const {
  Status s = GetStatus();
  auto yesNo = [](bool b) { return b ? "yes" : "no"; };
  return std::string("connected=") + yesNo(s.connected) + " engine=" + s.engine + " answering=" + yesNo(s.answering) +
         " keepalive-ms=" + std::to_string(s.keepaliveMs) + " drop-on-missed=" + yesNo(s.dropOnMissed) +
         " connections=" + std::to_string(s.connections) + " blocks-received=" + std::to_string(s.blocksReceived) +
         " frames-sent=" + std::to_string(s.framesSent) + " keepalive-missed=" + std::to_string(s.keepalivesMissed) +
         " listening=" + Address() + ":" + std::to_string(Port()) +
         (faults_ ? " " + faults_->CountsText() : std::string());
}

std::optional<ProtocolEngine::CommandResult> LanExchange::EngineCommand(std::string_view verb,
                                                                        std::string_view args) {
  // A waiting command must not hold the engine: the blocks it waits for go
  // through the engine.
  if (auto result = engine_.OnWaitCommand(verb, args)) return result;
  std::lock_guard lock(engineMutex_);
  return engine_.OnCommand(verb, args, sink_);
}

std::string LanExchange::EngineHelp() const {
  std::lock_guard lock(engineMutex_);
  return engine_.CommandHelp();
}

// --- sending ---

bool LanExchange::WriteLocked(const std::vector<Segment>& segments) {
  for (const Segment& segment : segments) {
    if (segment.pauseBeforeMs > 0) platform::sleepMs(segment.pauseBeforeMs);
    int code = 0;
    if (connection_.send(segment.bytes.data(), segment.bytes.size(), &code) < 0) {
      events_.Event("send-failed " + platform::socketErrorText(code));
      return false;
    }
  }
  return true;
}

bool LanExchange::SendShaped(std::vector<uint8_t> unit) {
  std::lock_guard lock(sendMutex_);
  if (!connection_.valid()) return false;
  if (faults_) {
    // A frame lost on the way counts as sent: the exchange does not know.
    const uint32_t now = clock_.tickCount();
    if (faults_->Silent(now)) return true;
    // A corruption hits the tag: the peer sees a frame it does not know.
    if (auto fault = faults_->OnOutgoing(now, 1)) {
      if (fault->kind != FaultKind::Corrupt) return true;
      FaultInjector::Apply(*fault, unit);
    }
  }
  ++framesSent_;
  return WriteLocked(shaper_.Shape(std::move(unit), clock_.tickCount()));
}

size_t LanExchange::MaxBlockSize() const { return kMaxFrameData; }

bool LanExchange::SendBlock(std::span<const uint8_t> block) { return SendTaggedFrame(kDataTag, block); }

bool LanExchange::SendTaggedFrame(uint8_t tag, std::span<const uint8_t> data) {
  auto frame = EncodeFrame(data, tag);
  if (!frame) return false;
  return SendShaped(std::move(*frame));
}

bool LanExchange::SendRaw(std::span<const uint8_t> bytes) {
  std::lock_guard lock(sendMutex_);
  if (!connection_.valid()) return false;
  return WriteLocked({Segment{std::vector<uint8_t>(bytes.begin(), bytes.end()), 0}});
}

bool LanExchange::Drop() {
  {
    std::lock_guard lock(sendMutex_);
    if (!connection_.valid()) return false;
    // The network thread sees the end of the stream and closes.
    connection_.shutdownBoth();
  }
  return WaitDisconnected(kDropWait);
}

// --- the network thread ---

void LanExchange::Run() {
  std::vector<uint8_t> buffer(kReceiveChunk);
  while (!stopping_) {
    if (!Connected()) {
      AcceptConnection(kPollMs);
      continue;
    }
    uint32_t waitMs;
    {
      std::lock_guard lock(keepaliveMutex_);
      waitMs = std::min(kPollMs, keepalive_.MillisecondsUntilDue());
    }
    if (connection_.waitReadable(waitMs)) {
      int code = 0;
      long n = connection_.receive(buffer.data(), buffer.size(), &code);
      if (n < 0) events_.Event("receive-error " + platform::socketErrorText(code));
      if (n <= 0) {
        CloseConnection();
        continue;
      }
      HandleBytes(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
    }
    if (!Connected()) continue;
    RefuseExtraConnections();
    ServiceKeepalive();
    if (!Connected()) continue;
    ServiceMergeHold();
    std::lock_guard lock(engineMutex_);
    engine_.OnTick(clock_.tickCount(), sink_);
  }
  if (Connected()) CloseConnection();
}

void LanExchange::AcceptConnection(uint32_t timeoutMs) {
  platform::TcpSocket socket = listener_.accept(timeoutMs);
  if (!socket.valid()) return;
  {
    std::lock_guard lock(sendMutex_);
    connection_ = std::move(socket);
  }
  reassembler_.Reset();
  received_.Clear();
  {
    std::lock_guard lock(keepaliveMutex_);
    keepalive_.Start();
  }
  ++connections_;
  events_.Event("connected");
  SetConnected(true);
  std::lock_guard lock(engineMutex_);
  engine_.OnConnected(sink_);
}

void LanExchange::RefuseExtraConnections() {
  for (int i = 0; i < kMaxRefusalsPerRound; ++i) {
    platform::TcpSocket extra = listener_.accept(0);
    if (!extra.valid()) return;
    extra.close();
    events_.Event("refused-second-connection");
  }
}

void LanExchange::CloseConnection() {
  {
    std::lock_guard lock(sendMutex_);
    connection_.shutdownBoth();
    connection_.close();
    shaper_.DropHeld();
  }
  reassembler_.Reset();
  {
    std::lock_guard lock(keepaliveMutex_);
    keepalive_.Stop();
  }
  {
    std::lock_guard lock(engineMutex_);
    engine_.OnDisconnected();
  }
  events_.Event("disconnected");
  SetConnected(false);
}

void LanExchange::HandleBytes(std::span<const uint8_t> bytes) {
  reassembler_.Append(bytes);
  while (auto frame = reassembler_.Next()) HandleFrame(std::move(*frame));
}

void LanExchange::HandleFrame(ReassembledFrame frame) {
  if (frame.kind == ReassembledFrame::Kind::UnknownTag) {
    events_.Event("unknown-tag " + ToHex(std::span<const uint8_t>(&frame.tag, 1)) + " discarded " +
                  std::to_string(frame.discarded));
    return;
  }
  if (frame.data.empty()) {
    events_.Event("empty-frame");
    return;
  }
  if (IsKeepAlive(frame.data)) {
    KeepaliveMonitor::EchoVerdict verdict;
    {
      std::lock_guard lock(keepaliveMutex_);
      verdict = keepalive_.OnEcho(frame.data);
    }
    switch (verdict) {
      case KeepaliveMonitor::EchoVerdict::Matched:
        events_.Event("keepalive-echo ok");
        break;
      case KeepaliveMonitor::EchoVerdict::Mismatched:
        events_.Event("keepalive-mismatch " + ToHex(frame.data));
        break;
      case KeepaliveMonitor::EchoVerdict::Unexpected:
        events_.Event("keepalive-unexpected " + ToHex(frame.data));
        break;
    }
    return;
  }
  // Decided before the block is published: a scenario waiting for it may
  // switch answering on again at once, and that must not apply to this block.
  const bool answer = answering_;
  ++blocksReceived_;
  events_.Event("block " + ToHex(frame.data));
  received_.Push(frame.data);
  if (!answer) return;
  if (faults_) {
    constexpr FaultKinds kPossible = FaultBit(FaultKind::Disconnect) | FaultBit(FaultKind::Refuse);
    if (auto fault = faults_->OnIncoming(clock_.tickCount(), kPossible)) {
      if (fault->kind == FaultKind::Disconnect) {
        CloseConnection();
        return;
      }
      std::lock_guard lock(engineMutex_);
      if (refuser_ && refuser_->RefuseRequest(frame.data, sink_)) return;
      engine_.OnBlock(frame.data, sink_);
      return;
    }
  }
  std::lock_guard lock(engineMutex_);
  engine_.OnBlock(frame.data, sink_);
}

void LanExchange::ServiceKeepalive() {
  KeepaliveMonitor::Due due;
  {
    std::lock_guard lock(keepaliveMutex_);
    due = keepalive_.Poll();
  }
  if (due.missed) {
    ++keepalivesMissed_;
    events_.Event("keepalive-missed " + ToHex(*due.missed));
    if (dropOnMissed_) {
      events_.Event("keepalive-drop");
      CloseConnection();
      return;
    }
  }
  if (due.send) {
    if (faults_ && faults_->Silent(clock_.tickCount())) return;
    auto frame = EncodeFrame(*due.send);
    std::lock_guard lock(sendMutex_);
    if (!connection_.valid()) return;
    events_.Event("keepalive-sent " + ToHex(*due.send));
    ++framesSent_;
    WriteLocked({Segment{std::move(*frame), 0}});
  }
}

void LanExchange::ServiceMergeHold() {
  std::lock_guard lock(sendMutex_);
  std::vector<Segment> segments = shaper_.Expire(clock_.tickCount());
  if (segments.empty()) return;
  events_.Event("merge-timeout");
  WriteLocked(segments);
}

}  // namespace exchange
