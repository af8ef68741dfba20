#include "link/control/lan_transport.h"

#include "link/common/link_log.h"
#include "platform/thread.h"
#include "platform/win_error.h"

namespace {

// The pause between shutting a connection down and closing it, which lets
// the shut-down reach the peer first.
constexpr uint32_t kCloseDelayMs = 20;

}  // namespace

LanTransport::~LanTransport() { Release(); }

int LanTransport::Open(const char* address, uint16_t port, int* error, uint32_t sendLimitMs) {
  LinkLog(kLogDetail, "OpenSocket(%s,%i)", address, port);
  LinkLog(kLogDetail, "Client connecting to: %s:%u", address, port);
  int code = 0;
  platform::TcpSocket socket = platform::TcpSocket::connect(address, port, &code);
  if (error) *error = code;
  if (!socket.valid()) {
    LinkLog(kLogError, "connect() failed: %d", code);
    return 0;
  }
  socket.setSendTimeout(sendLimitMs);
  std::lock_guard guard(stateLock_);
  socket_ = std::move(socket);
  sendLimitMs_ = sendLimitMs;
  open_ = true;
  shutDown_ = false;
  return 1;
}

void LanTransport::Close() {
  LinkLog(kLogDetail, "CloseSocket()");
  {
    // Not the send lock: a send blocked on a peer that takes no bytes holds
    // it, and the shut-down is what ends that send.
    std::lock_guard guard(stateLock_);
    if (!open_) return;
    open_ = false;
    shutDown_ = true;
    socket_.shutdownBoth();
  }
  platform::sleepMs(kCloseDelayMs);
}

void LanTransport::Release() {
  std::lock_guard sending(sendLock_);
  std::lock_guard guard(stateLock_);
  open_ = false;
  socket_.close();
}

int LanTransport::Send(const uint8_t* data, size_t count) {
  LinkLog(kLogDetail, "SendSocket(0x%x,%i)", LinkLogPointer(data), static_cast<int>(count));
  if (!data || count == 0) return 0;
  int error = 0;
  long sent = -1;
  {
    std::lock_guard sending(sendLock_);
    bool open;
    {
      std::lock_guard guard(stateLock_);
      open = open_;
    }
    // A Close from here on shuts the socket down, and the send fails.
    if (open) sent = socket_.send(data, count, &error);
    else error = platform::kWsaNotConnected;
  }
  if (sent < 0) {
    LinkLog(kLogError, "send() failed: error %d !", error);
    if (error == platform::kWsaTimedOut) {
      LinkLog(kLogError, "SendSocket: no byte taken for %u ms, connection closed", sendLimitMs_);
      Close();
    }
    return 0;
  }
  return static_cast<int>(sent);
}

int LanTransport::Receive(uint8_t* buffer, size_t capacity) {
  LinkLog(kLogDetail, "ReceiveSocket(0x%x,%i)", LinkLogPointer(buffer), static_cast<int>(capacity));
  int error = 0;
  long received = socket_.receive(buffer, capacity, &error);
  bool ours;
  {
    std::lock_guard guard(stateLock_);
    ours = shutDown_;
  }
  if (received < 0) {
    if (!ours) LinkLog(kLogError, "recv() failed: error %d !", error);
    return 0;
  }
  if (received == 0) {
    // After our own shut-down the end of the stream is no news.
    if (!ours) LinkLog(kLogError, "Server closed connection\n");
    return 0;
  }
  LinkLog(kLogDetail, "Received %d bytes from server.", static_cast<int>(received));
  return static_cast<int>(received);
}
