#include "exchange/usb_driver_line.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/device_wire.h"
#include "platform/root.h"

namespace exchange {
namespace {

constexpr uint32_t kStatusInvalidFunction = 1;
constexpr uint32_t kStatusGenFailure = 31;
constexpr uint32_t kStatusInvalidParameter = 87;
constexpr size_t kReceiveChunk = 4096;
constexpr int kBacklog = 4;

std::string ErrorText(const std::string& what, int code) { return what + ": " + std::strerror(code); }

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

UsbDriverLine::UsbDriverLine(std::function<void(const std::string&)> events) : events_(std::move(events)) {}

UsbDriverLine::~UsbDriverLine() { Close(); }

void UsbDriverLine::Event(const std::string& line) const {
  if (events_) events_(line);
}

bool UsbDriverLine::Open(unsigned index, std::string* error) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (IsOpen()) return fail("the device is already open");
  if (index > kMaxDevice) return fail("no device number " + std::to_string(index) + " (0 to 9)");
  const std::string dir = platform::rootDir() + "/dev";
  if (!platform::ensureDirectory(dir)) return fail("cannot create the folder " + dir);
  path_ = dir + "/VNLUSB" + std::to_string(index);
  int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) return fail(ErrorText("cannot create an event", errno));
  std::lock_guard lock(mutex_);
  int fd = Listen(error);
  if (fd < 0) {
    ::close(wake);
    return false;
  }
  wakeFd_ = wake;
  listenFd_ = fd;
  plugged_ = true;
  return true;
}

int UsbDriverLine::Listen(std::string* error) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return -1;
  };
  sockaddr_un address{};
  if (!SocketAddress(path_, address)) return fail(path_ + " is too long for a socket name");
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) return fail(path_ + " exists and is not a socket");
    // A driver still serving it answers a connection; a dead one's file is replaced.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool served = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (served) return fail(path_ + " is served by another driver (a running tksim?)");
    if (unlink(path_.c_str()) != 0) return fail(ErrorText("cannot replace " + path_, errno));
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(ErrorText("cannot create a socket", errno));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, kBacklog) != 0 ||
      lstat(path_.c_str(), &info) != 0) {
    int code = errno;
    ::close(fd);
    return fail(ErrorText("cannot serve " + path_, code));
  }
  socketDev_ = info.st_dev;
  socketIno_ = info.st_ino;
  return fd;
}

void UsbDriverLine::RemoveSocketFile() {
  // Only the file this line bound: another tksim may have taken the name over.
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && info.st_dev == socketDev_ && info.st_ino == socketIno_) {
    unlink(path_.c_str());
  }
}

