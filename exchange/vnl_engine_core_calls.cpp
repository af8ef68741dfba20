// The protocol core's calls: the PC's call requests go to the call switch,
// and what the switch hands back becomes indications (under the exchange's
// own RefIDs) and event lines.
#include <cstdio>

#include "exchange/hex_text.h"
#include "exchange/vnl_engine_core.h"
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

void VnlEngineCore::CallRequest(const vnl::Message& request, VnlOutputs& out) {
  SwitchOutputs outputs;
  SwitchConfirmation confirmation;
  switch (request.type) {
    case vnl::kCallEstablishReq:
      confirmation = request.Has(vnl::kLineId) ? calls_.Establish(request.lineId, request.destAddress, outputs)
                                               : SwitchConfirmation{255, {kDetailNoSuchLine}, std::nullopt};
      break;
    case vnl::kDialReq: confirmation = calls_.Dial(request.callId, request.destAddress, outputs); break;
    case vnl::kDisconnectReq: confirmation = calls_.Disconnect(request.callId, outputs); break;
    case vnl::kAlternateCallReq:
      confirmation = calls_.Alternate(request.callId, request.heldCallId, outputs);
      break;
    case vnl::kRedirectCallReq: confirmation = calls_.Redirect(request.callId, request.destAddress, outputs); break;
    case vnl::kTransferReq: confirmation = calls_.Transfer(request.callId, request.destAddress, outputs); break;
    case vnl::kCompleteTransferReq:
      confirmation = calls_.CompleteTransfer(request.callId, request.heldCallId, outputs);
      break;
    case vnl::k3PtyConferenceReq:
      confirmation = calls_.Conference(request.callId, request.heldCallId, outputs);
      break;
    case vnl::kParkCallReq: confirmation = calls_.Park(request.callId, outputs); break;
    case vnl::kUnparkCallReq:
    case vnl::kPickupCallReq:
      if (!request.Has(vnl::kLineId)) {
        confirmation = SwitchConfirmation{255, {kDetailNoSuchLine}, std::nullopt};
      } else if (request.type == vnl::kUnparkCallReq) {
        confirmation = calls_.Unpark(request.lineId, request.parkAddress, outputs);
      } else {
        confirmation = calls_.Pickup(request.lineId, request.pickupAddress, outputs);
      }
      break;
    default: confirmation = calls_.Answer(request.callId, outputs); break;
  }
  ConfirmCall(request, confirmation, out);
  SwitchOutputsTo(outputs, out);
}

void VnlEngineCore::ConfirmCall(const vnl::Message& request, const SwitchConfirmation& confirmation,
                                VnlOutputs& out) {
  const uint8_t type = static_cast<uint8_t>(request.type + 1);
  // A park confirms the PARK_ADDRESS in place of a CALL_ID.
  const bool park = request.type == vnl::kParkCallReq;
  std::vector<vnl::Param> params{vnl::Param::Result(confirmation.result, confirmation.details)};
  if (confirmation.callId) {
    params.push_back(vnl::Param::Word(park ? vnl::kParkAddress : vnl::kCallId, *confirmation.callId));
  }
  VnlOutput output{"vnl-tx " + Head(type, request.refId) + " result=" + std::to_string(confirmation.result), {},
                   true};
  if (!confirmation.details.empty()) output.event += " details=" + ToHex(confirmation.details);
  if (confirmation.callId) output.event += (park ? " park=" : " call=") + std::to_string(*confirmation.callId);
  vnl::BuildMessage(type, request.refId, params, output.block);  // a few bytes: always fits
  out.push_back(std::move(output));
}

void VnlEngineCore::SwitchOutputsTo(SwitchOutputs& outputs, VnlOutputs& out) {
  for (SwitchOutput& output : outputs) {
    if (!output.isMessage) {
      out.push_back({std::move(output.event), {}, false});
      continue;
    }
    output.message.refId = NextRefId();
    VnlOutput indication{IndicationEvent(output.message), {}, true};
    if (vnl::EncodeMessage(output.message, config_.lineList16, indication.block) != vnl::BuildStatus::Ok) {
      indication = {"vnl-send-failed " + IndicationEvent(output.message).substr(7) + " (too long)", {}, false};
    }
    out.push_back(std::move(indication));
  }
  outputs.clear();
}

void VnlEngineCore::SetRegistered(uint16_t lineId, bool registered, VnlOutputs& out) {
  if (registered) {
    registered_.insert(lineId);
  } else {
    registered_.erase(lineId);
  }
  SwitchOutputs outputs;
  calls_.SetRegistered(lineId, registered, outputs);
  SwitchOutputsTo(outputs, out);
}

void VnlEngineCore::ResetCalls(VnlOutputs& out) {
  registered_.clear();
  SwitchOutputs outputs;
  calls_.Reset(outputs);
  SwitchOutputsTo(outputs, out);
}

void VnlEngineCore::Tick(uint32_t nowTick, VnlOutputs& out) {
  SwitchOutputs outputs;
  calls_.Tick(nowTick, outputs);
  SwitchOutputsTo(outputs, out);
}

std::vector<uint16_t> VnlEngineCore::Incoming(std::string_view target, std::string_view from,
                                              const IncomingOptions& options, VnlOutputs& out, std::string* error) {
  SwitchOutputs outputs;
  std::vector<uint16_t> ids = calls_.Incoming(target, from, options, outputs, error);
  SwitchOutputsTo(outputs, out);
  return ids;
}

bool VnlEngineCore::FarHangup(uint16_t callId, VnlOutputs& out, std::string* error) {
  SwitchOutputs outputs;
  bool done = calls_.FarHangup(callId, outputs, error);
  SwitchOutputsTo(outputs, out);
  return done;
}

bool VnlEngineCore::ParkedHangup(uint16_t parkAddress, VnlOutputs& out, std::string* error) {
  SwitchOutputs outputs;
  bool done = calls_.ParkedHangup(parkAddress, outputs, error);
  SwitchOutputsTo(outputs, out);
  return done;
}

bool VnlEngineCore::Hold(uint16_t callId, VnlOutputs& out, std::string* error) {
  SwitchOutputs outputs;
  bool done = calls_.Hold(callId, outputs, error);
  SwitchOutputsTo(outputs, out);
  return done;
}

bool VnlEngineCore::FarAnswer(uint16_t callId, VnlOutputs& out, std::string* error) {
  SwitchOutputs outputs;
  bool done = calls_.FarAnswer(callId, outputs, error);
  SwitchOutputsTo(outputs, out);
  return done;
}

}  // namespace exchange
