// Whether the dialogs have a display (DisplayAvailable, dialog.h).
//
// In: the environment (QT_QPA_PLATFORM, WAYLAND_DISPLAY, DISPLAY). Out: true
// when the toolkit can be started, else false and the reason. The toolkit
// ends the whole process when the X server DISPLAY names does not answer, so
// the server is asked for a connection first (closed again at once):
// ":N" / "unix:N" on the local socket /tmp/.X11-unix/XN or the same name in
// Linux's abstract namespace (all a sandbox with its own /tmp may see),
// "host:N" on TCP port 6000 + N. No Qt here; any thread may call it.
#include "platform/ui/dialog.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform::ui {
namespace {

constexpr int kConnectWaitMs = 2000;  // a TCP display that neither answers nor refuses

std::string envText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Connects without blocking longer than kConnectWaitMs; true when the peer
// took the connection (or a local server only has its backlog full).
bool connects(int family, const sockaddr* address, socklen_t length) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool connected = ::connect(fd, address, length) == 0;
  if (!connected && family == AF_UNIX && errno == EAGAIN) connected = true;
  if (!connected && errno == EINPROGRESS) {
    pollfd p{};
    p.fd = fd;
    p.events = POLLOUT;
    int error = 0;
    socklen_t size = sizeof error;
    connected = ::poll(&p, 1, kConnectWaitMs) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                error == 0;
  }
  ::close(fd);
  return connected;
}

bool localSocketAnswers(const std::string& name, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;  // the abstract name starts with a zero byte
  if (name.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, name.data(), name.size());
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size() + (abstract ? 0 : 1));
  return connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

bool tcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
    answered = connects(a->ai_family, a->ai_addr, a->ai_addrlen);
  }
  ::freeaddrinfo(found);
  return answered;
}

}  // namespace

bool DisplayAvailable(std::string* why) {
  auto fail = [why](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  if (!envText("QT_QPA_PLATFORM").empty() || !envText("WAYLAND_DISPLAY").empty()) return true;
  const std::string display = envText("DISPLAY");
  if (display.empty()) {
    return fail(
        "no display to show dialogs on: set DISPLAY (or WAYLAND_DISPLAY), or QT_QPA_PLATFORM=offscreen to run them "
        "without one");
  }
  const std::string advice = "; set QT_QPA_PLATFORM=offscreen to run dialogs without one";
  // [host]:number[.screen]
  const size_t colon = display.rfind(':');
  const std::string host = colon == std::string::npos ? std::string() : display.substr(0, colon);
  const std::string rest = colon == std::string::npos ? std::string() : display.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) {
    return fail("DISPLAY=" + display + " names no X display (expected [host]:number[.screen])" + advice);
  }
  if (host.empty() || host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + number;
    if (localSocketAnswers(socket, false) || localSocketAnswers(socket, true)) return true;
    return fail("DISPLAY=" + display + " names no running X server (nothing answers on " + socket + ")" + advice);
  }
  const int port = 6000 + std::atoi(number.c_str());
  if (tcpAnswers(host, port)) return true;
  return fail("DISPLAY=" + display + " names no X server that answers (nothing on " + host + " TCP port " +
              std::to_string(port) + ")" + advice);
}

}  // namespace platform::ui
