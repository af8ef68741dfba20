// The functions on the application, its line devices and its open lines
// (tapi/wire/tapi_functions.h): initialise and shut down, versions, device
// and address capabilities and status, lineGetID, open and close with
// privileges, status message masks, the provider list, and the line's
// asynchronous functions (forward, unpark, pickup, device-specific).
// Each reads all its values first, then checks handles (the asking
// client's only), then asks the provider.
#include <algorithm>
#include <cstring>

#include "tapi/host/provider_list.h"
#include "platform/codepage.h"
#include "tapi/service/service_state.h"

namespace tapisrv {
namespace {

constexpr DWORD kAllLineStates = 0x01FFFFFF;
constexpr DWORD kAllAddressStates = 0x000001FF;


bool IsTapiLine(const std::u16string& deviceClass) {
  const std::u16string_view wanted = u"tapi/line";
  if (deviceClass.size() != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    char16_t c = deviceClass[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != wanted[i]) return false;
  }
  return true;
}

}  // namespace

LONG ServiceCore::State::CheckDevice(uint32_t deviceId) {
  const Device* d = DeviceOf(deviceId);
  if (!d) return LINEERR_BADDEVICEID;
  if (d->removed) return LINEERR_NODEVICE;
  if (!providers[d->provider].running) return LINEERR_NODRIVER;
  return 0;
}

LONG ServiceCore::State::CheckCap(Request& r, uint32_t cap, size_t fixedSize) {
  if (cap > kMaxCap) {
    Refuse(r.client, tapiwire::functionName(static_cast<uint32_t>(r.function)) + ": structure size " +
                         std::to_string(cap) + " above the limit of " + std::to_string(kMaxCap));
    return LINEERR_OPERATIONFAILED;
  }
  return cap < fixedSize ? LINEERR_STRUCTURETOOSMALL : 0;
}

LONG ServiceCore::State::DeviceVersion(const Device& d, DWORD apiVersion, DWORD extVersion, DWORD* tspiVersion) {
  if (apiVersion < kLowestApiVersion || apiVersion > kHighestApiVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (extVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  DWORD provider = 0;
  if (LONG rc = HostOf(d).NegotiateVersion(d.local, &provider); rc != 0) return rc;
  *tspiVersion = std::min(provider, apiVersion);
  return 0;
}

LONG ServiceCore::State::OutResult(Request& r, size_t provider, const char* tspi, LONG rc,
                                   std::vector<uint8_t>& buffer) {
  if (rc != 0) return rc;
  if (!SaneOut(buffer)) {
    Fault(provider, std::string(tspi) + " left dwTotalSize " + std::to_string(As<VARSTRING>(buffer)->dwTotalSize) +
                        " and dwUsedSize " + std::to_string(As<VARSTRING>(buffer)->dwUsedSize) + " for " +
                        std::to_string(buffer.size()) + " bytes");
    return LINEERR_OPERATIONFAILED;
  }
  r.out.push_back(std::move(buffer));
  return 0;
}

LONG ServiceCore::State::Initialize(Request& r) {
  const std::optional<std::u16string> name = r.in->text();
  const DWORD version = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  Client& c = clients.at(r.client);
  if (c.app != 0 || c.shutDown) {
    Refuse(r.client, "Initialize: one lineInitializeEx per connection");
    return LINEERR_OPERATIONFAILED;
  }
  if (version < kLowestApiVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  App app;
  app.client = r.client;
  app.hLineApp = NewHandle();
  app.apiVersion = std::min(version, kHighestApiVersion);
  app.name = name.value_or(u"");
  apps[app.hLineApp] = app;
  c.app = app.hLineApp;
  r.out = {app.hLineApp, static_cast<uint32_t>(devices.size()), app.apiVersion};
  return 0;
}

LONG ServiceCore::State::Shutdown(Request& r) {
  const HLINEAPP h = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!FindApp(r, h)) return LINEERR_INVALAPPHANDLE;
  EndApp(h);
  clients.at(r.client).shutDown = true;
  return 0;
}

LONG ServiceCore::State::NegotiateApiVersion(Request& r) {
  const HLINEAPP h = r.in->u32();
  const DWORD deviceId = r.in->u32(), low = r.in->u32(), high = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!FindApp(r, h)) return LINEERR_INVALAPPHANDLE;
  if (LONG rc = CheckDevice(deviceId); rc != 0) return rc;
  const Device& d = devices[deviceId];
  DWORD provider = 0;
  if (LONG rc = HostOf(d).NegotiateVersion(d.local, &provider); rc != 0) return rc;
  const DWORD lo = std::max(low, kLowestApiVersion), hi = std::min(high, kHighestApiVersion);
  if (lo > hi || provider < lo) return LINEERR_INCOMPATIBLEAPIVERSION;
  r.out = {std::min(provider, hi), std::vector<uint8_t>(sizeof(LINEEXTENSIONID), 0)};
  return 0;
}

LONG ServiceCore::State::GetDevCaps(Request& r) {
  const HLINEAPP h = r.in->u32();
  const DWORD deviceId = r.in->u32(), apiVersion = r.in->u32(), extVersion = r.in->u32(), cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!FindApp(r, h)) return LINEERR_INVALAPPHANDLE;
  if (LONG rc = CheckDevice(deviceId); rc != 0) return rc;
  if (LONG rc = CheckCap(r, cap, sizeof(LINEDEVCAPS)); rc != 0) return rc;
  const Device& d = devices[deviceId];
  DWORD version = 0;
  if (LONG rc = DeviceVersion(d, apiVersion, extVersion, &version); rc != 0) return rc;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineGetDevCaps, DWORD{d.local}, version, DWORD{0},
                            As<LINEDEVCAPS>(buffer));
  return OutResult(r, d.provider, "TSPI_lineGetDevCaps", rc, buffer);
}

