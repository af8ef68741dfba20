// TCP over IPv4 on Windows Sockets (platform/tcp_socket.h).
//
// The public classes keep a SOCKET in their neutral descriptor (-1: none).
// Errors are WSAGetLastError numbers as they come: they are the kWsa...
// numbers the interface promises, so no table is needed in this direction.
// The texts of socketErrorText are the same as the Linux backend's (the C
// library's texts of the matching errno), so logs read alike on both systems.
//
// Where Windows differs and this file keeps the Linux behaviour:
// - Windows does not promise that shutdown(SD_BOTH) wakes a receive (or a
//   send) blocked in another thread. Sends and receives are overlapped
//   operations (winsock_win32.h) that wait on the socket's shut event too;
//   shutdownBoth sets it, which cancels those in progress and every one
//   that starts later. Cancelling them with CancelIoEx alone left a send
//   that was being started at that moment blocked for good (seen under
//   Wine, about one run in six). Either way a receive returns 0 (as recv
//   after shutdown does on Linux) and a send fails with kWsaShutDown.
// - SO_REUSEADDR would let a second socket take a port already in use on
//   Windows; listeners take SO_EXCLUSIVEADDRUSE instead, so a second listen
//   on the same port fails with kWsaAddressInUse as on Linux.
// - Sockets are not inherited by child processes (SOCK_CLOEXEC on Linux).
// No thread is started; the caller's threads block in the calls.
#include "platform/tcp_socket.h"

#include <cstring>
#include <utility>

#include "platform/wait.h"
#include "platform/win32/winsock_win32.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using win32::toSocket;

void setError(int* error, int socketErrorNumber) {
  if (error) *error = socketErrorNumber;
}

// A new TCP socket for overlapped I/O that child processes do not inherit;
// INVALID_SOCKET with the error in *error.
SOCKET newTcpSocket(int* error) {
  if (int failure = win32::startWinsock(); failure != 0) {
    setError(error, failure);
    return INVALID_SOCKET;
  }
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) {
    setError(error, WSAGetLastError());
    return INVALID_SOCKET;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return s;
}

