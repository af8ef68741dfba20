#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace platform {

struct UdpSocket::State {
  mutable std::mutex mutex;
  int fd = -1;
  int wakeFd = -1;    // an eventfd that close() signals
  int receivers = 0;  // receives waiting on fd
  bool closed = false;

  // With the mutex held: gives both descriptors back once no receive uses them.
  void releaseIfUnused() {
    if (receivers != 0) return;
    if (fd >= 0) ::close(fd);
    if (wakeFd >= 0) ::close(wakeFd);
    fd = -1;
    wakeFd = -1;
  }
};

namespace {

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

void setSystemError(std::string* error, const char* what, int code) {
  setError(error, std::string(what) + ": " + std::strerror(code));
}

bool toAddress(const std::string& ipv4, uint16_t port, sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  return inet_pton(AF_INET, ipv4.c_str(), &address.sin_addr) == 1;
}

}  // namespace

UdpSocket::UdpSocket() : state_(std::make_unique<State>()) {}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(const std::string& ipv4, uint16_t port, std::string* error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->fd >= 0 || state_->closed) {
    setError(error, "socket already opened");
    return false;
  }
  sockaddr_in address;
  if (!toAddress(ipv4, port, address)) {
    setError(error, "'" + ipv4 + "' is no dotted IPv4 address");
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setSystemError(error, "socket", errno);
    return false;
  }
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    setSystemError(error, "SO_BROADCAST", errno);
    ::close(fd);
    return false;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    setSystemError(error, ("bind " + ipv4 + ":" + std::to_string(port)).c_str(), errno);
    ::close(fd);
    return false;
  }
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    setSystemError(error, "eventfd", errno);
    ::close(fd);
    return false;
  }
  state_->fd = fd;
  state_->wakeFd = wakeFd;
  return true;
}

bool UdpSocket::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->fd >= 0 && !state_->closed;
}

bool UdpSocket::isClosed() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->closed;
}

uint16_t UdpSocket::localPort() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->fd < 0 || state_->closed) return 0;
  sockaddr_in address;
  socklen_t length = sizeof address;
  if (::getsockname(state_->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool UdpSocket::sendTo(const void* data, size_t count, const std::string& ipv4, uint16_t port, std::string* error) {
  sockaddr_in address;
  if (!toAddress(ipv4, port, address)) {
    setError(error, "'" + ipv4 + "' is no dotted IPv4 address");
    return false;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->fd < 0 || state_->closed) {
    setError(error, state_->closed ? "socket closed" : "socket not open");
    return false;
  }
  ssize_t sent;
  do {
    sent = ::sendto(state_->fd, data, count, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                    sizeof address);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    setSystemError(error, ("sendto " + ipv4 + ":" + std::to_string(port)).c_str(), errno);
    return false;
  }
  return true;
}

long UdpSocket::receiveFrom(void* buffer, size_t capacity, std::string* sender, uint16_t* senderPort,
                            std::string* error) {
  int fd;
  int wakeFd;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->fd < 0 || state_->closed) {
      setError(error, state_->closed ? "socket closed" : "socket not open");
      return -1;
    }
    fd = state_->fd;
    wakeFd = state_->wakeFd;
    ++state_->receivers;
  }
  long result = -1;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      setSystemError(error, "poll", errno);
      break;
    }
    if (fds[1].revents != 0) {
      setError(error, "socket closed");
      break;
    }
    sockaddr_in from;
    socklen_t length = sizeof from;
    std::memset(&from, 0, sizeof from);
    // Without MSG_TRUNC: the part of a datagram beyond capacity is dropped.
    const ssize_t got = ::recvfrom(fd, buffer, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      setSystemError(error, "recvfrom", errno);
      break;
    }
    result = static_cast<long>(got);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    if (sender) *sender = text;
    if (senderPort) *senderPort = ntohs(from.sin_port);
    break;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  --state_->receivers;
  if (state_->closed) {
    if (result >= 0) setError(error, "socket closed");
    result = -1;
    state_->releaseIfUnused();
  }
  return result;
}

void UdpSocket::close() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->closed) return;
  state_->closed = true;
  if (state_->wakeFd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(state_->wakeFd, &one, sizeof one);
  }
  state_->releaseIfUnused();
}

}  // namespace platform
