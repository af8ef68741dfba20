#include "exchange/vnl_engine_core.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "exchange/hex_text.h"
#include "provider/vnl/codec/vnl_decoder.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchange {
namespace {

constexpr uint8_t kResultOk = 0;
constexpr uint8_t kResultRefused = 255;
// Result detail for a protocol version above the exchange's own.
constexpr uint8_t kDetailVersion = 0xC0;
// A refused registration with this detail still counts as registered.
constexpr uint8_t kDetailRegisteredAnyway = 0xB0;

std::string NameOf(uint8_t type) {
  const char* name = vnl::MessageName(type);
  return name ? name : "type-" + std::to_string(type);
}

std::string Head(uint8_t type, uint8_t refId) { return NameOf(type) + " ref=" + std::to_string(refId); }

void Event(VnlOutputs& out, std::string line) { out.push_back({std::move(line), {}, false}); }

// One confirmation; params start with RESULT. A confirmation too long for
// one message goes out as a plain refusal instead.
void Confirm(uint8_t requestType, uint8_t refId, std::vector<vnl::Param> params, VnlOutputs& out) {
  const uint8_t type = static_cast<uint8_t>(requestType + 1);
  VnlOutput output{{}, {}, true};
  if (vnl::BuildMessage(type, refId, params, output.block) != vnl::BuildStatus::Ok) {
    params = {vnl::Param::Result(kResultRefused)};
    vnl::BuildMessage(type, refId, params, output.block);
  }
  const vnl::Param& result = params.front();
  output.event = "vnl-tx " + Head(type, refId) + " result=" + std::to_string(result.number);
  if (!result.bytes.empty()) output.event += " details=" + ToHex(result.bytes);
  out.push_back(std::move(output));
}

// RESULT 0, or RESULT 255 with the refusal's details.
vnl::Param ResultParam(const std::vector<uint8_t>* refusal) {
  return refusal ? vnl::Param::Result(kResultRefused, *refusal) : vnl::Param::Result(kResultOk);
}

}  // namespace

void VnlFaults::SetIgnored(uint8_t requestType, bool ignore) {
  if (requestType == kAllRequests) {
    ignoreAll = ignore;
    if (!ignore) ignored.clear();
  } else if (ignore) {
    ignored.insert(requestType);
  } else {
    ignored.erase(requestType);
  }
}

VnlEngineCore::VnlEngineCore(ExchangeConfig config, const VnlFaults& faults)
    : faults_(faults), config_(std::move(config)), calls_(config_) {}

void VnlEngineCore::Reset(VnlOutputs& out) {
  started_ = false;
  ResetCalls(out);
}

void VnlEngineCore::Block(std::span<const uint8_t> block, VnlOutputs& out) {
  std::vector<std::string> reports;
  vnl::Message message;
  vnl::DecodeResult decoded = vnl::DecodeMessage(block, config_.lineList16, message,
                                                 [&reports](std::string_view text) { reports.emplace_back(text); });
  if (!decoded.headerComplete) {
    Event(out, "vnl-undecodable shorter than a message header: " + ToHex(block));
    return;
  }
  ++received_[message.type];
  for (const std::string& text : reports) {
    if (text.rfind("Error:", 0) == 0) {
      Event(out, "vnl-undecodable " + text + ": " + ToHex(block));
      return;
    }
  }
  if (decoded.outOfMemory) {
    Event(out, "vnl-undecodable out of memory: " + ToHex(block));
    return;
  }
  vnl::Kind kind;
  if (!vnl::MessageName(message.type) || !vnl::MessageKind(message.type, kind)) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02x", message.type);
    Event(out, std::string("vnl-unknown-type ") + code + " ref=" + std::to_string(message.refId));
    return;
  }
  std::string rx = "vnl-rx " + Head(message.type, message.refId);
  if (message.Has(vnl::kLineId)) rx += " line=" + std::to_string(message.lineId);
  Event(out, std::move(rx));
  for (const std::string& text : reports) Event(out, "vnl-warning " + NameOf(message.type) + ": " + text);

  switch (kind) {
    case vnl::Kind::Request: Request(message, out); break;
    case vnl::Kind::Response: Response(message, out); break;
    case vnl::Kind::Confirmation:
    case vnl::Kind::Indication: Event(out, "vnl-unexpected " + Head(message.type, message.refId)); break;
  }
}