void UsbDriverLine::Close() {
  std::lock_guard lock(mutex_);
  if (plugged_) RemoveSocketFile();
  for (int* fd : {&listenFd_, &clientFd_, &adoptFd_, &wakeFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  plugged_ = unplugRequested_ = readPending_ = closing_ = sessionEnded_ = false;
  toClient_.clear();
  received_.clear();
  toCore_.clear();
  answers_.clear();
}

void UsbDriverLine::Wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool UsbDriverLine::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

bool UsbDriverLine::ClientOpen() const {
  std::lock_guard lock(mutex_);
  return clientFd_ >= 0;
}

// --- from any thread ---

bool UsbDriverLine::Write(std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (clientFd_ < 0) return false;  // nobody has the device open
  if (bytes.empty()) return true;
  if (toClient_.size() + bytes.size() > kMaxQueued) {
    Event("send-failed " + path_ + ": nobody reads the device; " + std::to_string(bytes.size()) + " bytes dropped");
    return false;
  }
  toClient_.insert(toClient_.end(), bytes.begin(), bytes.end());
  Wake();
  return true;
}

void UsbDriverLine::ZeroNextWrite() {
  std::lock_guard lock(mutex_);
  zeroWrite_ = true;
}

void UsbDriverLine::FailNextRead() {
  std::lock_guard lock(mutex_);
  failRead_ = true;
  Wake();
}

void UsbDriverLine::Unplug() {
  {
    std::lock_guard lock(mutex_);
    if (!plugged_) return;
    plugged_ = false;
    RemoveSocketFile();
    // The client sees the end at once; the network thread closes the sockets.
    if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_RDWR);
    if (adoptFd_ >= 0) ::close(adoptFd_);
    adoptFd_ = -1;
    unplugRequested_ = true;
    Wake();
  }
  Event("unplugged");
}

bool UsbDriverLine::Plug(std::string* error) {
  {
    std::lock_guard lock(mutex_);
    if (plugged_) return true;
    if (!IsOpen()) {
      if (error) *error = "the device is closed";
      return false;
    }
    int fd = Listen(error);
    if (fd < 0) return false;
    adoptFd_ = fd;
    plugged_ = true;
    Wake();
  }
  Event("plugged");
  return true;
}

// --- the network thread ---

long UsbDriverLine::Read(std::span<uint8_t> buffer, uint32_t timeoutMs) {
  if (!IsOpen()) return -1;
  const uint64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    Service();
    if (!toCore_.empty()) {
      const size_t count = std::min(buffer.size(), toCore_.size());
      std::copy_n(toCore_.begin(), count, buffer.begin());
      toCore_.erase(toCore_.begin(), toCore_.begin() + static_cast<std::ptrdiff_t>(count));
      return static_cast<long>(count);
    }
    if (sessionEnded_) {
      sessionEnded_ = false;
      return kPeerClosed;
    }
    uint64_t now = NowMs();
    if (closing_ && (answers_.empty() || now >= closeDueMs_)) {
      EndSession();
      continue;
    }
    if (now >= deadline) return 0;
    int clientFd;
    {
      std::lock_guard lock(mutex_);
      clientFd = clientFd_;
    }
    pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {clientFd, 0, 0}};
    if (clientFd >= 0) fds[2].events = static_cast<short>((closing_ ? 0 : POLLIN) | (answers_.empty() ? 0 : POLLOUT));
    uint64_t wakeAt = closing_ ? std::min(deadline, closeDueMs_) : deadline;
    int ready = ::poll(fds, 3, static_cast<int>(wakeAt - now));
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    if (fds[0].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    if (fds[2].revents & POLLOUT) Flush();
    if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) ReceiveRequests();
    if (fds[1].revents != 0) Accept();
  }
}

// Carries out what other threads asked for and answers a pending read.
void UsbDriverLine::Service() {
  bool unplugged;
  {
    std::lock_guard lock(mutex_);
    if (unplugRequested_) {
      unplugRequested_ = false;
      if (listenFd_ >= 0) ::close(listenFd_);
      listenFd_ = -1;
    }
    if (adoptFd_ >= 0) {
      listenFd_ = adoptFd_;
      adoptFd_ = -1;
    }
    unplugged = !plugged_ && clientFd_ >= 0;  // the connection goes with the device
    if (!unplugged && clientFd_ >= 0 && readPending_ && !closing_) {
      if (failRead_) {
        failRead_ = false;
        readPending_ = false;
        Answer(platform::kDeviceReadBlock, kStatusGenFailure, 0);
      } else if (!toClient_.empty()) {
        const size_t count = std::min<size_t>(readCapacity_, toClient_.size());
        readPending_ = false;
        Answer(platform::kDeviceReadBlock, 0, static_cast<uint32_t>(count),
               std::span<const uint8_t>(toClient_.data(), count));
        toClient_.erase(toClient_.begin(), toClient_.begin() + static_cast<std::ptrdiff_t>(count));
      }
    }
  }
  if (unplugged) {
    EndSession();
  } else if (!answers_.empty()) {
    Flush();
  }
}

