#include "tests/link/control/deaf_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>

namespace tktest {

DeafPeer::DeafPeer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return;
  // Set before listen, so that the accepted connection has it from the start
  // (and announces a small window).
  int small = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 1) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    listener_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
}

DeafPeer::~DeafPeer() {
  Hangup();
  if (listener_ >= 0) ::close(listener_);
}

bool DeafPeer::Accept(uint32_t timeoutMs) {
  pollfd wait{listener_, POLLIN, 0};
  if (listener_ < 0 || ::poll(&wait, 1, static_cast<int>(timeoutMs)) != 1) return false;
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return connection_ >= 0;
}

bool DeafPeer::WaitReadable(uint32_t timeoutMs) {
  pollfd wait{connection_, POLLIN, 0};
  return connection_ >= 0 && ::poll(&wait, 1, static_cast<int>(timeoutMs)) == 1;
}

bool DeafPeer::SendUntilUnread(const std::vector<uint8_t>& bytes, size_t maxCopies, uint32_t quietMs) {
  size_t offset = 0;
  for (size_t copies = 0; copies < maxCopies && connection_ >= 0;) {
    ssize_t n = ::send(connection_, bytes.data() + offset, bytes.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      offset += static_cast<size_t>(n);
      if (offset == bytes.size()) {
        offset = 0;
        ++copies;
      }
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    // Full: the other end takes more (the bytes waiting here become fewer),
    // or it has stopped reading.
    int waiting = Unsent();
    auto quietSince = std::chrono::steady_clock::now();
    for (;;) {
      pollfd wait{connection_, POLLOUT, 0};
      if (::poll(&wait, 1, 50) != 0) break;  // room again, or an error the next send reports
      const int now = Unsent();
      if (now < waiting) {
        waiting = now;
        quietSince = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - quietSince >= std::chrono::milliseconds(quietMs)) {
        return true;
      }
    }
  }
  return false;
}

int DeafPeer::Unsent() const {
  int bytes = 0;
  return ::ioctl(connection_, SIOCOUTQ, &bytes) == 0 ? bytes : -1;
}

void DeafPeer::Hangup() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

}  // namespace tktest
