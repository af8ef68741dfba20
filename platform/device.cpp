#include "platform/device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/device_wire.h"
#include "platform/root.h"
#include "platform/win_error.h"

namespace platform {
namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
// Longest NAME of "\\.\NAME"; real device names are far shorter.
constexpr size_t kMaxDeviceName = 64;

long openError(int systemError) {
  switch (systemError) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED:  // a socket file nobody serves: a driver that has gone
    case ENAMETOOLONG:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EAGAIN:  // the driver takes no more connections
      return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
    case ENOBUFS:
      return kErrorNotEnoughMemory;
    default:
      return kDeviceGone;
  }
}

// Connects fd to the socket at path. A path longer than a socket address
// holds is reached through its folder's descriptor (/proc/self/fd/N/name).
int connectTo(int fd, const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string target = path;
  int dir = -1;
  if (path.size() >= sizeof address.sun_path) {
    size_t slash = path.rfind('/');
    dir = ::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    target = "/proc/self/fd/" + std::to_string(dir) + path.substr(slash);
  }
  int error = ENAMETOOLONG;
  if (target.size() < sizeof address.sun_path) {
    std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
    error = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  }
  if (dir >= 0) ::close(dir);
  return error;
}

void putWord(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t word(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

}  // namespace

// One request on its way: lives on the stack of the thread that issued it,
// listed in pending_ until that thread leaves.
struct Device::Request {
  uint32_t code = 0;
  uint32_t inLength = 0;
  void* out = nullptr;
  uint32_t outCapacity = 0;
  bool done = false;
  long status = 0;
  uint32_t bytes = 0;
};

std::string devicePath(std::string_view windowsName) {
  if (!windowsName.starts_with(kDevicePrefix)) return {};
  std::string_view name = windowsName.substr(kDevicePrefix.size());
  if (name.empty() || name.size() > kMaxDeviceName) return {};
  std::string upper;
  for (char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && !(c >= '0' && c <= '9')) return {};
    upper += letter ? static_cast<char>(c & ~0x20) : c;
  }
  return rootDir() + "/dev/" + upper;
}

Device::~Device() { close(); }

long Device::open(std::string_view windowsName) {
  const std::string path = devicePath(windowsName);
  if (path.empty()) return kErrorFileNotFound;
  {
    std::lock_guard guard(mutex_);
    if (fd_ >= 0) return kErrorAccessDenied;
  }
  // Non-blocking from the start: a driver that does not accept cannot hold up the open.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return openError(errno);
  if (int error = connectTo(fd, path)) {
    ::close(fd);
    return openError(error);
  }
  int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    long error = openError(errno);
    ::close(fd);
    return error;
  }
  std::lock_guard guard(mutex_);
  if (fd_ >= 0) {  // another thread opened this object meanwhile
    ::close(fd);
    ::close(wakeFd);
    return kErrorAccessDenied;
  }
  fd_ = fd;
  wakeFd_ = wakeFd;
  gone_ = false;
  received_.clear();
  return kErrorSuccess;
}

bool Device::isOpen() const {
  std::lock_guard guard(mutex_);
  return fd_ >= 0 && !closing_;
}

long Device::handleValue() const {
  std::lock_guard guard(mutex_);
  return fd_;
}

long Device::control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outCapacity,
                     uint32_t* bytes) {
  if (bytes) *bytes = 0;
  if (inLength > kDeviceMaxTransfer || outCapacity > kDeviceMaxTransfer || (inLength && !in) || (outCapacity && !out))
    return kErrorInvalidParameter;
  std::vector<uint8_t> message(kDeviceHeaderSize + inLength);
  putWord(message.data(), code);
  putWord(message.data() + 4, inLength);
  putWord(message.data() + 8, outCapacity);
  if (inLength) std::memcpy(message.data() + kDeviceHeaderSize, in, inLength);

  std::unique_lock lock(mutex_);
  if (fd_ < 0 || closing_) return kErrorInvalidHandle;
  ++users_;
  changed_.wait(lock, [&] { return stopped() || !pendingFor(code); });
  Request request;
  request.code = code;
  request.inLength = inLength;
  request.out = out;
  request.outCapacity = outCapacity;
  long result = closing_ ? kDeviceAborted : kDeviceGone;
  if (!stopped()) {
    pending_.push_back(&request);  // before sending: the answer may come at once
    result = exchange(request, lock, message);
    pending_.erase(std::find(pending_.begin(), pending_.end(), &request));
  }
  if (bytes && request.done) *bytes = request.bytes;
  --users_;
  changed_.notify_all();
  return result;
}

