#pragma once
// The serial link's transport (a LinkTransport, see link_protocol.h): the
// V.24 port to the exchange (platform/serial_port.h), with the link log
// lines of its operations (Vnl2Com, InitV24, SendV24, ReceiveV24, CloseV24).
// Bytes in and out only; the frames are the SerialLink core's.
//
// Used from two threads: the receive thread reads, the window thread opens,
// re-configures, sends and closes; the receive thread sends too. The port
// serialises the sends and lets Close wake a blocked receive; Close frees
// the port at once (it waits for a thread inside a receive or send to
// leave, which the close itself makes prompt), so Release has nothing left
// to do but the same for a transport that was never closed.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/control/link_protocol.h"
#include "platform/serial_port.h"

// SerialTransport::lastError after an open that failed on the DSR check
// (ControlLines on and no device asserting DSR); no Windows error number.
constexpr long kSerialDsrMissing = -1;

class SerialTransport final : public LinkTransport {
 public:
  SerialTransport() = default;
  ~SerialTransport() override;
  SerialTransport(const SerialTransport&) = delete;
  SerialTransport& operator=(const SerialTransport&) = delete;

  // The baud rate of a speed text: exactly "1200", "2400", "4800", "9600",
  // "19200", "38400", "57600" or "115200", else 0 (which the port refuses).
  static uint32_t SpeedOf(const char* speedText);

  // Opens and configures the port (Vnl2Com): 1 opened, 0 failed or already
  // open. With controlLines DTR and RTS go up and DSR must be on 50 ms
  // later, else the port is closed again; without, both go down. A speed
  // the port refuses is logged and the open goes on.
  int Open(const char* portName, const char* speedText, bool controlLines);
  // Re-configures the open port to the announced speed (InitV24): 1, 0 when
  // no port is open. DTR and RTS stay as they are.
  int Reconfigure(const char* speedText);

  // One receive (ReceiveV24): the bytes at hand once at least one came; 0
  // when the port was closed, hung up or failed.
  int Receive(uint8_t* buffer, size_t capacity) override;
  // One whole write (SendV24): the count, 0 on failure or without data.
  int Send(const uint8_t* data, size_t count) override;
  // Closes the port (CloseV24), lowering RTS and DTR; a Receive blocked in
  // another thread returns 0.
  void Close() override;
  void Release() override;

  // True when no port is open, or the open port hung up (the device is gone).
  bool IsClosed() const;
  // The line settings of the open port, for tests; false when none is open.
  bool Settings(platform::SerialSettings* out) const { return port_.settings(out); }
  // The Windows error of the last failed open (platform::serialErrorText),
  // or kSerialDsrMissing.
  long lastError() const { return lastError_.load(); }

 private:
  platform::SerialPort port_;
  std::atomic<long> lastError_{0};
};
