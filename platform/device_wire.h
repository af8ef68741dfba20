#pragma once
// The wire format between the platform's device interface (platform/device.h)
// and a device driver on this platform: the contract a driver stand-in (the
// simulated exchange's `tksim --usb N`) or a real bridge to the hardware (say a
// small daemon on top of libusb) implements.
//
// A device named "\\.\NAMEn" is the Unix-domain stream socket $TK_ROOT/dev/NAMEn;
// opening the device connects to it, closing it closes the connection. Over
// one connection the client sends requests and the driver answers each of them
// once. All numbers are 32-bit little-endian.
//
//   request:  code, input length, output capacity, then the input bytes
//   answer:   code (the request's), status, byte count, then the output bytes
//
// status is a Windows system error code (0 success; 1 ERROR_INVALID_FUNCTION for
// an unknown request code, 87 ERROR_INVALID_PARAMETER for lengths above
// kDeviceMaxTransfer, 31 ERROR_GEN_FAILURE for a device fault). byte count is
// the number of bytes the request moved; an answer carries output bytes only
// for a request whose output buffer receives data (byte count of them, never
// more than the output capacity).
//
// A client has at most one request of each code outstanding, so answers are
// told apart by their code, and the driver may answer them in any order: a
// read that waits for data must not hold up a write behind it. A driver that
// receives lengths it cannot accept answers with 87 and then closes the
// connection (it cannot find the next request's start).
//
// The two requests of the exchange's USB driver (buffered method, device type
// 0x22):
//   kDeviceWriteBlock 0x0022A044  input: the bytes to send; output capacity 0
//                                 (or the input's length); byte count: the
//                                 number written; no output bytes
//   kDeviceReadBlock  0x00226048  input: none (a driver ignores any); output capacity: the buffer's
//                                 size; the answer comes when data has arrived
//                                 (byte count >= 1) or with a failure status
#include <cstdint>

namespace platform {

constexpr uint32_t kDeviceWriteBlock = 0x0022A044;
constexpr uint32_t kDeviceReadBlock = 0x00226048;
constexpr uint32_t kDeviceMaxTransfer = 65536;
constexpr uint32_t kDeviceHeaderSize = 12;

}  // namespace platform
