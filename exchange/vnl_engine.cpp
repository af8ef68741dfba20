#include "exchange/vnl_engine.h"

#include <type_traits>

#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

// For outputs that hold only event lines.
class NoBlocks : public BlockSink {
 public:
  bool SendBlock(std::span<const uint8_t>) override { return false; }
};

}  // namespace

VnlEngine::VnlEngine(ExchangeConfig config, EventSink* events)
    : events_(events), core_(std::move(config), faults_) {}

template <typename Fn>
auto VnlEngine::Locked(BlockSink& out, Fn fn) {
  VnlOutputs outputs;
  std::unique_lock lock(mutex_);
  if constexpr (std::is_void_v<decltype(fn(outputs))>) {
    fn(outputs);
    lock.unlock();
    Run(outputs, out);
  } else {
    auto result = fn(outputs);
    lock.unlock();
    Run(outputs, out);
    return result;
  }
}

void VnlEngine::Run(VnlOutputs& outputs, BlockSink& out) {
  // Waiters look again after every change (registrations, calls).
  changed_.notify_all();
  for (VnlOutput& output : outputs) {
    std::string line = std::move(output.event);
    if (output.isBlock && !out.SendBlock(output.block)) {
      line = "vnl-send-failed " + line.substr(line.find(' ') + 1);
    }
    if (events_) events_->Event(line);
  }
}

// ---- the transport ---------------------------------------------------------

void VnlEngine::OnConnected(BlockSink& out) {
  Locked(out, [this](VnlOutputs& outputs) { core_.Reset(outputs); });
}

void VnlEngine::OnDisconnected() {
  NoBlocks none;
  Locked(none, [this](VnlOutputs& outputs) { core_.Reset(outputs); });
}

void VnlEngine::OnBlock(std::span<const uint8_t> block, BlockSink& out) {
  Locked(out, [this, block](VnlOutputs& outputs) { core_.Block(block, outputs); });
}

bool VnlEngine::RefuseRequest(std::span<const uint8_t> block, BlockSink& out) {
  return Locked(out, [this, block](VnlOutputs& outputs) {
    vnl::Message message;
    const vnl::DecodeResult decoded =
        vnl::DecodeMessage(block, core_.Config().lineList16, message, [](std::string_view) {});
    vnl::Kind kind{};
    if (!decoded.headerComplete || !vnl::MessageKind(message.type, kind) || kind != vnl::Kind::Request ||
        faults_.Ignores(message.type)) {
      return false;
    }
    const bool standing = faults_.refused.count(message.type) != 0;
    if (!standing) faults_.refused[message.type] = {};
    core_.Block(block, outputs);
    if (!standing) faults_.refused.erase(message.type);
    return true;
  });
}

void VnlEngine::OnTick(uint32_t nowTick, BlockSink& out) {
  VnlOutputs outputs;
  {
    std::lock_guard lock(mutex_);
    core_.Tick(nowTick, outputs);
  }
  // Most ticks change nothing: no need to wake the waiters.
  if (!outputs.empty()) Run(outputs, out);
}

// ---- faults ----------------------------------------------------------------

void VnlEngine::RefuseStart(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  faults_.startRefusal = std::move(details);
}

void VnlEngine::SetEndIndication(bool send) {
  std::lock_guard lock(mutex_);
  faults_.endIndication = send;
}

void VnlEngine::RefuseRegister(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  faults_.registerRefusal = std::move(details);
}

void VnlEngine::RefuseUnregister(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  faults_.unregisterRefusal = std::move(details);
}

void VnlEngine::Ignore(uint8_t requestType, bool ignore) {
  std::lock_guard lock(mutex_);
  faults_.SetIgnored(requestType, ignore);
}

void VnlEngine::Refuse(uint8_t requestType, std::optional<std::vector<uint8_t>> details) {
  std::lock_guard lock(mutex_);
  if (details) {
    faults_.refused[requestType] = std::move(*details);
  } else {
    faults_.refused.erase(requestType);
  }
}

// ---- the exchange's side ---------------------------------------------------

