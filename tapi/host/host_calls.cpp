#include "tapi/host/host_calls.h"

#include <algorithm>
#include <cstring>

#include "tapi/host/call_params.h"
#include "tapi/host/struct_text.h"

namespace tapihost {
namespace {

// The htCall of the n-th call the host makes is kHtCallBase + n * kHtCallStep
// plus the harness's tag: never null, apart from the handles the harness
// writes for LINE_NEWCALL (which count up from 0x10000), and recognisable in
// traces.
constexpr uintptr_t kHtCallBase = 0x7C000000;
constexpr uintptr_t kHtCallStep = 0x10;

}  // namespace

HostCalls::HostCalls(TelephonyHost& host) : host_(host), nextHtCall_(host.harness().handleTag() | kHtCallBase) {}

HostCalls::~HostCalls() {
  std::lock_guard lock(m_);
  refreshLocked();
  if (parkBuffers_.empty() || !host_.Started()) return;
  // The provider writes the park address when the exchange confirms, which
  // may still come: the buffers stay where they are (moving a vector keeps
  // its storage) until the process ends.
  static std::mutex keptLock;
  static std::vector<std::vector<uint8_t>> kept;
  std::lock_guard keep(keptLock);
  for (auto& [id, buffer] : parkBuffers_) kept.push_back(std::move(buffer));
}

HTAPICALL HostCalls::nextHandleLocked() {
  const HTAPICALL handle = reinterpret_cast<HTAPICALL>(nextHtCall_);
  nextHtCall_ += kHtCallStep;
  return handle;
}

AsyncCall HostCalls::newCall(uint32_t deviceId, HTAPICALL* htCall, const NewCallRequest& request) {
  std::lock_guard lock(m_);
  const HTAPICALL handle = nextHandleLocked();
  if (htCall) *htCall = handle;
  HDRVCALL hdCall = nullptr;
  // Known before the request goes out: the provider reports its states at once.
  calls_[handle] = HostCall{handle, nullptr, deviceId, false};
  AsyncCall result = request(handle, &hdCall);
  if (!result.accepted()) {
    calls_.erase(handle);
    return result;
  }
  calls_[handle].hdCall = hdCall;
  pendingMakes_[result.requestId] = handle;
  return result;
}

AsyncCall HostCalls::MakeCall(uint32_t deviceId, std::u16string_view destination, std::u16string_view origAddress,
                              HTAPICALL* htCall, DWORD countryCode) {
  std::vector<uint8_t> params;
  if (!origAddress.empty()) params = CallParamsFrom(origAddress);
  return MakeCall(deviceId, destination, params.empty() ? nullptr : reinterpret_cast<LINECALLPARAMS*>(params.data()),
                  htCall, countryCode);
}

AsyncCall HostCalls::MakeCall(uint32_t deviceId, std::optional<std::u16string_view> destination,
                              const LINECALLPARAMS* callParams, HTAPICALL* htCall, DWORD countryCode) {
  const std::optional<std::u16string> dest(destination);
  return newCall(deviceId, htCall, [&](HTAPICALL handle, HDRVCALL* hdCall) {
    std::optional<HDRVLINE> hdLine = host_.LineHandle(deviceId);
    if (!hdLine) return AsyncCall::Refused(LINEERR_INVALLINEHANDLE);
    return TSPI_CALL_ASYNC(host_, TSPI_lineMakeCall, *hdLine, handle, hdCall, dest ? dest->c_str() : nullptr,
                           countryCode, const_cast<LPLINECALLPARAMS>(callParams));
  });
}

AsyncCall HostCalls::onCall(HTAPICALL htCall, const std::function<AsyncCall(HDRVCALL)>& operation) {
  std::optional<HostCall> call;
  {
    std::lock_guard lock(m_);
    call = findLocked(htCall);
  }
  if (!call) return AsyncCall::Refused(LINEERR_INVALCALLHANDLE);
  return operation(call->hdCall);
}

AsyncCall HostCalls::Dial(HTAPICALL htCall, std::u16string_view digits, DWORD countryCode) {
  const std::u16string text(digits);
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineDial, hdCall, text.c_str(), countryCode);
  });
}

AsyncCall HostCalls::Accept(HTAPICALL htCall) {
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineAccept, hdCall, LPCSTR{}, DWORD{0});
  });
}

AsyncCall HostCalls::Answer(HTAPICALL htCall) {
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineAnswer, hdCall, LPCSTR{}, DWORD{0});
  });
}

