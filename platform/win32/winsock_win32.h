#pragma once
// Windows Sockets for the platform's socket classes (tcp_socket_win32.cpp,
// udp_socket_win32.cpp): the library started once per process, conversions
// between the classes' neutral socket values and SOCKET, and the overlapped
// transfer both classes use so that another thread can end a blocked send or
// receive (CancelIoEx on the socket) without closing it under them.
//
// Private to platform/win32; includes <winsock2.h>.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <string>

namespace platform::win32 {

// Starts Windows Sockets 2.2 on the first call (a function-local static, so
// once per process and safe from any thread); 0, or the WSAStartup error.
// The library stays started until the process ends.
int startWinsock();

// The neutral value the public headers keep (-1: none) and the SOCKET it holds.
inline intptr_t toNeutral(SOCKET socket) {
  return socket == INVALID_SOCKET ? -1 : static_cast<intptr_t>(socket);
}
inline SOCKET toSocket(intptr_t value) { return value < 0 ? INVALID_SOCKET : static_cast<SOCKET>(value); }

// A dotted IPv4 address and port as a socket address; false for anything
// that is not a dotted IPv4 address (inet_pton's rules, as on Linux).
bool toAddress(const std::string& ipv4, uint16_t port, sockaddr_in& address);

// One overlapped WSASend / WSARecv / WSARecvFrom on a socket, waited for
// without end (transferOnce: at most timeoutMs); the I/O may be cancelled
// from another thread with CancelIoEx(socket), and ends as cancelled when the
// event wake (may be nullptr) is signalled before it completes. Returns 0
// with *bytes set, or the Windows Sockets error (WSA_OPERATION_ABORTED 995
// for a cancelled one, WSAETIMEDOUT for one cancelled at its time limit,
// WSAEMSGSIZE for a datagram cut to the buffer, with *bytes the part
// received).
enum class Transfer { Send, Receive };
int transferOnce(SOCKET socket, Transfer kind, void* buffer, size_t count, HANDLE wake, unsigned long* bytes,
                 DWORD timeoutMs = INFINITE);
int receiveFromOnce(SOCKET socket, void* buffer, size_t count, sockaddr_in* from, HANDLE wake,
                    unsigned long* bytes);

}  // namespace platform::win32
