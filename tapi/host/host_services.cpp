// HostCalls' supplementary services: transfer (blind and with a
// consultation call), three-party conference, swap hold, park and unpark,
// pickup, redirect and forwarding. Each is one TSPI request; the calls they
// create are learnt through HostCalls::newCall like a made call.
#include <algorithm>
#include <cstring>

#include "platform/reg_tree.h"
#include "tapi/host/call_params.h"
#include "tapi/host/host_calls.h"

namespace tapihost {
namespace {

// Room for any park address the provider writes (it needs 36 bytes at most).
constexpr size_t kParkAddressBufferSize = 64;

}  // namespace

AsyncCall HostCalls::BlindTransfer(HTAPICALL htCall, std::u16string_view destination, DWORD countryCode) {
  const std::u16string dest(destination);
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineBlindTransfer, hdCall, dest.c_str(), countryCode);
  });
}

AsyncCall HostCalls::SetupTransfer(HTAPICALL htCall, HTAPICALL* htConsultCall) {
  return SetupTransfer(htCall, nullptr, htConsultCall);
}

AsyncCall HostCalls::SetupTransfer(HTAPICALL htCall, const LINECALLPARAMS* callParams, HTAPICALL* htConsultCall) {
  std::optional<HostCall> call = Find(htCall);
  if (!call) return AsyncCall::Refused(LINEERR_INVALCALLHANDLE);
  return newCall(call->deviceId, htConsultCall, [&](HTAPICALL consult, HDRVCALL* hdConsult) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineSetupTransfer, call->hdCall, consult, hdConsult,
                           const_cast<LPLINECALLPARAMS>(callParams));
  });
}

AsyncCall HostCalls::CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode,
                                      HTAPICALL* htConfCall) {
  std::optional<HostCall> call = Find(htCall), consult = Find(htConsultCall);
  if (!call || !consult) return AsyncCall::Refused(LINEERR_INVALCALLHANDLE);
  if (transferMode != LINETRANSFERMODE_CONFERENCE) {
    HDRVCALL noConference = nullptr;  // the provider clears it
    return TSPI_CALL_ASYNC(host_, TSPI_lineCompleteTransfer, call->hdCall, consult->hdCall, HTAPICALL{},
                           &noConference, transferMode);
  }
  return newCall(call->deviceId, htConfCall, [&](HTAPICALL conference, HDRVCALL* hdConference) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineCompleteTransfer, call->hdCall, consult->hdCall, conference,
                           hdConference, transferMode);
  });
}

AsyncCall HostCalls::SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) {
  std::optional<HostCall> active = Find(htActiveCall), held = Find(htHeldCall);
  if (!active || !held) return AsyncCall::Refused(LINEERR_INVALCALLHANDLE);
  return TSPI_CALL_ASYNC(host_, TSPI_lineSwapHold, active->hdCall, held->hdCall);
}

AsyncCall HostCalls::Park(HTAPICALL htCall) {
  std::lock_guard lock(m_);
  std::optional<HostCall> call = findLocked(htCall);
  if (!call) return AsyncCall::Refused(LINEERR_INVALCALLHANDLE);
  std::vector<uint8_t> buffer(kParkAddressBufferSize, 0);
  auto* address = reinterpret_cast<VARSTRING*>(buffer.data());
  address->dwTotalSize = static_cast<DWORD>(buffer.size());
  AsyncCall request =
      TSPI_CALL_ASYNC(host_, TSPI_linePark, call->hdCall, DWORD{LINEPARKMODE_NONDIRECTED}, LPCWSTR{}, address);
  // Still under the lock: the completion is read no earlier than this.
  if (request.accepted()) parkBuffers_[request.requestId] = std::move(buffer);
  return request;
}

std::optional<std::u16string> HostCalls::ParkAddress(DRV_REQUESTID requestId) {
  std::lock_guard lock(m_);
  refreshLocked();
  auto it = parkAddresses_.find(requestId);
  if (it == parkAddresses_.end()) return std::nullopt;
  return it->second;
}

AsyncCall HostCalls::Unpark(uint32_t deviceId, std::u16string_view address, HTAPICALL* htCall) {
  const std::u16string parked(address);
  return newCall(deviceId, htCall, [&](HTAPICALL handle, HDRVCALL* hdCall) {
    std::optional<HDRVLINE> hdLine = host_.LineHandle(deviceId);
    if (!hdLine) return AsyncCall::Refused(LINEERR_INVALLINEHANDLE);
    return TSPI_CALL_ASYNC(host_, TSPI_lineUnpark, *hdLine, DWORD{0}, handle, hdCall,
                           parked.empty() ? nullptr : parked.c_str());
  });
}

AsyncCall HostCalls::Pickup(uint32_t deviceId, std::u16string_view number, HTAPICALL* htCall) {
  const std::u16string extension(number);
  return newCall(deviceId, htCall, [&](HTAPICALL handle, HDRVCALL* hdCall) {
    std::optional<HDRVLINE> hdLine = host_.LineHandle(deviceId);
    if (!hdLine) return AsyncCall::Refused(LINEERR_INVALLINEHANDLE);
    return TSPI_CALL_ASYNC(host_, TSPI_linePickup, *hdLine, DWORD{0}, handle, hdCall,
                           extension.empty() ? nullptr : extension.c_str(), LPCWSTR{});
  });
}

AsyncCall HostCalls::Redirect(HTAPICALL htCall, std::u16string_view destination, DWORD countryCode) {
  const std::u16string dest(destination);
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineRedirect, hdCall, dest.c_str(), countryCode);
  });
}

AsyncCall HostCalls::Forward(uint32_t deviceId, DWORD forwardMode, std::u16string_view destination) {
  std::optional<HDRVLINE> hdLine = host_.LineHandle(deviceId);
  if (!hdLine) return AsyncCall::Refused(LINEERR_INVALLINEHANDLE);
  // No list cancels the forwarding.
  std::vector<uint8_t> list;
  if (forwardMode != 0) list = ForwardListOf(forwardMode, destination);
  HTAPICALL htConsult = nullptr;
  {
    std::lock_guard lock(m_);
    htConsult = nextHandleLocked();
  }
  // A consultation call a provider might open for the forwarding is not followed.
  HDRVCALL hdConsult = nullptr;
  return TSPI_CALL_ASYNC(host_, TSPI_lineForward, *hdLine, DWORD{1}, DWORD{0},
                         list.empty() ? nullptr : reinterpret_cast<LPLINEFORWARDLIST>(list.data()), DWORD{0},
                         htConsult, &hdConsult, LPLINECALLPARAMS{});
}

}  // namespace tapihost