long Device::exchange(Request& request, std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message) {
  if (long failure = sendLocked(lock, message)) return failure;
  while (!request.done && !stopped()) {
    if (!reading_) readRound(lock);
    else changed_.wait(lock);
  }
  if (request.done) return request.status;
  return closing_ ? kDeviceAborted : kDeviceGone;
}

long Device::sendLocked(std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message) {
  changed_.wait(lock, [this] { return stopped() || !sending_; });
  if (stopped()) return closing_ ? kDeviceAborted : kDeviceGone;
  sending_ = true;
  const int fd = fd_, wakeFd = wakeFd_;
  lock.unlock();
  long failure = kErrorSuccess;
  size_t done = 0;
  while (done < message.size() && failure == kErrorSuccess) {
    ssize_t sent = ::send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) {
      failure = kDeviceGone;
      break;
    }
    pollfd entries[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0 && errno != EINTR) failure = kDeviceGone;
    else if (entries[1].revents & POLLIN) failure = kDeviceAborted;
  }
  lock.lock();
  sending_ = false;
  if (failure == kDeviceGone) markGone();
  changed_.notify_all();
  return failure;
}

void Device::readRound(std::unique_lock<std::mutex>& lock) {
  reading_ = true;
  const int fd = fd_, wakeFd = wakeFd_;
  lock.unlock();
  uint8_t chunk[16384];
  ssize_t got = -1;
  bool failed = false;
  pollfd entries[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  if (::poll(entries, 2, -1) < 0) {
    failed = errno != EINTR;
  } else if (!(entries[1].revents & POLLIN)) {
    got = ::recv(fd, chunk, sizeof chunk, 0);
    // 0: the driver closed the connection (the device was unplugged).
    failed = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
  }
  lock.lock();
  reading_ = false;
  if (got > 0) {
    received_.insert(received_.end(), chunk, chunk + got);
    takeAnswers();
  }
  if (failed) markGone();
  changed_.notify_all();
}

void Device::takeAnswers() {
  while (!gone_ && received_.size() >= kDeviceHeaderSize) {
    const uint32_t code = word(received_.data());
    const uint32_t count = word(received_.data() + 8);
    Request* request = pendingFor(code);
    // Writes answer with the number written and no output bytes, everything
    // else with count output bytes.
    const bool write = code == kDeviceWriteBlock;
    if (!request || request->done || count > (write ? request->inLength : request->outCapacity)) {
      markGone();
      return;
    }
    const size_t size = kDeviceHeaderSize + (write ? 0 : count);
    if (received_.size() < size) return;
    if (!write && count) std::memcpy(request->out, received_.data() + kDeviceHeaderSize, count);
    request->status = static_cast<long>(word(received_.data() + 4));
    request->bytes = count;
    request->done = true;
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(size));
  }
}

void Device::markGone() {
  gone_ = true;
  received_.clear();
}

Device::Request* Device::pendingFor(uint32_t code) const {
  for (Request* request : pending_)
    if (request->code == code) return request;
  return nullptr;
}

void Device::close() {
  std::unique_lock lock(mutex_);
  if (fd_ < 0) return;
  if (closing_) {  // another thread is closing: wait for it to finish
    changed_.wait(lock, [this] { return !closing_; });
    return;
  }
  closing_ = true;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  changed_.notify_all();
  changed_.wait(lock, [this] { return users_ == 0; });
  ::close(fd_);
  ::close(wakeFd_);
  fd_ = wakeFd_ = -1;
  closing_ = false;
  gone_ = false;
  received_.clear();
  changed_.notify_all();
}

}  // namespace platform
