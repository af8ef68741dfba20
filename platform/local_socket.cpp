#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/wait.h"
#include "platform/win_error.h"

namespace platform {
namespace {

void setError(int* error, long value) {
  if (error) *error = static_cast<int>(value);
}

long errorOf(int systemError) {
  switch (systemError) {
    case ENOENT:
    case ECONNREFUSED:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
      return kErrorBrokenPipe;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENAMETOOLONG:
      return kErrorInvalidParameter;
    default:
      return kErrorGenFailure;
  }
}

bool toAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// poll() with a time-out in the platform's form, continued after a signal.
int pollFor(pollfd* fds, nfds_t count, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int n = ::poll(fds, count, wait);
    if (n >= 0 || errno != EINTR) return n;
  }
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

// --- LocalConnection ---------------------------------------------------------

LocalConnection::~LocalConnection() { close(); }

LocalConnection::LocalConnection(LocalConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LocalConnection& LocalConnection::operator=(LocalConnection&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

LocalConnection LocalConnection::connect(const std::string& path, int* error) {
  sockaddr_un address;
  if (!toAddress(path, address)) {
    setError(error, kErrorInvalidParameter);
    return {};
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, errorOf(errno));
    return {};
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    setError(error, errorOf(errno));
    ::close(fd);
    return {};
  }
  return LocalConnection(fd);
}

bool LocalConnection::send(const void* data, size_t count, int* error, uint32_t timeoutMs) {
  if (fd_ < 0) {
    setError(error, kErrorInvalidHandle);
    return false;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const ssize_t n = ::send(fd_, p, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      count -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      uint32_t wait = kInfinite;
      if (timeoutMs != kInfinite) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
          setError(error, kErrorTimeout);
          return false;
        }
        wait = static_cast<uint32_t>(left);
      }
      pollfd pfd{fd_, POLLOUT, 0};
      if (pollFor(&pfd, 1, wait) < 0) {
        setError(error, errorOf(errno));
        return false;
      }
      continue;
    }
    setError(error, n == 0 ? kErrorBrokenPipe : errorOf(errno));
    return false;
  }
  return true;
}

long LocalConnection::sendSome(const void* data, size_t count, int* error) {
  if (fd_ < 0) {
    setError(error, kErrorInvalidHandle);
    return -1;
  }
  if (count == 0) return 0;
  for (;;) {
    const ssize_t n = ::send(fd_, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    setError(error, errorOf(errno));
    return -1;
  }
}

long LocalConnection::receive(void* buffer, size_t capacity, int* error) {
  if (fd_ < 0) {
    setError(error, kErrorInvalidHandle);
    return -1;
  }
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    // A peer that went away with data unread resets the connection: for the
    // reader that is the end of the stream, as a close is.
    if (errno == ECONNRESET) return 0;
    setError(error, errorOf(errno));
    return -1;
  }
}

bool LocalConnection::waitReadable(uint32_t timeoutMs) {
  if (fd_ < 0) return true;
  pollfd pfd{fd_, POLLIN, 0};
  return pollFor(&pfd, 1, timeoutMs) != 0;
}

uint32_t LocalConnection::peerProcessId() const {
  if (fd_ < 0) return 0;
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return 0;
  return static_cast<uint32_t>(credentials.pid);
}

void LocalConnection::shutdownBoth() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void LocalConnection::close() { closeFd(fd_); }

// --- LocalListener -----------------------------------------------------------

LocalListener::~LocalListener() { close(); }

LocalListener::LocalListener(LocalListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

LocalListener& LocalListener::operator=(LocalListener&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

LocalListener LocalListener::listen(const std::string& path, int* error) {
  LocalListener listener;
  sockaddr_un address;
  if (!toAddress(path, address)) {
    setError(error, kErrorInvalidParameter);
    return listener;
  }
  // A socket file somebody still serves stays; one nobody serves is stale
  // (its server ended without removing it) and is replaced.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      setError(error, kErrorAlreadyExists);
      return listener;
    }
    int probeError = 0;
    LocalConnection probe = LocalConnection::connect(path, &probeError);
    if (probe.valid()) {
      setError(error, kErrorAlreadyExists);
      return listener;
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, errorOf(errno));
    return listener;
  }
  // Bind under a umask that leaves the file to its owner alone, so no other
  // user can connect between bind and chmod.
  const mode_t oldMask = ::umask(0177);
  const int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindErrno = errno;
  ::umask(oldMask);
  if (rc != 0) {
    setError(error, bindErrno == EADDRINUSE ? kErrorAlreadyExists : errorOf(bindErrno));
    ::close(fd);
    return listener;
  }
  ::chmod(path.c_str(), 0600);
  if (::listen(fd, 64) != 0) {
    setError(error, errorOf(errno));
    ::close(fd);
    ::unlink(path.c_str());
    return listener;
  }
  listener.fd_ = fd;
  listener.path_ = path;
  return listener;
}

LocalConnection LocalListener::accept(uint32_t timeoutMs, int* error) {
  if (fd_ < 0) {
    setError(error, kErrorInvalidHandle);
    return {};
  }
  pollfd pfd{fd_, POLLIN, 0};
  const int n = pollFor(&pfd, 1, timeoutMs);
  if (n == 0) {
    setError(error, kErrorTimeout);
    return {};
  }
  if (n < 0) {
    setError(error, errorOf(errno));
    return {};
  }
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return LocalConnection(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    setError(error, errorOf(errno));
    return {};
  }
}

void LocalListener::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  path_.clear();
}

// --- LocalPoller -------------------------------------------------------------

LocalPoller::LocalPoller() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

LocalPoller::~LocalPoller() { closeFd(wakeFd_); }

LocalPoller::Ready LocalPoller::wait(const LocalListener* listener,
                                     const std::vector<const LocalConnection*>& connections, uint32_t timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<size_t> index;  // fds entry -> connections index
  fds.reserve(connections.size() + 2);
  fds.push_back(pollfd{wakeFd_, POLLIN, 0});
  const bool withListener = listener && listener->valid();
  if (withListener) fds.push_back(pollfd{listener->nativeHandle(), POLLIN, 0});
  const size_t first = fds.size();
  for (size_t i = 0; i < connections.size(); ++i) {
    if (!connections[i] || !connections[i]->valid()) continue;
    fds.push_back(pollfd{connections[i]->nativeHandle(), POLLIN, 0});
    index.push_back(i);
  }
  Ready ready;
  if (pollFor(fds.data(), fds.size(), timeoutMs) <= 0) return ready;
  if (fds[0].revents != 0) {
    uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
    ready.woken = true;
  }
  if (withListener && fds[1].revents != 0) ready.listenerReady = true;
  for (size_t k = first; k < fds.size(); ++k) {
    if (fds[k].revents != 0) ready.readable.push_back(index[k - first]);
  }
  return ready;
}

void LocalPoller::wake() {
  const uint64_t one = 1;
  // A full counter already wakes the waiter; nothing to report then.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace platform
