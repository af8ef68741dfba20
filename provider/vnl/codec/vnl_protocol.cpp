#include "provider/vnl/codec/vnl_protocol.h"

#include "provider/vnl/codec/vnl_message_table.h"

namespace vnl {

const char* MessageName(uint8_t type) {
  const MessageLayout* layout = FindMessageLayout(type);
  return layout ? layout->name : nullptr;
}

bool MessageKind(uint8_t type, Kind& kind) {
  const MessageLayout* layout = FindMessageLayout(type);
  if (!layout) return false;
  kind = layout->kind;
  return true;
}

const char* ParamName(uint8_t paramType) {
  switch (paramType) {
    case kLinkProtocolVersion: return "LINK_PROTOCOL_VERSION";
    case kDriverType: return "DRIVER_TYPE";
    case kManufacturerInfo: return "MANUFACTURER_INFO";
    case kCtiCaps1: return "CTI_CAPS_1";
    case kCtiCaps2: return "CTI_CAPS_2";
    case kLineList: return "LINE_LIST";
    case kMsnList: return "MSN_LIST";
    case kLineList16: return "LINE_LIST_16";
    case kCause: return "CAUSE";
    case kLineId: return "LINE_ID";
    case kCallId: return "CALL_ID";
    case kHeldCallId: return "HELDCALL_ID";
    case kRefCallId: return "REFCALL_ID";
    case kCallState: return "CALL_STATE";
    case kCallReason: return "CALL_REASON";
    case kDestAddress: return "DEST_ADDRESS";
    case kExternalAddress: return "EXTERNAL_ADDRESS";
    case kOrigAddress: return "ORIG_ADDRESS";
    case kRedirectingAddress:
    case kRedirectingAddress2: return "REDIRECTING_ADDRESS";
    case kOrigAddressType: return "ORIG_ADDRESS_TYPE";
    case kConnectedAddress: return "CONNECTED_ADDRESS";
    case kConnectedAddressType: return "CONNECTED_ADDRESS_TYPE";
    case kPickupAddress: return "PICKUP_ADDRESS";
    case kRedirectingAddressType:
    case kRedirectingAddressType2: return "REDIRECTING_ADDRESS_TYPE";
    case kCallType: return "CALL_TYPE";
    case kCallOptions: return "CALL_OPTIONS";
    case kParkAddress: return "PARK_ADDRESS";
    case kRedirectionAddress: return "REDIRECTION_ADDRESS";
    case kRedirectionAddressType: return "REDIRECTION_ADDRESS_TYPE";
    case kForwardingType: return "FORWARDING_TYPE";
    case kLineState: return "LINE_STATE";
    case kChargingInfo: return "CHARGING_INFO";
    case kResult: return "RESULT";
    default: return nullptr;
  }
}

const char* CallStateName(uint8_t callState) {
  switch (callState) {
    case 0x10: return "idle";
    case 0x11: return "offering";
    case 0x12: return "accepted";
    case 0x13: return "connected";
    case 0x14: return "busy";
    case 0x15: return "dialtone";
    case 0x16: return "dialing";
    case 0x17: return "delivered";
    case 0x18: return "disconnected";
    case 0x19: return "onHold";
    case 0x20: return "pendTransfer";
    case 0x21: return "conferenced";
    case 0x22: return "proceeding";
    case 0x30: return "callback";
    case 0x81: return "callingConnected";
    default: return "";
  }
}

}  // namespace vnl
