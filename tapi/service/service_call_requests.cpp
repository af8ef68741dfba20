// The functions on calls: make, dial, accept, answer, drop, deallocate, call
// information and status, the call settings, and the supplementary services
// (transfer, conference, swap hold, park, blind transfer, redirect). Call
// control needs the OWNER privilege (LINEERR_NOTOWNER for a monitor); reading
// does not. HostCalls runs the operations it has; the others go to the
// provider's TSPI function with the hdCall HostCalls knows. A request that
// creates a call gives the asking application an owner handle at once (in
// the reply); the line's monitors get theirs with the call's first event.
#include <cstring>

#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

std::vector<uint8_t> TextBytes(const std::u16string& text) {
  std::vector<uint8_t> bytes((text.size() + 1) * sizeof(char16_t), 0);
  std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
  return bytes;
}

}  // namespace

using tapiwire::Function;

HCALL ServiceCore::State::NewAppCall(size_t provider, HTAPICALL htCall, uint32_t device, HLINE hLine) {
  const CallKey key{provider, htCall};
  Call call;
  call.device = device;
  call.monitorsPending = true;
  calls[key] = call;
  return AddCallHandle(key, hLine, LINECALLPRIVILEGE_OWNER, true);
}

LONG ServiceCore::State::AcceptedNewCall(Request& r, size_t provider, const tapihost::AsyncCall& c, HTAPICALL htCall,
                                         uint32_t device, HLINE hLine) {
  if (!c.accepted()) return Accepted(r, provider, c, {});
  Pending p;
  p.createdCall = CallKey{provider, htCall};
  p.createdHandle = NewAppCall(provider, htCall, device, hLine);
  r.out = {p.createdHandle};
  return Accepted(r, provider, c, std::move(p));
}

CallHandle* ServiceCore::State::OwnedCall(Request& r, HCALL h, LONG* rc) {
  CallHandle* call = FindCall(r, h);
  *rc = !call ? LINEERR_INVALCALLHANDLE : call->privilege != LINECALLPRIVILEGE_OWNER ? LINEERR_NOTOWNER : 0;
  return *rc == 0 ? call : nullptr;
}

LONG ServiceCore::State::MakeCall(Request& r) {
  const HLINE h = r.in->u32();
  const std::optional<std::u16string> dest = r.in->text();
  const DWORD countryCode = r.in->u32();
  const std::optional<std::vector<uint8_t>> callParams = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  std::string why;
  if (callParams && !ValidCallParams(*callParams, &why)) {
    Refuse(r.client, "MakeCall: LINECALLPARAMS " + why);
    return LINEERR_OPERATIONFAILED;
  }
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  const uint32_t device = open->device;
  const Device& d = devices[device];
  HTAPICALL htCall = nullptr;
  std::vector<uint8_t> params = callParams ? Padded(*callParams, sizeof(LINECALLPARAMS)) : std::vector<uint8_t>{};
  std::optional<std::u16string_view> destination;
  if (dest) destination = *dest;
  const tapihost::AsyncCall c =
      CallsOf(d).MakeCall(d.local, destination, callParams ? As<LINECALLPARAMS>(params) : nullptr, &htCall, countryCode);
  return AcceptedNewCall(r, d.provider, c, htCall, device, h);
}