void UsbDriverLine::Accept() {
  int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  {
    std::lock_guard lock(mutex_);
    if (clientFd_ < 0 && plugged_) {
      clientFd_ = fd;
      fd = -1;
    }
  }
  if (fd >= 0) {
    ::close(fd);
    Event("refused-second-connection");
    return;
  }
  Event("device-opened");
}

void UsbDriverLine::ReceiveRequests() {
  uint8_t chunk[kReceiveChunk];
  ssize_t n;
  {
    std::lock_guard lock(mutex_);
    n = ::recv(clientFd_, chunk, sizeof chunk, MSG_DONTWAIT);
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    EndSession();
    return;
  }
  received_.insert(received_.end(), chunk, chunk + n);
  // Whole requests only; the lengths are checked before they are waited for.
  size_t offset = 0;
  while (!closing_ && received_.size() - offset >= platform::kDeviceHeaderSize) {
    const uint8_t* header = received_.data() + offset;
    const uint32_t code = Le32(header);
    const uint32_t inLength = Le32(header + 4);
    const uint32_t capacity = Le32(header + 8);
    if (inLength > platform::kDeviceMaxTransfer || capacity > platform::kDeviceMaxTransfer) {
      Event("device-refused " + Hex32(code) + " status=87");
      Answer(code, kStatusInvalidParameter, 0);
      closing_ = true;
      closeDueMs_ = NowMs() + kCloseWaitMs;
      break;
    }
    if (received_.size() - offset - platform::kDeviceHeaderSize < inLength) break;
    HandleRequest(code, std::span<const uint8_t>(header + platform::kDeviceHeaderSize, inLength), capacity);
    offset += platform::kDeviceHeaderSize + inLength;
  }
  received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(offset));
  Flush();
}

void UsbDriverLine::HandleRequest(uint32_t code, std::span<const uint8_t> input, uint32_t capacity) {
  if (code == platform::kDeviceWriteBlock) {
    bool zero;
    {
      std::lock_guard lock(mutex_);
      zero = std::exchange(zeroWrite_, false);
    }
    if (!zero) toCore_.insert(toCore_.end(), input.begin(), input.end());
    Answer(code, 0, zero ? 0 : static_cast<uint32_t>(input.size()));
  } else if (code == platform::kDeviceReadBlock && (readPending_ || capacity == 0)) {
    // One read at a time, into a buffer that holds something.
    const uint32_t status = readPending_ ? kStatusGenFailure : kStatusInvalidParameter;
    Event("device-refused " + Hex32(code) + " status=" + std::to_string(status));
    Answer(code, status, 0);
  } else if (code == platform::kDeviceReadBlock) {
    readPending_ = true;
    readCapacity_ = capacity;
  } else {
    Event("device-refused " + Hex32(code) + " status=1");
    Answer(code, kStatusInvalidFunction, 0);
  }
}

void UsbDriverLine::Answer(uint32_t code, uint32_t status, uint32_t count, std::span<const uint8_t> output) {
  PutLe32(answers_, code);
  PutLe32(answers_, status);
  PutLe32(answers_, count);
  answers_.insert(answers_.end(), output.begin(), output.end());
}

void UsbDriverLine::Flush() {
  while (!answers_.empty()) {
    ssize_t n;
    {
      std::lock_guard lock(mutex_);
      if (clientFd_ < 0) return;
      n = ::send(clientFd_, answers_.data(), answers_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A client that takes no answers while it keeps asking is given up.
      if (answers_.size() > kMaxQueued) EndSession();
      return;
    }
    if (n <= 0) {
      EndSession();
      return;
    }
    answers_.erase(answers_.begin(), answers_.begin() + n);
  }
}

void UsbDriverLine::EndSession() {
  {
    std::lock_guard lock(mutex_);
    if (clientFd_ < 0) return;
    ::close(clientFd_);
    clientFd_ = -1;
    toClient_.clear();
  }
  received_.clear();
  answers_.clear();
  readPending_ = closing_ = false;
  sessionEnded_ = true;
  Event("device-closed");
}

}  // namespace exchange
