#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/wait.h"
#include "platform/win_error.h"

namespace platform {
namespace {

// The one place where system error numbers become socket error numbers.
struct ErrorPair {
  int system;
  int socket;
};
constexpr ErrorPair kErrorPairs[] = {
    {EINTR, kWsaInterrupted},
    {EBADF, kWsaBadHandle},
    {EACCES, kWsaAccessDenied},
    {EFAULT, kWsaFault},
    {EINVAL, kWsaInvalidArgument},
    {EMFILE, kWsaTooManySockets},
    {ENFILE, kWsaTooManySockets},
    {EWOULDBLOCK, kWsaWouldBlock},
    {EINPROGRESS, kWsaInProgress},
    {EALREADY, kWsaAlready},
    {ENOTSOCK, kWsaNotSocket},
    {EMSGSIZE, kWsaMessageSize},
    {ENOPROTOOPT, kWsaProtocolOption},
    {EOPNOTSUPP, kWsaNotSupported},
    {EAFNOSUPPORT, kWsaFamilyNotSupported},
    {EADDRINUSE, kWsaAddressInUse},
    {EADDRNOTAVAIL, kWsaAddressNotAvailable},
    {ENETDOWN, kWsaNetworkDown},
    {ENETUNREACH, kWsaNetworkUnreachable},
    {ENETRESET, kWsaNetworkReset},
    {ECONNABORTED, kWsaConnectionAborted},
    {ECONNRESET, kWsaConnectionReset},
    {ENOBUFS, kWsaNoBuffers},
    {ENOMEM, kWsaNoBuffers},
    {EISCONN, kWsaIsConnected},
    {ENOTCONN, kWsaNotConnected},
    {EPIPE, kWsaShutDown},  // a send after the shut-down, as Windows reports it
    {ESHUTDOWN, kWsaShutDown},
    {ETIMEDOUT, kWsaTimedOut},
    {ECONNREFUSED, kWsaConnectionRefused},
    {EHOSTDOWN, kWsaHostDown},
    {EHOSTUNREACH, kWsaHostUnreachable},
};

int socketError(int systemError) {
  for (const ErrorPair& pair : kErrorPairs)
    if (pair.system == systemError) return pair.socket;
  return kWsaSystemCallFailure;
}

void setError(int* error, int socketErrorNumber) {
  if (error) *error = socketErrorNumber;
}

// The system's error of the call that just failed.
void setSystemError(int* error, int systemError) { setError(error, socketError(systemError)); }

bool toAddress(const std::string& ipv4, uint16_t port, sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  return inet_pton(AF_INET, ipv4.c_str(), &address.sin_addr) == 1;
}

// Waits for readability; -1 waits without end.
bool pollReadable(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  for (;;) {
    int n = ::poll(&entry, 1, timeoutMs);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // let the following call report the error
  }
}

int pollTimeout(uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) return -1;
  return timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
}

uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// Connects a non-blocking socket and waits for the outcome at most
// timeoutMs; 0 or the error number.
int connectWithin(int fd, const sockaddr_in& address, uint32_t timeoutMs) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (result != 0 && errno != EINPROGRESS && errno != EINTR) return errno;
  if (result != 0) {
    pollfd entry{fd, POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&entry, 1, pollTimeout(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) return errno;
    if (failure != 0) return failure;
  }
  return ::fcntl(fd, F_SETFL, flags) == 0 ? 0 : errno;
}

}  // namespace

TcpSocket::~TcpSocket() { close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      shutEvent_(std::exchange(other.shutEvent_, 0)),
      sendTimeoutMs_(std::exchange(other.sendTimeoutMs_, 0)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    shutEvent_ = std::exchange(other.shutEvent_, 0);
    sendTimeoutMs_ = std::exchange(other.sendTimeoutMs_, 0);
  }
  return *this;
}

TcpSocket TcpSocket::connect(const std::string& ipv4, uint16_t port, int* error, uint32_t timeoutMs) {
  sockaddr_in address;
  if (!toAddress(ipv4, port, address)) {
    setError(error, kWsaInvalidArgument);
    return TcpSocket();
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setSystemError(error, errno);
    return TcpSocket();
  }
  if (int failure = connectWithin(fd, address, timeoutMs); failure != 0) {
    setSystemError(error, failure);
    ::close(fd);
    return TcpSocket();
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setError(error, 0);
  return TcpSocket(fd);
}

long TcpSocket::send(const void* data, size_t count, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return -1;
  }
  const char* bytes = static_cast<const char*>(data);
  // With a time limit each part waits for room first and then goes out
  // without blocking, so that a peer that takes no byte ends the send.
  const bool limited = sendTimeoutMs_ != 0;
  size_t sent = 0;
  while (sent < count) {
    if (limited) {
      pollfd entry{static_cast<int>(fd_), POLLOUT, 0};
      const int ready = ::poll(&entry, 1, pollTimeout(sendTimeoutMs_));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        setError(error, kWsaTimedOut);
        return -1;
      }
      // An error or hang-up shows in the send below.
    }
    ssize_t n = ::send(fd_, bytes + sent, count - sent, MSG_NOSIGNAL | (limited ? MSG_DONTWAIT : 0));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (limited && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;  // the room went to no one else: wait again
      setSystemError(error, errno);
      return -1;
    }
    sent += static_cast<size_t>(n);
  }
  setError(error, 0);
  return static_cast<long>(sent);
}

long TcpSocket::receive(void* buffer, size_t capacity, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return -1;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, capacity, 0);
    if (n >= 0) {
      setError(error, 0);
      return static_cast<long>(n);
    }
    if (errno == EINTR) continue;
    setSystemError(error, errno);
    return -1;
  }
}

bool TcpSocket::waitReadable(uint32_t timeoutMs) { return fd_ >= 0 && pollReadable(fd_, pollTimeout(timeoutMs)); }

void TcpSocket::shutdownBoth() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

uint16_t TcpSocket::localPort() const { return boundPort(fd_); }

TcpListener::~TcpListener() { close(); }

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TcpListener TcpListener::listen(const std::string& ipv4, uint16_t port, int* error) {
  sockaddr_in address;
  if (!toAddress(ipv4, port, address)) {
    setError(error, kWsaInvalidArgument);
    return TcpListener();
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setSystemError(error, errno);
    return TcpListener();
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    setSystemError(error, errno);
    ::close(fd);
    return TcpListener();
  }
  setError(error, 0);
  TcpListener listener;
  listener.fd_ = fd;
  return listener;
}

uint16_t TcpListener::port() const { return boundPort(fd_); }

TcpSocket TcpListener::accept(uint32_t timeoutMs, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return TcpSocket();
  }
  if (!pollReadable(fd_, pollTimeout(timeoutMs))) {
    setError(error, kWsaTimedOut);
    return TcpSocket();
  }
  int fd;
  do {
    fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    setSystemError(error, errno);
    return TcpSocket();
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setError(error, 0);
  return TcpSocket(fd);
}

void TcpListener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool isIpv4Address(const std::string& text) {
  in_addr address;
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isLoopbackIpv4(const std::string& ipv4) {
  in_addr address;
  if (inet_pton(AF_INET, ipv4.c_str(), &address) != 1) return false;
  return (ntohl(address.s_addr) >> 24) == 127;
}

std::string socketErrorText(int error) {
  if (error == 0) return std::strerror(0);
  // The text the system gives its own number for it.
  for (const ErrorPair& pair : kErrorPairs)
    if (pair.socket == error) return std::strerror(pair.system);
  if (error == kWsaSystemCallFailure) return "system call failure";
  return "socket error " + std::to_string(error);
}

}  // namespace platform
