#include "provider/vnl/codec/vnl_encoder.h"

#include <algorithm>

#include "provider/vnl/codec/vnl_message_table.h"

namespace vnl {

Param Param::Byte(uint8_t type, uint8_t value) {
  Param p;
  p.type = type;
  p.kind = Kind::Byte;
  p.number = value;
  return p;
}

Param Param::Word(uint8_t type, uint16_t value) {
  Param p;
  p.type = type;
  p.kind = Kind::Word;
  p.number = value;
  return p;
}

Param Param::Text(uint8_t type, std::string ansi) {
  Param p;
  p.type = type;
  p.kind = Kind::Text;
  p.text = std::move(ansi);
  return p;
}

Param Param::Result(uint8_t code, std::span<const uint8_t> details) {
  Param p;
  p.type = kResult;
  p.kind = Kind::Result;
  p.number = code;
  p.bytes.assign(details.begin(), details.end());
  return p;
}

Param Param::Octets(uint8_t type, std::vector<uint8_t> value) {
  Param p;
  p.type = type;
  p.kind = Kind::Octets;
  p.bytes = std::move(value);
  return p;
}

namespace {

// The value bytes a parameter is written with.
std::vector<uint8_t> ValueOf(const Param& param) {
  switch (param.kind) {
    case Param::Kind::Byte:
      return {static_cast<uint8_t>(param.number)};
    case Param::Kind::Word:
      return {static_cast<uint8_t>(param.number >> 8), static_cast<uint8_t>(param.number)};
    case Param::Kind::Text: {
      size_t length = std::min(param.text.size(), kMaxSentText);
      return std::vector<uint8_t>(param.text.begin(), param.text.begin() + static_cast<std::ptrdiff_t>(length));
    }
    case Param::Kind::Result: {
      std::vector<uint8_t> value{static_cast<uint8_t>(param.number)};
      size_t details = std::min(param.bytes.size(), kMaxSentResultDetails);
      value.insert(value.end(), param.bytes.begin(), param.bytes.begin() + static_cast<std::ptrdiff_t>(details));
      return value;
    }
    case Param::Kind::Octets:
      return param.bytes;
  }
  return {};
}

}  // namespace

BuildStatus BuildMessage(uint8_t type, uint8_t refId, std::span<const Param> params, std::vector<uint8_t>& out) {
  out.assign(kHeaderSize, 0);
  out[0] = type;
  out[1] = refId;
  size_t parameterArea = 0;
  for (const Param& param : params) {
    std::vector<uint8_t> value = ValueOf(param);
    const bool longForm = IsLongForm(param.type);
    const size_t maxLength = longForm ? 0xFFFF : 0xFF;
    // Room is kept for 10 more bytes behind every parameter: a value that
    // would leave less fails the whole message.
    if (value.size() > maxLength || parameterArea + value.size() + 10 > kMaxMessage) {
      out.clear();
      return BuildStatus::Full;
    }
    out.push_back(param.type);
    if (longForm) out.push_back(static_cast<uint8_t>(value.size() >> 8));
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    parameterArea += value.size() + (longForm ? 3 : 2);
  }
  out[2] = static_cast<uint8_t>(parameterArea >> 8);
  out[3] = static_cast<uint8_t>(parameterArea);
  return BuildStatus::Ok;
}

namespace {

std::vector<uint8_t> CallIdList(const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> bytes;
  bytes.reserve(ids.size() * 2);
  for (uint16_t id : ids) {
    bytes.push_back(static_cast<uint8_t>(id >> 8));
    bytes.push_back(static_cast<uint8_t>(id));
  }
  return bytes;
}

std::vector<uint8_t> ChargingValue(const Charging& charging) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(charging.amount), static_cast<uint8_t>(charging.amount >> 8),
                             static_cast<uint8_t>(charging.amount >> 16), static_cast<uint8_t>(charging.amount >> 24),
                             charging.exponent};
  bytes.insert(bytes.end(), charging.currency.begin(), charging.currency.end());
  return bytes;
}