void noDelay(SOCKET s) {
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

// select's time-out for timeoutMs; nullptr (no end) for kInfinite.
timeval* selectTimeout(uint32_t timeoutMs, timeval& storage) {
  if (timeoutMs == kInfinite) return nullptr;
  storage.tv_sec = static_cast<long>(timeoutMs / 1000);
  storage.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  return &storage;
}

// Waits for readability (data, end of stream, a connection to accept or an
// error); false when nothing came within timeoutMs.
bool selectReadable(SOCKET s, uint32_t timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval storage{};
  int n = select(0, &readable, nullptr, nullptr, selectTimeout(timeoutMs, storage));
  return n != 0;  // SOCKET_ERROR: let the following call report the error
}

uint16_t boundPort(intptr_t fd) {
  sockaddr_in address{};
  int length = sizeof address;
  if (fd < 0 || getsockname(toSocket(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// Connects in non-blocking mode and waits for the outcome at most
// timeoutMs; 0 or the error number. The socket is blocking again after a
// success.
int connectWithin(SOCKET s, const sockaddr_in& address, uint32_t timeoutMs) {
  u_long on = 1, off = 0;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return WSAGetLastError();
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval storage{};
    int ready = select(0, nullptr, &writable, &failed, selectTimeout(timeoutMs, storage));
    if (ready == SOCKET_ERROR) return WSAGetLastError();
    if (ready == 0) return WSAETIMEDOUT;
    int failure = 0;
    int length = sizeof failure;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length) != 0)
      return WSAGetLastError();
    if (failure != 0) return failure;
    if (!FD_ISSET(s, &writable)) return WSAECONNREFUSED;  // failed without saying why
  }
  return ioctlsocket(s, FIONBIO, &off) == 0 ? 0 : WSAGetLastError();
}

// The shut event of a new socket (0 when none could be made: shutdownBoth
// then cancels only what is in progress).
intptr_t newShutEvent() { return reinterpret_cast<intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

HANDLE shutEventOf(intptr_t event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

TcpSocket::~TcpSocket() { close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      shutEvent_(std::exchange(other.shutEvent_, 0)),
      sendTimeoutMs_(std::exchange(other.sendTimeoutMs_, 0)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    shutEvent_ = std::exchange(other.shutEvent_, 0);
    sendTimeoutMs_ = std::exchange(other.sendTimeoutMs_, 0);
  }
  return *this;
}

TcpSocket TcpSocket::connect(const std::string& ipv4, uint16_t port, int* error, uint32_t timeoutMs) {
  sockaddr_in address;
  if (int failure = win32::startWinsock(); failure != 0) {
    setError(error, failure);
    return TcpSocket();
  }
  if (!win32::toAddress(ipv4, port, address)) {
    setError(error, kWsaInvalidArgument);
    return TcpSocket();
  }
  SOCKET s = newTcpSocket(error);
  if (s == INVALID_SOCKET) return TcpSocket();
  if (int failure = connectWithin(s, address, timeoutMs); failure != 0) {
    setError(error, failure);
    closesocket(s);
    return TcpSocket();
  }
  noDelay(s);
  setError(error, 0);
  return TcpSocket(win32::toNeutral(s), newShutEvent());
}

long TcpSocket::send(const void* data, size_t count, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return -1;
  }
  // WSASend takes its buffer as writable; it does not write to it.
  char* bytes = const_cast<char*>(static_cast<const char*>(data));
  size_t sent = 0;
  while (sent < count) {
    unsigned long n = 0;
    int failure = win32::transferOnce(toSocket(fd_), win32::Transfer::Send, bytes + sent, count - sent,
                                      shutEventOf(shutEvent_), &n, sendTimeoutMs_ == 0 ? INFINITE : sendTimeoutMs_);
    if (failure != 0) {
      // Cancelled by shutdownBoth (WSAETIMEDOUT when at its time limit).
      setError(error, failure == WSA_OPERATION_ABORTED ? kWsaShutDown : failure);
      return -1;
    }
    sent += n;
  }
  setError(error, 0);
  return static_cast<long>(sent);
}

long TcpSocket::receive(void* buffer, size_t capacity, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return -1;
  }
  unsigned long n = 0;
  int failure =
      win32::transferOnce(toSocket(fd_), win32::Transfer::Receive, buffer, capacity, shutEventOf(shutEvent_), &n);
  // Shut down (before or during the receive): the end of the stream.
  if (failure == WSA_OPERATION_ABORTED || failure == WSAESHUTDOWN) failure = 0;
  if (failure != 0) {
    setError(error, failure);
    return -1;
  }
  setError(error, 0);
  return static_cast<long>(n);
}

bool TcpSocket::waitReadable(uint32_t timeoutMs) { return fd_ >= 0 && selectReadable(toSocket(fd_), timeoutMs); }

void TcpSocket::shutdownBoth() {
  if (fd_ < 0) return;
  ::shutdown(toSocket(fd_), SD_BOTH);
  // Ends the send or receive another thread is blocked in, and every later one.
  if (shutEvent_ != 0) SetEvent(shutEventOf(shutEvent_));
  CancelIoEx(reinterpret_cast<HANDLE>(toSocket(fd_)), nullptr);
}

void TcpSocket::close() {
  if (fd_ >= 0) closesocket(toSocket(fd_));
  fd_ = -1;
  if (shutEvent_ != 0) CloseHandle(shutEventOf(shutEvent_));
  shutEvent_ = 0;
}

uint16_t TcpSocket::localPort() const { return boundPort(fd_); }

TcpListener::~TcpListener() { close(); }

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TcpListener TcpListener::listen(const std::string& ipv4, uint16_t port, int* error) {
  sockaddr_in address;
  if (int failure = win32::startWinsock(); failure != 0) {
    setError(error, failure);
    return TcpListener();
  }
  if (!win32::toAddress(ipv4, port, address)) {
    setError(error, kWsaInvalidArgument);
    return TcpListener();
  }
  SOCKET s = newTcpSocket(error);
  if (s == INVALID_SOCKET) return TcpListener();
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0) {
    setError(error, WSAGetLastError());
    closesocket(s);
    return TcpListener();
  }
  setError(error, 0);
  TcpListener listener;
  listener.fd_ = win32::toNeutral(s);
  return listener;
}

uint16_t TcpListener::port() const { return boundPort(fd_); }

TcpSocket TcpListener::accept(uint32_t timeoutMs, int* error) {
  if (fd_ < 0) {
    setError(error, kWsaBadHandle);
    return TcpSocket();
  }
  if (!selectReadable(toSocket(fd_), timeoutMs)) {
    setError(error, kWsaTimedOut);
    return TcpSocket();
  }
  SOCKET s = ::accept(toSocket(fd_), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    setError(error, WSAGetLastError());
    return TcpSocket();
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  noDelay(s);
  setError(error, 0);
  return TcpSocket(win32::toNeutral(s), newShutEvent());
}

void TcpListener::close() {
  if (fd_ >= 0) closesocket(toSocket(fd_));
  fd_ = -1;
}

bool isIpv4Address(const std::string& text) {
  sockaddr_in address;
  return win32::toAddress(text, 0, address);
}

bool isLoopbackIpv4(const std::string& ipv4) {
  sockaddr_in address;
  if (!win32::toAddress(ipv4, 0, address)) return false;
  return (ntohl(address.sin_addr.s_addr) >> 24) == 127;
}

std::string socketErrorText(int error) {
  // The texts the Linux backend gives (the C library's strerror of the
  // matching errno), so that a log line reads the same on both systems.
  struct ErrorText {
    int error;
    const char* text;
  };
  static constexpr ErrorText kTexts[] = {
      {0, "Success"},
      {kWsaInterrupted, "Interrupted system call"},
      {kWsaBadHandle, "Bad file descriptor"},
      {kWsaAccessDenied, "Permission denied"},
      {kWsaFault, "Bad address"},
      {kWsaInvalidArgument, "Invalid argument"},
      {kWsaTooManySockets, "Too many open files"},
      {kWsaWouldBlock, "Resource temporarily unavailable"},
      {kWsaInProgress, "Operation now in progress"},
      {kWsaAlready, "Operation already in progress"},
      {kWsaNotSocket, "Socket operation on non-socket"},
      {kWsaMessageSize, "Message too long"},
      {kWsaProtocolOption, "Protocol not available"},
      {kWsaNotSupported, "Operation not supported"},
      {kWsaFamilyNotSupported, "Address family not supported by protocol"},
      {kWsaAddressInUse, "Address already in use"},
      {kWsaAddressNotAvailable, "Cannot assign requested address"},
      {kWsaNetworkDown, "Network is down"},
      {kWsaNetworkUnreachable, "Network is unreachable"},
      {kWsaNetworkReset, "Network dropped connection on reset"},
      {kWsaConnectionAborted, "Software caused connection abort"},
      {kWsaConnectionReset, "Connection reset by peer"},
      {kWsaNoBuffers, "No buffer space available"},
      {kWsaIsConnected, "Transport endpoint is already connected"},
      {kWsaNotConnected, "Transport endpoint is not connected"},
      {kWsaShutDown, "Broken pipe"},
      {kWsaTimedOut, "Connection timed out"},
      {kWsaConnectionRefused, "Connection refused"},
      {kWsaHostDown, "Host is down"},
      {kWsaHostUnreachable, "No route to host"},
      {kWsaSystemCallFailure, "system call failure"},
  };
  for (const ErrorText& entry : kTexts)
    if (entry.error == error) return entry.text;
  return "socket error " + std::to_string(error);
}

}  // namespace platform
