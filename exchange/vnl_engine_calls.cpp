// The VNL engine's calls: the PC's call requests go to the call switch, and
// what the switch hands back becomes indications (under the exchange's own
// RefIDs) and event lines.
#include <cstdio>

#include "exchange/hex_text.h"
#include "exchange/vnl_engine.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

std::string NameOf(uint8_t type) {
  const char* name = vnl::MessageName(type);
  return name ? name : "type-" + std::to_string(type);
}

std::string Head(uint8_t type, uint8_t refId) { return NameOf(type) + " ref=" + std::to_string(refId); }

// The "vnl-tx" line of an indication the switch made.
std::string IndicationEvent(const vnl::Message& message) {
  std::string line = "vnl-tx " + Head(message.type, message.refId);
  if (message.type == vnl::kNewCallInd) line += " line=" + std::to_string(message.lineId);
  line += " call=" + std::to_string(message.callId);
  if (message.type == vnl::kCallInfoInd) {
    line += std::string(" state=") + vnl::CallStateName(message.callState);
    if (message.Has(vnl::kCause)) {
      char cause[8];
      std::snprintf(cause, sizeof cause, "0x%02x", message.cause);
      line += std::string(" cause=") + cause;
    }
  }
  return line;
}

}  // namespace

void VnlEngine::CallEstablishLocked(const vnl::Message& request, Steps& steps) {
  SwitchOutputs outputs;
  SwitchConfirmation confirmation =
      request.Has(vnl::kLineId)
          ? calls_.Establish(request.lineId, request.destAddress, outputs)
          : SwitchConfirmation{255, {kDetailNoSuchLine}, std::nullopt};
  ConfirmCallLocked(request, confirmation, steps);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::DialLocked(const vnl::Message& request, Steps& steps) {
  SwitchOutputs outputs;
  ConfirmCallLocked(request, calls_.Dial(request.callId, request.destAddress, outputs), steps);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::DisconnectLocked(const vnl::Message& request, Steps& steps) {
  SwitchOutputs outputs;
  ConfirmCallLocked(request, calls_.Disconnect(request.callId, outputs), steps);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::AnswerCallLocked(const vnl::Message& request, Steps& steps) {
  SwitchOutputs outputs;
  ConfirmCallLocked(request, calls_.Answer(request.callId, outputs), steps);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::ConfirmCallLocked(const vnl::Message& request, const SwitchConfirmation& confirmation,
                                  Steps& steps) {
  const uint8_t type = static_cast<uint8_t>(request.type + 1);
  std::vector<vnl::Param> params{vnl::Param::Result(confirmation.result, confirmation.details)};
  if (confirmation.callId) params.push_back(vnl::Param::Word(vnl::kCallId, *confirmation.callId));
  Step step{"vnl-tx " + Head(type, request.refId) + " result=" + std::to_string(confirmation.result), {}, true};
  if (!confirmation.details.empty()) step.event += " details=" + ToHex(confirmation.details);
  if (confirmation.callId) step.event += " call=" + std::to_string(*confirmation.callId);
  vnl::BuildMessage(type, request.refId, params, step.block);  // a few bytes: always fits
  steps.push_back(std::move(step));
}

void VnlEngine::SwitchStepsLocked(SwitchOutputs& outputs, Steps& steps) {
  for (SwitchOutput& output : outputs) {
    if (!output.isMessage) {
      steps.push_back({std::move(output.event), {}, false});
      continue;
    }
    output.message.refId = NextRefIdLocked();
    Step step{IndicationEvent(output.message), {}, true};
    if (vnl::EncodeMessage(output.message, config_.lineList16, step.block) != vnl::BuildStatus::Ok) {
      step = {"vnl-send-failed " + IndicationEvent(output.message).substr(7) + " (too long)", {}, false};
    }
    steps.push_back(std::move(step));
  }
  outputs.clear();
}

void VnlEngine::SetRegisteredLocked(uint16_t lineId, bool registered, Steps& steps) {
  if (registered) {
    registered_.insert(lineId);
  } else {
    registered_.erase(lineId);
  }
  SwitchOutputs outputs;
  calls_.SetRegistered(lineId, registered, outputs);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::ResetCallsLocked(Steps& steps) {
  registered_.clear();
  SwitchOutputs outputs;
  calls_.Reset(outputs);
  SwitchStepsLocked(outputs, steps);
}

void VnlEngine::OnTick(uint32_t nowTick, BlockSink& out) {
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    SwitchOutputs outputs;
    calls_.Tick(nowTick, outputs);
    SwitchStepsLocked(outputs, steps);
  }
  if (!steps.empty()) Run(steps, out);
}

std::vector<uint16_t> VnlEngine::StartIncoming(std::string_view target, std::string_view from,
                                               const IncomingOptions& options, BlockSink& out, std::string* error) {
  Steps steps;
  std::vector<uint16_t> ids;
  {
    std::lock_guard lock(mutex_);
    SwitchOutputs outputs;
    ids = calls_.Incoming(target, from, options, outputs, error);
    SwitchStepsLocked(outputs, steps);
  }
  Run(steps, out);
  return ids;
}

std::vector<CallSnapshot> VnlEngine::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_.Calls();
}

bool VnlEngine::WaitRegistered(uint16_t lineId, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return registered_.count(lineId) != 0; });
}

bool VnlEngine::WaitCallState(uint16_t callId, uint8_t state, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  // A call that has ended reaches no other state: no need to wait on.
  changed_.wait_for(lock, timeout, [&] {
    std::optional<uint8_t> now = calls_.StateOf(callId);
    return now == state || now == kCallIdle;
  });
  return calls_.StateOf(callId) == state;
}

}  // namespace exchange