// The parameter of the given type with the message's value, and whether the
// value counts as non-zero / non-empty for optional parameters.
Param ParamFor(const Message& m, uint8_t type, bool lineId16, bool& hasValue) {
  auto byte = [&](uint8_t value) {
    hasValue = value != 0;
    return Param::Byte(type, value);
  };
  auto word = [&](uint16_t value) {
    hasValue = value != 0;
    return Param::Word(type, value);
  };
  auto text = [&](const std::string& value) {
    hasValue = !value.empty();
    return Param::Text(type, value);
  };
  auto octets = [&](uint8_t actualType, std::vector<uint8_t> value) {
    hasValue = !value.empty();
    return Param::Octets(actualType, std::move(value));
  };
  switch (type) {
    case kLinkProtocolVersion: return byte(m.linkProtocolVersion);
    case kDriverType: return byte(m.driverType);
    case kManufacturerInfo: return text(m.manufacturerInfo);
    case kCtiCaps1: return octets(type, m.ctiCaps1);
    case kCtiCaps2: return octets(type, m.ctiCaps2);
    case kLineList:
    case kLineList16: return octets(m.lineList16 ? kLineList16 : kLineList, m.lineList);
    case kMsnList: return octets(type, m.msnList);
    case kCause: return byte(m.cause);
    case kLineId: return lineId16 ? word(m.lineId) : byte(static_cast<uint8_t>(m.lineId));
    case kCallId:
      // A confirmation may carry a list; requests carry the one CALL_ID.
      if (!m.callIds.empty()) return octets(type, CallIdList(m.callIds));
      return word(m.callId);
    case kHeldCallId: return word(m.heldCallId);
    case kRefCallId: return word(m.refCallId);
    case kCallState: return byte(m.callState);
    case kCallReason: return byte(m.callReason);
    case kDestAddress: return text(m.destAddress);
    case kExternalAddress: return text(m.externalAddress);
    case kOrigAddress: return text(m.origAddress);
    case kRedirectingAddress: return text(m.redirectingAddress);
    case kOrigAddressType: return byte(m.origAddressType);
    case kConnectedAddress: return text(m.connectedAddress);
    case kConnectedAddressType: return byte(m.connectedAddressType);
    case kPickupAddress: return text(m.pickupAddress);
    case kRedirectingAddressType: return byte(m.redirectingAddressType);
    case kCallType: return byte(m.callType);
    case kCallOptions: return byte(m.callOptions);
    case kParkAddress: return word(m.parkAddress);
    case kRedirectionAddress: return text(m.redirectionAddress);
    case kRedirectionAddressType: return byte(m.redirectionAddressType);
    case kForwardingType: return byte(m.forwardingType);
    case kLineState: return byte(m.lineState);
    case kChargingInfo: return octets(type, ChargingValue(m.charging));
    case kResult:
      hasValue = true;
      return Param::Result(m.result, m.resultDetails);
    default:
      hasValue = false;
      return Param::Octets(type, {});
  }
}

}  // namespace

std::vector<Param> ParamsOf(const Message& message, bool lineId16) {
  std::vector<Param> params;
  const MessageLayout* layout = FindMessageLayout(message.type);
  if (!layout) return params;
  for (const TableParam& entry : layout->params) {
    bool hasValue = false;
    Param param = ParamFor(message, entry.type, lineId16, hasValue);
    bool write = false;
    switch (entry.rule) {
      case ParamRule::Always: write = true; break;
      case ParamRule::Optional: write = hasValue; break;
      case ParamRule::IfPresent:
        write = message.Has(entry.type) || (entry.type == kLineList && message.Has(kLineList16));
        break;
    }
    if (write) params.push_back(std::move(param));
  }
  return params;
}

BuildStatus EncodeMessage(const Message& message, bool lineId16, std::vector<uint8_t>& out) {
  std::vector<Param> params = ParamsOf(message, lineId16);
  return BuildMessage(message.type, message.refId, params, out);
}

}  // namespace vnl