bool VnlEngine::SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination, BlockSink& out) {
  return Locked(out, [&](VnlOutputs& outputs) {
    return core_.SetForwarding(lineId, lineState, std::move(destination), outputs);
  });
}

std::vector<uint16_t> VnlEngine::StartIncoming(std::string_view target, std::string_view from,
                                               const IncomingOptions& options, BlockSink& out, std::string* error) {
  return Locked(out, [&](VnlOutputs& outputs) { return core_.Incoming(target, from, options, outputs, error); });
}

bool VnlEngine::FarHangup(uint16_t callId, BlockSink& out, std::string* error) {
  return Locked(out, [&](VnlOutputs& outputs) { return core_.FarHangup(callId, outputs, error); });
}

bool VnlEngine::FarAnswer(uint16_t callId, BlockSink& out, std::string* error) {
  return Locked(out, [&](VnlOutputs& outputs) { return core_.FarAnswer(callId, outputs, error); });
}

bool VnlEngine::Hold(uint16_t callId, BlockSink& out, std::string* error) {
  return Locked(out, [&](VnlOutputs& outputs) { return core_.Hold(callId, outputs, error); });
}

void VnlEngine::SetNoAnswerMs(uint32_t ms) {
  std::lock_guard lock(mutex_);
  core_.SetNoAnswerMs(ms);
}

void VnlEngine::SetPartyRule(std::string number, PartyRule rule) {
  std::lock_guard lock(mutex_);
  core_.SetPartyRule(std::move(number), std::move(rule));
}

void VnlEngine::SetClearMs(uint32_t ms) {
  std::lock_guard lock(mutex_);
  core_.SetClearMs(ms);
}

// ---- state -----------------------------------------------------------------

bool VnlEngine::ParkedHangup(uint16_t parkAddress, BlockSink& out, std::string* error) {
  return Locked(out, [&](VnlOutputs& outputs) { return core_.ParkedHangup(parkAddress, outputs, error); });
}

std::vector<std::string> VnlEngine::CallOverview(bool parkedOnly) const {
  std::lock_guard lock(mutex_);
  return core_.CallOverview(parkedOnly);
}

std::vector<CallSnapshot> VnlEngine::Calls() const {
  std::lock_guard lock(mutex_);
  return core_.Calls();
}

std::optional<uint8_t> VnlEngine::CallState(uint16_t callId) const {
  std::lock_guard lock(mutex_);
  return core_.StateOf(callId);
}

std::optional<uint16_t> VnlEngine::FindLine(std::string_view idOrAddress) const {
  std::lock_guard lock(mutex_);
  return core_.FindLine(idOrAddress);
}

bool VnlEngine::WaitRegistered(uint16_t lineId, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return core_.RegisteredLines().count(lineId) != 0; });
}

bool VnlEngine::WaitCallState(uint16_t callId, uint8_t state, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  // A call that has ended reaches no other state: no need to wait on.
  changed_.wait_for(lock, timeout, [&] {
    std::optional<uint8_t> now = core_.StateOf(callId);
    return now == state || now == kCallIdle;
  });
  return core_.StateOf(callId) == state;
}

size_t VnlEngine::ReceivedCount(uint8_t type) const {
  std::lock_guard lock(mutex_);
  return core_.ReceivedCount(type);
}

std::vector<uint16_t> VnlEngine::RegisteredLines() const {
  std::lock_guard lock(mutex_);
  return std::vector<uint16_t>(core_.RegisteredLines().begin(), core_.RegisteredLines().end());
}

bool VnlEngine::Started() const {
  std::lock_guard lock(mutex_);
  return core_.Started();
}

ExchangeConfig VnlEngine::Config() const {
  std::lock_guard lock(mutex_);
  return core_.Config();
}

VnlEngine::Status VnlEngine::GetStatus() const {
  std::lock_guard lock(mutex_);
  Status status;
  status.started = core_.Started();
  status.registered.assign(core_.RegisteredLines().begin(), core_.RegisteredLines().end());
  status.received = core_.ReceivedCounts();
  status.lineList16 = core_.Config().lineList16;
  status.endIndication = faults_.endIndication;
  return status;
}

}  // namespace exchange
