#include "link/control/lan_link.h"

#include <cerrno>

#include "link/common/link_log.h"
#include "link/control/tagged_frame.h"
#include "platform/thread.h"

namespace {

// The pause between shutting a connection down and closing it, which lets
// the shut-down reach the peer first.
constexpr uint32_t kCloseDelayMs = 20;


}  // namespace

LanLink::LanLink(LanLinkHost& host, KeepAliveSupervision supervision) : host_(host), supervision_(supervision) {}

LanLink::~LanLink() { ReleaseSocket(); }

int LanLink::OpenSocket(const char* address, uint16_t port, int* error) {
  LinkLog(kLogDetail, "OpenSocket(%s,%i)", address, port);
  LinkLog(kLogDetail, "Client connecting to: %s:%u", address, port);
  int code = 0;
  platform::TcpSocket socket = platform::TcpSocket::connect(address, port, &code);
  if (error) *error = code;
  if (!socket.valid()) {
    LinkLog(kLogError, "connect() failed: %d", code);
    return 0;
  }
  std::lock_guard guard(sendLock_);
  socket_ = std::move(socket);
  open_ = true;
  shutDown_ = false;
  return 1;
}

int LanLink::CloseSocket() {
  LinkLog(kLogDetail, "CloseSocket()");
  {
    std::lock_guard guard(sendLock_);
    if (!open_) return 1;
    open_ = false;
    shutDown_ = true;
    socket_.shutdownBoth();
  }
  platform::sleepMs(kCloseDelayMs);
  return 1;
}

void LanLink::ReleaseSocket() {
  std::lock_guard guard(sendLock_);
  open_ = false;
  socket_.close();
}

int LanLink::SendSocket(const uint8_t* data, size_t count) {
  LinkLog(kLogDetail, "SendSocket(0x%x,%i)", LinkLogPointer(data), static_cast<int>(count));
  if (!data || count == 0) return 0;
  int error = 0;
  long sent = -1;
  {
    std::lock_guard guard(sendLock_);
    if (open_) sent = socket_.send(data, count, &error);
    else error = ENOTCONN;
  }
  if (sent < 0) {
    LinkLog(kLogError, "send() failed: error %d !", error);
    return 0;
  }
  return static_cast<int>(sent);
}

int LanLink::ReceiveSocket(uint8_t* buffer, size_t capacity) {
  LinkLog(kLogDetail, "ReceiveSocket(0x%x,%i)", LinkLogPointer(buffer), static_cast<int>(capacity));
  int error = 0;
  long received = socket_.receive(buffer, capacity, &error);
  bool ours;
  {
    std::lock_guard guard(sendLock_);
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

int LanLink::SendConnection(const uint8_t* data, size_t count) {
  LinkLogHexDump(kLogTrace, "SendConnection():", data, count);
  return SendSocket(data, count) == static_cast<int>(count) && count > 0 ? 1 : 0;
}

int LanLink::SendSocketFrame(const uint8_t* data, size_t length) {
  if (!data || length == 0) {
    LinkLog(kLogError, "SendSocketFrame failed - pData or nDatalen 0 !");
    return 0;
  }
  LinkLog(kLogDetail, "SendSocketFrame(0x%x,%i)", LinkLogPointer(data), static_cast<int>(length));
  std::vector<uint8_t> frame = BuildTaggedFrame({data, length});
  if (SendConnection(frame.data(), frame.size()) == 1) return 1;
  LinkLog(kLogError, "SendSocketFrame failed !");
  return 0;
}

bool LanLink::CheckSocketFrame(std::vector<uint8_t>& frame, const uint8_t* bytes, size_t count) {
  return reassembler_.Check(frame, bytes, count);
}

void LanLink::EndOfStream() { reassembler_.EndOfStream(); }

int LanLink::ProcessSocketFrame(const std::vector<uint8_t>* frame) {
  LinkLog(kLogDetail, "ProcessSocketFrame(0x%x)", LinkLogPointer(frame));
  if (!frame) {
    LinkLog(kLogError, "ProcessSocketFrame failed: Receiveframe is NULL !");
    return 0;
  }
  KeepAliveSupervision::FrameDecision decision = supervision_.OnFrame(*frame);
  if (decision.restartTimer) host_.RestartKeepAliveTimer(supervision_.periodMs());
  if (decision.keepAlive) {
    LinkLog(kLogDetail, "ProcessSocketFrame Connection-KeepAlive");
    SendSocketFrame(frame->data(), frame->size());
    return 1;
  }
  if (host_.DeliverBlock(kLanService, frame->data(), static_cast<uint32_t>(frame->size())) != 1) {
    LinkLog(kLogError, "ProcessSocketFrame failed: VNL2_QUEUE_ERROR !");
    return 0;
  }
  return 1;
}

void LanLink::SendClientBlock(const void* data, uint32_t length) {
  // The frame's length field has 16 bits. A longer block cut to fit would
  // reach the exchange as a different, corrupted block; it is not sent.
  if (length > kTaggedFrameMaxData) {
    LinkLog(kLogError, "SendSocketFrame failed - block of %u bytes too long !", length);
  } else {
    SendSocketFrame(static_cast<const uint8_t*>(data), length);
  }
  if (supervision_.OnClientBlock()) host_.RestartKeepAliveTimer(supervision_.periodMs());
}

bool LanLink::OnKeepAliveTimeout(uint16_t linkState) {
  LinkLog(kLogError, "Keepalive Timed out!");
  return supervision_.OnTimeout(linkState);
}
