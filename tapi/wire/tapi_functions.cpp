#include "tapi/wire/tapi_functions.h"

namespace tapiwire {

std::string functionName(uint32_t function) {
  switch (static_cast<Function>(function)) {
#define TK_FUNCTION_NAME(n) \
  case Function::n:         \
    return #n;
    TK_FUNCTION_NAME(Initialize)
    TK_FUNCTION_NAME(Shutdown)
    TK_FUNCTION_NAME(NegotiateApiVersion)
    TK_FUNCTION_NAME(GetDevCaps)
    TK_FUNCTION_NAME(GetAddressCaps)
    TK_FUNCTION_NAME(GetAddressStatus)
    TK_FUNCTION_NAME(GetLineDevStatus)
    TK_FUNCTION_NAME(GetId)
    TK_FUNCTION_NAME(Open)
    TK_FUNCTION_NAME(Close)
    TK_FUNCTION_NAME(SetStatusMessages)
    TK_FUNCTION_NAME(MakeCall)
    TK_FUNCTION_NAME(Dial)
    TK_FUNCTION_NAME(Accept)
    TK_FUNCTION_NAME(Answer)
    TK_FUNCTION_NAME(Drop)
    TK_FUNCTION_NAME(DeallocateCall)
    TK_FUNCTION_NAME(GetCallInfo)
    TK_FUNCTION_NAME(GetCallStatus)
    TK_FUNCTION_NAME(SetAppSpecific)
    TK_FUNCTION_NAME(SetCallData)
    TK_FUNCTION_NAME(SetCallParams)
    TK_FUNCTION_NAME(SetMediaMode)
    TK_FUNCTION_NAME(BlindTransfer)
    TK_FUNCTION_NAME(SetupTransfer)
    TK_FUNCTION_NAME(CompleteTransfer)
    TK_FUNCTION_NAME(SwapHold)
    TK_FUNCTION_NAME(Park)
    TK_FUNCTION_NAME(Unpark)
    TK_FUNCTION_NAME(Pickup)
    TK_FUNCTION_NAME(Redirect)
    TK_FUNCTION_NAME(Forward)
    TK_FUNCTION_NAME(DevSpecific)
    TK_FUNCTION_NAME(DevSpecificFeature)
    TK_FUNCTION_NAME(GetProviderList)
    TK_FUNCTION_NAME(AddProviderBegin)
    TK_FUNCTION_NAME(AddProviderFinish)
    TK_FUNCTION_NAME(RemoveProvider)
    TK_FUNCTION_NAME(ProviderUi)
    TK_FUNCTION_NAME(LineUi)
    TK_FUNCTION_NAME(GenericDialogData)
#undef TK_FUNCTION_NAME
  }
  return "function " + std::to_string(function);
}

}  // namespace tapiwire