AsyncCall HostCalls::Drop(HTAPICALL htCall) {
  return onCall(htCall, [&](HDRVCALL hdCall) {
    return TSPI_CALL_ASYNC(host_, TSPI_lineDrop, hdCall, LPCSTR{}, DWORD{0});
  });
}

LONG HostCalls::CloseCall(HTAPICALL htCall) {
  std::optional<HostCall> call;
  {
    std::lock_guard lock(m_);
    call = findLocked(htCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    // TAPI forgets a call it deallocates, whatever the provider answers.
    calls_.erase(htCall);
  }
  return TSPI_CALL(host_, TSPI_lineCloseCall, call->hdCall);
}

LONG HostCalls::GetCallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) {
  std::optional<HostCall> call = Find(htCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  size_t size = std::clamp<size_t>(buffer.size(), sizeof(LINECALLINFO), kMaxStructSize);
  for (int attempt = 0; attempt < kStructAttempts; ++attempt) {
    buffer.assign(size, 0);
    auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
    info->dwTotalSize = static_cast<DWORD>(size);
    LONG rc = TSPI_CALL(host_, TSPI_lineGetCallInfo, call->hdCall, info);
    if (rc != 0) return rc;
    if (info->dwTotalSize != size || info->dwUsedSize > size) return LINEERR_OPERATIONFAILED;
    if (info->dwNeededSize <= size || info->dwNeededSize > kMaxStructSize) return 0;
    size = info->dwNeededSize;
  }
  return 0;  // the provider keeps asking for more: it gets what fits
}

LONG HostCalls::GetCallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) {
  std::optional<HostCall> call = Find(htCall);
  if (!call) return LINEERR_INVALCALLHANDLE;
  const size_t size = std::clamp<size_t>(buffer.size(), sizeof(LINECALLSTATUS), kMaxStructSize);
  buffer.assign(size, 0);
  auto* status = reinterpret_cast<LINECALLSTATUS*>(buffer.data());
  status->dwTotalSize = static_cast<DWORD>(size);
  LONG rc = TSPI_CALL(host_, TSPI_lineGetCallStatus, call->hdCall, status);
  if (rc == 0 && (status->dwTotalSize != size || status->dwUsedSize > size)) return LINEERR_OPERATIONFAILED;
  return rc;
}

void HostCalls::refreshLocked() {
  for (const HostEvent& e : host_.EventsSince(cursor_)) {
    if (e.kind == HostEvent::Kind::Completion) {
      if (auto park = parkBuffers_.find(e.requestId); park != parkBuffers_.end()) {
        const auto* address = reinterpret_cast<const VARSTRING*>(park->second.data());
        if (e.result == 0) {
          parkAddresses_[e.requestId] =
              structText(park->second, address->dwStringOffset, address->dwStringSize, address->dwStringFormat);
        }
        parkBuffers_.erase(park);
      }
      auto pending = pendingMakes_.find(e.requestId);
      if (pending == pendingMakes_.end()) continue;
      // The provider deletes a call whose making failed.
      if (e.result != 0) calls_.erase(pending->second);
      pendingMakes_.erase(pending);
    } else if (e.kind == HostEvent::Kind::LineEvent && e.msg == LINE_NEWCALL && e.newHtCall && e.deviceId) {
      calls_[e.newHtCall] = HostCall{e.newHtCall, reinterpret_cast<HDRVCALL>(e.param1), *e.deviceId, true};
    }
  }
}

std::optional<HostCall> HostCalls::findLocked(HTAPICALL htCall) {
  refreshLocked();
  auto it = calls_.find(htCall);
  if (it == calls_.end()) return std::nullopt;
  return it->second;
}

std::optional<HostCall> HostCalls::Find(HTAPICALL htCall) {
  std::lock_guard lock(m_);
  return findLocked(htCall);
}

std::optional<HostCall> HostCalls::CallOf(const HostEvent& event) {
  if (event.kind == HostEvent::Kind::Completion) return std::nullopt;
  return Find(event.msg == LINE_NEWCALL ? event.newHtCall : event.htCall);
}

std::vector<HostCall> HostCalls::Calls() {
  std::lock_guard lock(m_);
  refreshLocked();
  std::vector<HostCall> result;
  for (const auto& [handle, call] : calls_) result.push_back(call);
  return result;
}

size_t HostCalls::Refresh() {
  std::lock_guard lock(m_);
  refreshLocked();
  return cursor_;
}

void HostCalls::ForgetLine(uint32_t deviceId) {
  std::lock_guard lock(m_);
  refreshLocked();
  std::erase_if(calls_, [deviceId](const auto& entry) { return entry.second.deviceId == deviceId; });
}

}  // namespace tapihost
