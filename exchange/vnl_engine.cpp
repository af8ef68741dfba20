#include "exchange/vnl_engine.h"

#include <algorithm>
#include <cstdio>

#include "exchange/hex_text.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

constexpr uint8_t kResultOk = 0;
constexpr uint8_t kResultRefused = 255;
// Result detail for a LINE_ID the exchange does not have.
constexpr uint8_t kDetailUnknownLine = 0x80;
// Result detail for a protocol version above the exchange's own.
constexpr uint8_t kDetailVersion = 0xC0;
// A refused registration with this detail still counts as registered.
constexpr uint8_t kDetailRegisteredAnyway = 0xB0;

std::string NameOf(uint8_t type) {
  const char* name = vnl::MessageName(type);
  return name ? name : "type-" + std::to_string(type);
}

std::string Head(uint8_t type, uint8_t refId) { return NameOf(type) + " ref=" + std::to_string(refId); }

}  // namespace

VnlEngine::VnlEngine(ExchangeConfig config, EventSink* events)
    : events_(events), config_(std::move(config)), calls_(config_) {}

// ---- blocks in, blocks out -------------------------------------------------

namespace {

// For steps that hold only event lines.
class NoBlocks : public BlockSink {
 public:
  bool SendBlock(std::span<const uint8_t>) override { return false; }
};

}  // namespace

void VnlEngine::OnConnected(BlockSink& out) {
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    started_ = false;
    ResetCallsLocked(steps);
  }
  Run(steps, out);
}

void VnlEngine::OnDisconnected() {
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    started_ = false;
    ResetCallsLocked(steps);
  }
  NoBlocks none;
  Run(steps, none);
}

void VnlEngine::OnBlock(std::span<const uint8_t> block, BlockSink& out) {
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    HandleLocked(block, steps);
  }
  Run(steps, out);
}

void VnlEngine::Run(Steps& steps, BlockSink& out) {
  // Waiters look again after every change (registrations, calls).
  changed_.notify_all();
  for (Step& step : steps) {
    std::string line = std::move(step.event);
    if (step.isBlock && !out.SendBlock(step.block)) {
      line = "vnl-send-failed " + line.substr(line.find(' ') + 1);
    }
    if (events_) events_->Event(line);
  }
}

namespace {

// One confirmation as a step; params start with RESULT. A confirmation too
// long for one message goes out as a plain refusal instead.
void Confirm(uint8_t requestType, uint8_t refId, std::vector<vnl::Param> params, std::vector<uint8_t>& block,
             std::string& event) {
  const uint8_t type = static_cast<uint8_t>(requestType + 1);
  if (vnl::BuildMessage(type, refId, params, block) != vnl::BuildStatus::Ok) {
    params = {vnl::Param::Result(kResultRefused)};
    vnl::BuildMessage(type, refId, params, block);
  }
  const vnl::Param& result = params.front();
  event = "vnl-tx " + Head(type, refId) + " result=" + std::to_string(result.number);
  if (!result.bytes.empty()) event += " details=" + ToHex(result.bytes);
}

// RESULT 0, or RESULT 255 with the refusal's details.
vnl::Param ResultParam(const std::vector<uint8_t>* refusal) {
  return refusal ? vnl::Param::Result(kResultRefused, *refusal) : vnl::Param::Result(kResultOk);
}

}  // namespace

void VnlEngine::HandleLocked(std::span<const uint8_t> block, Steps& steps) {
  std::vector<std::string> reports;
  vnl::Message message;
  vnl::DecodeResult decoded = vnl::DecodeMessage(block, config_.lineList16, message,
                                                 [&reports](std::string_view text) { reports.emplace_back(text); });
  auto event = [&steps](std::string line) { steps.push_back({std::move(line), {}, false}); };
  if (!decoded.headerComplete) {
    event("vnl-undecodable shorter than a message header: " + ToHex(block));
    return;
  }
  ++received_[message.type];
  for (const std::string& text : reports) {
    if (text.rfind("Error:", 0) == 0) {
      event("vnl-undecodable " + text + ": " + ToHex(block));
      return;
    }
  }
  if (decoded.outOfMemory) {
    event("vnl-undecodable out of memory: " + ToHex(block));
    return;
  }
  vnl::Kind kind;
  if (!vnl::MessageName(message.type) || !vnl::MessageKind(message.type, kind)) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02x", message.type);
    event(std::string("vnl-unknown-type ") + code + " ref=" + std::to_string(message.refId));
    return;
  }
  std::string rx = "vnl-rx " + Head(message.type, message.refId);
  if (message.Has(vnl::kLineId)) rx += " line=" + std::to_string(message.lineId);
  event(std::move(rx));
  for (const std::string& text : reports) event("vnl-warning " + NameOf(message.type) + ": " + text);

  switch (kind) {
    case vnl::Kind::Request: HandleRequestLocked(message, steps); break;
    case vnl::Kind::Response: ResponseLocked(message, steps); break;
    case vnl::Kind::Confirmation:
    case vnl::Kind::Indication: event("vnl-unexpected " + Head(message.type, message.refId)); break;
  }
}

