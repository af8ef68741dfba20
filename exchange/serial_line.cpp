#include "exchange/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace exchange {
namespace {

// Paced bytes are due at exact times: the threads that sleep until then ask
// the kernel not to round their wake-ups up (its default slack is 50 us, which
// each hand-over on the line would add).
bool KeepTimersPrecise() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  return true;
}

constexpr int64_t kNanosPerTenBits = 10'000'000'000;
// Written slices last about this long on the wire (at least one byte).
constexpr uint32_t kSliceMs = 5;
// Received bytes kept waiting for their time at most; beyond that the line
// is not read, so a peer that writes faster than the rate is held back.
constexpr size_t kMaxPending = 65536;
constexpr size_t kReadChunk = 4096;

std::string ErrorText(const std::string& what, int code) { return what + ": " + std::strerror(code); }

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

bool SpeedCode(uint32_t bitsPerSecond, speed_t& code) {
  switch (bitsPerSecond) {
    case 1200: code = B1200; return true;
    case 2400: code = B2400; return true;
    case 4800: code = B4800; return true;
    case 9600: code = B9600; return true;
    case 19200: code = B19200; return true;
    case 38400: code = B38400; return true;
    case 57600: code = B57600; return true;
    case 115200: code = B115200; return true;
    default: return false;
  }
}

// Raw, 8 data bits, no parity, 1 stop bit, no flow control, receiver on,
// modem lines ignored.
bool MakeRaw(int fd, const speed_t* speed) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (speed && (cfsetispeed(&settings, *speed) != 0 || cfsetospeed(&settings, *speed) != 0)) return false;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

timespec ToTimespec(std::chrono::nanoseconds wait) {
  wait = std::max(wait, std::chrono::nanoseconds(0));
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
  return ts;
}

}  // namespace

SerialLine::SerialLine(std::function<void(const std::string&)> errors) : errors_(std::move(errors)) {}

SerialLine::~SerialLine() { Close(); }

bool SerialLine::OpenPseudoTerminal(std::string* error) {
  if (IsOpen()) return Fail(error, "the line is already open");
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return Fail(error, ErrorText("cannot create a pseudo-terminal", errno));
  char name[256] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    int code = errno;
    ::close(master);
    return Fail(error, ErrorText("cannot set up the pseudo-terminal", code));
  }
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave, nullptr) || fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
    int code = errno;
    if (slave >= 0) ::close(slave);
    ::close(master);
    return Fail(error, ErrorText(std::string("cannot set up the pseudo-terminal's slave ") + name, code));
  }
  fd_ = master;
  slaveFd_ = slave;
  path_ = name;
  {
    std::lock_guard lock(txMutex_);
    txStopping_ = false;
  }
  return txThread_.start([this] { TransmitLoop(); }, "tksim-serial-tx");
}

