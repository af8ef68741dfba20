#pragma once
// The TSPI operations of the exchange's supplementary services (service_ops.cpp):
// swap hold, redirect and forward. In: TAPI's arguments, checked in a fixed
// order against the call model, each failing check returning its LINEERR_
// code before anything is sent. Out: one request handed to the link, which
// completes it later through the event queue (confirmation, 5000 ms
// time-out or line close); the operation returns dwRequestID. Runs on TAPI's
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

class ServiceOperations {
 public:
  ServiceOperations(CCritSec& lock, LinkInterface& link, CallModel& calls, const LineDirectory& directory);
  ServiceOperations(const ServiceOperations&) = delete;
  ServiceOperations& operator=(const ServiceOperations&) = delete;

  // Either call may be the held one: the request names the connected call first.
  LONG SwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
  // dwCountryCode is not used: the exchange redirects to the digits.
  LONG Redirect(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destAddress, DWORD countryCode);
  // dwNumRingsNoAnswer, htConsultCall and lpCallParams are not used; no
  // consultation call is created (*lphdConsultCall is set to null).
  LONG Forward(DRV_REQUESTID requestId, HDRVLINE hdLine, DWORD allAddresses, DWORD addressId,
               const LINEFORWARDLIST* forwardList, LPHDRVCALL lphdConsultCall);

 private:
  CCritSec& lock_;
  LinkInterface& link_;
  CallModel& calls_;
  const LineDirectory& directory_;
};

}  // namespace kvarsp