LONG ServiceCore::State::GetAddressCaps(Request& r) {
  const HLINEAPP h = r.in->u32();
  const DWORD deviceId = r.in->u32(), addressId = r.in->u32(), apiVersion = r.in->u32(),
              extVersion = r.in->u32(), cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!FindApp(r, h)) return LINEERR_INVALAPPHANDLE;
  if (LONG rc = CheckDevice(deviceId); rc != 0) return rc;
  if (LONG rc = CheckCap(r, cap, sizeof(LINEADDRESSCAPS)); rc != 0) return rc;
  const Device& d = devices[deviceId];
  DWORD version = 0;
  if (LONG rc = DeviceVersion(d, apiVersion, extVersion, &version); rc != 0) return rc;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineGetAddressCaps, DWORD{d.local}, addressId, version, DWORD{0},
                            As<LINEADDRESSCAPS>(buffer));
  // The provider numbers its own devices; the application knows the global number.
  if (rc == 0 && SaneOut(buffer)) As<LINEADDRESSCAPS>(buffer)->dwLineDeviceID = deviceId;
  return OutResult(r, d.provider, "TSPI_lineGetAddressCaps", rc, buffer);
}

LONG ServiceCore::State::GetAddressStatus(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD addressId = r.in->u32(), cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  if (LONG rc = CheckCap(r, cap, sizeof(LINEADDRESSSTATUS)); rc != 0) return rc;
  const Device& d = devices[open->device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineGetAddressStatus, *hdLine, addressId, As<LINEADDRESSSTATUS>(buffer));
  return OutResult(r, d.provider, "TSPI_lineGetAddressStatus", rc, buffer);
}

LONG ServiceCore::State::GetLineDevStatus(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  if (LONG rc = CheckCap(r, cap, sizeof(LINEDEVSTATUS)); rc != 0) return rc;
  const Device& d = devices[open->device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineGetLineDevStatus, *hdLine, As<LINEDEVSTATUS>(buffer));
  if (rc == 0 && SaneOut(buffer)) {
    // What only the service knows: the applications' opens of the line.
    auto* status = As<LINEDEVSTATUS>(buffer);
    status->dwNumOpens = static_cast<DWORD>(d.opens.size());
    status->dwOpenMediaModes = 0;
    for (HLINE other : d.opens) {
      const LineOpen& o = lines.at(other);
      if (o.privileges & LINECALLPRIVILEGE_OWNER) status->dwOpenMediaModes |= o.mediaModes;
    }
  }
  return OutResult(r, d.provider, "TSPI_lineGetLineDevStatus", rc, buffer);
}

