#pragma once
// The byte line under the exchange's frame protocol (SerialExchange): a
// serial line (SerialLine: a pseudo-terminal or a tty) or the USB driver
// stand-in (UsbDriverLine: the socket $TK_ROOT/dev/VNLUSBn). The owner reads
// it from its one network thread and writes to it from any thread.
//
// In:  bytes for the peer (Write).
// Out: bytes from the peer (Read), and for a line whose peer opens and closes
//      it (USB), the end of that peer's session.
// Threads: Read belongs to the owner's network thread; Write may come from
//      any thread; Open and Close from the owner while its thread is stopped.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace exchange {

class ByteLine {
 public:
  // Read's result when the peer closed the line (the device): the link it
  // carried is gone, the line stays open for the next peer.
  static constexpr long kPeerClosed = -2;

  virtual ~ByteLine() = default;
  virtual bool IsOpen() const = 0;
  // Where the peer finds the line: a tty's path or the device's socket.
  virtual const std::string& Path() const = 0;
  virtual void Close() = 0;
  // Queues the bytes for the peer; false when they cannot go (not open, no
  // peer). Never blocks on the peer.
  virtual bool Write(std::vector<uint8_t> bytes) = 0;
  // Waits up to timeoutMs for bytes from the peer and returns how many were
  // put into buffer; 0 after the time-out, kPeerClosed (once) when the peer
  // closed, -1 when the line failed.
  virtual long Read(std::span<uint8_t> buffer, uint32_t timeoutMs) = 0;
};

}  // namespace exchange
