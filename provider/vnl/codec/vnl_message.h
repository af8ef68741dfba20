#pragma once
// One VNL message with every field the protocol defines, in both directions.
// The decoder fills it from received bytes; the encoder writes the fields the
// message table lists for its type. Texts are in the ANSI code page.
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "provider/vnl/codec/vnl_protocol.h"

namespace vnl {

struct Charging {
  uint32_t amount = 0;    // little-endian on the wire
  uint8_t exponent = 3;   // decimal exponent; 3 when the value has only the amount
  std::string currency;   // empty when absent

  // amount / 1000 * 10^exponent
  double Value() const;
};

struct Message {
  uint8_t type = 0;
  uint8_t refId = 0;

  // Parameters seen (decoder) or to be written (encoder for TK -> PC
  // messages), by parameter type; second codes count as their first code.
  std::bitset<256> present;
  bool Has(uint8_t paramType) const { return present.test(paramType); }
  void Set(uint8_t paramType) { present.set(paramType); }

  uint8_t result = 0;
  std::vector<uint8_t> resultDetails;

  uint8_t linkProtocolVersion = 0;
  uint8_t driverType = 0;
  std::string manufacturerInfo;
  std::vector<uint8_t> ctiCaps1;
  std::vector<uint8_t> ctiCaps2;
  std::vector<uint8_t> lineList;  // LINE_LIST or, with lineList16, LINE_LIST_16
  bool lineList16 = false;
  std::vector<uint8_t> msnList;
  uint8_t cause = 0;
  uint16_t lineId = 0;
  uint16_t callId = 0;              // the message's CALL_ID: the first identifier
  std::vector<uint16_t> callIds;    // every identifier of a received CALL_ID list
  uint16_t heldCallId = 0;
  uint16_t refCallId = 0;
  uint8_t callState = 0;
  uint8_t callReason = 0;
  std::string destAddress;
  std::string externalAddress;
  std::string origAddress;
  std::string redirectingAddress;
  std::string connectedAddress;
  std::string pickupAddress;
  std::string redirectionAddress;
  uint8_t origAddressType = 0;
  uint8_t connectedAddressType = 0;
  uint8_t redirectingAddressType = 0;
  uint8_t redirectionAddressType = 0;
  uint8_t callType = 255;  // 255 when absent
  uint8_t callOptions = 0;
  uint16_t parkAddress = 0;
  uint8_t forwardingType = 0;
  uint8_t lineState = 0;
  Charging charging;
};

}  // namespace vnl
