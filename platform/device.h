#pragma once
// A device of a driver outside this system, in the shape of Windows'
// CreateFile / DeviceIoControl / CloseHandle: open a device by its Windows
// name, issue device-control requests (code, input bytes, output buffer ->
// status and byte count), close it. The driver is a Unix-domain socket
// server speaking platform/device_wire.h. On Windows it is the real driver:
// the name opens that device and every request is a DeviceIoControl
// (platform/win32/device_win32.cpp).
//
// Names. "\\.\NAME" (NAME: letters and digits only) is the socket
// $TK_ROOT/dev/NAME with NAME upper-cased, as Windows' device names are
// case-insensitive. Anything else (a '/', "..", a space, no "\\.\") names
// no device: ERROR_FILE_NOT_FOUND.
//
// Threads. Any thread may issue requests while others wait for theirs: a
// read pending in one thread never holds up a write from another. A client
// has at most one request of each code outstanding (a second one of the
// same code waits for the first to end), and answers are matched to their
// request by code. Whichever waiting thread finds nobody reading the socket
// reads it and hands the answers it finds to their requests (one lock, one
// condition variable). close() may come from any thread: it wakes every
// pending request (ERROR_OPERATION_ABORTED 995) through an eventfd in the
// polls and frees the socket only once no thread is inside a request, so a
// descriptor number is never reused under a poll.
//
// The device gone. When the driver closes the connection ("unplugged"),
// fails, or sends what cannot be right (an answer for a code with no
// request outstanding, a byte count above the output capacity or, for a
// write, above the input's length), every pending and later request fails
// with kDeviceGone (ERROR_GEN_FAILURE 31, what Windows reports for a device
// that stopped answering) until close; nothing beyond the output capacity
// is ever written into the caller's buffer.
//
// Error numbers: ERROR_FILE_NOT_FOUND 2 (no such device: no socket, or
// nobody serving it), ERROR_ACCESS_DENIED 5 (no permission, or this object
// is already open), ERROR_INVALID_HANDLE 6 (not open), ERROR_INVALID_PARAMETER
// 87 (a length above kDeviceMaxTransfer; nothing is sent), 995 and 31 above,
// and the driver's own statuses.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_error.h"

namespace platform {

// Windows system error codes only the device interface reports.
constexpr long kDeviceGone = kErrorGenFailure;
constexpr long kDeviceAborted = kErrorOperationAborted;

// The socket a device name opens (see above); empty for a name that is not
// "\\.\" followed by letters and digits.
std::string devicePath(std::string_view windowsName);

class Device {
 public:
  Device() = default;
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Connects to the device's driver: 0 or the error number.
  long open(std::string_view windowsName);
  // Sends one request and blocks until its answer: the driver's status (0
  // success) or an error number. *bytes (may be nullptr) gets the answer's
  // byte count, 0 without an answer; at most outCapacity output bytes are
  // copied to out. Only kDeviceWriteBlock answers carry no output bytes.
  long control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outCapacity, uint32_t* bytes);
  // Ends the device: pending requests return 995, later ones 6. Returns once
  // no thread is inside a request. Does nothing when not open.
  void close();
  // True from a successful open until close, also once the device is gone.
  bool isOpen() const;
  // The descriptor number, for the log's handle value; -1 when not open.
  long handleValue() const;

 private:
  struct Request;
  long exchange(Request& request, std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message);
  long sendLocked(std::unique_lock<std::mutex>& lock, const std::vector<uint8_t>& message);
  void readRound(std::unique_lock<std::mutex>& lock);
  void takeAnswers();
  void markGone();
  Request* pendingFor(uint32_t code) const;
  bool stopped() const { return closing_ || gone_; }

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // any request, reader, sender or close change
  intptr_t fd_ = -1;      // the descriptor (a HANDLE on Windows); -1: none
  intptr_t wakeFd_ = -1;  // signalled by close: an eventfd (Windows: an event)
  int users_ = 0;    // threads inside control
  bool closing_ = false;
  bool gone_ = false;
  bool reading_ = false;  // a thread is reading the socket for everyone
  bool sending_ = false;  // a thread is writing a request
  std::vector<Request*> pending_;
  std::vector<uint8_t> received_;  // answer bytes not yet handed out
};

}  // namespace platform
