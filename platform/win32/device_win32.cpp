// A device of a driver outside this system on Windows (platform/device.h):
// CreateFileA on "\\.\NAME" for overlapped I/O, DeviceIoControl for every
// request, CloseHandle. The driver is the real one (the exchange's USB
// driver presents "\\.\VNLUSB0" ... "\\.\VNLUSB9"); the wire format of
// platform/device_wire.h is the Linux stand-in's and plays no part here, only
// its request codes do (they are the driver's I/O control codes).
//
// Names. "\\.\NAME" with NAME of letters and digits opens that device
// (upper-cased; Windows' device names are case-insensitive); anything else
// names no device: ERROR_FILE_NOT_FOUND, without asking the system.
//
// Requests. The write block passes the bytes as input and, as the driver's
// buffered method expects, an output buffer of the same length (a copy in
// this file, never the caller's): the byte count is the number written, and
// no output reaches the caller. Every other request passes the caller's
// output buffer; the system copies at most its capacity into it.
//
// Threads, as on Linux: any thread may issue requests while others wait for
// theirs (each is its own overlapped operation, so a pending read never holds
// up a write); at most one request of each code is outstanding (a second
// waits for the first). close() signals a manual-reset event every request
// waits on beside its own (overlapped_win32.h): pending requests are cancelled
// and return ERROR_OPERATION_ABORTED (995), and the handle is closed only once
// no thread is inside a request.
//
// The device gone. When a request fails because the device went away
// (unplugged: ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED,
// ERROR_NO_SUCH_DEVICE, ERROR_GEN_FAILURE from the system), that request and
// every later one fail with kDeviceGone (31) until close, as on Linux. Other
// failures are the driver's own statuses and are returned as they are.
#include "platform/device.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/device_wire.h"
#include "platform/win32/overlapped_win32.h"

namespace platform {
namespace {

// ERROR_NO_SUCH_DEVICE, which the MinGW-w64 headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

constexpr std::string_view kDevicePrefix = "\\\\.\\";
// Longest NAME of "\\.\NAME"; real device names are far shorter.
constexpr size_t kMaxDeviceName = 64;

HANDLE handleOf(intptr_t value) { return value < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(value); }

long openError(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return kErrorFileNotFound;
    case ERROR_SHARING_VIOLATION:  // another program has it open
      return kErrorAccessDenied;
    default:
      return static_cast<long>(error);
  }
}

bool deviceGoneError(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEVICE_REMOVED || error == kErrorNoSuchDevice ||
         error == ERROR_GEN_FAILURE;
}

}  // namespace

// One request on its way: lives on the stack of the thread that issued it,
// listed in pending_ until that thread leaves.
struct Device::Request {
  uint32_t code = 0;
};

std::string devicePath(std::string_view windowsName) {
  if (!windowsName.starts_with(kDevicePrefix)) return {};
  std::string_view name = windowsName.substr(kDevicePrefix.size());
  if (name.empty() || name.size() > kMaxDeviceName) return {};
  std::string path(kDevicePrefix);
  for (char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && !(c >= '0' && c <= '9')) return {};
    path += letter ? static_cast<char>(c & ~0x20) : c;
  }
  return path;
}

Device::~Device() { close(); }

long Device::open(std::string_view windowsName) {
  const std::string path = devicePath(windowsName);
  if (path.empty()) return kErrorFileNotFound;
  {
    std::lock_guard guard(mutex_);
    if (fd_ >= 0) return kErrorAccessDenied;
  }
  HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) return openError(GetLastError());
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wake) {
    long error = static_cast<long>(GetLastError());
    CloseHandle(device);
    return error;
  }
  std::lock_guard guard(mutex_);
  if (fd_ >= 0) {  // another thread opened this object meanwhile
    CloseHandle(device);
    CloseHandle(wake);
    return kErrorAccessDenied;
  }
  fd_ = reinterpret_cast<intptr_t>(device);
  wakeFd_ = reinterpret_cast<intptr_t>(wake);
  gone_ = false;
  return kErrorSuccess;
}

bool Device::isOpen() const {
  std::lock_guard guard(mutex_);
  return fd_ >= 0 && !closing_;
}

long Device::handleValue() const {
  std::lock_guard guard(mutex_);
  return static_cast<long>(fd_);
}

long Device::control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outCapacity,
                     uint32_t* bytes) {
  if (bytes) *bytes = 0;
  if (inLength > kDeviceMaxTransfer || outCapacity > kDeviceMaxTransfer || (inLength && !in) || (outCapacity && !out))
    return kErrorInvalidParameter;
  // The write block's output: a copy of the input (the driver's buffered
  // method reports the number written as output bytes), never the caller's.
  const bool write = code == kDeviceWriteBlock;
  std::vector<uint8_t> input(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLength);
  std::vector<uint8_t> scratch = write ? input : std::vector<uint8_t>();

  std::unique_lock lock(mutex_);
  if (fd_ < 0 || closing_) return kErrorInvalidHandle;
  ++users_;
  changed_.wait(lock, [&] { return stopped() || !pendingFor(code); });
  long result = closing_ ? kDeviceAborted : kDeviceGone;
  if (!stopped()) {
    Request request;
    request.code = code;
    pending_.push_back(&request);
    HANDLE device = handleOf(fd_), wake = reinterpret_cast<HANDLE>(wakeFd_);
    lock.unlock();
    void* output = write ? static_cast<void*>(scratch.data()) : out;
    const DWORD outputLength = write ? inLength : outCapacity;
    win32::OverlappedResult done = win32::runOverlapped(device, wake, [&](OVERLAPPED* overlapped) {
      return DeviceIoControl(device, code, input.empty() ? nullptr : input.data(), inLength,
                             outputLength ? output : nullptr, outputLength, nullptr, overlapped);
    });
    lock.lock();
    pending_.erase(std::find(pending_.begin(), pending_.end(), &request));
    if (done.error == 0) {
      result = kErrorSuccess;
      if (bytes) *bytes = done.bytes;
    } else if (done.woken || (closing_ && done.error == ERROR_OPERATION_ABORTED)) {
      result = kDeviceAborted;
    } else if (deviceGoneError(done.error)) {
      markGone();
      result = kDeviceGone;
    } else {
      result = static_cast<long>(done.error);
    }
  }
  --users_;
  changed_.notify_all();
  return result;
}

void Device::markGone() { gone_ = true; }

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
  SetEvent(reinterpret_cast<HANDLE>(wakeFd_));
  changed_.notify_all();
  changed_.wait(lock, [this] { return users_ == 0; });
  CloseHandle(handleOf(fd_));
  CloseHandle(reinterpret_cast<HANDLE>(wakeFd_));
  fd_ = wakeFd_ = -1;
  closing_ = false;
  gone_ = false;
  changed_.notify_all();
}

}  // namespace platform
