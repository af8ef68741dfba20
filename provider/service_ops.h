#pragma once
// The TSPI operations of the exchange's supplementary services (service_ops.cpp):
// blind, setup and complete transfer (with the three-party conference),
// swap hold, park, unpark, pickup, redirect and forward. In: TAPI's arguments, checked in a fixed
// order against the call model, each failing check returning its LINEERR_
// code before anything is sent. Out: one request handed to the link, which
// completes it later through the event queue (confirmation, 5000 ms
// time-out or line close); the operation returns dwRequestID. The call
// objects made here (consultation, conference, unparked and picked-up calls)
// are deleted again when the request cannot go out; the consultation,
// unparked and picked-up calls stay unbound until the exchange confirms
// them. Runs on TAPI's
// threads and takes the provider lock itself; no thread of its own.
//
// LINEFORWARDLIST comes from an application through TAPI and is not
// trusted: nothing is read outside its dwTotalSize, and offsets and sizes
// are added without overflow.
#include <cstdint>
#include <optional>
#include <string>

#include "common/sync.h"
#include "provider/call_model.h"
#include "provider/line_config.h"
#include "provider/link_interface.h"
#include "provider/provider_state.h"
#include "tapi/tapi_structs.h"
#include "tapi/tspi.h"

namespace kvarsp {

// FORWARDING_TYPE of VNL_SETFORWARD_REQ for cancelling the forwarding.
constexpr uint8_t kForwardingTypeCancel = 3;
// FORWARDING_TYPE for a LINEFORWARDMODE_: UNCOND 0, BUSY 1, NOANSW 2;
// nullopt for any other mode (0 included), which the exchange does not offer.
std::optional<uint8_t> ForwardingTypeOf(uint32_t mode);

// What TSPI_lineForward asks for: mode 0 and no destination cancel.
struct ForwardWish {
  uint32_t mode = 0;
  uint32_t countryCode = 0;
  std::optional<std::u16string> destination;  // the filtered digits
};
// Reads the caller's list: null or no entry cancels; more than one entry is
// LINEERR_INVALPARAM; a list too small for its counts or its entry is
// LINEERR_STRUCTURETOOSMALL; a destination with size or offset 0, outside
// the list, or without digits is LINEERR_INVALADDRESS; the digit filter's
// errors are returned as they are. The mode is not checked here.
LONG ReadForwardList(const LINEFORWARDLIST* list, ForwardWish& wish);

// The park address TSPI_lineUnpark names: null and "" are 0, otherwise only
// decimal digits up to 65535 (nullopt for anything else).
std::optional<uint16_t> ParseParkAddress(const char16_t* text);

// A VARSTRING for the park address needs this much: 24 bytes of fixed part
// and at most 6 wide characters.
constexpr DWORD kParkAddressNeededSize = 36;

class ServiceOperations {
 public:
  ServiceOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, const LineDirectory& directory);
  ServiceOperations(const ServiceOperations&) = delete;
  ServiceOperations& operator=(const ServiceOperations&) = delete;

  // dwCountryCode is not used: the exchange dials the digits.
  LONG BlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  // The consultation call is made on the call's line (unbound until the
  // exchange confirms it); on a 0x20000 line a one-step transfer takes the
  // call parameters' target address.
  LONG SetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                     const LINECALLPARAMS* callParams);
  // Transfer mode hands the held call's party to the other call's;
  // conference mode makes the conference call object (*lphdConfCall).
  LONG CompleteTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HDRVCALL hdConsultCall, HTAPICALL htConfCall,
                        LPHDRVCALL lphdConfCall, DWORD transferMode);
  // Only non-directed park; lpszDirAddress is not used.
  LONG Park(DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD parkMode, LPVARSTRING nonDirAddress);
  // dwAddressID is not used: the new call is on address 0.
  LONG Unpark(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destAddress);
  // lpszGroupID is not used.
  LONG Pickup(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destAddress);
  // Either call may be the held one: the request names the connected call first.
  LONG SwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
  // dwCountryCode is not used: the exchange redirects to the digits.
  LONG Redirect(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  // dwNumRingsNoAnswer, htConsultCall and lpCallParams are not used; no
  // consultation call is created (*lphdConsultCall is set to null).
  LONG Forward(DRV_REQUESTID requestId, HDRVLINE hdLine, DWORD allAddresses, DWORD addressId,
               const LINEFORWARDLIST* forwardList, LPHDRVCALL lphdConsultCall);

 private:
  // The call and its line, or null when the handle names no call of an open line.
  OpenLine* LineOfCall(HDRVCALL hdCall, const TspCall*& call);
  // CALL_OPTIONS of the requests that make a call for the line: 0x20 when its
  // hands-free mode is 1, else 0; nullopt when the line has no configuration.
  std::optional<uint8_t> HandsfreeOptions(const OpenLine& line) const;
  // Unpark and pickup: the new call, made unbound once the request is out.
  template <typename Send>
  LONG NewCallRequest(DRV_REQUESTID requestId, OpenLine& line, HTAPICALL htCall, LPHDRVCALL lphdCall,
                      uint32_t reason, Send&& send);

  CCritSec& lock_;
  LinkInterface& link_;
  CallModel& calls_;
  const LineDirectory& directory_;
};

}  // namespace kvarsp
