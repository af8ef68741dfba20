#include "tools/tkphone_service_backend.h"

#include <cstring>

#include "platform/codepage.h"
#include "tapi/host/call_params.h"

namespace tkphone {
namespace {

// The versions tkphone asks for, as the in-process host negotiates them.
constexpr DWORD kLowVersion = 0x00010004;
constexpr DWORD kHighVersion = 0x00020000;
// Every line and address state change is worth showing.
constexpr DWORD kAllLineStates = 0x01FFFFFF;
constexpr DWORD kAllAddressStates = 0x000001FF;
// A VARSTRING with room for any park address.
constexpr DWORD kParkBufferSize = 512;

HTAPICALL AsHtCall(HCALL hCall) { return reinterpret_cast<HTAPICALL>(static_cast<uintptr_t>(hCall)); }
HCALL AsHCall(HTAPICALL htCall) { return static_cast<HCALL>(reinterpret_cast<uintptr_t>(htCall)); }

std::u16string Wide(const std::string& utf8) { return platform::utf8ToWide(utf8); }
// Null for an empty text, as TAPI takes "no address".
LPCWSTR OrNull(const std::u16string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

ServiceBackend::~ServiceBackend() {
  if (app_ != 0) lineShutdown(app_);  // closes the lines and hands back the calls
}

LONG ServiceBackend::Initialize() {
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  DWORD numDevs = 0;
  DWORD apiVersion = kHighVersion;
  LONG rc = lineInitializeExW(&app_, nullptr, nullptr, u"tkphone", &numDevs, &apiVersion, &params);
  if (rc != 0) {
    app_ = 0;
    return rc;
  }
  lineCount_ = numDevs;
  return 0;
}

LONG ServiceBackend::ProviderList(std::vector<std::pair<uint32_t, std::string>>* providers) {
  std::vector<uint8_t> buffer(4096);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = static_cast<DWORD>(buffer.size());
    if (LONG rc = lineGetProviderListW(kHighVersion, list); rc != 0) return rc;
    if (list->dwNeededSize > list->dwTotalSize) {
      buffer.assign(list->dwNeededSize, 0);
      continue;
    }
    const size_t entries = list->dwNumProviders;
    if (list->dwProviderListOffset + entries * sizeof(LINEPROVIDERENTRY) > list->dwUsedSize) {
      return LINEERR_OPERATIONFAILED;
    }
    for (size_t i = 0; i < entries; ++i) {
      LINEPROVIDERENTRY entry;
      std::memcpy(&entry, buffer.data() + list->dwProviderListOffset + i * sizeof entry, sizeof entry);
      if (entry.dwProviderFilenameOffset + entry.dwProviderFilenameSize > list->dwUsedSize) {
        return LINEERR_OPERATIONFAILED;
      }
      std::u16string file(entry.dwProviderFilenameSize / 2, u'\0');
      std::memcpy(file.data(), buffer.data() + entry.dwProviderFilenameOffset, file.size() * 2);
      while (!file.empty() && file.back() == u'\0') file.pop_back();
      providers->emplace_back(entry.dwPermanentProviderID, platform::wideToUtf8(file));
    }
    return 0;
  }
  return LINEERR_OPERATIONFAILED;
}

std::string ServiceBackend::LineName(uint32_t line) {
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  if (lineNegotiateAPIVersion(app_, line, kLowVersion, kHighVersion, &version, &extension) != 0) return {};
  std::vector<uint8_t> buffer(sizeof(LINEDEVCAPS) + 1024);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = static_cast<DWORD>(buffer.size());
    if (lineGetDevCapsW(app_, line, version, 0, caps) != 0) return {};
    if (caps->dwNeededSize > caps->dwTotalSize) {
      buffer.assign(caps->dwNeededSize, 0);
      continue;
    }
    if (caps->dwLineNameSize < 2 || caps->dwLineNameOffset + caps->dwLineNameSize > caps->dwUsedSize) return {};
    std::u16string name(caps->dwLineNameSize / 2, u'\0');
    std::memcpy(name.data(), buffer.data() + caps->dwLineNameOffset, name.size() * 2);
    while (!name.empty() && name.back() == u'\0') name.pop_back();
    return platform::wideToUtf8(name);
  }
  return {};
}

LONG ServiceBackend::OpenLine(uint32_t line) {
  if (lines_.count(line)) return LINEERR_RESOURCEUNAVAIL;
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  if (LONG rc = lineNegotiateAPIVersion(app_, line, kLowVersion, kHighVersion, &version, &extension); rc != 0) {
    return rc;
  }
  const DWORD privileges =
      monitorOnly_ ? LINECALLPRIVILEGE_MONITOR : LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR;
  const DWORD mediaModes = monitorOnly_ ? 0 : LINEMEDIAMODE_INTERACTIVEVOICE;
  HLINE hLine = 0;
  LONG rc = lineOpenW(app_, line, &hLine, version, 0, line, privileges, mediaModes, nullptr);
  if (rc != 0) return rc;
  lines_[line] = hLine;
  lineSetStatusMessages(hLine, kAllLineStates, kAllAddressStates);
  return 0;
}

LONG ServiceBackend::CloseLine(uint32_t line) {
  auto it = lines_.find(line);
  if (it == lines_.end()) return LINEERR_INVALLINEHANDLE;
  LONG rc = lineClose(it->second);
  lines_.erase(it);
  for (auto call = callLines_.begin(); call != callLines_.end();) {
    call = call->second == line ? callLines_.erase(call) : std::next(call);
  }
  return rc;
}

HLINE ServiceBackend::LineHandle(uint32_t line) const {
  auto it = lines_.find(line);
  return it == lines_.end() ? 0 : it->second;
}

tapihost::AsyncCall ServiceBackend::Request(LONG result) {
  tapihost::AsyncCall c;
  c.result = result;
  c.requestId = result > 0 ? static_cast<DRV_REQUESTID>(result) : 0;
  return c;
}

tapihost::AsyncCall ServiceBackend::NewCall(LONG result, HCALL hCall, uint32_t line, HTAPICALL* newCall) {
  tapihost::AsyncCall c = Request(result);
  if (newCall) *newCall = c.accepted() ? AsHtCall(hCall) : nullptr;
  if (c.accepted() && hCall != 0) callLines_[hCall] = line;
  return c;
}

tapihost::AsyncCall ServiceBackend::MakeCall(uint32_t line, const std::string& number, const std::string& address,
                                             HTAPICALL* htCall) {
  const std::u16string dest = Wide(number);
  std::vector<uint8_t> params;
  if (!address.empty()) params = tapihost::CallParamsFrom(Wide(address));
  HCALL hCall = 0;
  LONG rc = lineMakeCallW(LineHandle(line), &hCall, OrNull(dest), 0,
                          params.empty() ? nullptr : reinterpret_cast<LINECALLPARAMS*>(params.data()));
  return NewCall(rc, hCall, line, htCall);
}

tapihost::AsyncCall ServiceBackend::Dial(HTAPICALL htCall, const std::string& digits) {
  const std::u16string text = Wide(digits);
  return Request(lineDialW(AsHCall(htCall), text.c_str(), 0));
}

tapihost::AsyncCall ServiceBackend::Accept(HTAPICALL htCall) { return Request(lineAccept(AsHCall(htCall), nullptr, 0)); }
tapihost::AsyncCall ServiceBackend::Answer(HTAPICALL htCall) { return Request(lineAnswer(AsHCall(htCall), nullptr, 0)); }
tapihost::AsyncCall ServiceBackend::Drop(HTAPICALL htCall) { return Request(lineDrop(AsHCall(htCall), nullptr, 0)); }

LONG ServiceBackend::CloseCall(HTAPICALL htCall) {
  LONG rc = lineDeallocateCall(AsHCall(htCall));
  if (rc == 0) callLines_.erase(AsHCall(htCall));
  return rc;
}

LONG ServiceBackend::GetStructure(HCALL hCall, bool info, std::vector<uint8_t>& buffer) {
  const size_t fixed = info ? sizeof(LINECALLINFO) : sizeof(LINECALLSTATUS);
  if (buffer.size() < fixed + 512) buffer.assign(fixed + 512, 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto* total = reinterpret_cast<DWORD*>(buffer.data());
    total[0] = static_cast<DWORD>(buffer.size());
    LONG rc = info ? lineGetCallInfoW(hCall, reinterpret_cast<LINECALLINFO*>(buffer.data()))
                   : lineGetCallStatus(hCall, reinterpret_cast<LINECALLSTATUS*>(buffer.data()));
    if (rc != 0) return rc;
    const DWORD needed = total[1];
    if (needed <= buffer.size()) return 0;
    buffer.assign(needed, 0);
  }
  return LINEERR_OPERATIONFAILED;
}

LONG ServiceBackend::CallInfo(HTAPICALL htCall, std::vector<uint8_t>& buffer) {
  return GetStructure(AsHCall(htCall), true, buffer);
}

LONG ServiceBackend::CallStatus(HTAPICALL htCall, std::vector<uint8_t>& buffer) {
  return GetStructure(AsHCall(htCall), false, buffer);
}

tapihost::AsyncCall ServiceBackend::BlindTransfer(HTAPICALL htCall, const std::string& number) {
  const std::u16string dest = Wide(number);
  return Request(lineBlindTransferW(AsHCall(htCall), dest.c_str(), 0));
}

tapihost::AsyncCall ServiceBackend::SetupTransfer(HTAPICALL htCall, HTAPICALL* newCall) {
  HCALL consult = 0;
  auto line = callLines_.find(AsHCall(htCall));
  LONG rc = lineSetupTransferW(AsHCall(htCall), &consult, nullptr);
  return NewCall(rc, consult, line == callLines_.end() ? 0 : line->second, newCall);
}

tapihost::AsyncCall ServiceBackend::CompleteTransfer(HTAPICALL htCall, HTAPICALL htConsultCall, DWORD transferMode,
                                                     HTAPICALL* newCall) {
  HCALL conference = 0;
  auto line = callLines_.find(AsHCall(htCall));
  LONG rc = lineCompleteTransfer(AsHCall(htCall), AsHCall(htConsultCall), &conference, transferMode);
  return NewCall(rc, conference, line == callLines_.end() ? 0 : line->second, newCall);
}

tapihost::AsyncCall ServiceBackend::SwapHold(HTAPICALL htActiveCall, HTAPICALL htHeldCall) {
  return Request(lineSwapHold(AsHCall(htActiveCall), AsHCall(htHeldCall)));
}

tapihost::AsyncCall ServiceBackend::Park(HTAPICALL htCall) {
  auto buffer = std::make_unique<std::vector<uint8_t>>(kParkBufferSize, 0);
  auto* varString = reinterpret_cast<VARSTRING*>(buffer->data());
  varString->dwTotalSize = kParkBufferSize;
  tapihost::AsyncCall c =
      Request(lineParkW(AsHCall(htCall), LINEPARKMODE_NONDIRECTED, nullptr, varString));
  // The library writes the park address into the VARSTRING when the request
  // completes, so it lives until then.
  if (c.accepted()) parkBuffers_[c.requestId] = std::move(buffer);
  return c;
}

std::optional<std::string> ServiceBackend::ParkAddress(DRV_REQUESTID requestId) {
  auto it = parkAddresses_.find(requestId);
  if (it == parkAddresses_.end()) return std::nullopt;
  return it->second;
}

tapihost::AsyncCall ServiceBackend::Unpark(uint32_t line, const std::string& address, HTAPICALL* newCall) {
  const std::u16string dest = Wide(address);
  HCALL hCall = 0;
  LONG rc = lineUnparkW(LineHandle(line), 0, &hCall, OrNull(dest));
  return NewCall(rc, hCall, line, newCall);
}

tapihost::AsyncCall ServiceBackend::Pickup(uint32_t line, const std::string& number, HTAPICALL* newCall) {
  const std::u16string dest = Wide(number);
  HCALL hCall = 0;
  LONG rc = linePickupW(LineHandle(line), 0, &hCall, OrNull(dest), nullptr);
  return NewCall(rc, hCall, line, newCall);
}

tapihost::AsyncCall ServiceBackend::Redirect(HTAPICALL htCall, const std::string& number) {
  const std::u16string dest = Wide(number);
  return Request(lineRedirectW(AsHCall(htCall), dest.c_str(), 0));
}

tapihost::AsyncCall ServiceBackend::Forward(uint32_t line, DWORD forwardMode, const std::string& number) {
  std::vector<uint8_t> list;
  if (forwardMode != 0) list = tapihost::ForwardListOf(forwardMode, Wide(number));
  HCALL consult = 0;
  return Request(lineForwardW(LineHandle(line), 1, 0,
                              list.empty() ? nullptr : reinterpret_cast<LINEFORWARDLIST*>(list.data()), 0,
                              &consult, nullptr));
}

void ServiceBackend::Translate(const LINEMESSAGE& m, std::vector<tapihost::HostEvent>& out) {
  tapihost::HostEvent e;
  if (m.dwMessageID == LINE_REPLY) {
    const auto requestId = static_cast<DRV_REQUESTID>(m.dwParam1);
    const auto result = static_cast<LONG>(m.dwParam2);
    if (auto park = parkBuffers_.find(requestId); park != parkBuffers_.end()) {
      const auto* v = reinterpret_cast<const VARSTRING*>(park->second->data());
      if (result == 0 && v->dwStringSize >= 2 && v->dwStringOffset + v->dwStringSize <= park->second->size()) {
        std::u16string text(v->dwStringSize / 2, u'\0');
        std::memcpy(text.data(), park->second->data() + v->dwStringOffset, text.size() * 2);
        while (!text.empty() && text.back() == u'\0') text.pop_back();
        parkAddresses_[requestId] = platform::wideToUtf8(text);
      }
      parkBuffers_.erase(park);
    }
    e.kind = tapihost::CallbackRecord::Kind::Completion;
    e.requestId = requestId;
    e.result = result;
    e.name = "ASYNC_COMPLETION";
    e.sequence = ++sequence_;
    out.push_back(std::move(e));
    return;
  }
  const auto line = static_cast<uint32_t>(m.dwCallbackInstance);
  e.kind = tapihost::CallbackRecord::Kind::LineEvent;
  e.msg = m.dwMessageID;
  e.param1 = m.dwParam1;
  e.param2 = m.dwParam2;
  e.param3 = m.dwParam3;
  e.deviceId = line;
  if (m.dwMessageID == LINE_CREATE) {
    e.kind = tapihost::CallbackRecord::Kind::LineCreate;
    e.deviceId = static_cast<uint32_t>(m.dwParam1);
    if (m.dwParam1 >= lineCount_) lineCount_ = static_cast<uint32_t>(m.dwParam1) + 1;
  }
  // LINE_REMOVE names the removed device in dwParam1; no line of ours carries it.
  if (m.dwMessageID == LINE_REMOVE) e.deviceId = static_cast<uint32_t>(m.dwParam1);
  const bool callMessage = m.dwMessageID == LINE_CALLSTATE || m.dwMessageID == LINE_CALLINFO ||
                           m.dwMessageID == LINE_GENERATE || m.dwMessageID == LINE_MONITORDIGITS ||
                           m.dwMessageID == LINE_MONITORMEDIA || m.dwMessageID == LINE_MONITORTONE ||
                           m.dwMessageID == LINE_GATHERDIGITS;
  if (callMessage) {
    const HCALL hCall = m.hDevice;
    e.htCall = AsHtCall(hCall);
    // A handle the application did not ask for: a call offered to it or one
    // it monitors. The first LINE_CALLSTATE for it carries its privilege.
    if (m.dwMessageID == LINE_CALLSTATE && m.dwParam3 != 0 && !callLines_.count(hCall)) {
      callLines_[hCall] = line;
      tapihost::HostEvent announce;
      announce.kind = tapihost::CallbackRecord::Kind::LineEvent;
      announce.msg = LINE_NEWCALL;
      announce.newHtCall = AsHtCall(hCall);
      announce.param2 = static_cast<DWORD_PTR>(hCall);
      announce.privilege = static_cast<DWORD>(m.dwParam3);
      announce.deviceId = line;
      announce.name = "LINE_NEWCALL";
      announce.sequence = ++sequence_;
      out.push_back(std::move(announce));
    }
  }
  // dwParam3 of an application's LINE_CALLSTATE is its privilege when that
  // changed, not the call's media mode as the provider reports it to a host.
  if (m.dwMessageID == LINE_CALLSTATE) {
    e.privilege = static_cast<DWORD>(m.dwParam3);
    e.param3 = 0;
  }
  e.name = tapihost::hostEventFrom(e, e.deviceId).name;
  e.sequence = ++sequence_;
  out.push_back(std::move(e));
}

std::vector<tapihost::HostEvent> ServiceBackend::NextEvents(uint32_t timeoutMs) {
  std::vector<tapihost::HostEvent> events;
  LINEMESSAGE m{};
  if (lineGetMessage(app_, &m, timeoutMs) != 0) return events;
  Translate(m, events);
  while (lineGetMessage(app_, &m, 0) == 0) Translate(m, events);
  return events;
}

}  // namespace tkphone