bool SerialLine::OpenDevice(const std::string& path, uint32_t bitsPerSecond, std::string* error) {
  if (IsOpen()) return Fail(error, "the line is already open");
  speed_t speed{};
  if (!SpeedCode(bitsPerSecond, speed)) return Fail(error, "unsupported line speed " + std::to_string(bitsPerSecond));
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(error, ErrorText("cannot open " + path, errno));
  if (!isatty(fd)) {
    ::close(fd);
    return Fail(error, path + " is not a terminal");
  }
  if (!MakeRaw(fd, &speed)) {
    int code = errno;
    ::close(fd);
    return Fail(error, ErrorText("cannot configure " + path, code));
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  path_ = path;
  rate_ = 0;  // the hardware paces a real line
  {
    std::lock_guard lock(txMutex_);
    txStopping_ = false;
  }
  return txThread_.start([this] { TransmitLoop(); }, "tksim-serial-tx");
}

void SerialLine::Close() {
  {
    std::lock_guard lock(txMutex_);
    txStopping_ = true;
    txQueue_.clear();
  }
  txChanged_.notify_all();
  txThread_.join();
  if (slaveFd_ >= 0) ::close(slaveFd_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = slaveFd_ = -1;
  rxPending_.clear();
}

SerialLine::Clock::duration SerialLine::WireTime(size_t count) const {
  if (rate_ == 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::nanoseconds(static_cast<int64_t>(count) * kNanosPerTenBits / rate_));
}

bool SerialLine::Write(std::vector<uint8_t> bytes) {
  {
    std::lock_guard lock(txMutex_);
    if (txStopping_) return false;  // not open
    if (bytes.empty()) return true;
    txQueue_.push_back(std::move(bytes));
  }
  txChanged_.notify_all();
  return true;
}

void SerialLine::TransmitLoop() {
  KeepTimersPrecise();
  std::unique_lock lock(txMutex_);
  for (;;) {
    txChanged_.wait(lock, [this] { return txStopping_ || !txQueue_.empty(); });
    if (txStopping_) return;
    std::vector<uint8_t> bytes = std::move(txQueue_.front());
    txQueue_.pop_front();
    if (rate_ == 0) {
      lock.unlock();
      WriteAll(bytes.data(), bytes.size());
      lock.lock();
      continue;
    }
    const Clock::time_point start = std::max(Clock::now(), txLineFree_);
    txLineFree_ = start + WireTime(bytes.size());
    const size_t slice = std::max<size_t>(1, rate_ / 10 * kSliceMs / 1000);
    for (size_t offset = 0; offset < bytes.size();) {
      const size_t length = std::min(slice, bytes.size() - offset);
      // The slice reaches the peer when its last byte has ended on the wire.
      if (txChanged_.wait_until(lock, start + WireTime(offset + length), [this] { return txStopping_; })) return;
      lock.unlock();
      bool written = WriteAll(bytes.data() + offset, length);
      lock.lock();
      if (!written) break;
      offset += length;
    }
  }
}

bool SerialLine::WriteAll(const uint8_t* data, size_t size) {
  auto lastProgress = Clock::now();
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      lastProgress = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errors_) errors_(ErrorText("send-failed " + path_, errno));
      return false;
    }
    // No room: nobody reads the port (yet). Wait a little for it.
    if (Clock::now() - lastProgress > std::chrono::milliseconds(kWriteStallMs)) {
      if (errors_) {
        errors_("send-failed " + path_ + ": nobody reads the line; " + std::to_string(size) + " bytes dropped");
      }
      return false;
    }
    pollfd out{fd_, POLLOUT, 0};
    ::poll(&out, 1, 20);
  }
  return true;
}

long SerialLine::TakeArrived(std::span<uint8_t> buffer, Clock::time_point now) {
  size_t count = rxPending_.size();
  if (rate_ != 0) {
    // Byte i is due at rxFirstDue_ + WireTime(i).
    const int64_t late = std::chrono::duration_cast<std::chrono::nanoseconds>(now - rxFirstDue_).count();
    count = std::min<size_t>(count, static_cast<size_t>(late / (kNanosPerTenBits / rate_) + 1));
  }
  count = std::min(count, buffer.size());
  std::copy_n(rxPending_.begin(), count, buffer.begin());
  rxPending_.erase(rxPending_.begin(), rxPending_.begin() + static_cast<std::ptrdiff_t>(count));
  rxFirstDue_ += WireTime(count);
  return static_cast<long>(count);
}

long SerialLine::Read(std::span<uint8_t> buffer, uint32_t timeoutMs) {
  if (!IsOpen()) return -1;
  static thread_local bool precise = false;
  if (!precise) precise = KeepTimersPrecise();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t chunk[kReadChunk];
  for (;;) {
    Clock::time_point now = Clock::now();
    if (!rxPending_.empty() && now >= rxFirstDue_) return TakeArrived(buffer, now);
    if (now >= deadline) return 0;
    Clock::time_point wakeAt = deadline;
    if (!rxPending_.empty()) wakeAt = std::min(wakeAt, rxFirstDue_);
    pollfd in{fd_, POLLIN, 0};
    const bool full = rxPending_.size() >= kMaxPending;
    timespec wait = ToTimespec(wakeAt - now);
    int ready = ::ppoll(&in, full ? 0 : 1, &wait, nullptr);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return -1;  // the tty went away
    const Clock::time_point arrived = Clock::now();
    // A new burst starts on the wire now: its first byte ends one byte time
    // later. Bytes behind pending ones follow them back to back.
    if (rxPending_.empty()) rxFirstDue_ = arrived + WireTime(1);
    rxPending_.insert(rxPending_.end(), chunk, chunk + n);
  }
}

}  // namespace exchange