LONG ServiceCore::State::GetId(Request& r) {
  const HLINE hLine = r.in->u32();
  const DWORD addressId = r.in->u32();
  const HCALL hCall = r.in->u32();
  const DWORD select = r.in->u32(), cap = r.in->u32();
  const std::optional<std::u16string> deviceClass = r.in->text();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  uint32_t device = 0;
  HDRVCALL hdCall = nullptr;
  if (select == LINECALLSELECT_CALL) {
    CallHandle* call = FindCall(r, hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    std::optional<HDRVCALL> hd = HdCall(call->call);
    if (!hd) return LINEERR_INVALCALLHANDLE;
    hdCall = *hd;
    device = calls.at(call->call).device;
  } else if (select == LINECALLSELECT_LINE || select == LINECALLSELECT_ADDRESS) {
    LineOpen* open = FindLine(r, hLine);
    if (!open) return LINEERR_INVALLINEHANDLE;
    device = open->device;
  } else {
    return LINEERR_INVALCALLSELECT;
  }
  if (!deviceClass) return LINEERR_INVALPOINTER;
  if (LONG rc = CheckCap(r, cap, sizeof(VARSTRING)); rc != 0) return rc;
  const Device& d = devices[device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  std::vector<uint8_t> buffer = OutStruct(cap);
  const LONG rc = TSPI_CALL(HostOf(d), TSPI_lineGetID, *hdLine, addressId, hdCall, select, As<VARSTRING>(buffer),
                            deviceClass->c_str(), HANDLE{});
  if (rc == 0 && SaneOut(buffer) && IsTapiLine(*deviceClass)) {
    // The provider knows its own device IDs; the application the global ones.
    auto* id = As<VARSTRING>(buffer);
    if (id->dwStringFormat == STRINGFORMAT_BINARY && id->dwStringSize == sizeof(DWORD) &&
        id->dwStringOffset <= buffer.size() - sizeof(DWORD)) {
      DWORD local = 0;
      std::memcpy(&local, buffer.data() + id->dwStringOffset, sizeof local);
      const std::vector<uint32_t>& globalOf = providers[d.provider].globalOf;
      if (local < globalOf.size()) std::memcpy(buffer.data() + id->dwStringOffset, &globalOf[local], sizeof(DWORD));
    }
  }
  return OutResult(r, d.provider, "TSPI_lineGetID", rc, buffer);
}

LONG ServiceCore::State::Open(Request& r) {
  const HLINEAPP h = r.in->u32();
  const DWORD deviceId = r.in->u32(), apiVersion = r.in->u32(), extVersion = r.in->u32();
  const uint64_t callbackInstance = r.in->u64();
  const DWORD privileges = r.in->u32(), mediaModes = r.in->u32();
  const std::optional<std::vector<uint8_t>> callParams = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  std::string why;
  if (callParams && !ValidCallParams(*callParams, &why)) {
    Refuse(r.client, "Open: LINECALLPARAMS " + why);
    return LINEERR_OPERATIONFAILED;
  }
  App* app = FindApp(r, h);
  if (!app) return LINEERR_INVALAPPHANDLE;
  if (LONG rc = CheckDevice(deviceId); rc != 0) return rc;
  Device& d = devices[deviceId];
  DWORD version = 0;
  if (LONG rc = DeviceVersion(d, apiVersion, extVersion, &version); rc != 0) return rc;
  constexpr DWORD kOwnerMonitor = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR;
  if (privileges != LINECALLPRIVILEGE_NONE && (privileges == 0 || (privileges & ~kOwnerMonitor) != 0)) {
    return LINEERR_INVALPRIVSELECT;
  }
  if ((privileges & LINECALLPRIVILEGE_OWNER) && mediaModes == 0) return LINEERR_INVALMEDIAMODE;
  if (d.opens.empty()) {
    if (LONG rc = HostOf(d).OpenLine(d.local); rc != 0) return rc;
    d.lineStates = d.addressStates = 0;
  }
  LineOpen open;
  open.client = r.client;
  open.device = deviceId;
  open.privileges = privileges;
  open.mediaModes = mediaModes;
  open.callbackInstance = callbackInstance;
  const HLINE hLine = NewHandle();
  lines[hLine] = open;
  d.opens.push_back(hLine);
  app->lines.push_back(hLine);
  r.out = {hLine};
  return 0;
}

LONG ServiceCore::State::Close(Request& r) {
  const HLINE h = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (!FindLine(r, h)) return LINEERR_INVALLINEHANDLE;
  CloseLine(h);
  return 0;
}

LONG ServiceCore::State::SetStatusMessages(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD lineStates = r.in->u32(), addressStates = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  if (lineStates & ~kAllLineStates) return LINEERR_INVALLINESTATE;
  if (addressStates & ~kAllAddressStates) return LINEERR_INVALADDRESSSTATE;
  const DWORD oldLine = open->lineStates, oldAddress = open->addressStates;
  open->lineStates = lineStates;
  open->addressStates = addressStates;
  const LONG rc = UpdateStatusMasks(open->device);
  if (rc != 0) {
    open->lineStates = oldLine;
    open->addressStates = oldAddress;
  }
  return rc;
}

LONG ServiceCore::State::GetProviderList(Request& r) {
  const DWORD apiVersion = r.in->u32(), cap = r.in->u32();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  if (apiVersion < kLowestApiVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (LONG rc = CheckCap(r, cap, sizeof(LINEPROVIDERLIST)); rc != 0) return rc;
  r.out = {ProviderListStruct(cap)};
  return 0;
}

LONG ServiceCore::State::Forward(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD allAddresses = r.in->u32(), addressId = r.in->u32();
  std::optional<std::vector<uint8_t>> list = r.in->bytes();
  const DWORD numRings = r.in->u32();
  std::optional<std::vector<uint8_t>> callParams = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  std::string why;
  if ((list && !ValidForwardList(*list, &why)) || (callParams && !ValidCallParams(*callParams, &why))) {
    Refuse(r.client, "Forward: " + why);
    return LINEERR_OPERATIONFAILED;
  }
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  const Device& d = devices[open->device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  Pending p;
  if (list) p.keep.push_back(Padded(*list));
  if (callParams) p.keep.push_back(Padded(*callParams, sizeof(LINECALLPARAMS)));
  auto* listPtr = list ? reinterpret_cast<LPLINEFORWARDLIST>(p.keep.front().data()) : nullptr;
  auto* paramsPtr = callParams ? reinterpret_cast<LPLINECALLPARAMS>(p.keep.back().data()) : nullptr;
  // A consultation call the provider might open for the forwarding is not followed.
  const auto htConsult = reinterpret_cast<HTAPICALL>(nextForwardConsult);
  nextForwardConsult += 0x10;
  HDRVCALL hdConsult = nullptr;
  const tapihost::AsyncCall c = TSPI_CALL_ASYNC(HostOf(d), TSPI_lineForward, *hdLine, allAddresses, addressId,
                                                listPtr, numRings, htConsult, &hdConsult, paramsPtr);
  r.out = {uint32_t{0}};
  return Accepted(r, d.provider, c, std::move(p));
}

LONG ServiceCore::State::DevSpecific(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD addressId = r.in->u32();
  const HCALL hCall = r.in->u32();
  std::optional<std::vector<uint8_t>> params = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  HDRVCALL hdCall = nullptr;
  if (hCall != 0) {
    CallHandle* call = FindCall(r, hCall);
    if (!call) return LINEERR_INVALCALLHANDLE;
    std::optional<HDRVCALL> hd = HdCall(call->call);
    if (!hd) return LINEERR_INVALCALLHANDLE;
    hdCall = *hd;
  }
  const Device& d = devices[open->device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  Pending p;
  p.attach = params.has_value();
  if (params) p.buffer = std::move(*params);
  const tapihost::AsyncCall c =
      TSPI_CALL_ASYNC(HostOf(d), TSPI_lineDevSpecific, *hdLine, addressId, hdCall,
                      p.attach ? static_cast<LPVOID>(p.buffer.data()) : nullptr, static_cast<DWORD>(p.buffer.size()));
  return Accepted(r, d.provider, c, std::move(p));
}

LONG ServiceCore::State::DevSpecificFeature(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD feature = r.in->u32();
  std::optional<std::vector<uint8_t>> params = r.in->bytes();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  const Device& d = devices[open->device];
  std::optional<HDRVLINE> hdLine = HdLine(d);
  if (!hdLine) return LINEERR_INVALLINEHANDLE;
  Pending p;
  p.attach = params.has_value();
  if (params) p.buffer = std::move(*params);
  const tapihost::AsyncCall c =
      TSPI_CALL_ASYNC(HostOf(d), TSPI_lineDevSpecificFeature, *hdLine, feature,
                      p.attach ? static_cast<LPVOID>(p.buffer.data()) : nullptr, static_cast<DWORD>(p.buffer.size()));
  return Accepted(r, d.provider, c, std::move(p));
}

LONG ServiceCore::State::Unpark(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD addressId = r.in->u32();
  const std::optional<std::u16string> address = r.in->text();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  // The host unparks on the line's first address.
  if (addressId != 0) return LINEERR_INVALADDRESSID;
  const uint32_t device = open->device;
  const Device& d = devices[device];
  HTAPICALL htCall = nullptr;
  const tapihost::AsyncCall c = CallsOf(d).Unpark(d.local, address.value_or(u""), &htCall);
  return AcceptedNewCall(r, d.provider, c, htCall, device, h);
}

LONG ServiceCore::State::Pickup(Request& r) {
  const HLINE h = r.in->u32();
  const DWORD addressId = r.in->u32();
  const std::optional<std::u16string> address = r.in->text();
  const std::optional<std::u16string> groupId = r.in->text();
  if (!ArgsDone(r)) return LINEERR_OPERATIONFAILED;
  LineOpen* open = FindLine(r, h);
  if (!open) return LINEERR_INVALLINEHANDLE;
  // The host picks up on the line's first address, without a group.
  if (addressId != 0) return LINEERR_INVALADDRESSID;
  if (groupId && !groupId->empty()) return LINEERR_OPERATIONUNAVAIL;
  const uint32_t device = open->device;
  const Device& d = devices[device];
  HTAPICALL htCall = nullptr;
  const tapihost::AsyncCall c = CallsOf(d).Pickup(d.local, address.value_or(u""), &htCall);
  return AcceptedNewCall(r, d.provider, c, htCall, device, h);
}

}  // namespace tapisrv
