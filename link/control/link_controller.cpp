#include "link/control/link_controller.h"

#include <cstring>
#include <mutex>

#include "link/api/vnl2_api.h"
#include "link/common/link_log.h"
#include "platform/tcp_socket.h"

namespace {

constexpr size_t kReceiveBufferSize = 4096;
constexpr uint32_t kCommWatchExitWaitMs = 3000;
constexpr uint8_t kServiceRequest[] = {0x1B, 0x43};  // ESC "C", sent unframed

// Kinds of WM_COPYDATA, by the high 16 bits of dwData.
constexpr uint32_t kCopyOutboundBlock = 0x0001;
constexpr uint32_t kCopyRequestServiceAgain = 0x1111;


std::string FieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

LinkController::LinkController(ClientLibrary& library) : library_(library) {}

LinkController::~LinkController() = default;

bool LinkController::OnCreate(platform::WindowHandle window, const std::string& linkName) {
  window_ = window;
  return OpenConnection(linkName);
}

bool LinkController::OpenConnection(const std::string& linkName) {
  LinkLog(kLogTrace, "OpenConnection (0x%x,%s)", LinkLogPointer(window_), linkName.c_str());
  LoadConfiguration(&config_);
  const std::string configured = FieldText(config_.Link, sizeof config_.Link);
  const LinkChoice choice = ApplyCommandLineLink(config_, linkName);
  switch (choice) {
    case LinkChoice::Kept:
    case LinkChoice::Replaced: break;
    case LinkChoice::Refused:
      StartFailed("the link name '" + linkName + "' cannot replace the configured Link '" + configured +
                  "' (only a Link that begins with COM, USB or TCP, or is LAN/USB, can be replaced)");
      return false;
    case LinkChoice::TooLong:
      LinkLog(kLogError, "OpenConnection %s failed - link name too long !", linkName.c_str());
      StartFailed("the link name '" + linkName + "' is longer than " + std::to_string(sizeof config_.Link - 1) +
                  " characters");
      return false;
  }
  std::string link = FieldText(config_.Link, sizeof config_.Link);
  transport_ = TransportOf(link);

  switch (transport_) {
    case Transport::Usb:
    case Transport::Serial:
      // The serial and USB transports are not part of this build: the port
      // counts as one that cannot be opened.
      library_.LinkInfo(kVnl2LinkRefused);
      LinkLog(kLogError, "OpenConnection %s failed !", link.c_str());
      StartFailed("cannot open " + link + ": " + (transport_ == Transport::Usb ? "USB" : "serial") +
                  " links are not part of this build");
      return false;
    case Transport::Lan:
      if (!OpenLan()) {
        library_.LinkInfo(kVnl2LinkRefused);
        LinkLog(kLogError, "OpenConnection %s failed !", link.c_str());
        return false;
      }
      // A LAN link is up as soon as the connection stands.
      linkState_ = kLinkInformationTransfer;
      library_.LinkInfo(kVnl2LinkUp);
      break;
    case Transport::None:
      // No transport: the receive thread finds nothing and releases the
      // link at once, as it always did; the reason is kept for the end.
      StartFailed(std::string(choice == LinkChoice::Replaced ? "the link name '" : "the configured Link '") + link +
                  "' selects no transport (COM..., USB..., TCP or LAN/USB); the link is released at once");
      break;
  }

  if (!commWatch_.start([this] { CommWatch(); }, "CommWatch")) {
    LinkLog(kLogError, "OpenConnection %s - CreateThread failed !", link.c_str());
    StartFailed("cannot start the receive thread");
    library_.LinkInfo(kVnl2LinkRefused);
    CloseTransport();
    return false;
  }
  // Serial and USB would send the service request here; the LAN link and a
  // link without transport are done.
  return true;
}

bool LinkController::OpenLan() {
  LanLinkHost& host = *this;
  lan_ = std::make_unique<LanLink>(host, KeepAliveSupervision(config_.Keepalive, KeepAlivePeriodFromEnvironment()));
  std::string address = FieldText(config_.TapiSvrIpAddr, sizeof config_.TapiSvrIpAddr);
  const uint16_t port = static_cast<uint16_t>(config_.TapiSvrIpPort & 0xFFFF);
  int error = 0;
  if (lan_->OpenSocket(address.c_str(), port, &error) == 1) return true;
  if (!platform::isIpv4Address(address)) {
    StartFailed("cannot connect to the exchange: the configured TapiSvrIpAddr '" + address +
                "' is no dotted IPv4 address");
  } else {
    StartFailed("cannot connect to the exchange at " + address + ":" + std::to_string(port) + ": " +
                platform::socketErrorText(error));
  }
  return false;
}

void LinkController::StartFailed(std::string reason) {
  LinkLog(kLogError, "%s", reason.c_str());
  startFailure_ = std::move(reason);
}

void LinkController::CommWatch() {
  LinkLog(kLogDetail, "Enter CommWatch Thread");
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  std::vector<uint8_t> frame;
  while (linkState_.load() != kLinkReleased) {
    int received = ReceiveConnection(buffer.data(), buffer.size());
    if (received > 0 && linkState_.load() != kLinkReleased) {
      LinkLogHexDump(kLogTrace, "Received:", buffer.data(), static_cast<size_t>(received));
      if (transport_ == Transport::Lan) {
        bool found = lan_->CheckSocketFrame(frame, buffer.data(), static_cast<size_t>(received));
        while (found) {
          {
            std::lock_guard lock(linkLock_);
            lan_->ProcessSocketFrame(&frame);
            LogStateChange();
          }
          found = lan_->CheckSocketFrame(frame, nullptr, 0);
        }
      }
      LinkLog(kLogDetail, "loop CommWatch Thread");
    } else if (received <= 0) {
      // Nothing arrived: a LAN connection (or a missing transport) is gone.
      if (transport_ == Transport::Lan) lan_->EndOfStream();
      LinkLog(kLogDetail, "Device Disconnected");
      Release();
    }
  }
  LinkLog(kLogDetail, "Exit CommWatch Thread");
}

int LinkController::ReceiveConnection(uint8_t* buffer, size_t capacity) {
  if (transport_ == Transport::Lan) return lan_->ReceiveSocket(buffer, capacity);
  return 0;
}

int LinkController::SendConnection(const uint8_t* data, size_t count) {
  if (transport_ == Transport::Lan) return lan_->SendConnection(data, count);
  return 0;
}

bool LinkController::SendServiceRequest() { return SendConnection(kServiceRequest, sizeof kServiceRequest) == 1; }

platform::LResult LinkController::OnCopyData(const platform::CopyDataStruct& record) {
  LinkLog(kLogDetail, "VNL2 Transferdata received,%lx", static_cast<unsigned long>(record.dwData));
  switch ((record.dwData >> 16) & 0xFFFF) {
    case kCopyOutboundBlock:
      if (transport_ == Transport::Lan) {
        std::lock_guard lock(linkLock_);
        lan_->SendClientBlock(record.lpData, record.cbData);
      }
      // The frame sender of the serial and USB links comes with those
      // transports. The block counts as taken in every case.
      return 1;
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
  LinkLog(kLogDetail, "TimerEvent");
  switch (id) {
    case kTimerServiceRequest: RepeatServiceRequest(); break;
    case kTimerKeepAlive: OnKeepAliveTimeout(); break;
    default: break;  // T1 and T3 belong to the frame protocol of the serial and USB links
  }
  std::lock_guard lock(linkLock_);
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

void LinkController::OnKeepAliveTimeout() {
  std::lock_guard lock(linkLock_);
  if (!lan_) return;
  if (lan_->OnKeepAliveTimeout(linkState_.load())) {
    lan_->CloseSocket();
    Release();
  }
}

void LinkController::OnClose() {
  LinkLog(kLogDetail, "WM_CLOSE");
  if (transport_ == Transport::Lan) {
    lan_->CloseSocket();
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
      // frame protocol's DISC exchange on serial and USB links, which come
      // later; without them there is nothing to take down in order.
      Release();
      return;
  }
}

void LinkController::CloseTransport() {
  if (lan_) lan_->CloseSocket();
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
  else if (lan_) lan_->ReleaseSocket();
  library_.LinkInfo(kVnl2LinkDown);
  return ended;
}

void LinkController::LogStateChange() {
  uint16_t state = linkState_.load();
  if (state == lastLoggedState_) return;
  LinkLog(kLogDetail, "VNL2 State changed %x -> %x", lastLoggedState_, state);
  lastLoggedState_ = state;
}

int32_t LinkController::DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) {
  return library_.CopyRecData(service, data, length);
}

void LinkController::RestartKeepAliveTimer(uint32_t periodMs) {
  platform::setTimer(window_, kTimerKeepAlive, periodMs);
}