bool VnlEngine::IgnoredLocked(uint8_t type) const { return ignoreAll_ || ignored_.count(type) != 0; }

void VnlEngine::HandleRequestLocked(const vnl::Message& request, Steps& steps) {
  if (IgnoredLocked(request.type)) {
    steps.push_back({"vnl-ignored " + Head(request.type, request.refId), {}, false});
    return;
  }
  switch (request.type) {
    case vnl::kStartReq: StartLocked(request, steps); return;
    case vnl::kEndReq: EndLocked(request, steps); return;
    case vnl::kGetAddressListReq: AddressListLocked(request, steps); return;
    case vnl::kRegisterReq: RegisterLocked(request, steps); return;
    case vnl::kUnregisterReq: UnregisterLocked(request, steps); return;
    case vnl::kGetLineInfoReq: LineInfoLocked(request, steps); return;
    case vnl::kCallEstablishReq: CallEstablishLocked(request, steps); return;
    case vnl::kDialReq: DialLocked(request, steps); return;
    case vnl::kDisconnectReq: DisconnectLocked(request, steps); return;
    case vnl::kAnswerCallReq: AnswerCallLocked(request, steps); return;
    default: {
      // A request this exchange does not carry out: refused.
      Step step{{}, {}, true};
      Confirm(request.type, request.refId, {vnl::Param::Result(kResultRefused)}, step.block, step.event);
      steps.push_back(std::move(step));
      return;
    }
  }
}

// ---- the requests ----------------------------------------------------------

void VnlEngine::StartLocked(const vnl::Message& request, Steps& steps) {
  std::vector<uint8_t> details = startRefusal_;
  if (details.empty() && request.linkProtocolVersion > config_.protocolVersion) details.push_back(kDetailVersion);
  const uint8_t result = details.empty() ? kResultOk : kResultRefused;
  // A start begins a new session: registrations and calls of an earlier one
  // are gone.
  started_ = result == kResultOk;
  ResetCallsLocked(steps);

  std::vector<vnl::Param> params{vnl::Param::Result(result, details),
                                 vnl::Param::Byte(vnl::kLinkProtocolVersion, config_.protocolVersion)};
  if (!config_.manufacturer.empty()) params.push_back(vnl::Param::Text(vnl::kManufacturerInfo, config_.manufacturer));
  Step step{{}, {}, true};
  Confirm(request.type, request.refId, std::move(params), step.block, step.event);
  steps.push_back(std::move(step));
}

void VnlEngine::EndLocked(const vnl::Message& request, Steps& steps) {
  started_ = false;
  ResetCallsLocked(steps);
  Step confirmation{{}, {}, true};
  Confirm(request.type, request.refId, {vnl::Param::Result(kResultOk)}, confirmation.block, confirmation.event);
  steps.push_back(std::move(confirmation));
  if (!endIndication_) return;

  vnl::Message indication;
  indication.type = vnl::kEndInd;
  indication.refId = NextRefIdLocked();
  indication.cause = 0;
  indication.Set(vnl::kCause);
  Step step{"vnl-tx " + Head(indication.type, indication.refId) + " cause=0", {}, true};
  vnl::EncodeMessage(indication, config_.lineList16, step.block);
  steps.push_back(std::move(step));
}

void VnlEngine::AddressListLocked(const vnl::Message& request, Steps& steps) {
  std::vector<vnl::Param> params{
      vnl::Param::Result(kResultOk),
      vnl::Param::Octets(config_.lineList16 ? vnl::kLineList16 : vnl::kLineList, LineListValue(config_)),
      vnl::Param::Octets(vnl::kMsnList, MsnListValue(config_))};
  Step step{{}, {}, true};
  Confirm(request.type, request.refId, std::move(params), step.block, step.event);
  steps.push_back(std::move(step));
}

void VnlEngine::RegisterLocked(const vnl::Message& request, Steps& steps) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindLineLocked(request.lineId) : nullptr;
  const std::vector<uint8_t> unknownLine{kDetailUnknownLine};
  const std::vector<uint8_t>* refusal = nullptr;
  if (!registerRefusal_.empty()) {
    refusal = &registerRefusal_;
    const bool anyway = std::find(refusal->begin(), refusal->end(), kDetailRegisteredAnyway) != refusal->end();
    if (anyway && line) SetRegisteredLocked(line->lineId, true, steps);
  } else if (!line) {
    refusal = &unknownLine;
  } else {
    SetRegisteredLocked(line->lineId, true, steps);
  }
  Step step{{}, {}, true};
  Confirm(request.type, request.refId, {ResultParam(refusal)}, step.block, step.event);
  steps.push_back(std::move(step));
}

void VnlEngine::UnregisterLocked(const vnl::Message& request, Steps& steps) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindLineLocked(request.lineId) : nullptr;
  const std::vector<uint8_t> unknownLine{kDetailUnknownLine};
  const std::vector<uint8_t>* refusal = nullptr;
  if (!unregisterRefusal_.empty()) {
    refusal = &unregisterRefusal_;
  } else if (!line) {
    refusal = &unknownLine;
  }
  Step step{{}, {}, true};
  Confirm(request.type, request.refId, {ResultParam(refusal)}, step.block, step.event);
  steps.push_back(std::move(step));
  // The line's calls end after the confirmation; their other sides learn it.
  if (!refusal) SetRegisteredLocked(line->lineId, false, steps);
}

