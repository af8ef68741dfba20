#include "provider/vnl/codec/vnl_message_table.h"

#include <array>

namespace vnl {
namespace {

constexpr ParamRule A = ParamRule::Always;
constexpr ParamRule O = ParamRule::Optional;
constexpr ParamRule P = ParamRule::IfPresent;

// PC -> TK
constexpr TableParam kStartReqParams[] = {{kLinkProtocolVersion, A}, {kDriverType, O}, {kManufacturerInfo, O}};
constexpr TableParam kEndReqParams[] = {{kCause, A}};
constexpr TableParam kLineIdParams[] = {{kLineId, A}};
constexpr TableParam kCallEstablishReqParams[] = {{kLineId, A}, {kDestAddress, O}, {kCallOptions, O}};
constexpr TableParam kCallIdDestParams[] = {{kCallId, A}, {kDestAddress, A}};
constexpr TableParam kCallIdParams[] = {{kCallId, A}};
constexpr TableParam kAnswerCallReqParams[] = {{kCallId, A}, {kCallOptions, O}};
constexpr TableParam kPickupCallReqParams[] = {{kLineId, A}, {kPickupAddress, O}, {kCallOptions, O}};
constexpr TableParam kTransferReqParams[] = {{kCallId, A}, {kDestAddress, O}, {kCallOptions, O}};
constexpr TableParam kCallIdHeldParams[] = {{kCallId, A}, {kHeldCallId, A}};
constexpr TableParam kUnparkCallReqParams[] = {{kLineId, A}, {kParkAddress, A}, {kCallOptions, O}};
constexpr TableParam kSetForwardReqParams[] = {{kLineId, A}, {kForwardingType, A}, {kDestAddress, A}};
constexpr TableParam kResultParams[] = {{kResult, A}};

// TK -> PC
constexpr TableParam kStartConfParams[] = {{kResult, A}, {kLinkProtocolVersion, P}, {kManufacturerInfo, P}};
constexpr TableParam kEndIndParams[] = {{kCause, P}};
constexpr TableParam kResultCallIdParams[] = {{kResult, A}, {kCallId, P}};
constexpr TableParam kParkCallConfParams[] = {{kResult, A}, {kParkAddress, P}};
constexpr TableParam kNewCallIndParams[] = {{kLineId, P}, {kCallId, P}, {kRefCallId, P}};
constexpr TableParam kCloseCallIndParams[] = {{kCallId, P}};
constexpr TableParam kCallInfoIndParams[] = {
    {kCallId, P},           {kCallState, P},           {kDestAddress, P},      {kOrigAddress, P},
    {kOrigAddressType, P},  {kConnectedAddress, P},    {kConnectedAddressType, P},
    {kRedirectingAddress, P}, {kRedirectingAddressType, P}, {kCallType, P},  {kCause, P},
    {kCallReason, P},       {kExternalAddress, P},     {kRedirectionAddress, P},
    {kRedirectionAddressType, P}, {kChargingInfo, P}};
constexpr TableParam kLineInfoIndParams[] = {{kLineId, P}, {kLineState, P}, {kDestAddress, P}};
constexpr TableParam kGetCallInfoConfParams[] = {
    {kResult, A},          {kCallState, P},         {kLineId, P},           {kRefCallId, P},
    {kOrigAddress, P},     {kOrigAddressType, P},   {kConnectedAddress, P}, {kConnectedAddressType, P},
    {kRedirectingAddress, P}, {kRedirectingAddressType, P}, {kDestAddress, P}};
constexpr TableParam kGetLineInfoConfParams[] = {{kResult, A}, {kCallId, P}, {kLineState, P}, {kDestAddress, P}};
constexpr TableParam kGetCtiCapsConfParams[] = {{kResult, A}, {kCtiCaps1, P}, {kCtiCaps2, P}};
// LINE_LIST stands for LINE_LIST_16 too; the message's lineList16 chooses.
constexpr TableParam kGetAddressListConfParams[] = {{kResult, A}, {kLineList, P}, {kMsnList, P}};

constexpr Kind Req = Kind::Request;
constexpr Kind Conf = Kind::Confirmation;
constexpr Kind Ind = Kind::Indication;
constexpr Kind Resp = Kind::Response;

constexpr MessageLayout kMessages[] = {
    {kStartReq, "VNL_START_REQ", Req, kStartReqParams},
    {kStartConf, "VNL_START_CONF", Conf, kStartConfParams},
    {kEndReq, "VNL_END_REQ", Req, kEndReqParams},
    {kEndConf, "VNL_END_CONF", Conf, kResultParams},
    {kEndInd, "VNL_END_IND", Ind, kEndIndParams},
    {kEndResp, "VNL_END_RESP", Resp, kResultParams},
    {kFailureInd, "VNL_FAILURE_IND", Ind, kResultParams},
    {kRegisterReq, "VNL_REGISTER_REQ", Req, kLineIdParams},
    {kRegisterConf, "VNL_REGISTER_CONF", Conf, kResultParams},
    {kUnregisterReq, "VNL_UNREGISTER_REQ", Req, kLineIdParams},
    {kUnregisterConf, "VNL_UNREGISTER_CONF", Conf, kResultParams},
    {kCallEstablishReq, "VNL_CALLESTABLISH_REQ", Req, kCallEstablishReqParams},
    {kCallEstablishConf, "VNL_CALLESTABLISH_CONF", Conf, kResultCallIdParams},
    {kDialReq, "VNL_DIAL_REQ", Req, kCallIdDestParams},
    {kDialConf, "VNL_DIAL_CONF", Conf, kResultParams},
    {kDisconnectReq, "VNL_DISCONNECT_REQ", Req, kCallIdParams},
    {kDisconnectConf, "VNL_DISCONNECT_CONF", Conf, kResultParams},
    {kAnswerCallReq, "VNL_ANSWERCALL_REQ", Req, kAnswerCallReqParams},
    {kAnswerCallConf, "VNL_ANSWERCALL_CONF", Conf, kResultParams},
    {kPickupCallReq, "VNL_PICKUPCALL_REQ", Req, kPickupCallReqParams},
    {kPickupCallConf, "VNL_PICKUPCALL_CONF", Conf, kResultCallIdParams},
    {kTransferReq, "VNL_TRANSFER_REQ", Req, kTransferReqParams},
    {kTransferConf, "VNL_TRANSFER_CONF", Conf, kResultCallIdParams},
    {k3PtyConferenceReq, "VNL_3PTYCONFERENCE_REQ", Req, kCallIdHeldParams},
    {k3PtyConferenceConf, "VNL_3PTYCONFERENCE_CONF", Conf, kResultParams},
    {kCompleteTransferReq, "VNL_COMPLETETRANSFER_REQ", Req, kCallIdHeldParams},
    {kCompleteTransferConf, "VNL_COMPLETETRANSFER_CONF", Conf, kResultParams},
    {kAlternateCallReq, "VNL_ALTERNATECALL_REQ", Req, kCallIdHeldParams},
    {kAlternateCallConf, "VNL_ALTERNATECALL_CONF", Conf, kResultParams},
    {kParkCallReq, "VNL_PARKCALL_REQ", Req, kCallIdParams},
    {kParkCallConf, "VNL_PARKCALL_CONF", Conf, kParkCallConfParams},
    {kUnparkCallReq, "VNL_UNPARKCALL_REQ", Req, kUnparkCallReqParams},
    {kUnparkCallConf, "VNL_UNPARKCALL_CONF", Conf, kResultCallIdParams},
    {kSetForwardReq, "VNL_SETFORWARD_REQ", Req, kSetForwardReqParams},
    {kSetForwardConf, "VNL_SETFORWARD_CONF", Conf, kResultParams},
    {kRedirectCallReq, "VNL_REDIRECTCALL_REQ", Req, kCallIdDestParams},
    {kRedirectCallConf, "VNL_REDIRECTCALL_CONF", Conf, kResultParams},
    {kNewCallInd, "VNL_NEWCALL_IND", Ind, kNewCallIndParams},
    {kNewCallResp, "VNL_NEWCALL_RESP", Resp, kResultParams},
    {kCloseCallInd, "VNL_CLOSECALL_IND", Ind, kCloseCallIndParams},
    {kCloseCallResp, "VNL_CLOSECALL_RESP", Resp, kResultParams},
    {kCallInfoInd, "VNL_CALLINFO_IND", Ind, kCallInfoIndParams},
    {kCallInfoResp, "VNL_CALLINFO_RESP", Resp, kResultParams},
    {kLineInfoInd, "VNL_LINEINFO_IND", Ind, kLineInfoIndParams},
    {kLineInfoResp, "VNL_LINEINFO_RESP", Resp, kResultParams},
    {kGetCallInfoConf, "VNL_GETCALLINFO_CONF", Conf, kGetCallInfoConfParams},
    {kGetLineInfoReq, "VNL_GETLINEINFO_REQ", Req, kLineIdParams},
    {kGetLineInfoConf, "VNL_GETLINEINFO_CONF", Conf, kGetLineInfoConfParams},
    {kGetCtiCapsConf, "VNL_GETCTICAPS_CONF", Conf, kGetCtiCapsConfParams},
    {kGetAddressListReq, "VNL_GETADDRESSLIST_REQ", Req, {}},
    {kGetAddressListConf, "VNL_GETADDRESSLIST_CONF", Conf, kGetAddressListConfParams},
};

// Index by code, built once.
struct Index {
  std::array<const MessageLayout*, 256> byType{};
  Index() {
    for (const MessageLayout& layout : kMessages) byType[layout.type] = &layout;
  }
};

}  // namespace

const MessageLayout* FindMessageLayout(uint8_t type) {
  static const Index index;
  return index.byType[type];
}

}  // namespace vnl
