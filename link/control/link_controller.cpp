#include "link/control/link_controller.h"

#include <chrono>
#include <mutex>
#include <vector>

#include "link/api/vnl2_api.h"
#include "link/common/link_log.h"
#include "link/control/lan_link.h"
#include "link/control/link_opening.h"
#include "link/control/serial_link.h"
#include "link/control/serial_transport.h"
#include "link/control/usb_transport.h"

namespace {

constexpr size_t kReceiveBufferSize = 4096;
constexpr uint32_t kCommWatchExitWaitMs = 3000;
constexpr uint32_t kServiceRequestDelayMs = 100;  // after the port opened, before the first request
constexpr uint8_t kServiceRequest[] = {0x1B, 0x43};  // ESC "C", sent unframed
// How often the window thread, waiting for the link lock, looks whether its
// holder is stuck in a send.
constexpr auto kStallCheck = std::chrono::milliseconds(100);

// Kinds of WM_COPYDATA, by the high 16 bits of dwData.
constexpr uint32_t kCopyOutboundBlock = 0x0001;
constexpr uint32_t kCopyRequestServiceAgain = 0x1111;

}  // namespace

LinkController::LinkController(ClientLibrary& library) : library_(library) {}

LinkController::~LinkController() = default;

bool LinkController::OnCreate(platform::WindowHandle window, const std::string& linkName) {
  window_ = window;
  return OpenConnection(linkName);
}

bool LinkController::OpenConnection(const std::string& linkName) {
  LinkLog(kLogTrace, "OpenConnection (0x%x,%s)", LinkLogPointer(window_), linkName.c_str());
  LinkSelection selection = SelectLink(linkName);
  if (!selection.refusal.empty()) {
    StartFailed(std::move(selection.refusal));
    return false;
  }
  const std::string& link = selection.link;
  kind_ = selection.transport;

  switch (kind_) {
    case Transport::Usb: {
      auto usb = std::make_unique<UsbTransport>();
      std::string failure;
      const bool opened = OpenUsbTransport(*usb, link, &failure);
      if (!KeepTransport(std::move(usb), opened, std::move(failure), link)) return false;
      LinkHost& host = *this;
      protocol_ = std::make_unique<SerialLink>(host, false);  // no speed to switch
      break;
    }
    case Transport::Serial: {
      auto serial = std::make_unique<SerialTransport>();
      std::string failure;
      const bool opened = OpenSerialTransport(*serial, selection.config, link, &failure);
      if (!KeepTransport(std::move(serial), opened, std::move(failure), link)) return false;
      LinkHost& host = *this;
      protocol_ = std::make_unique<SerialLink>(host, true);
      break;
    }
    case Transport::Lan: {
      auto lan = std::make_unique<LanTransport>();
      std::string failure;
      const bool opened = OpenLanTransport(*lan, selection.config, &failure);
      if (!KeepTransport(std::move(lan), opened, std::move(failure), link)) return false;
      LinkHost& host = *this;
      protocol_ = std::make_unique<LanLink>(host, LanSupervision(selection.config));
      // A LAN link is up as soon as the connection stands.
      linkState_ = kLinkInformationTransfer;
      library_.LinkInfo(kVnl2LinkUp);
      break;
    }
    case Transport::None:
      // No transport: the receive thread finds nothing and releases the
      // link at once, as it always did; the reason is kept for the end.
      StartFailed(std::string(selection.choice == LinkChoice::Replaced ? "the link name '" : "the configured Link '") +
                  link + "' selects no transport (COM..., USB..., TCP or LAN/USB); the link is released at once");
      break;
  }

  if (!commWatch_.start([this] { CommWatch(); }, "CommWatch")) {
    LinkLog(kLogError, "OpenConnection %s - CreateThread failed !", link.c_str());
    StartFailed("cannot start the receive thread");
    library_.LinkInfo(kVnl2LinkRefused);
    CloseTransport();
    return false;
  }
  if (kind_ == Transport::Serial || kind_ == Transport::Usb) {
    // The exchange answers the service request with a text line and then
    // speaks frames; the request is repeated on timer 0x1001.
    platform::sleepMs(kServiceRequestDelayMs);
    LinkLog(kLogTrace, "RequestService (0x%x)", 1);
    SendServiceRequest();
    retryCount_ = 1;
    platform::setTimer(window_, kTimerServiceRequest, kServiceRequestPeriodMs);
  }
  return true;
}

