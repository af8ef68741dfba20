#include "platform/window_wire.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

namespace platform::wnd {
namespace {

// A sender whose peer does not take its request within this time gives up.
constexpr int kSendTimeoutSeconds = 10;

// Runs fn with a socket address for path. A path longer than a socket
// address can hold is reached through the folder's descriptor
// (/proc/self/fd/N/name), which is always short.
bool withAddress(const std::string& path, const std::function<bool(const sockaddr_un&)>& fn) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() < sizeof address.sun_path) {
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return fn(address);
  }
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  int dir = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  std::string viaFd = "/proc/self/fd/" + std::to_string(dir) + path.substr(slash);
  bool ok = false;
  if (viaFd.size() < sizeof address.sun_path) {
    std::memcpy(address.sun_path, viaFd.c_str(), viaFd.size() + 1);
    ok = fn(address);
  }
  close(dir);
  return ok;
}

}  // namespace

std::string socketPath(const std::string& runtimeDir, uint32_t processId) {
  return runtimeDir + "/wnd/" + std::to_string(processId) + ".sock";
}

int listenAt(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  unlink(path.c_str());  // left by an ended process that had our id
  bool ok = withAddress(path, [&](const sockaddr_un& address) {
    return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  });
  if (!ok || listen(fd, 128) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int connectTo(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Bounds connect (a full backlog) and every write of the request.
  timeval timeout{kSendTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  bool ok = withAddress(path, [&](const sockaddr_un& address) {
    int r;
    do {
      r = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (r != 0 && errno == EINTR);
    return r == 0;
  });
  if (!ok) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool receiveAll(int fd, void* data, size_t size, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  char* p = static_cast<char*>(data);
  while (size > 0) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      wait = static_cast<int>(left.count());
    }
    pollfd p1{fd, POLLIN, 0};
    int r = poll(&p1, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform::wnd
