#pragma once
// Call indications in a compact text for tests: the message, its CALL_ID,
// the state name and every other parameter that is present, e.g.
// "CALLINFO 1 offering ORIG=301234567/4 TYPE=01 EXT=20",
// "NEWCALL 2 line=11", "CLOSECALL 2".
#include <cstdio>
#include <string>

#include "provider/vnl/codec/vnl_message.h"
#include "provider/vnl/codec/vnl_protocol.h"

namespace exchangetest {

inline std::string HexByte(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value);
  return text;
}

inline std::string Describe(const vnl::Message& m) {
  std::string text;
  switch (m.type) {
    case vnl::kNewCallInd: text = "NEWCALL"; break;
    case vnl::kCallInfoInd: text = "CALLINFO"; break;
    case vnl::kCloseCallInd: text = "CLOSECALL"; break;
    default: text = vnl::MessageName(m.type) ? vnl::MessageName(m.type) : "?"; break;
  }
  if (m.Has(vnl::kCallId)) text += " " + std::to_string(m.callId);
  if (m.Has(vnl::kLineId)) text += " line=" + std::to_string(m.lineId);
  if (m.Has(vnl::kCallState)) text += std::string(" ") + vnl::CallStateName(m.callState);
  if (m.Has(vnl::kDestAddress)) text += " DEST=" + m.destAddress;
  if (m.Has(vnl::kOrigAddress) || m.Has(vnl::kOrigAddressType)) {
    text += " ORIG=" + m.origAddress + "/" + std::to_string(m.origAddressType);
  }
  if (m.Has(vnl::kConnectedAddress) || m.Has(vnl::kConnectedAddressType)) {
    text += " CONN=" + m.connectedAddress + "/" + std::to_string(m.connectedAddressType);
  }
  if (m.Has(vnl::kCallType)) text += " TYPE=" + HexByte(m.callType);
  if (m.Has(vnl::kCause)) text += " CAUSE=" + HexByte(m.cause);
  if (m.Has(vnl::kExternalAddress)) text += " EXT=" + m.externalAddress;
  if (m.Has(vnl::kChargingInfo)) {
    text += " CHARGE=" + std::to_string(m.charging.amount) + "e" + std::to_string(m.charging.exponent);
    if (!m.charging.currency.empty()) text += m.charging.currency;
  }
  return text;
}

}  // namespace exchangetest
