#pragma once
// A serial port on termios: on-board UARTs, USB-serial adapters and
// pseudo-terminals alike, with the settings, modem lines and error numbers
// a Windows comm port has, so that nothing above the platform names a
// system error value (Windows system error codes, platform/win_error.h).
// On Windows it is the system's comm port itself: "COMn" opens "\\.\COMn"
// and DSR is the port's modem line (platform/win32/serial_port_win32.cpp);
// the root folder's links and DSR files below are the Linux stand-in's.
//
// Names. "COMn" (n = 1..255, "com" in any case, no leading zero) is
// $TK_ROOT/dev/COMn when that path exists (typically a symbolic link to a
// tty or to a pseudo-terminal's slave), else /dev/ttyS<n-1> (unless the
// environment has TK_SERIAL_SYSTEM_PORTS=0, as tests do: then only the link
// in the root folder is tried, so no test opens a real port). Any other name
// is opened as a path only when it is absolute; otherwise the open fails
// with ERROR_FILE_NOT_FOUND.
//
// Bytes in and out. receive() blocks until at least one byte is there and
// then returns at once with everything at hand (up to the capacity): a
// burst comes back in one call without a read time-out added to every
// frame. write() puts out every byte or fails; it gives up 2 ms per byte
// + 1000 ms after it started (ERROR_TIMEOUT 1460), like the write total
// time-out of a Windows port.
//
// Threads. One thread receives; any thread may write (writes are
// serialised, so two frames never interleave), and any thread may close:
// close() wakes a blocked receive or write at once (an eventfd in their
// poll set) and frees the descriptor only once no thread is inside an
// operation, so a descriptor number is never reused under a poll.
//
// Modem lines. DTR and RTS are raised and lowered with TIOCMBIS/TIOCMBIC
// (a pseudo-terminal has no modem lines; that failure is ignored). DSR comes
// from TIOCMGET; only for a device without modem lines (a pseudo-terminal)
// it comes from the file $TK_ROOT/dev/COMn.dsr of a COM name instead: first
// byte '1' on, '0' off; no file (or an absolute path as name) reads as off.
//
// Error numbers: ERROR_FILE_NOT_FOUND 2 (no such port), ERROR_ACCESS_DENIED
// 5 (in use: a second open, even by root, fails), ERROR_INVALID_HANDLE 6
// (not open, or not a terminal), ERROR_INVALID_PARAMETER 87 (a speed that
// is none of 1200 ... 115200), ERROR_TIMEOUT 1460 (write time-out),
// ERROR_OPERATION_ABORTED 995 (a write ended by close), ERROR_GEN_FAILURE 31
// (the device hung up or failed), and a few more from the errno table in
// serial_port.cpp.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

// The COM number of "COMn" (case-insensitive, 1..255), or 0 for any other name.
int comPortNumber(std::string_view name);
// The device path a port name opens (see above); empty for a name that is
// neither a COM name nor an absolute path.
std::string serialPortPath(std::string_view name);
// The DSR file of a COM name ($TK_ROOT/dev/COMn.dsr); empty for other names.
std::string serialDsrPath(std::string_view name);

// A serial port error number (above) for a person, with the number:
// "the port is in use or access is denied (error 5)".
std::string serialErrorText(long error);

// The line settings as the device reports them.
struct SerialSettings {
  uint32_t speed = 0;  // baud; 0 for a speed outside 1200 ... 115200
  int dataBits = 0;
  char parity = '?';  // 'N', 'E' or 'O'
  int stopBits = 0;
};

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port for reading and writing, exclusively: 0 or the error
  // number. A port that is still open is refused (ERROR_ACCESS_DENIED); one
  // that hung up is freed first.
  long open(std::string_view name);
  // True from a successful open until close, also after a hang-up.
  bool isOpen() const;
  // True once the device hung up or failed (a pseudo-terminal whose master
  // closed, an unplugged adapter): receive returns 0, writes fail.
  bool hungUp() const;
  // The descriptor number, for the log's handle value; -1 when not open.
  long handleValue() const;

  // Raw 8-bit line, no parity, 1 stop bit (2 at 4800 baud and below), no
  // flow control, receiver on, modem status ignored; pending input and
  // output are discarded. 0, or ERROR_INVALID_PARAMETER for a speed other
  // than 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200 (nothing is
  // changed then), or the device's error.
  long configure(uint32_t speed);
  // The current settings; false when not open or the device does not say.
  bool settings(SerialSettings* out) const;

  void setDtr(bool on);
  void setRts(bool on);
  // DSR (see above); false when not open.
  bool dsr() const;

  // Bytes read (1 ... capacity); 0 when closed by close (*error 0), when the
  // device hung up or failed (*error its number) or for capacity 0.
  long receive(void* buffer, size_t capacity, long* error = nullptr);
  // Writes every byte: 0, or the error number (nothing more is written).
  long write(const void* data, size_t count);

  // Ends the port: wakes a blocked receive or write, lowers RTS and DTR,
  // waits for the threads inside an operation to leave and closes the
  // device. 0, or the error of closing it. Does nothing when not open.
  long close();

 private:
  // An operation's hold on the descriptors: false when the port is closing.
  bool enter(intptr_t* fd, intptr_t* wakeFd);
  void leave();
  bool closingNow() const;
  void markHungUp();
  long freeLocked(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::mutex writeMutex_;  // one write at a time
  intptr_t fd_ = -1;      // the descriptor (a HANDLE on Windows); -1: none
  intptr_t wakeFd_ = -1;  // signalled by close: an eventfd (Windows: an event)
  int users_ = 0;         // threads inside receive, write or dsr
  bool closing_ = false;
  bool hungUp_ = false;
  std::string dsrPath_;
  // DTR and RTS as last set: Windows' SetCommState sets both lines, and a
  // re-configuration keeps them as they are.
  bool dtr_ = false;
  bool rts_ = false;
};

}  // namespace platform