bool LinkController::KeepTransport(std::unique_ptr<LinkTransport> transport, bool opened, std::string failure,
                                   const std::string& link) {
  transport_ = std::move(transport);
  if (opened) return true;
  StartFailed(std::move(failure));
  library_.LinkInfo(kVnl2LinkRefused);
  LinkLog(kLogError, "OpenConnection %s failed !", link.c_str());
  return false;
}

void LinkController::StartFailed(std::string reason) {
  LinkLog(kLogError, "%s", reason.c_str());
  startFailure_ = std::move(reason);
}

void LinkController::CommWatch() {
  LinkLog(kLogDetail, "Enter CommWatch Thread");
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  while (linkState_.load() != kLinkReleased) {
    int received = ReceiveConnection(buffer.data(), buffer.size());
    if (received > 0 && linkState_.load() != kLinkReleased) {
      LinkLogHexDump(kLogTrace, "Received:", buffer.data(), static_cast<size_t>(received));
      if (protocol_) {
        std::lock_guard lock(linkLock_);
        protocol_->OnBytes(buffer.data(), static_cast<size_t>(received));
      }
      LinkLog(kLogDetail, "loop CommWatch Thread");
    } else if (received <= 0) {
      // Nothing arrived: a LAN connection (or a missing transport) is gone.
      if (protocol_) {
        std::lock_guard lock(linkLock_);
        protocol_->OnEndOfStream();
      }
      LinkLog(kLogDetail, "Device Disconnected");
      Release();
    }
  }
  LinkLog(kLogDetail, "Exit CommWatch Thread");
}

int LinkController::ReceiveConnection(uint8_t* buffer, size_t capacity) {
  return transport_ ? transport_->Receive(buffer, capacity) : 0;
}

int LinkController::SendConnection(const uint8_t* data, size_t count) {
  if (!transport_) return 0;
  LinkLogHexDump(kLogTrace, "SendConnection():", data, count);
  sendingSince_ = platform::tickCount();
  sending_ = true;
  const int sent = transport_->Send(data, count);
  sending_ = false;
  return sent == static_cast<int>(count) && count > 0 ? 1 : 0;
}

void LinkController::LockLink(std::unique_lock<LinkLock>& lock) {
  while (!lock.try_lock_for(kStallCheck)) {
    // The holder is stuck in a send when one has lasted a whole supervision
    // period: the peer has taken no byte for as long as the supervision
    // allows it to be silent. Closing the transport fails that send.
    const uint32_t limit = keepAlivePeriodMs_.load();
    if (limit == 0 || stallClosed_ || !sending_.load()) continue;
    const uint32_t since = sendingSince_.load();
    if (!sending_.load() || platform::tickCount() - since < limit) continue;
    LinkLog(kLogError, "SendConnection stalled for %u ms, connection closed", platform::tickCount() - since);
    stallClosed_ = true;
    CloseTransport();
  }
}

bool LinkController::SendServiceRequest() { return SendConnection(kServiceRequest, sizeof kServiceRequest) == 1; }

platform::LResult LinkController::OnCopyData(const platform::CopyDataStruct& record) {
  LinkLog(kLogDetail, "VNL2 Transferdata received,%lx", static_cast<unsigned long>(record.dwData));
  switch ((record.dwData >> 16) & 0xFFFF) {
    case kCopyOutboundBlock: {
      // A refused block is lost; the answer 0 fails the client's
      // VNL2_SendData, which would otherwise wait for a reply in vain.
      if (!protocol_) return 0;
      std::unique_lock lock(linkLock_, std::defer_lock);
      LockLink(lock);
      return protocol_->OnClientBlock(static_cast<uint32_t>(record.dwData & 0xFF), record.lpData, record.cbData) ? 1
                                                                                                                 : 0;
    }
    case kCopyRequestServiceAgain: {
      bool sent = SendServiceRequest();
      bool timer = sent && platform::setTimer(window_, kTimerServiceRequest, kServiceRequestPeriodMs) != 0;
      if (!timer) return 0;
      retryCount_ = 1;
      linkState_ = kLinkSetUp;
      return 1;
    }
    default: return 0;
  }
}

void LinkController::OnTimer(uintptr_t id) {
  platform::killTimer(window_, id);
  if (id == kTimerHeldBlocks) return RetryHeldBlocks();
  LinkLog(kLogDetail, "TimerEvent");
  if (id == kTimerServiceRequest) {
    RepeatServiceRequest();
  } else if (protocol_) {
    std::unique_lock lock(linkLock_, std::defer_lock);
    LockLink(lock);
    protocol_->OnTimer(id);
  }
  std::unique_lock lock(linkLock_, std::defer_lock);
  LockLink(lock);
  LogStateChange();
}

