#include "provider/vnl/codec/vnl_decoder.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>

namespace vnl {

double Charging::Value() const { return static_cast<double>(amount) / 1000.0 * std::pow(10.0, exponent); }

std::string InvalidMessageTypeText(uint8_t type) {
  char text[40];
  std::snprintf(text, sizeof text, "Invalid Message Type: 0x%02x", type);
  return text;
}

namespace {

using Value = std::span<const uint8_t>;

uint8_t ByteOf(Value v) { return v.empty() ? 0 : v[0]; }

uint16_t WordOf(Value v) {
  if (v.empty()) return 0;
  if (v.size() == 1) return v[0];
  return static_cast<uint16_t>(v[0] << 8 | v[1]);
}

// A text with no bytes reads as absent.
void StoreText(Message& m, uint8_t presentAs, std::string& field, Value v) {
  field.assign(v.begin(), v.end());
  if (v.empty()) {
    m.present.reset(presentAs);
  } else {
    m.Set(presentAs);
  }
}

void StoreByte(Message& m, uint8_t presentAs, uint8_t& field, Value v) {
  field = ByteOf(v);
  m.Set(presentAs);
}

void StoreWord(Message& m, uint8_t presentAs, uint16_t& field, Value v) {
  field = WordOf(v);
  m.Set(presentAs);
}

void StoreOctets(Message& m, uint8_t presentAs, std::vector<uint8_t>& field, Value v) {
  field.assign(v.begin(), v.end());
  m.Set(presentAs);
}

void StoreCallIds(Message& m, Value v) {
  m.callIds.clear();
  for (size_t i = 0; i + 1 < v.size(); i += 2) m.callIds.push_back(static_cast<uint16_t>(v[i] << 8 | v[i + 1]));
  m.callId = WordOf(v);
  m.Set(kCallId);
}

void StoreCharging(Message& m, Value v) {
  if (v.size() <= 3) {
    m.charging = Charging{};
    m.present.reset(kChargingInfo);
    return;
  }
  m.charging.amount = static_cast<uint32_t>(v[0]) | static_cast<uint32_t>(v[1]) << 8 |
                      static_cast<uint32_t>(v[2]) << 16 | static_cast<uint32_t>(v[3]) << 24;
  m.charging.exponent = v.size() >= 5 ? v[4] : 3;
  if (v.size() >= 6) {
    m.charging.currency.assign(v.begin() + 5, v.end());
  } else {
    m.charging.currency.clear();
  }
  m.Set(kChargingInfo);
}

void StoreResult(Message& m, Value v) {
  m.result = ByteOf(v);
  if (v.size() > 1) {
    m.resultDetails.assign(v.begin() + 1, v.end());
  } else {
    m.resultDetails.clear();
  }
  m.Set(kResult);
}

// Stores one parameter's value; false for a type the protocol does not know.
bool StoreParam(Message& m, uint8_t type, Value v, bool lineId16) {
  switch (type) {
    case kLinkProtocolVersion: StoreByte(m, type, m.linkProtocolVersion, v); return true;
    case kDriverType: StoreByte(m, type, m.driverType, v); return true;
    case kManufacturerInfo: StoreText(m, type, m.manufacturerInfo, v); return true;
    case kCtiCaps1: StoreOctets(m, type, m.ctiCaps1, v); return true;
    case kCtiCaps2: StoreOctets(m, type, m.ctiCaps2, v); return true;
    case kLineList:
    case kLineList16:
      StoreOctets(m, type, m.lineList, v);
      m.lineList16 = type == kLineList16;
      m.present.reset(type == kLineList16 ? kLineList : kLineList16);
      return true;
    case kMsnList: StoreOctets(m, type, m.msnList, v); return true;
    case kCause: StoreByte(m, type, m.cause, v); return true;
    case kLineId:
      if (lineId16) {
        StoreWord(m, type, m.lineId, v);
      } else {
        m.lineId = ByteOf(v);
        m.Set(type);
      }
      return true;
    case kCallId: StoreCallIds(m, v); return true;
    case kHeldCallId: StoreWord(m, type, m.heldCallId, v); return true;
    case kRefCallId: StoreWord(m, type, m.refCallId, v); return true;
    case kCallState: StoreByte(m, type, m.callState, v); return true;
    case kCallReason: StoreByte(m, type, m.callReason, v); return true;
    case kDestAddress: StoreText(m, type, m.destAddress, v); return true;
    case kExternalAddress: StoreText(m, type, m.externalAddress, v); return true;
    case kOrigAddress: StoreText(m, type, m.origAddress, v); return true;
    case kRedirectingAddress:
    case kRedirectingAddress2: StoreText(m, kRedirectingAddress, m.redirectingAddress, v); return true;
    case kOrigAddressType: StoreByte(m, type, m.origAddressType, v); return true;
    case kConnectedAddress: StoreText(m, type, m.connectedAddress, v); return true;
    case kConnectedAddressType: StoreByte(m, type, m.connectedAddressType, v); return true;
    case kPickupAddress: StoreText(m, type, m.pickupAddress, v); return true;
    case kRedirectingAddressType:
    case kRedirectingAddressType2: StoreByte(m, kRedirectingAddressType, m.redirectingAddressType, v); return true;
    case kCallType: StoreByte(m, type, m.callType, v); return true;
    case kCallOptions: StoreByte(m, type, m.callOptions, v); return true;
    case kParkAddress: StoreWord(m, type, m.parkAddress, v); return true;
    case kRedirectionAddress: StoreText(m, type, m.redirectionAddress, v); return true;
    case kRedirectionAddressType: StoreByte(m, type, m.redirectionAddressType, v); return true;
    case kForwardingType: StoreByte(m, type, m.forwardingType, v); return true;
    case kLineState: StoreByte(m, type, m.lineState, v); return true;
    case kChargingInfo: StoreCharging(m, v); return true;
    case kResult: StoreResult(m, v); return true;
    default: return false;
  }
}

void Report(const ErrorReport& report, DecodeResult& result, std::string_view text) {
  ++result.errors;
  if (report) report(text);
}

}  // namespace

DecodeResult DecodeMessage(std::span<const uint8_t> bytes, bool lineId16, Message& message,
                           const ErrorReport& report) {
  DecodeResult result;
  message = Message{};
  const size_t n = bytes.size();
  if (n < kHeaderSize) {
    Report(report, result, "Error: Message shorter then predefined Message Header");
    return result;
  }
  result.headerComplete = true;
  message.type = bytes[0];
  message.refId = bytes[1];
  const size_t parameterLength = static_cast<size_t>(bytes[2]) << 8 | bytes[3];

  size_t o = 0;  // offset in the parameter area
  while (o < parameterLength) {
    if (n < o + 6) {
      Report(report, result, "Error: Parameter not complete");
      break;
    }
    const uint8_t type = bytes[kHeaderSize + o];
    const bool longForm = IsLongForm(type);
    size_t length = 0;
    size_t valueOffset = 0;
    if (longForm) {
      if (n < o + 7) {
        Report(report, result, "Error: Parameter not complete");
        break;
      }
      length = static_cast<size_t>(bytes[kHeaderSize + o + 1]) << 8 | bytes[kHeaderSize + o + 2];
      if (n < o + 7 + length) {
        Report(report, result, "Error: Parameter Value not complete");
        break;
      }
      valueOffset = kHeaderSize + o + 3;
    } else {
      length = bytes[kHeaderSize + o + 1];
      if (n < o + 6 + length) {
        Report(report, result, "Error: Parameter Value not complete");
        break;
      }
      valueOffset = kHeaderSize + o + 2;
    }

    bool stored = true;
    try {
      if (!StoreParam(message, type, bytes.subspan(valueOffset, length), lineId16)) {
        char text[40];
        std::snprintf(text, sizeof text, "Invalid parameter type: 0x%02x", type);
        Report(report, result, text);
      }
    } catch (const std::bad_alloc&) {
      stored = false;
    }
    o += length + (longForm ? 3 : 2);
    if (!stored) {
      result.outOfMemory = true;
      break;
    }
  }
  return result;
}

}  // namespace vnl
