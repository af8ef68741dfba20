#pragma once
// The functions an application asks the telephony service for, and the
// values of each request and reply (see tapi/wire/tapi_wire.h for the
// message format).
//
// A request is: u32 function ID, then the arguments below, in order.
// A reply is: u32 result (TAPI's LONG: 0, a positive request ID of an
// asynchronous function, or a LINEERR_ code), then - only when the result is
// not an error - the out values below, in order.
//
// Notation: h = u32 handle (HLINEAPP, HLINE, HCALL); d = u32 DWORD;
// q = u64 (DWORD_PTR); t = text (UTF-16; the library converts the A
// functions' ANSI text; null stays null); b = bytes (an in-structure exactly
// its dwTotalSize - or its fixed size when it has none - long; null stays
// null); cap = u32, the dwTotalSize of the application's out-structure (the
// library refuses one smaller than the structure's fixed part with
// LINEERR_STRUCTURETOOSMALL before asking, and a null pointer with
// LINEERR_INVALPOINTER). An out-structure comes back as b: the whole
// structure, at most cap bytes, with dwTotalSize = cap and dwNeededSize /
// dwUsedSize as the provider filled them; the library copies it into the
// application's buffer. Strings inside out-structures are UTF-16; the A
// functions' library converts them.
//
// Asynchronous functions (marked async) return a request ID the service
// gives out (positive, unique per connection); their result follows as a
// LINE_REPLY event (dwParam1 = request ID, dwParam2 = result) on the same
// connection, always after the reply. Out handles of an asynchronous
// function come in its reply; they are valid once LINE_REPLY reports 0.
//
//   function             request                                   reply out values
//   Initialize           t appName, d apiVersion (app's highest)   h hLineApp, d numDevs, d apiVersion
//   Shutdown             h hLineApp
//   NegotiateApiVersion  h hLineApp, d deviceId, d low, d high     d apiVersion, b LINEEXTENSIONID (16)
//   GetDevCaps           h hLineApp, d deviceId, d apiVersion,     b LINEDEVCAPS
//                        d extVersion, cap
//   GetAddressCaps       h hLineApp, d deviceId, d addressId,      b LINEADDRESSCAPS
//                        d apiVersion, d extVersion, cap
//   GetAddressStatus     h hLine, d addressId, cap                 b LINEADDRESSSTATUS
//   GetLineDevStatus     h hLine, cap                              b LINEDEVSTATUS
//   GetId                h hLine, d addressId, h hCall, d select,  b VARSTRING
//                        cap, t deviceClass
//   Open                 h hLineApp, d deviceId, d apiVersion,     h hLine
//                        d extVersion, q callbackInstance,
//                        d privileges, d mediaModes, b callParams
//   Close                h hLine
//   SetStatusMessages    h hLine, d lineStates, d addressStates
//   MakeCall (async)     h hLine, t destAddress, d countryCode,    h hCall
//                        b callParams
//   Dial (async)         h hCall, t destAddress, d countryCode
//   Accept (async)       h hCall, b userUserInfo
//   Answer (async)       h hCall, b userUserInfo
//   Drop (async)         h hCall, b userUserInfo
//   DeallocateCall       h hCall
//   GetCallInfo          h hCall, cap                              b LINECALLINFO
//   GetCallStatus        h hCall, cap                              b LINECALLSTATUS
//   SetAppSpecific       h hCall, d appSpecific
//   SetCallData (async)  h hCall, b data
//   SetCallParams (async) h hCall, d bearerMode, d minRate,
//                        d maxRate, b LINEDIALPARAMS (16)
//   SetMediaMode         h hCall, d mediaModes
//   BlindTransfer (async) h hCall, t destAddress, d countryCode
//   SetupTransfer (async) h hCall, b callParams                    h hConsultCall
//   CompleteTransfer (async) h hCall, h hConsultCall,              h hConfCall (0 unless a conference)
//                        d transferMode
//   SwapHold (async)     h hActiveCall, h hHeldCall
//   Park (async)         h hCall, d parkMode, t dirAddress, cap    (LINE_REPLY carries the VARSTRING
//                        (0: no VARSTRING wanted)                   as its attachment)
//   Unpark (async)       h hLine, d addressId, t destAddress       h hCall
//   Pickup (async)       h hLine, d addressId, t destAddress,      h hCall
//                        t groupId
//   Redirect (async)     h hCall, t destAddress, d countryCode
//   Forward (async)      h hLine, d allAddresses, d addressId,     h hConsultCall (0: none)
//                        b LINEFORWARDLIST, d numRingsNoAnswer,
//                        b callParams
//   DevSpecific (async)  h hLine, d addressId, h hCall, b params   (LINE_REPLY carries params back)
//   DevSpecificFeature (async) h hLine, d feature, b params        (LINE_REPLY carries params back)
//   GetProviderList      d apiVersion, cap                         b LINEPROVIDERLIST (UTF-16 names)
//   AddProviderBegin     t providerFile                            d permanentProviderId, t uiModule
//   AddProviderFinish    d permanentProviderId, d installResult
//                        (0: add it; else forget it)
//   RemoveProvider       d permanentProviderId
//   ProviderUi           d permanentProviderId                     t uiModule
//   LineUi               d deviceId                                d permanentProviderId, t uiModule
//   GenericDialogData    d objectId, d objectType, b params        b params (as the provider left them)
//
// Add, remove and configure run in two steps because the provider's UI
// module runs in the application: the service names the module, the library
// loads it and calls its TUISPI function, whose lpfnUIDLLCallback requests
// reach the provider as GenericDialogData.
#include <cstdint>
#include <string>

namespace tapiwire {

enum class Function : uint32_t {
  Initialize = 1,
  Shutdown = 2,
  NegotiateApiVersion = 3,
  GetDevCaps = 4,
  GetAddressCaps = 5,
  GetAddressStatus = 6,
  GetLineDevStatus = 7,
  GetId = 8,
  Open = 9,
  Close = 10,
  SetStatusMessages = 11,
  MakeCall = 20,
  Dial = 21,
  Accept = 22,
  Answer = 23,
  Drop = 24,
  DeallocateCall = 25,
  GetCallInfo = 26,
  GetCallStatus = 27,
  SetAppSpecific = 28,
  SetCallData = 29,
  SetCallParams = 30,
  SetMediaMode = 31,
  BlindTransfer = 40,
  SetupTransfer = 41,
  CompleteTransfer = 42,
  SwapHold = 43,
  Park = 44,
  Unpark = 45,
  Pickup = 46,
  Redirect = 47,
  Forward = 48,
  DevSpecific = 49,
  DevSpecificFeature = 50,
  GetProviderList = 60,
  AddProviderBegin = 61,
  AddProviderFinish = 62,
  RemoveProvider = 63,
  ProviderUi = 64,
  LineUi = 65,
  GenericDialogData = 66,
};

// The function's name for logs ("MakeCall"); "function <n>" for an unknown one.
std::string functionName(uint32_t function);

// The socket of the service of the current root: <runtime folder>/tapisrv.sock.
inline constexpr const char* kServiceSocketName = "tapisrv.sock";

}  // namespace tapiwire
