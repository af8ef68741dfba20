#pragma once
// The USB link's transport (a LinkTransport, see link_protocol.h): the
// exchange's USB device "\\.\VNLUSB0" ... "\\.\VNLUSB9" (the first that
// opens; platform/device.h), bytes moved with its write-block and read-block
// requests (platform/device_wire.h), with the link log lines of its
// operations (OpenUsb, SendUsb, ReceiveUsb, CloseUsb). Bytes in and out
// only; the frames are the SerialLink core's.
//
// Threads: the receive thread reads (and sends); the window thread opens,
// sends and closes. Two flags stand for the write and read events of the
// Windows driver interface: each write waits for the one before it to
// finish, and a close waits up to 3000 ms for the write and the read in
// progress to end (the device's close ends them at once).
//
// Failures close the device: a write that fails or completes with 0 bytes,
// a read that fails (the driver's failure, the device unplugged). Once
// closed, Receive returns 0 and IsClosed is true, so the receive thread
// sees the device gone and releases the link. A read ended by our own
// close is no failure and logs nothing.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/control/link_protocol.h"
#include "platform/device.h"

class UsbTransport final : public LinkTransport {
 public:
  UsbTransport() = default;
  ~UsbTransport() override;
  UsbTransport(const UsbTransport&) = delete;
  UsbTransport& operator=(const UsbTransport&) = delete;

  // Opens the first of \\.\VNLUSB0 ... 9 that opens (OpenUsb); the link name
  // is only logged. 1 opened, 0 failed or already open.
  int Open(const char* linkName);
  // Reads until bytes come (ReceiveUsb, asked again after a read of 0 bytes
  // while the device is open): their number; 0 once the device is closed.
  int Receive(uint8_t* buffer, size_t capacity) override;
  // One write block (SendUsb): the number written, 0 on failure or without data.
  int Send(const uint8_t* data, size_t count) override;
  // Closes the device (CloseUsb); a Receive blocked in another thread returns 0.
  void Close() override;
  void Release() override;

  // True when no device is open (never opened, closed, or closed by a failure).
  bool IsClosed() const;
  // The Windows error of the last failed open (that of \\.\VNLUSB9).
  long lastError() const { return lastError_.load(); }

 private:
  int ReceiveUsb(uint8_t* buffer, size_t capacity);

  platform::Device device_;
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  bool open_ = false;     // the device handle: set by Open, cleared first by a close
  bool events_ = false;   // the write and read events exist: from Open to the end of a close
  bool writing_ = false;  // a write is in progress (its event not signalled)
  bool reading_ = false;  // a read is in progress
  std::atomic<long> lastError_{0};
};
