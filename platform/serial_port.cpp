#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/root.h"
#include "platform/win_error.h"

namespace platform {
namespace {

// The one place where system error numbers become Windows error codes.
struct ErrorPair {
  int system;
  long windows;
};
constexpr ErrorPair kErrorPairs[] = {
    {ENOENT, kErrorFileNotFound},     {ENXIO, kErrorFileNotFound},   {ENODEV, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},    {ELOOP, kErrorPathNotFound},   {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},      {EBUSY, kErrorAccessDenied},   {EWOULDBLOCK, kErrorAccessDenied},
    {EBADF, kErrorInvalidHandle},     {ENOTTY, kErrorInvalidHandle}, {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles}, {ENOMEM, kErrorNotEnoughMemory}, {EINVAL, kErrorInvalidParameter},
    {ETIMEDOUT, kErrorTimeout},       {EIO, kErrorGenFailure},
};

long windowsError(int systemError) {
  for (const ErrorPair& pair : kErrorPairs)
    if (pair.system == systemError) return pair.windows;
  return kErrorGenFailure;
}

struct SpeedPair {
  uint32_t baud;
  speed_t code;
};
constexpr SpeedPair kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                                 {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

// 2 stop bits at this speed and below.
constexpr uint32_t kTwoStopBitsUpTo = 4800;
// The write gives up after this much per byte plus the constant.
constexpr int64_t kWriteMsPerByte = 2, kWriteConstantMs = 1000;

void setModemLine(int fd, int line, bool on) {
  // A pseudo-terminal has no modem lines: the failure is of no account.
  (void)::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void closeFd(intptr_t& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

// TK_SERIAL_SYSTEM_PORTS=0 keeps COM names away from the machine's own
// ports: tests set it, so that no test can ever open a real UART.
static bool systemPortsAllowed() {
  const char* setting = std::getenv("TK_SERIAL_SYSTEM_PORTS");
  return !(setting && std::string_view(setting) == "0");
}

std::string serialPortPath(std::string_view name) {
  if (int number = comPortNumber(name)) {
    std::string linked = rootDir() + "/dev/COM" + std::to_string(number);
    struct stat st {};
    // lstat: a link whose tty has gone still names this port (and fails to open).
    if (::lstat(linked.c_str(), &st) == 0 || !systemPortsAllowed()) return linked;
    return "/dev/ttyS" + std::to_string(number - 1);
  }
  if (!name.empty() && name.front() == '/') return std::string(name);
  return {};
}

std::string serialDsrPath(std::string_view name) {
  if (int number = comPortNumber(name)) return rootDir() + "/dev/COM" + std::to_string(number) + ".dsr";
  return {};
}

SerialPort::~SerialPort() { close(); }

long SerialPort::open(std::string_view name) {
  std::unique_lock lock(mutex_);
  if (fd_ >= 0) {
    if (!hungUp_ || closing_) return kErrorAccessDenied;
    idle_.wait(lock, [this] { return users_ == 0; });
    freeLocked(lock);
  }
  std::string path = serialPortPath(name);
  if (path.empty()) return kErrorFileNotFound;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return windowsError(errno);
  // TIOCEXCL keeps other users out, but not root; the lock does.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd) || ::ioctl(fd, TIOCEXCL) != 0) {
    long error = windowsError(errno);
    ::close(fd);
    return error;
  }
  int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    long error = windowsError(errno);
    ::close(fd);
    return error;
  }
  fd_ = fd;
  wakeFd_ = wakeFd;
  closing_ = false;
  hungUp_ = false;
  dsrPath_ = serialDsrPath(name);
  return kErrorSuccess;
}

long SerialPort::configure(uint32_t speed) {
  speed_t code = B0;
  for (const SpeedPair& pair : kSpeeds)
    if (pair.baud == speed) code = pair.code;
  if (code == B0) return kErrorInvalidParameter;
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return kErrorInvalidHandle;
  termios mode{};
  if (::tcgetattr(fd_, &mode) != 0) return windowsError(errno);
  ::cfmakeraw(&mode);
  mode.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  mode.c_cflag |= CS8 | CREAD | CLOCAL;
  if (speed <= kTwoStopBitsUpTo) mode.c_cflag |= CSTOPB;
  mode.c_iflag &= ~(IXON | IXOFF | IXANY);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  ::cfsetispeed(&mode, code);
  ::cfsetospeed(&mode, code);
  (void)::tcflush(fd_, TCIOFLUSH);
  if (::tcsetattr(fd_, TCSANOW, &mode) != 0) return windowsError(errno);
  return kErrorSuccess;
}

bool SerialPort::settings(SerialSettings* out) const {
  std::lock_guard guard(mutex_);
  termios mode{};
  if (fd_ < 0 || ::tcgetattr(fd_, &mode) != 0) return false;
  SerialSettings result;
  for (const SpeedPair& pair : kSpeeds)
    if (pair.code == ::cfgetospeed(&mode)) result.speed = pair.baud;
  switch (mode.c_cflag & CSIZE) {
    case CS5: result.dataBits = 5; break;
    case CS6: result.dataBits = 6; break;
    case CS7: result.dataBits = 7; break;
    default: result.dataBits = 8; break;
  }
  result.parity = !(mode.c_cflag & PARENB) ? 'N' : (mode.c_cflag & PARODD) ? 'O' : 'E';
  result.stopBits = (mode.c_cflag & CSTOPB) ? 2 : 1;
  *out = result;
  return true;
}

void SerialPort::setDtr(bool on) {
  std::lock_guard guard(mutex_);
  if (fd_ >= 0 && !closing_) setModemLine(fd_, TIOCM_DTR, on);
}

void SerialPort::setRts(bool on) {
  std::lock_guard guard(mutex_);
  if (fd_ >= 0 && !closing_) setModemLine(fd_, TIOCM_RTS, on);
}

bool SerialPort::dsr() const {
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return false;
  int lines = 0;
  if (::ioctl(fd_, TIOCMGET, &lines) == 0) return (lines & TIOCM_DSR) != 0;
  // No modem lines (a pseudo-terminal): the DSR file stands in for them.
  if (dsrPath_.empty()) return false;
  std::FILE* file = std::fopen(dsrPath_.c_str(), "rb");
  if (!file) return false;
  int first = std::fgetc(file);
  std::fclose(file);
  return first == '1';
}

long SerialPort::receive(void* buffer, size_t capacity, long* error) {
  intptr_t held = -1, heldWake = -1;
  if (error) *error = kErrorSuccess;
  if (capacity == 0) return 0;
  if (hungUp()) {
    if (error) *error = kErrorGenFailure;
    return 0;
  }
  if (!enter(&held, &heldWake)) return 0;
  const int fd = static_cast<int>(held), wakeFd = static_cast<int>(heldWake);
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t count = 0;
  long failure = kErrorSuccess;
  while (count == 0 && failure == kErrorSuccess) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      if (errno != EINTR) failure = windowsError(errno);
      continue;
    }
    // Our own close: the end is no failure.
    if (entries[1].revents & POLLIN) break;
    // Everything at hand, up to the capacity; the descriptor does not block.
    while (count < capacity) {
      ssize_t got = ::read(fd, bytes + count, capacity - count);
      if (got > 0) {
        count += static_cast<size_t>(got);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // 0: the device hung up (a pseudo-terminal whose master closed);
      // EAGAIN: the burst is over, or poll woke for nothing.
      if (got == 0) failure = kErrorGenFailure;
      else if (errno != EAGAIN) failure = windowsError(errno);
      else if (count == 0 && (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL))) failure = kErrorGenFailure;
      break;
    }
  }
  leave();
  // Bytes read before a failure are returned; the failure shows on the next call.
  if (failure != kErrorSuccess) markHungUp();
  if (count == 0 && error) *error = failure;
  return static_cast<long>(count);
}

long SerialPort::write(const void* data, size_t count) {
  intptr_t held = -1, heldWake = -1;
  if (hungUp()) return kErrorGenFailure;
  if (!enter(&held, &heldWake)) return kErrorInvalidHandle;
  const int fd = static_cast<int>(held), wakeFd = static_cast<int>(heldWake);
  long failure = kErrorSuccess;
  {
    std::lock_guard serialise(writeMutex_);
    // A close while this write waited for the one before it: nothing goes out.
    if (closingNow()) failure = kErrorOperationAborted;
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(kWriteMsPerByte * static_cast<int64_t>(count) +
                                                             kWriteConstantMs);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < count && failure == kErrorSuccess) {
      ssize_t sent = ::write(fd, bytes + done, count - done);
      if (sent > 0) {
        done += static_cast<size_t>(sent);
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno != EAGAIN) {
        failure = windowsError(errno);
        break;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        failure = kErrorTimeout;
        break;
      }
      pollfd entries[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
      int ready = ::poll(entries, 2, static_cast<int>(left));
      if (ready < 0 && errno != EINTR) failure = windowsError(errno);
      else if (ready > 0 && (entries[1].revents & POLLIN)) failure = kErrorOperationAborted;
    }
  }
  leave();
  if (failure == kErrorGenFailure) markHungUp();
  return failure;
}

long SerialPort::close() {
  std::unique_lock lock(mutex_);
  if (fd_ < 0 || closing_) return kErrorSuccess;
  closing_ = true;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  setModemLine(fd_, TIOCM_RTS, false);
  setModemLine(fd_, TIOCM_DTR, false);
  idle_.wait(lock, [this] { return users_ == 0; });
  return freeLocked(lock);
}

long SerialPort::freeLocked(std::unique_lock<std::mutex>&) {
  long result = ::close(fd_) == 0 ? kErrorSuccess : windowsError(errno);
  fd_ = -1;
  closeFd(wakeFd_);
  closing_ = false;
  hungUp_ = false;
  dsrPath_.clear();
  return result;
}

}  // namespace platform
