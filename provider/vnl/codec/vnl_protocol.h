#pragma once
// The VNL call-control protocol between the PC and the exchange (TK): message
// codes, parameter types and their names. A message is a 4-byte header
// (type, RefID, parameter length big-endian) and type-length-value
// parameters. _CONF = _REQ + 1, _RESP = _IND + 1.
#include <cstddef>
#include <cstdint>

namespace vnl {

inline constexpr size_t kMaxMessage = 16384;  // built messages and the receive buffer
inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kMaxSentText = 255;
inline constexpr size_t kMaxSentResultDetails = 19;
inline constexpr uint8_t kHighestMessageType = 175;  // received types outside 1..175 are invalid

// Message codes.
inline constexpr uint8_t kStartReq = 0x00;
inline constexpr uint8_t kStartConf = 0x01;
inline constexpr uint8_t kEndReq = 0x04;
inline constexpr uint8_t kEndConf = 0x05;
inline constexpr uint8_t kEndInd = 0x06;
inline constexpr uint8_t kEndResp = 0x07;
inline constexpr uint8_t kFailureInd = 0x0E;
inline constexpr uint8_t kRegisterReq = 0x10;
inline constexpr uint8_t kRegisterConf = 0x11;
inline constexpr uint8_t kUnregisterReq = 0x12;
inline constexpr uint8_t kUnregisterConf = 0x13;
inline constexpr uint8_t kCallEstablishReq = 0x20;
inline constexpr uint8_t kCallEstablishConf = 0x21;
inline constexpr uint8_t kDialReq = 0x22;
inline constexpr uint8_t kDialConf = 0x23;
inline constexpr uint8_t kDisconnectReq = 0x24;
inline constexpr uint8_t kDisconnectConf = 0x25;
inline constexpr uint8_t kAnswerCallReq = 0x26;
inline constexpr uint8_t kAnswerCallConf = 0x27;
inline constexpr uint8_t kPickupCallReq = 0x34;
inline constexpr uint8_t kPickupCallConf = 0x35;
inline constexpr uint8_t kTransferReq = 0x36;
inline constexpr uint8_t kTransferConf = 0x37;
inline constexpr uint8_t k3PtyConferenceReq = 0x38;
inline constexpr uint8_t k3PtyConferenceConf = 0x39;
inline constexpr uint8_t kCompleteTransferReq = 0x3A;
inline constexpr uint8_t kCompleteTransferConf = 0x3B;
inline constexpr uint8_t kAlternateCallReq = 0x3C;
inline constexpr uint8_t kAlternateCallConf = 0x3D;
inline constexpr uint8_t kParkCallReq = 0x40;
inline constexpr uint8_t kParkCallConf = 0x41;
inline constexpr uint8_t kUnparkCallReq = 0x42;
inline constexpr uint8_t kUnparkCallConf = 0x43;
inline constexpr uint8_t kSetForwardReq = 0x44;
inline constexpr uint8_t kSetForwardConf = 0x45;
inline constexpr uint8_t kRedirectCallReq = 0x48;
inline constexpr uint8_t kRedirectCallConf = 0x49;
inline constexpr uint8_t kNewCallInd = 0x60;
inline constexpr uint8_t kNewCallResp = 0x61;
inline constexpr uint8_t kCloseCallInd = 0x62;
inline constexpr uint8_t kCloseCallResp = 0x63;
inline constexpr uint8_t kCallInfoInd = 0x68;
inline constexpr uint8_t kCallInfoResp = 0x69;
inline constexpr uint8_t kLineInfoInd = 0x6A;
inline constexpr uint8_t kLineInfoResp = 0x6B;
inline constexpr uint8_t kGetCallInfoConf = 0xA1;
inline constexpr uint8_t kGetLineInfoReq = 0xA2;
inline constexpr uint8_t kGetLineInfoConf = 0xA3;
inline constexpr uint8_t kGetCtiCapsConf = 0xAD;
inline constexpr uint8_t kGetAddressListReq = 0xAE;
inline constexpr uint8_t kGetAddressListConf = 0xAF;

// Parameter types. 0x38 and 0x45 are second codes of 0x33 and 0x39: they
// fill the same field.
inline constexpr uint8_t kLinkProtocolVersion = 0x00;
inline constexpr uint8_t kDriverType = 0x01;
inline constexpr uint8_t kManufacturerInfo = 0x02;
inline constexpr uint8_t kCtiCaps1 = 0x0A;
inline constexpr uint8_t kCtiCaps2 = 0x0B;
inline constexpr uint8_t kLineList = 0x0C;
inline constexpr uint8_t kMsnList = 0x0D;
inline constexpr uint8_t kLineList16 = 0x0E;
inline constexpr uint8_t kCause = 0x0F;
inline constexpr uint8_t kLineId = 0x10;
inline constexpr uint8_t kCallId = 0x11;
inline constexpr uint8_t kHeldCallId = 0x12;
inline constexpr uint8_t kRefCallId = 0x14;
inline constexpr uint8_t kCallState = 0x20;
inline constexpr uint8_t kCallReason = 0x21;
inline constexpr uint8_t kDestAddress = 0x30;
inline constexpr uint8_t kExternalAddress = 0x31;
inline constexpr uint8_t kOrigAddress = 0x32;
inline constexpr uint8_t kRedirectingAddress = 0x33;
inline constexpr uint8_t kOrigAddressType = 0x34;
inline constexpr uint8_t kConnectedAddress = 0x35;
inline constexpr uint8_t kConnectedAddressType = 0x36;
inline constexpr uint8_t kPickupAddress = 0x37;
inline constexpr uint8_t kRedirectingAddress2 = 0x38;
inline constexpr uint8_t kRedirectingAddressType = 0x39;
inline constexpr uint8_t kCallType = 0x40;
inline constexpr uint8_t kCallOptions = 0x42;
inline constexpr uint8_t kParkAddress = 0x43;
inline constexpr uint8_t kRedirectionAddress = 0x44;
inline constexpr uint8_t kRedirectingAddressType2 = 0x45;
inline constexpr uint8_t kRedirectionAddressType = 0x46;
inline constexpr uint8_t kForwardingType = 0x51;
inline constexpr uint8_t kLineState = 0x52;
inline constexpr uint8_t kChargingInfo = 0x80;
inline constexpr uint8_t kResult = 0xD0;

// Long-form parameters carry a 2-byte length; all others a 1-byte length.
constexpr bool IsLongForm(uint8_t paramType) {
  return paramType == kLineList || paramType == kMsnList || paramType == kLineList16;
}

// "VNL_START_REQ" and the like; nullptr for a code the protocol does not define.
const char* MessageName(uint8_t type);

// The parameter's name as the trace prints it ("LINE_ID"); nullptr when unknown.
const char* ParamName(uint8_t paramType);

enum class Kind { Request, Confirmation, Indication, Response };
// The kind of a defined message, by its code; false for an undefined code.
bool MessageKind(uint8_t type, Kind& kind);

// The trace name of a CALL_STATE value ("connected"); "" for an unlisted one.
const char* CallStateName(uint8_t callState);

}  // namespace vnl
