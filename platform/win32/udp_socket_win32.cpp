// UDP over IPv4 on Windows Sockets (platform/udp_socket.h).
//
// As on Linux: every socket may broadcast (SO_BROADCAST); close() wakes a
// receive blocked in another thread (a manual-reset event in place of the
// eventfd: the receive is an overlapped WSARecvFrom that the event cancels),
// and the socket is closed only once no receive uses it any more.
//
// Where Windows differs and this file keeps the Linux behaviour:
// - A datagram longer than the buffer fails with WSAEMSGSIZE on Windows; the
//   part that fits is returned as its length, as the interface promises.
// - Windows reports an ICMP "port unreachable" for an earlier datagram as
//   WSAECONNRESET on the next receive of an unconnected socket; that report
//   is turned off (SIO_UDP_CONNRESET), as Linux never gives one.
// - The socket is bound exclusively (SO_EXCLUSIVEADDRUSE), so a second open
//   of a port in use fails ("Address already in use") as on Linux.
// Error texts are "what: text" with the Linux backend's texts
// (socketErrorText). No thread is started.
#include "platform/udp_socket.h"

#include <mswsock.h>

#include <climits>
#include <cstring>
#include <mutex>

#include "platform/tcp_socket.h"
#include "platform/win32/winsock_win32.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform {

struct UdpSocket::State {
  mutable std::mutex mutex;
  SOCKET socket = INVALID_SOCKET;
  HANDLE wake = nullptr;  // manual-reset event that close() signals
  int receivers = 0;      // receives waiting on the socket
  bool closed = false;

  // With the mutex held: gives the socket and the event back once no
  // receive uses them.
  void releaseIfUnused() {
    if (receivers != 0) return;
    if (socket != INVALID_SOCKET) closesocket(socket);
    if (wake) CloseHandle(wake);
    socket = INVALID_SOCKET;
    wake = nullptr;
  }
};

namespace {

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

void setSocketError(std::string* error, const std::string& what, int code) {
  setError(error, what + ": " + socketErrorText(code));
}

}  // namespace

UdpSocket::UdpSocket() : state_(std::make_unique<State>()) {}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::open(const std::string& ipv4, uint16_t port, std::string* error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->socket != INVALID_SOCKET || state_->closed) {
    setError(error, "socket already opened");
    return false;
  }
  if (int failure = win32::startWinsock(); failure != 0) {
    setSocketError(error, "WSAStartup", failure);
    return false;
  }
  sockaddr_in address;
  if (!win32::toAddress(ipv4, port, address)) {
    setError(error, "'" + ipv4 + "' is no dotted IPv4 address");
    return false;
  }
  SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) {
    setSocketError(error, "socket", WSAGetLastError());
    return false;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL on = TRUE;
  if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    setSocketError(error, "SO_BROADCAST", WSAGetLastError());
    closesocket(s);
    return false;
  }
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    setSocketError(error, "bind " + ipv4 + ":" + std::to_string(port), WSAGetLastError());
    closesocket(s);
    return false;
  }
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wake) {
    setError(error, "CreateEvent: error " + std::to_string(GetLastError()));
    closesocket(s);
    return false;
  }
  state_->socket = s;
  state_->wake = wake;
  return true;
}

bool UdpSocket::isOpen() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->socket != INVALID_SOCKET && !state_->closed;
}

bool UdpSocket::isClosed() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->closed;
}

uint16_t UdpSocket::localPort() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->socket == INVALID_SOCKET || state_->closed) return 0;
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(state_->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool UdpSocket::sendTo(const void* data, size_t count, const std::string& ipv4, uint16_t port, std::string* error) {
  sockaddr_in address;
  if (!win32::toAddress(ipv4, port, address)) {
    setError(error, "'" + ipv4 + "' is no dotted IPv4 address");
    return false;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->socket == INVALID_SOCKET || state_->closed) {
    setError(error, state_->closed ? "socket closed" : "socket not open");
    return false;
  }
  // A datagram goes out whole or not at all; a blocking sendto does not
  // wait for the peer, so it needs no overlapped wait.
  if (count > INT_MAX || sendto(state_->socket, static_cast<const char*>(data), static_cast<int>(count), 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    setSocketError(error, "sendto " + ipv4 + ":" + std::to_string(port),
                   count > INT_MAX ? WSAEMSGSIZE : WSAGetLastError());
    return false;
  }
  return true;
}

long UdpSocket::receiveFrom(void* buffer, size_t capacity, std::string* sender, uint16_t* senderPort,
                            std::string* error) {
  SOCKET s;
  HANDLE wake;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->socket == INVALID_SOCKET || state_->closed) {
      setError(error, state_->closed ? "socket closed" : "socket not open");
      return -1;
    }
    s = state_->socket;
    wake = state_->wake;
    ++state_->receivers;
  }
  long result = -1;
  for (;;) {
    sockaddr_in from;
    unsigned long got = 0;
    int failure = win32::receiveFromOnce(s, buffer, capacity, &from, wake, &got);
    if (failure == WSA_OPERATION_ABORTED) {
      setError(error, "socket closed");
      break;
    }
    // A report of an earlier datagram's fate, should one still come: not this receive's.
    if (failure == WSAECONNRESET) continue;
    if (failure != 0 && failure != WSAEMSGSIZE) {
      setSocketError(error, "recvfrom", failure);
      break;
    }
    // WSAEMSGSIZE: the datagram was cut to the buffer, the rest is dropped.
    result = static_cast<long>(failure == WSAEMSGSIZE ? capacity : got);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    if (sender) *sender = text;
    if (senderPort) *senderPort = ntohs(from.sin_port);
    break;
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  --state_->receivers;
  if (state_->closed) {
    if (result >= 0) setError(error, "socket closed");
    result = -1;
    state_->releaseIfUnused();
  }
  return result;
}

void UdpSocket::close() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->closed) return;
  state_->closed = true;
  if (state_->wake) SetEvent(state_->wake);
  state_->releaseIfUnused();
}

}  // namespace platform
