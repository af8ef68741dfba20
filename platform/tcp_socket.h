#pragma once
// TCP over IPv4: a connected stream socket and a listening socket. Sends go
// out whole (a partial send is continued until every byte is written or an
// error occurs); a receive returns what one read delivers. Shutting a socket
// down from another thread wakes a receive that blocks on it. Errors are
// Windows Sockets error numbers (kWsa... in platform/win_error.h) on every
// system, so that nothing above the platform names a system error value.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to a dotted IPv4 address; an invalid socket on failure, with
  // the error in *error (when given). A peer that does not answer at all
  // fails after timeoutMs (kWsaTimedOut), about as long as Windows tries.
  static constexpr uint32_t kDefaultConnectTimeoutMs = 21000;
  static TcpSocket connect(const std::string& ipv4, uint16_t port, int* error = nullptr,
                           uint32_t timeoutMs = kDefaultConnectTimeoutMs);

  bool valid() const { return fd_ >= 0; }

  // Every byte, or -1 on an error (its number in *error).
  long send(const void* data, size_t count, int* error = nullptr);
  // A send that moves no byte for timeoutMs fails with kWsaTimedOut (0, the
  // default: no limit). Part of it may have gone out then, so the stream is
  // broken and the caller must close the connection. Set it before the first
  // send; it is not synchronised with a send running on another thread. On
  // Windows the system reports no progress within one send operation, so
  // there the limit is the time of each operation (at most 2 GiB).
  void setSendTimeout(uint32_t timeoutMs) { sendTimeoutMs_ = timeoutMs; }
  // Bytes read (at most capacity), 0 when the peer closed, -1 on an error.
  long receive(void* buffer, size_t capacity, int* error = nullptr);
  // True when a receive would not block (data, end of stream or an error);
  // false when nothing came within timeoutMs.
  bool waitReadable(uint32_t timeoutMs);

  // Ends sending and receiving; a blocked receive returns.
  void shutdownBoth();
  void close();

  uint16_t localPort() const;

 private:
  explicit TcpSocket(intptr_t fd, intptr_t shutEvent = 0) : fd_(fd), shutEvent_(shutEvent) {}
  friend class TcpListener;
  intptr_t fd_ = -1;  // the descriptor (a SOCKET on Windows); -1: none
  // Windows: a manual-reset event that shutdownBoth sets, which ends every
  // send and receive of the socket from then on (0: none; unused on Linux).
  intptr_t shutEvent_ = 0;
  uint32_t sendTimeoutMs_ = 0;
};

class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(TcpListener&& other) noexcept;
  TcpListener& operator=(TcpListener&& other) noexcept;
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Listens on a dotted IPv4 address; port 0 picks a free port (see port()).
  static TcpListener listen(const std::string& ipv4, uint16_t port, int* error = nullptr);

  bool valid() const { return fd_ >= 0; }
  uint16_t port() const;

  // The next connection, or an invalid socket when none came within
  // timeoutMs (kInfinite waits) or on an error.
  TcpSocket accept(uint32_t timeoutMs, int* error = nullptr);
  void close();

 private:
  intptr_t fd_ = -1;  // the descriptor (a SOCKET on Windows); -1: none
};

// True for a dotted IPv4 address in 127.0.0.0/8.
bool isLoopbackIpv4(const std::string& ipv4);
// True when the text is a dotted IPv4 address.
bool isIpv4Address(const std::string& text);

// The text of a socket error number, for a person ("Connection refused").
std::string socketErrorText(int error);

}  // namespace platform
