#include "tapi/host/telephony_host.h"

#include <algorithm>
#include <cstdio>

#include "tapi/host/provider_list.h"
#include "tapi/host/struct_text.h"

namespace tapihost {
namespace {

// Announced devices created in one round of ProcessEvents; the rest wait
// for the next round.
constexpr int kCreatesPerRound = 64;

std::string hex(LONG value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", static_cast<DWORD>(value));
  return buf;
}

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

TelephonyHost::TelephonyHost(const platform::Clock& clock)
    : log_(clock),
      harness_(std::make_unique<ProviderHarness>([this](const std::string& message) { addViolation(message); })) {
  harness_->setRecordListener([this](const CallbackRecord& record) { onRecord(record); });
  // Every record reaches the log through the listener.
  harness_->keepRecords(false);
}

TelephonyHost::~TelephonyHost() {
  if (Started()) Stop();
}

bool TelephonyHost::Load(const std::string& providerFile, uint32_t permanentProviderId, std::string* error) {
  setError(error, {});
  {
    std::lock_guard lock(m_);
    if (started_) {
      setError(error, "a provider is running; stop it first");
      return false;
    }
  }
  if (!harness_->load(providerFile)) {
    setError(error, "cannot load the provider " + providerFile + ": " + harness_->loadError());
    std::lock_guard lock(m_);
    loaded_ = false;
    return false;
  }
  std::lock_guard lock(m_);
  loaded_ = true;
  providerId_ = permanentProviderId;
  return true;
}

bool TelephonyHost::LoadFirstFromRegistry(std::string* error) {
  std::string listProblem;
  std::vector<ProviderListEntry> list = ReadProviderList(&listProblem);
  if (list.empty()) {
    setError(error, "no telephony provider is installed" + (listProblem.empty() ? "" : " (" + listProblem + ")"));
    return false;
  }
  return Load(list.front().filename, list.front().permanentProviderId, error);
}

uint32_t TelephonyHost::PermanentProviderId() const {
  std::lock_guard lock(m_);
  return providerId_;
}

LONG TelephonyHost::Start() {
  std::lock_guard lifecycle(lifecycle_);
  uint32_t id;
  {
    std::lock_guard lock(m_);
    if (!loaded_) return LINEERR_NODRIVER;
    if (started_) return LINEERR_OPERATIONFAILED;
    id = providerId_;
  }
  DWORD lines = 0, phones = 0;
  LONG rc = harness_->enumDevices(id, &lines, &phones);
  if (rc != 0) return rc;
  DWORD options = 0;
  rc = harness_->init(kTspiVersion, id, 0, lines, &options);
  if (rc != 0) return rc;
  {
    std::lock_guard lock(m_);
    started_ = true;
    lineCount_ = lines;
    open_.clear();
    everOpened_.clear();
  }
  // Lines announced meanwhile can be created now: let waiting readers do it.
  log_.wake();
  return 0;
}

LONG TelephonyHost::Stop() {
  std::lock_guard lifecycle(lifecycle_);
  std::vector<uint32_t> openLines;
  uint32_t id;
  {
    std::lock_guard lock(m_);
    if (!started_) return LINEERR_OPERATIONFAILED;
    for (const auto& [device, state] : open_) openLines.push_back(device);
    id = providerId_;
  }
  for (uint32_t device : openLines) CloseLine(device);
  LONG rc = harness_->shutdown(kTspiVersion, id);
  if (rc == 0) {
    std::lock_guard lock(m_);
    started_ = false;
    lineCount_ = 0;
    open_.clear();
    pendingCreates_.clear();
  }
  return rc;
}

bool TelephonyHost::Started() const {
  std::lock_guard lock(m_);
  return started_;
}

uint32_t TelephonyHost::LineCount() const {
  std::lock_guard lock(m_);
  return lineCount_;
}

bool TelephonyHost::validDevice(uint32_t deviceId) const {
  std::lock_guard lock(m_);
  return started_ && deviceId < lineCount_;
}

LONG TelephonyHost::NegotiateVersion(uint32_t deviceId, DWORD* version) {
  if (!validDevice(deviceId)) return LINEERR_BADDEVICEID;
  DWORD negotiated = 0;
  LONG rc = TSPI_CALL(*harness_, TSPI_lineNegotiateTSPIVersion, DWORD{deviceId}, kLowestLineVersion,
                      kHighestLineVersion, &negotiated);
  if (rc == 0 && (negotiated < kLowestLineVersion || negotiated > kHighestLineVersion)) {
    addViolation("TSPI_lineNegotiateTSPIVersion for device " + std::to_string(deviceId) + " chose version " +
                 hex(static_cast<LONG>(negotiated)) + ", outside the range it was offered");
    rc = LINEERR_INCOMPATIBLEAPIVERSION;
  }
  if (version) *version = negotiated;
  return rc;
}

LONG TelephonyHost::GetDevCaps(uint32_t deviceId, std::vector<uint8_t>& buffer) {
  DWORD version = 0;
  LONG rc = NegotiateVersion(deviceId, &version);
  if (rc != 0) return rc;
  size_t size = std::clamp<size_t>(buffer.size(), sizeof(LINEDEVCAPS), kMaxDevCapsSize);
  for (int attempt = 0; attempt < kDevCapsAttempts; ++attempt) {
    buffer.assign(size, 0);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = static_cast<DWORD>(size);
    rc = TSPI_CALL(*harness_, TSPI_lineGetDevCaps, DWORD{deviceId}, version, DWORD{0}, caps);
    if (rc != 0) return rc;
    if (caps->dwTotalSize != size || caps->dwUsedSize > size) {
      addViolation("TSPI_lineGetDevCaps for device " + std::to_string(deviceId) + " reported dwTotalSize " +
                   std::to_string(caps->dwTotalSize) + " and dwUsedSize " + std::to_string(caps->dwUsedSize) +
                   " for a buffer of " + std::to_string(size) + " bytes");
      return LINEERR_OPERATIONFAILED;
    }
    if (caps->dwNeededSize <= size || caps->dwNeededSize > kMaxDevCapsSize) return 0;
    size = caps->dwNeededSize;
  }
  return 0;  // the provider keeps asking for more: it gets what fits
}

std::u16string TelephonyHost::LineName(uint32_t deviceId) {
  std::vector<uint8_t> buffer;
  if (GetDevCaps(deviceId, buffer) != 0) return {};
  const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
  return structText(buffer, caps->dwLineNameOffset, caps->dwLineNameSize, caps->dwStringFormat);
}

HTAPILINE TelephonyHost::HtLineOf(uint32_t deviceId) const { return harness_->htLineFor(deviceId); }

std::optional<uint32_t> TelephonyHost::deviceOfLocked(HTAPILINE htLine) const {
  std::optional<uint32_t> device = harness_->deviceOfHtLine(htLine);
  if (!device || !everOpened_.count(*device)) return std::nullopt;
  return device;
}

std::optional<uint32_t> TelephonyHost::DeviceOf(HTAPILINE htLine) const {
  std::lock_guard lock(m_);
  return deviceOfLocked(htLine);
}

LONG TelephonyHost::OpenLine(uint32_t deviceId) {
  if (!validDevice(deviceId)) return LINEERR_BADDEVICEID;
  {
    std::lock_guard lock(m_);
    if (open_.count(deviceId)) return LINEERR_RESOURCEUNAVAIL;
    open_[deviceId] = OpenState{};
    // Events for the line may arrive before TSPI_lineOpen returns.
    everOpened_.insert(deviceId);
  }
  DWORD version = 0;
  LONG rc = NegotiateVersion(deviceId, &version);
  HDRVLINE hdLine = nullptr;
  if (rc == 0) {
    rc = TSPI_CALL(*harness_, TSPI_lineOpen, DWORD{deviceId}, HtLineOf(deviceId), &hdLine, version,
                   ProviderHarness::lineEventCallback());
  }
  std::lock_guard lock(m_);
  if (rc == 0) {
    open_[deviceId] = OpenState{true, hdLine};
  } else {
    open_.erase(deviceId);
  }
  return rc;
}

LONG TelephonyHost::CloseLine(uint32_t deviceId) {
  HDRVLINE hdLine;
  {
    std::lock_guard lock(m_);
    auto it = open_.find(deviceId);
    if (it == open_.end() || !it->second.opened) return LINEERR_INVALLINEHANDLE;
    hdLine = it->second.hdLine;
    // TAPI forgets a line it closes, whatever the provider answers.
    open_.erase(it);
  }
  return TSPI_CALL(*harness_, TSPI_lineClose, hdLine);
}

std::optional<HDRVLINE> TelephonyHost::LineHandle(uint32_t deviceId) const {
  std::lock_guard lock(m_);
  auto it = open_.find(deviceId);
  if (it == open_.end() || !it->second.opened) return std::nullopt;
  return it->second.hdLine;
}

void TelephonyHost::onRecord(const CallbackRecord& record) {
  std::lock_guard lock(m_);
  std::optional<uint32_t> device;
  const bool announcement = record.msg == LINE_CREATE || record.msg == LINE_REMOVE;
  if (record.kind == CallbackRecord::Kind::LineEvent) {
    device = deviceOfLocked(record.htLine);
    if (!device && !announcement) {
      violations_.push_back(describe(record) + " names an htLine the host never gave out");
    }
  } else if (record.kind == CallbackRecord::Kind::LineCreate && record.msg == LINE_REMOVE &&
             record.param1 <= UINT32_MAX) {
    device = static_cast<uint32_t>(record.param1);
  }
  // Appended under the host's lock together with the pending creation, so
  // a reader that sees the LINE_CREATE also finds the work it announces.
  uint64_t sequence = log_.append(hostEventFrom(record, device));
  if (record.kind == CallbackRecord::Kind::LineCreate && record.msg == LINE_CREATE) {
    pendingCreates_.push_back(PendingCreate{record.param1, record.param2, sequence});
  }
  if (notify_) notify_();
}

void TelephonyHost::SetEventNotifier(std::function<void()> notify) {
  std::lock_guard lock(m_);
  notify_ = std::move(notify);
}

void TelephonyHost::ProcessEvents() {
  std::lock_guard lifecycle(lifecycle_);
  const auto provider = reinterpret_cast<DWORD_PTR>(harness_->hProvider());
  for (int round = 0; round < kCreatesPerRound; ++round) {
    PendingCreate create;
    uint32_t deviceId;
    {
      std::lock_guard lock(m_);
      if (!started_ || pendingCreates_.empty()) return;
      create = pendingCreates_.front();
      pendingCreates_.pop_front();
      deviceId = lineCount_;
    }
    const std::string what = "LINE_CREATE with temporary ID " + std::to_string(create.tempId);
    if (create.provider != provider) {
      addViolation(what + " carries dwParam1 " + std::to_string(create.provider) +
                   " instead of the provider handle; ignored");
      continue;
    }
    LONG rc = TSPI_CALL(*harness_, TSPI_providerCreateLineDevice, create.tempId, DWORD{deviceId});
    if (rc != 0) {
      addViolation(what + ": TSPI_providerCreateLineDevice for device " + std::to_string(deviceId) +
                   " failed with " + hex(rc));
      continue;
    }
    {
      std::lock_guard lock(m_);
      lineCount_ = deviceId + 1;
    }
    log_.update(create.sequence, [deviceId](HostEvent& e) { e.deviceId = deviceId; });
  }
}

std::vector<HostEvent> TelephonyHost::EventsSince(size_t& cursor) {
  return log_.since(cursor, [this] { ProcessEvents(); });
}

std::optional<HostEvent> TelephonyHost::WaitEvent(size_t& cursor, const EventLog::Predicate& pred,
                                                  uint32_t timeoutMs) {
  return log_.waitFor(cursor, pred, timeoutMs, [this] { ProcessEvents(); });
}

std::optional<LONG> TelephonyHost::WaitCompletion(DRV_REQUESTID requestId, uint32_t timeoutMs) {
  return log_.waitCompletion(requestId, timeoutMs, [this] { ProcessEvents(); });
}

void TelephonyHost::DiscardEventsBefore(size_t cursor) { log_.discardBefore(cursor); }

size_t TelephonyHost::KeptEventCount() const { return log_.kept(); }

void TelephonyHost::addViolation(const std::string& message) {
  std::lock_guard lock(m_);
  violations_.push_back(message);
}

std::vector<std::string> TelephonyHost::violations() const {
  std::lock_guard lock(m_);
  return violations_;
}

}  // namespace tapihost
