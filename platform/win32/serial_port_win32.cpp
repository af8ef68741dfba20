// A serial port on the Windows communications functions
// (platform/serial_port.h): CreateFileA on "\\.\COMn" for overlapped I/O,
// the line settings through a DCB, the modem lines with EscapeCommFunction
// and GetCommModemStatus, overlapped ReadFile / WriteFile.
//
// Names. "COMn" (the rules of comPortNumber) opens "\\.\COMn", the form that
// reaches every port number (COM10 and above need it); a name that starts
// with "\\.\" is opened as given; any other name fails with
// ERROR_FILE_NOT_FOUND. The root folder has no part in it here: a COM name is
// the system's own port (TK_SERIAL_SYSTEM_PORTS and $TK_ROOT/dev are the
// Linux stand-in's). Errors are the system's own error codes.
//
// Bytes in. A receive reads everything at hand (the read time-outs make
// ReadFile return at once: interval MAXDWORD, no totals) and, when nothing
// is there, waits for a received character with WaitCommEvent (event mask
// EV_RXCHAR | EV_ERR) and reads again; so a burst comes back in one receive
// without a read time-out added to every frame, as on Linux.
// Bytes out. The write total time-out is the interface's 2 ms per byte +
// 1000 ms; a write the driver ends short by it fails with ERROR_TIMEOUT.
//
// Modem lines. DTR and RTS are set with EscapeCommFunction and remembered,
// so that a SetCommState of a re-configuration keeps them as they are
// (SetCommState sets both lines from the DCB). DSR comes from
// GetCommModemStatus; there is no DSR file as on Linux (a real port has its
// lines).
//
// Threads, as on Linux: one receiving thread, writes from any thread
// serialised, close from any thread. close() signals a manual-reset event
// that every transfer waits on beside its own (overlapped_win32.h), so a
// blocked receive or write ends at once, and closes the handle only once no
// thread is inside an operation. The configuration purges the driver's
// buffers without aborting the receive in progress (no PURGE_RXABORT):
// on Linux a re-configuration does not end a receive either.
#include "platform/serial_port.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/overlapped_win32.h"
#include "platform/win_error.h"

namespace platform {
namespace {

// ERROR_NO_SUCH_DEVICE, which the MinGW-w64 headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

constexpr uint32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr uint32_t kTwoStopBitsUpTo = 4800;
constexpr DWORD kWriteMsPerByte = 2, kWriteConstantMs = 1000;
constexpr DWORD kDriverBuffer = 4096;
constexpr std::string_view kDevicePrefix = "\\\\.\\";

HANDLE handleOf(intptr_t value) { return value < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(value); }
intptr_t valueOf(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle); }

// The errors of a port that has gone (an unplugged adapter, a driver that
// failed): the interface's ERROR_GEN_FAILURE.
long transferError(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case kErrorNoSuchDevice:
    case ERROR_NOT_READY:
    case ERROR_ACCESS_DENIED:  // what a removed USB serial adapter reports
      return kErrorGenFailure;
    case ERROR_SEM_TIMEOUT:
      return kErrorTimeout;
    default:
      return static_cast<long>(error);
  }
}

// Reads return at once with what has arrived (receive waits for the first
// character with WaitCommEvent); writes give up 2 ms per byte + 1000 ms
// after they started.
bool setTimeouts(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
  timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
  return SetCommTimeouts(port, &timeouts) != 0;
}

}  // namespace

std::string serialPortPath(std::string_view name) {
  if (int number = comPortNumber(name)) return std::string(kDevicePrefix) + "COM" + std::to_string(number);
  if (name.starts_with(kDevicePrefix) && name.size() > kDevicePrefix.size()) return std::string(name);
  return {};
}

// No DSR file on Windows: a port's DSR is its modem line.
std::string serialDsrPath(std::string_view) { return {}; }

SerialPort::~SerialPort() { close(); }

long SerialPort::open(std::string_view name) {
  std::unique_lock lock(mutex_);
  if (fd_ >= 0) {
    if (!hungUp_ || closing_) return kErrorAccessDenied;
    idle_.wait(lock, [this] { return users_ == 0; });
    freeLocked(lock);
  }
  const std::string path = serialPortPath(name);
  if (path.empty()) return kErrorFileNotFound;
  // No sharing: a second open, by any process, fails with ERROR_ACCESS_DENIED.
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? kErrorFileNotFound : static_cast<long>(error);
  }
  DCB state{};
  state.DCBlength = sizeof state;
  // Not a comm device (a file or another device under a "\\.\" name).
  if (!GetCommState(port, &state)) {
    CloseHandle(port);
    return kErrorInvalidHandle;
  }
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wake) {
    DWORD error = GetLastError();
    CloseHandle(port);
    return static_cast<long>(error);
  }
  setTimeouts(port);
  // The events a receive waits for.
  SetCommMask(port, EV_RXCHAR | EV_ERR);
  fd_ = valueOf(port);
  wakeFd_ = reinterpret_cast<intptr_t>(wake);
  closing_ = false;
  hungUp_ = false;
  dtr_ = state.fDtrControl != DTR_CONTROL_DISABLE;
  rts_ = state.fRtsControl != RTS_CONTROL_DISABLE;
  return kErrorSuccess;
}