LONG ServiceCore::State::CallOperation(Request& r) {
  const HCALL h = r.in->u32();
  std::optional<std::u16string> text;
  std::optional<std::vector<uint8_t>> bytes;
  DWORD countryCode = 0, bearerMode = 0, minRate = 0, maxRate = 0;
  switch (r.function) {
    case Function::Dial:
    case Function::BlindTransfer:
    case Function::Redirect:
      text = r.in->text();
      countryCode = r.in->u32();
      break;
    case Function::SetCallParams:
      bearerMode = r.in->u32();
      minRate = r.in->u32();
      maxRate = r.in->u32();
      bytes = r.in->bytes();
      break;
    default:  // Accept, Answer, Drop: user-user information; SetCallData: the data
      bytes = r.in->bytes();
      break;
  }
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (r.function == Function::SetCallParams && bytes && bytes->size() != sizeof(LINEDIALPARAMS)) {
    Refuse(r.client, "SetCallParams: LINEDIALPARAMS of " + std::to_string(bytes->size()) + " bytes");
    return LINEERR_OPERATIONFAILED;
  }
  LONG rc = 0;
  CallHandle* call = OwnedCall(r, h, &rc);
  if (!call) return rc;
  const CallKey key = call->call;
  tapihost::HostCalls& hostCalls = *providers[key.provider].calls;
  tapihost::TelephonyHost& host = *providers[key.provider].host;
  const std::optional<HDRVCALL> hdCall = HdCall(key);
  if (!hdCall) return LINEERR_INVALCALLHANDLE;
  Pending p;
  if (bytes) p.keep.push_back(Padded(*bytes));
  const auto* data = bytes ? p.keep.front().data() : nullptr;
  const auto size = bytes ? static_cast<DWORD>(bytes->size()) : DWORD{0};
  const auto* uui = reinterpret_cast<LPCSTR>(data);
  tapihost::AsyncCall c;
  switch (r.function) {
    case Function::Dial:
    case Function::BlindTransfer:
    case Function::Redirect:
      if (!text) return LINEERR_INVALPOINTER;
      c = r.function == Function::Dial            ? hostCalls.Dial(key.htCall, *text, countryCode)
          : r.function == Function::BlindTransfer ? hostCalls.BlindTransfer(key.htCall, *text, countryCode)
                                                  : hostCalls.Redirect(key.htCall, *text, countryCode);
      break;
    case Function::Accept:
      c = bytes ? TSPI_CALL_ASYNC(host, TSPI_lineAccept, *hdCall, uui, size) : hostCalls.Accept(key.htCall);
      break;
    case Function::Answer:
      c = bytes ? TSPI_CALL_ASYNC(host, TSPI_lineAnswer, *hdCall, uui, size) : hostCalls.Answer(key.htCall);
      break;
    case Function::Drop:
      c = bytes ? TSPI_CALL_ASYNC(host, TSPI_lineDrop, *hdCall, uui, size) : hostCalls.Drop(key.htCall);
      break;
    case Function::SetCallData:
      c = TSPI_CALL_ASYNC(host, TSPI_lineSetCallData, *hdCall, const_cast<LPVOID>(static_cast<const void*>(data)),
                          size);
      break;
    default:  // SetCallParams
      c = TSPI_CALL_ASYNC(host, TSPI_lineSetCallParams, *hdCall, bearerMode, minRate, maxRate,
                          bytes ? reinterpret_cast<LPLINEDIALPARAMS>(p.keep.front().data()) : nullptr);
      break;
  }
  return Accepted(r, key.provider, c, std::move(p));
}

LONG ServiceCore::State::DeallocateCall(Request& r) {
  const HCALL h = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  CallHandle* handle = FindCall(r, h);
  if (!handle) return LINEERR_INVALCALLHANDLE;
  const CallKey key = handle->call;
  const Call& call = calls.at(key);
  if (handle->privilege == LINECALLPRIVILEGE_OWNER && CountPrivilege(call, LINECALLPRIVILEGE_OWNER) == 1 &&
      call.state != LINECALLSTATE_IDLE) {
    return LINEERR_INVALCALLSTATE;
  }
  RemoveCallHandle(h);
  CloseIfDone(key);
  return 0;
}

LONG ServiceCore::State::GetCallInfo(Request& r) {
  const HCALL h = r.in->u32();
  const DWORD cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  CallHandle* handle = FindCall(r, h);
  if (!handle) return LINEERR_INVALCALLHANDLE;
  if (LONG rc = CheckCap(r, cap, sizeof(LINECALLINFO)); rc != 0) return rc;
  const std::optional<HDRVCALL> hdCall = HdCall(handle->call);
  if (!hdCall) return LINEERR_INVALCALLHANDLE;
  const size_t provider = handle->call.provider;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(*providers[provider].host, TSPI_lineGetCallInfo, *hdCall, As<LINECALLINFO>(buffer));
  if (rc == 0 && SaneOut(buffer)) {
    // What the application knows the call by, and who else holds it.
    const Call& call = calls.at(handle->call);
    auto* info = As<LINECALLINFO>(buffer);
    info->hLine = handle->hLine;
    info->dwLineDeviceID = call.device;
    info->dwNumOwners = static_cast<DWORD>(CountPrivilege(call, LINECALLPRIVILEGE_OWNER));
    info->dwNumMonitors = static_cast<DWORD>(CountPrivilege(call, LINECALLPRIVILEGE_MONITOR));
  }
  return OutResult(r, provider, "TSPI_lineGetCallInfo", rc, buffer);
}

LONG ServiceCore::State::GetCallStatus(Request& r) {
  const HCALL h = r.in->u32();
  const DWORD cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  CallHandle* handle = FindCall(r, h);
  if (!handle) return LINEERR_INVALCALLHANDLE;
  if (LONG rc = CheckCap(r, cap, sizeof(LINECALLSTATUS)); rc != 0) return rc;
  const std::optional<HDRVCALL> hdCall = HdCall(handle->call);
  if (!hdCall) return LINEERR_INVALCALLHANDLE;
  const size_t provider = handle->call.provider;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(*providers[provider].host, TSPI_lineGetCallStatus, *hdCall, As<LINECALLSTATUS>(buffer));
  if (rc == 0 && SaneOut(buffer)) As<LINECALLSTATUS>(buffer)->dwCallPrivilege = handle->privilege;
  return OutResult(r, provider, "TSPI_lineGetCallStatus", rc, buffer);
}