void LinkController::RepeatServiceRequest() {
  if (linkState_.load() != kLinkRequestingService) return;
  if (++retryCount_ > kServiceRequestTries) {
    library_.LinkInfo(kVnl2LinkRefused);
    Release();
    return;
  }
  LinkLog(kLogTrace, "Request Service");
  SendServiceRequest();
  platform::setTimer(window_, kTimerServiceRequest, kServiceRequestPeriodMs);
}

void LinkController::OnClose() {
  LinkLog(kLogDetail, "WM_CLOSE");
  if (kind_ == Transport::Lan) {
    CloseTransport();
    Release();
    return;
  }
  switch (linkState_.load()) {
    case kLinkDisconnected:
    case kLinkDisconnecting:
    case kLinkReleased: return;
    case kLinkRequestingService:
      platform::killTimer(window_, kTimerServiceRequest);
      Release();
      return;
    default:
      // Set-up, information transfer and timer recovery end with the
      // frame protocol's DISC exchange; a link without a protocol has
      // nothing to take down in order.
      if (!protocol_) {
        Release();
        return;
      }
      std::unique_lock lock(linkLock_, std::defer_lock);
      LockLink(lock);
      protocol_->OnClose();
      LogStateChange();
      return;
  }
}

void LinkController::CloseTransport() {
  if (transport_) transport_->Close();
}

void LinkController::Release() {
  LinkLog(kLogTrace, "Varnet Released");
  if (linkState_.exchange(kLinkReleased) != kLinkReleased) platform::postMessage(window_, platform::kWmDestroy, 0, 0);
}

bool LinkController::OnDestroy() {
  if (destroyed_) return true;
  destroyed_ = true;
  LinkLog(kLogDetail, "WM_DESTROY");
  // Whatever led here, the receive thread is to end.
  linkState_ = kLinkReleased;
  CloseTransport();
  bool ended = commWatch_.join(kCommWatchExitWaitMs);
  if (!ended) LinkLog(kLogWarning, "WaitForSingleObject(hCommWatchThread,3000)==WAIT_TIMEOUT!!!");
  else if (transport_) transport_->Release();
  library_.LinkInfo(kVnl2LinkDown);
  return ended;
}

void LinkController::LogStateChange() {
  uint16_t state = linkState_.load();
  if (state == lastLoggedState_) return;
  LinkLog(kLogDetail, "VNL2 State changed %x -> %x", lastLoggedState_, state);
  lastLoggedState_ = state;
}

bool LinkController::SendBytes(const uint8_t* data, size_t count) { return SendConnection(data, count) == 1; }

int32_t LinkController::DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) {
  const bool wasHolding = held_.size() != 0;
  const int32_t result = held_.Deliver(service, data, length);
  if (!wasHolding && held_.size() != 0) platform::setTimer(window_, kTimerHeldBlocks, kHeldBlocksRetryMs);
  return result;
}

void LinkController::RetryHeldBlocks() {
  std::unique_lock lock(linkLock_, std::defer_lock);
  LockLink(lock);
  size_t refused = 0;
  const bool more = held_.Retry(&refused);
  // A held block whose service closed meanwhile is lost as a refused one is.
  for (size_t i = 0; i < refused; ++i) LinkLog(kLogError, "ProcessSocketFrame failed: VNL2_QUEUE_ERROR !");
  if (more) platform::setTimer(window_, kTimerHeldBlocks, kHeldBlocksRetryMs);
}

void LinkController::ReportLink(uint32_t kind) { library_.LinkInfo(kind); }

void LinkController::StartTimer(uintptr_t id, uint32_t periodMs) {
  if (id == kTimerKeepAlive) keepAlivePeriodMs_ = periodMs;
  platform::setTimer(window_, id, periodMs);
}

void LinkController::StopTimer(uintptr_t id) { platform::killTimer(window_, id); }

void LinkController::CloseLink() {
  CloseTransport();
  Release();
}

void LinkController::FrameHandled() { LogStateChange(); }

bool LinkController::SetLineSpeed(const char* speedText) {
  if (kind_ != Transport::Serial || !transport_) return false;
  return static_cast<SerialTransport&>(*transport_).Reconfigure(speedText) == 1;
}

void LinkController::Pause(uint32_t ms) { platform::sleepMs(ms); }