void VnlEngineCore::Request(const vnl::Message& request, VnlOutputs& out) {
  if (faults_.Ignores(request.type)) {
    Event(out, "vnl-ignored " + Head(request.type, request.refId));
    return;
  }
  if (auto refusal = faults_.refused.find(request.type); refusal != faults_.refused.end()) {
    Confirm(request.type, request.refId, {vnl::Param::Result(kResultRefused, refusal->second)}, out);
    return;
  }
  switch (request.type) {
    case vnl::kStartReq: Start(request, out); return;
    case vnl::kEndReq: End(request, out); return;
    case vnl::kGetAddressListReq: AddressList(request, out); return;
    case vnl::kRegisterReq: Register(request, out); return;
    case vnl::kUnregisterReq: Unregister(request, out); return;
    case vnl::kGetLineInfoReq: LineInfo(request, out); return;
    case vnl::kCallEstablishReq:
    case vnl::kDialReq:
    case vnl::kDisconnectReq:
    case vnl::kAnswerCallReq:
    case vnl::kAlternateCallReq:
    case vnl::kRedirectCallReq:
    case vnl::kTransferReq:
    case vnl::kCompleteTransferReq:
    case vnl::k3PtyConferenceReq:
    case vnl::kParkCallReq:
    case vnl::kUnparkCallReq:
    case vnl::kPickupCallReq: CallRequest(request, out); return;
    case vnl::kSetForwardReq: SetForward(request, out); return;
    default:
      // A request this exchange does not carry out: refused.
      Confirm(request.type, request.refId, {vnl::Param::Result(kResultRefused)}, out);
      return;
  }
}

// ---- the requests ----------------------------------------------------------

void VnlEngineCore::Start(const vnl::Message& request, VnlOutputs& out) {
  std::vector<uint8_t> details = faults_.startRefusal;
  if (details.empty() && request.linkProtocolVersion > config_.protocolVersion) details.push_back(kDetailVersion);
  const uint8_t result = details.empty() ? kResultOk : kResultRefused;
  // A start begins a new session: registrations and calls of an earlier one
  // are gone.
  started_ = result == kResultOk;
  ResetCalls(out);

  std::vector<vnl::Param> params{vnl::Param::Result(result, details),
                                 vnl::Param::Byte(vnl::kLinkProtocolVersion, config_.protocolVersion)};
  if (!config_.manufacturer.empty()) params.push_back(vnl::Param::Text(vnl::kManufacturerInfo, config_.manufacturer));
  Confirm(request.type, request.refId, std::move(params), out);
}

void VnlEngineCore::End(const vnl::Message& request, VnlOutputs& out) {
  started_ = false;
  ResetCalls(out);
  Confirm(request.type, request.refId, {vnl::Param::Result(kResultOk)}, out);
  if (!faults_.endIndication) return;

  vnl::Message indication;
  indication.type = vnl::kEndInd;
  indication.refId = NextRefId();
  indication.cause = 0;
  indication.Set(vnl::kCause);
  VnlOutput output{"vnl-tx " + Head(indication.type, indication.refId) + " cause=0", {}, true};
  vnl::EncodeMessage(indication, config_.lineList16, output.block);
  out.push_back(std::move(output));
}

void VnlEngineCore::AddressList(const vnl::Message& request, VnlOutputs& out) {
  Confirm(request.type, request.refId,
          {vnl::Param::Result(kResultOk),
           vnl::Param::Octets(config_.lineList16 ? vnl::kLineList16 : vnl::kLineList, LineListValue(config_)),
           vnl::Param::Octets(vnl::kMsnList, MsnListValue(config_))},
          out);
}

void VnlEngineCore::Register(const vnl::Message& request, VnlOutputs& out) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindConfiguredLine(request.lineId) : nullptr;
  const std::vector<uint8_t> unknownLine{kDetailNoSuchLine};
  const std::vector<uint8_t>* refusal = nullptr;
  if (!faults_.registerRefusal.empty()) {
    refusal = &faults_.registerRefusal;
    const bool anyway = std::find(refusal->begin(), refusal->end(), kDetailRegisteredAnyway) != refusal->end();
    if (anyway && line) SetRegistered(line->lineId, true, out);
  } else if (!line) {
    refusal = &unknownLine;
  } else {
    SetRegistered(line->lineId, true, out);
  }
  Confirm(request.type, request.refId, {ResultParam(refusal)}, out);
}