LONG ServiceCore::State::SetCallValue(Request& r) {
  const HCALL h = r.in->u32();
  const DWORD value = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LONG rc = 0;
  CallHandle* call = OwnedCall(r, h, &rc);
  if (!call) return rc;
  const std::optional<HDRVCALL> hdCall = HdCall(call->call);
  if (!hdCall) return LINEERR_INVALCALLHANDLE;
  tapihost::TelephonyHost& host = *providers[call->call.provider].host;
  return r.function == Function::SetAppSpecific ? TSPI_CALL(host, TSPI_lineSetAppSpecific, *hdCall, value)
                                                : TSPI_CALL(host, TSPI_lineSetMediaMode, *hdCall, value);
}

LONG ServiceCore::State::SetupTransfer(Request& r) {
  const HCALL h = r.in->u32();
  const std::optional<std::vector<uint8_t>> callParams = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  std::string why;
  if (callParams && !ValidCallParams(*callParams, &why)) {
    Refuse(r.client, "SetupTransfer: LINECALLPARAMS " + why);
    return LINEERR_OPERATIONFAILED;
  }
  LONG rc = 0;
  CallHandle* call = OwnedCall(r, h, &rc);
  if (!call) return rc;
  const CallKey key = call->call;
  const HLINE hLine = call->hLine;
  HTAPICALL htConsult = nullptr;
  std::vector<uint8_t> params = callParams ? Padded(*callParams, sizeof(LINECALLPARAMS)) : std::vector<uint8_t>{};
  const tapihost::AsyncCall c = providers[key.provider].calls->SetupTransfer(
      key.htCall, callParams ? As<LINECALLPARAMS>(params) : nullptr, &htConsult);
  return AcceptedNewCall(r, key.provider, c, htConsult, calls.at(key).device, hLine);
}

LONG ServiceCore::State::CompleteTransfer(Request& r) {
  const HCALL h = r.in->u32(), hConsult = r.in->u32();
  const DWORD mode = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LONG rc = 0;
  CallHandle* call = OwnedCall(r, h, &rc);
  if (!call) return rc;
  CallHandle* consult = OwnedCall(r, hConsult, &rc);
  if (!consult) return rc == LINEERR_INVALCALLHANDLE ? LINEERR_INVALCONSULTCALLHANDLE : rc;
  if (consult->call.provider != call->call.provider || h == hConsult) return LINEERR_INVALCONSULTCALLHANDLE;
  if (mode != LINETRANSFERMODE_TRANSFER && mode != LINETRANSFERMODE_CONFERENCE) return LINEERR_INVALTRANSFERMODE;
  const CallKey key = call->call;
  const HLINE hLine = call->hLine;
  HTAPICALL htConf = nullptr;
  const tapihost::AsyncCall c =
      providers[key.provider].calls->CompleteTransfer(key.htCall, consult->call.htCall, mode, &htConf);
  if (mode != LINETRANSFERMODE_CONFERENCE) {
    r.out = {uint32_t{0}};  // no conference call
    return Accepted(r, key.provider, c, {});
  }
  return AcceptedNewCall(r, key.provider, c, htConf, calls.at(key).device, hLine);
}

LONG ServiceCore::State::SwapHold(Request& r) {
  const HCALL hActive = r.in->u32(), hHeld = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LONG rc = 0;
  CallHandle* active = OwnedCall(r, hActive, &rc);
  if (!active) return rc;
  CallHandle* held = OwnedCall(r, hHeld, &rc);
  if (!held) return rc;
  if (held->call.provider != active->call.provider || hActive == hHeld) return LINEERR_INVALCALLHANDLE;
  const size_t provider = active->call.provider;
  return Accepted(r, provider, providers[provider].calls->SwapHold(active->call.htCall, held->call.htCall), {});
}

LONG ServiceCore::State::Park(Request& r) {
  const HCALL h = r.in->u32();
  const DWORD mode = r.in->u32();
  const std::optional<std::u16string> dirAddress = r.in->text();
  const DWORD cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LONG rc = 0;
  CallHandle* call = OwnedCall(r, h, &rc);
  if (!call) return rc;
  if (mode != LINEPARKMODE_DIRECTED && mode != LINEPARKMODE_NONDIRECTED) return LINEERR_INVALPARKMODE;
  if (mode == LINEPARKMODE_DIRECTED && !dirAddress) return LINEERR_INVALPOINTER;
  if (cap != 0) {
    if (rc = CheckCap(r, cap, sizeof(VARSTRING)); rc != 0) return rc;
  }
  const std::optional<HDRVCALL> hdCall = HdCall(call->call);
  if (!hdCall) return LINEERR_INVALCALLHANDLE;
  const size_t provider = call->call.provider;
  Pending p;
  if (cap != 0) {
    p.buffer = OutStruct(cap);
    p.attach = true;
  }
  if (dirAddress) p.keep.push_back(TextBytes(*dirAddress));
  const tapihost::AsyncCall c = TSPI_CALL_ASYNC(
      *providers[provider].host, TSPI_linePark, *hdCall, mode,
      dirAddress ? reinterpret_cast<LPCWSTR>(p.keep.front().data()) : nullptr,
      cap != 0 ? As<VARSTRING>(p.buffer) : nullptr);
  return Accepted(r, provider, c, std::move(p));
}

}  // namespace tapisrv