long SerialPort::configure(uint32_t speed) {
  if (std::find(std::begin(kSpeeds), std::end(kSpeeds), speed) == std::end(kSpeeds)) return kErrorInvalidParameter;
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return kErrorInvalidHandle;
  HANDLE port = handleOf(fd_);
  SetupComm(port, kDriverBuffer, kDriverBuffer);
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  DCB state{};
  state.DCBlength = sizeof state;
  if (!GetCommState(port, &state)) return static_cast<long>(GetLastError());
  state.BaudRate = speed;
  state.ByteSize = 8;
  state.Parity = NOPARITY;
  state.StopBits = speed <= kTwoStopBitsUpTo ? TWOSTOPBITS : ONESTOPBIT;
  state.fBinary = TRUE;
  state.fParity = FALSE;
  state.fOutxCtsFlow = FALSE;
  state.fOutxDsrFlow = FALSE;
  state.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  state.fRtsControl = rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  state.fDsrSensitivity = FALSE;
  state.fTXContinueOnXoff = TRUE;
  state.fOutX = FALSE;
  state.fInX = FALSE;
  state.fErrorChar = FALSE;
  state.fNull = FALSE;
  state.fAbortOnError = FALSE;
  if (!SetCommState(port, &state)) return static_cast<long>(GetLastError());
  if (!setTimeouts(port)) return static_cast<long>(GetLastError());
  return kErrorSuccess;
}

bool SerialPort::settings(SerialSettings* out) const {
  std::lock_guard guard(mutex_);
  DCB state{};
  state.DCBlength = sizeof state;
  if (fd_ < 0 || !GetCommState(handleOf(fd_), &state)) return false;
  SerialSettings result;
  if (std::find(std::begin(kSpeeds), std::end(kSpeeds), state.BaudRate) != std::end(kSpeeds))
    result.speed = state.BaudRate;
  result.dataBits = state.ByteSize;
  result.parity = state.Parity == NOPARITY ? 'N' : state.Parity == ODDPARITY ? 'O' : state.Parity == EVENPARITY ? 'E' : '?';
  result.stopBits = state.StopBits == TWOSTOPBITS ? 2 : state.StopBits == ONESTOPBIT ? 1 : 0;
  *out = result;
  return true;
}

void SerialPort::setDtr(bool on) {
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return;
  dtr_ = on;
  // A port without modem lines refuses: of no account, as on Linux.
  (void)EscapeCommFunction(handleOf(fd_), on ? SETDTR : CLRDTR);
}

void SerialPort::setRts(bool on) {
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return;
  rts_ = on;
  (void)EscapeCommFunction(handleOf(fd_), on ? SETRTS : CLRRTS);
}

bool SerialPort::dsr() const {
  std::lock_guard guard(mutex_);
  if (fd_ < 0 || closing_) return false;
  DWORD lines = 0;
  return GetCommModemStatus(handleOf(fd_), &lines) && (lines & MS_DSR_ON) != 0;
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
  HANDLE port = handleOf(held), wake = reinterpret_cast<HANDLE>(heldWake);
  auto* bytes = static_cast<uint8_t*>(buffer);
  const DWORD room = static_cast<DWORD>(std::min<size_t>(capacity, MAXDWORD));
  DWORD count = 0;
  long failure = kErrorSuccess;
  while (count == 0 && failure == kErrorSuccess) {
    // Everything at hand, up to the capacity (the read time-outs make
    // ReadFile return at once, also with nothing).
    win32::OverlappedResult read = win32::runOverlapped(port, wake, [&](OVERLAPPED* overlapped) {
      return ReadFile(port, bytes, room, nullptr, overlapped);
    });
    // Our own close: the end is no failure.
    if (read.woken) break;
    // An abort not of our making (a purge by another program): read again.
    if (read.error == ERROR_OPERATION_ABORTED && !closingNow()) continue;
    if (read.error != 0) {
      failure = transferError(read.error);
      break;
    }
    count = read.bytes;
    if (count > 0) break;
    // Nothing yet: wait for a received character (or a line error). A
    // character that came since the read has set the event already, so the
    // wait returns at once and the next read takes it.
    DWORD events = 0;
    win32::OverlappedResult wait = win32::runOverlapped(port, wake, [&](OVERLAPPED* overlapped) {
      return WaitCommEvent(port, &events, overlapped);
    });
    if (wait.woken) break;
    if (wait.error == ERROR_OPERATION_ABORTED && !closingNow()) continue;
    if (wait.error != 0) failure = transferError(wait.error);
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
  HANDLE port = handleOf(held), wake = reinterpret_cast<HANDLE>(heldWake);
  long failure = kErrorSuccess;
  {
    std::lock_guard serialise(writeMutex_);
    // A close while this write waited for the one before it: nothing goes out.
    if (closingNow()) failure = kErrorOperationAborted;
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < count && failure == kErrorSuccess) {
      const DWORD part = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
      win32::OverlappedResult sent = win32::runOverlapped(port, wake, [&](OVERLAPPED* overlapped) {
        return WriteFile(port, bytes + done, part, nullptr, overlapped);
      });
      // A write that ended whole before the close came counts as written.
      if (sent.error != 0) failure = sent.woken ? kErrorOperationAborted : transferError(sent.error);
      // The driver ends a write short when its total time-out has passed.
      else if (sent.bytes < part) failure = sent.woken ? kErrorOperationAborted : kErrorTimeout;
      done += sent.bytes;
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
  SetEvent(reinterpret_cast<HANDLE>(wakeFd_));
  (void)EscapeCommFunction(handleOf(fd_), CLRRTS);
  (void)EscapeCommFunction(handleOf(fd_), CLRDTR);
  idle_.wait(lock, [this] { return users_ == 0; });
  return freeLocked(lock);
}

long SerialPort::freeLocked(std::unique_lock<std::mutex>&) {
  long result = CloseHandle(handleOf(fd_)) ? kErrorSuccess : static_cast<long>(GetLastError());
  fd_ = -1;
  if (wakeFd_ >= 0) CloseHandle(reinterpret_cast<HANDLE>(wakeFd_));
  wakeFd_ = -1;
  closing_ = false;
  hungUp_ = false;
  dtr_ = rts_ = false;
  dsrPath_.clear();
  return result;
}

}  // namespace platform