void VnlEngine::LineInfoLocked(const vnl::Message& request, Steps& steps) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindLineLocked(request.lineId) : nullptr;
  std::vector<vnl::Param> params;
  if (!line) {
    params.push_back(vnl::Param::Result(kResultRefused, std::vector<uint8_t>{kDetailUnknownLine}));
  } else {
    // The CALL_IDs of the line's calls, 16 bits each, big-endian.
    std::vector<uint8_t> callIds;
    for (const CallSnapshot& call : calls_.Calls()) {
      if (call.lineId != line->lineId) continue;
      callIds.push_back(static_cast<uint8_t>(call.callId >> 8));
      callIds.push_back(static_cast<uint8_t>(call.callId));
    }
    params = {vnl::Param::Result(kResultOk), vnl::Param::Octets(vnl::kCallId, std::move(callIds)),
              vnl::Param::Byte(vnl::kLineState, line->lineState)};
    if (line->lineState != kForwardNone && !line->forwardDestination.empty()) {
      params.push_back(vnl::Param::Text(vnl::kDestAddress, line->forwardDestination));
    }
  }
  Step step{{}, {}, true};
  Confirm(request.type, request.refId, std::move(params), step.block, step.event);
  steps.push_back(std::move(step));
}

void VnlEngine::LineInfoIndicationLocked(const ExchangeLine& line, Steps& steps) {
  vnl::Message indication;
  indication.type = vnl::kLineInfoInd;
  indication.refId = NextRefIdLocked();
  indication.lineId = line.lineId;
  indication.lineState = line.lineState;
  indication.Set(vnl::kLineId);
  indication.Set(vnl::kLineState);
  if (line.lineState != kForwardNone && !line.forwardDestination.empty()) {
    indication.destAddress = line.forwardDestination;
    indication.Set(vnl::kDestAddress);
  }
  Step step{"vnl-tx " + Head(indication.type, indication.refId) + " line=" + std::to_string(line.lineId) +
                " state=" + ForwardingStateName(line.lineState),
            {},
            true};
  if (vnl::EncodeMessage(indication, config_.lineList16, step.block) != vnl::BuildStatus::Ok) return;
  steps.push_back(std::move(step));
}

void VnlEngine::ResponseLocked(const vnl::Message& response, Steps& steps) {
  // RESULT 0 and 1 are success; anything else is the PC's refusal.
  if (response.result <= 1) return;
  std::string line = "vnl-refused " + Head(response.type, response.refId);
  if (response.result != kResultRefused) line += " result=" + std::to_string(response.result);
  if (!response.resultDetails.empty()) line += " details=" + ToHex(response.resultDetails);
  steps.push_back({std::move(line), {}, false});
}

ExchangeLine* VnlEngine::FindLineLocked(uint16_t lineId) {
  for (ExchangeLine& line : config_.lines) {
    if (line.lineId == lineId) return &line;
  }
  return nullptr;
}

uint8_t VnlEngine::NextRefIdLocked() {
  // 1, 2, ..., 255, 1, ...: never 0.
  refIdCounter_ = static_cast<uint8_t>(refIdCounter_ == 255 ? 1 : refIdCounter_ + 1);
  return refIdCounter_;
}

// ---- settings and state ----------------------------------------------------

void VnlEngine::RefuseStart(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  startRefusal_ = std::move(details);
}

void VnlEngine::SetEndIndication(bool send) {
  std::lock_guard lock(mutex_);
  endIndication_ = send;
}

void VnlEngine::RefuseRegister(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  registerRefusal_ = std::move(details);
}

void VnlEngine::RefuseUnregister(std::vector<uint8_t> details) {
  std::lock_guard lock(mutex_);
  unregisterRefusal_ = std::move(details);
}

void VnlEngine::Ignore(uint8_t requestType, bool ignore) {
  std::lock_guard lock(mutex_);
  if (requestType == kAllRequests) {
    ignoreAll_ = ignore;
    if (!ignore) ignored_.clear();
  } else if (ignore) {
    ignored_.insert(requestType);
  } else {
    ignored_.erase(requestType);
  }
}

bool VnlEngine::SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination, BlockSink& out) {
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    ExchangeLine* line = FindLineLocked(lineId);
    if (!line) return false;
    line->lineState = lineState;
    line->forwardDestination = lineState == kForwardNone ? std::string() : std::move(destination);
    if (registered_.count(lineId)) LineInfoIndicationLocked(*line, steps);
  }
  Run(steps, out);
  return true;
}

size_t VnlEngine::ReceivedCount(uint8_t type) const {
  std::lock_guard lock(mutex_);
  return received_[type];
}

std::vector<uint16_t> VnlEngine::RegisteredLines() const {
  std::lock_guard lock(mutex_);
  return std::vector<uint16_t>(registered_.begin(), registered_.end());
}

bool VnlEngine::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

ExchangeConfig VnlEngine::Config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

}  // namespace exchange