void VnlEngineCore::Unregister(const vnl::Message& request, VnlOutputs& out) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindConfiguredLine(request.lineId) : nullptr;
  const std::vector<uint8_t> unknownLine{kDetailNoSuchLine};
  const std::vector<uint8_t>* refusal = nullptr;
  if (!faults_.unregisterRefusal.empty()) {
    refusal = &faults_.unregisterRefusal;
  } else if (!line) {
    refusal = &unknownLine;
  }
  Confirm(request.type, request.refId, {ResultParam(refusal)}, out);
  // The line's calls end after the confirmation; their other sides learn it.
  if (!refusal) SetRegistered(line->lineId, false, out);
}

void VnlEngineCore::LineInfo(const vnl::Message& request, VnlOutputs& out) {
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindConfiguredLine(request.lineId) : nullptr;
  std::vector<vnl::Param> params;
  if (!line) {
    params.push_back(vnl::Param::Result(kResultRefused, std::vector<uint8_t>{kDetailNoSuchLine}));
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
  Confirm(request.type, request.refId, std::move(params), out);
}

void VnlEngineCore::LineInfoIndication(const ExchangeLine& line, VnlOutputs& out) {
  vnl::Message indication;
  indication.type = vnl::kLineInfoInd;
  indication.refId = NextRefId();
  indication.lineId = line.lineId;
  indication.lineState = line.lineState;
  indication.Set(vnl::kLineId);
  indication.Set(vnl::kLineState);
  if (line.lineState != kForwardNone && !line.forwardDestination.empty()) {
    indication.destAddress = line.forwardDestination;
    indication.Set(vnl::kDestAddress);
  }
  VnlOutput output{"vnl-tx " + Head(indication.type, indication.refId) + " line=" + std::to_string(line.lineId) +
                       " state=" + ForwardingStateName(line.lineState),
                   {},
                   true};
  if (vnl::EncodeMessage(indication, config_.lineList16, output.block) != vnl::BuildStatus::Ok) return;
  out.push_back(std::move(output));
}

void VnlEngineCore::SetForward(const vnl::Message& request, VnlOutputs& out) {
  // FORWARDING_TYPE 0..3 as LINE_STATE.
  constexpr uint8_t kStates[] = {kForwardUnconditional, kForwardBusy, kForwardNoAnswer, kForwardNone};
  ExchangeLine* line = request.Has(vnl::kLineId) ? FindConfiguredLine(request.lineId) : nullptr;
  if (!line || !registered_.count(line->lineId)) {
    Confirm(request.type, request.refId,
            {vnl::Param::Result(kResultRefused, std::vector<uint8_t>{kDetailNoSuchLine})}, out);
    return;
  }
  const uint8_t type = request.forwardingType;
  if (!request.Has(vnl::kForwardingType) || type >= std::size(kStates) ||
      (kStates[type] != kForwardNone && request.destAddress.empty())) {
    Confirm(request.type, request.refId, {vnl::Param::Result(kResultRefused)}, out);
    return;
  }
  Confirm(request.type, request.refId, {vnl::Param::Result(kResultOk)}, out);
  SetForwarding(line->lineId, kStates[type], request.destAddress, out);
}

void VnlEngineCore::Response(const vnl::Message& response, VnlOutputs& out) {
  // RESULT 0 and 1 are success; anything else is the PC's refusal.
  if (response.result <= 1) return;
  std::string line = "vnl-refused " + Head(response.type, response.refId);
  if (response.result != kResultRefused) line += " result=" + std::to_string(response.result);
  if (!response.resultDetails.empty()) line += " details=" + ToHex(response.resultDetails);
  Event(out, std::move(line));
}

bool VnlEngineCore::SetForwarding(uint16_t lineId, uint8_t lineState, std::string destination, VnlOutputs& out) {
  ExchangeLine* line = FindConfiguredLine(lineId);
  if (!line) return false;
  line->lineState = lineState;
  line->forwardDestination = lineState == kForwardNone ? std::string() : std::move(destination);
  calls_.SetForwarding(lineId, lineState, line->forwardDestination);
  if (registered_.count(lineId)) LineInfoIndication(*line, out);
  return true;
}

ExchangeLine* VnlEngineCore::FindConfiguredLine(uint16_t lineId) {
  for (ExchangeLine& line : config_.lines) {
    if (line.lineId == lineId) return &line;
  }
  return nullptr;
}

uint8_t VnlEngineCore::NextRefId() {
  // 1, 2, ..., 255, 1, ...: never 0.
  refIdCounter_ = static_cast<uint8_t>(refIdCounter_ == 255 ? 1 : refIdCounter_ + 1);
  return refIdCounter_;
}

}  // namespace exchange
