#pragma once
// The exchange's end of a serial line (a ByteLine): a new
// pseudo-terminal, whose slave the link control process opens as its port, or
// a given tty.
//
// In:  bytes to send (Write, from any thread; queued, never blocking the
//      caller), the line rate for pacing.
// Out: received bytes (Read, from the one network thread), each handed out no
//      earlier than it would have ended on the wire.
// Threads: a transmit thread of its own writes the queued bytes at the line
//      rate; Read belongs to the owner's network thread.
//
// Pacing models the wire at 10 bits a byte: a write of k bytes occupies the
// line for k*10/rate seconds, starts no earlier than the previous one ended,
// and its bytes reach the peer as they would have ended on the wire (in
// slices of a few milliseconds, each written when its last byte is due).
// Received bytes are taken in likewise: however fast the peer writes into
// the pseudo-terminal, Read hands a byte out only when it would have arrived.
// A given tty is paced by its hardware, so pacing is off for it.
//
// The pseudo-terminal's slave stays open here as well, set raw at once: the
// master never sees a hang-up when one control process closes the port and
// the next opens it, and nothing is echoed or turned into newlines before
// the control process configures the port.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "exchange/exchange_line.h"
#include "platform/thread.h"

namespace exchange {

class SerialLine final : public ByteLine {
 public:
  using Clock = std::chrono::steady_clock;
  // How long a write may wait for room in the line's buffer (no reader on
  // the pseudo-terminal) before it is given up.
  static constexpr uint32_t kWriteStallMs = 2000;

  // errors: a failed write ("send-failed ..."), from the transmit thread.
  explicit SerialLine(std::function<void(const std::string&)> errors = {});
  ~SerialLine() override;
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // A new pseudo-terminal; Path() is its slave.
  bool OpenPseudoTerminal(std::string* error);
  // A given tty, set raw, 8N1, no flow control, at bitsPerSecond.
  bool OpenDevice(const std::string& path, uint32_t bitsPerSecond, std::string* error);
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  const std::string& Path() const override { return path_; }

  // 0: no pacing. Set before bytes flow.
  void SetPacing(uint32_t bitsPerSecond) { rate_ = bitsPerSecond; }
  uint32_t Pacing() const { return rate_; }

  // Queues the bytes for the line; false when the line is not open. Any
  // thread, also while another closes the line.
  bool Write(std::vector<uint8_t> bytes) override;
  // Waits up to timeoutMs for received bytes and returns those that have
  // arrived (at most buffer.size()); 0 after the time-out, -1 when the line
  // failed.
  long Read(std::span<uint8_t> buffer, uint32_t timeoutMs) override;

  // Time the wire needs for count bytes at the current rate (0 unpaced).
  Clock::duration WireTime(size_t count) const;

 private:
  void TransmitLoop();
  bool WriteAll(const uint8_t* data, size_t size);
  long TakeArrived(std::span<uint8_t> buffer, Clock::time_point now);

  std::function<void(const std::string&)> errors_;
  int fd_ = -1;       // the master, or the given tty
  int slaveFd_ = -1;  // kept open for a pseudo-terminal
  std::string path_;
  std::atomic<uint32_t> rate_{0};

  // Transmit queue, served by the transmit thread.
  std::mutex txMutex_;
  std::condition_variable txChanged_;
  std::deque<std::vector<uint8_t>> txQueue_;
  bool txStopping_ = true;  // also while the line is not open
  Clock::time_point txLineFree_{};
  platform::Thread txThread_;

  // Received bytes not yet handed out: the first one is due at rxFirstDue_,
  // each further one a byte time later (network thread only).
  std::deque<uint8_t> rxPending_;
  Clock::time_point rxFirstDue_{};
};

}  // namespace exchange
