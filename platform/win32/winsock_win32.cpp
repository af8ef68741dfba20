// Windows Sockets start-up and the overlapped transfers of the socket
// classes (see winsock_win32.h).
//
// WSAStartup runs once per process, from whichever thread opens the first
// socket; WSACleanup is never called (the process end releases the library,
// and a socket of a static object may still be open then).
//
// Every send and receive is an overlapped operation on a socket opened for
// overlapped I/O (socket() opens them so), waited for on an event of its own.
// The socket stays in blocking mode, so no other caller sees a WSAEWOULDBLOCK;
// and another thread can end the wait at once with CancelIoEx on the socket,
// which the blocking calls of Windows Sockets do not offer (Windows does not
// promise that shutdown() wakes a blocked recv, as Linux does). No thread is
// started.
#include "platform/win32/winsock_win32.h"

#include <climits>
#include <cstring>

namespace platform::win32 {

int startWinsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  return started;
}

bool toAddress(const std::string& ipv4, uint16_t port, sockaddr_in& address) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (startWinsock() != 0) return false;
  return inet_pton(AF_INET, ipv4.c_str(), &address.sin_addr) == 1;
}

namespace {

// One manual-reset event per operation, owned by the calling thread.
class OperationEvent {
 public:
  OperationEvent() : event_(WSACreateEvent()) {}
  ~OperationEvent() {
    if (event_ != WSA_INVALID_EVENT) WSACloseEvent(event_);
  }
  OperationEvent(const OperationEvent&) = delete;
  OperationEvent& operator=(const OperationEvent&) = delete;
  bool valid() const { return event_ != WSA_INVALID_EVENT; }
  WSAEVENT get() const { return event_; }

 private:
  WSAEVENT event_;
};

ULONG capped(size_t count) { return count > INT_MAX ? static_cast<ULONG>(INT_MAX) : static_cast<ULONG>(count); }

// Waits for a started operation (result and error of the WSA call that
// started it) and gives its outcome. A wake event signalled first, or the
// end of timeoutMs, cancels it.
int finish(SOCKET socket, WSAOVERLAPPED& overlapped, int started, HANDLE wake, unsigned long* bytes,
           DWORD timeoutMs = INFINITE) {
  if (started != 0) {
    int error = WSAGetLastError();
    if (error != WSA_IO_PENDING) return error;
  }
  bool timedOut = false;
  if (wake || timeoutMs != INFINITE) {
    HANDLE events[2] = {overlapped.hEvent, wake};
    // The operation's own event comes first: one that completed wins over a wake.
    const DWORD waited = WaitForMultipleObjects(wake ? 2 : 1, events, FALSE, timeoutMs);
    if (waited != WAIT_OBJECT_0) {
      timedOut = waited == WAIT_TIMEOUT;
      CancelIoEx(reinterpret_cast<HANDLE>(socket), &overlapped);
    }
  }
  DWORD done = 0, flags = 0;
  // Waits (TRUE) for the completion, also of a cancelled operation. One that
  // completed before the cancel reached it counts as completed.
  if (!WSAGetOverlappedResult(socket, &overlapped, &done, TRUE, &flags)) {
    int error = WSAGetLastError();
    if (error == WSAEMSGSIZE) *bytes = done;
    if (timedOut && error == WSA_OPERATION_ABORTED) return WSAETIMEDOUT;
    return error;
  }
  *bytes = done;
  return 0;
}

}  // namespace

int transferOnce(SOCKET socket, Transfer kind, void* buffer, size_t count, HANDLE wake, unsigned long* bytes,
                 DWORD timeoutMs) {
  *bytes = 0;
  OperationEvent event;
  if (!event.valid()) return WSAGetLastError();
  WSAOVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  WSABUF part{capped(count), static_cast<char*>(buffer)};
  DWORD flags = 0;
  int started = kind == Transfer::Send ? WSASend(socket, &part, 1, nullptr, 0, &overlapped, nullptr)
                                       : WSARecv(socket, &part, 1, nullptr, &flags, &overlapped, nullptr);
  return finish(socket, overlapped, started, wake, bytes, timeoutMs);
}

int receiveFromOnce(SOCKET socket, void* buffer, size_t count, sockaddr_in* from, HANDLE wake,
                    unsigned long* bytes) {
  *bytes = 0;
  OperationEvent event;
  if (!event.valid()) return WSAGetLastError();
  WSAOVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  WSABUF part{capped(count), static_cast<char*>(buffer)};
  DWORD flags = 0;
  // The address and its length must live until the operation completes:
  // they do, the wait is in this frame.
  INT fromLength = sizeof *from;
  std::memset(from, 0, sizeof *from);
  int started = WSARecvFrom(socket, &part, 1, nullptr, &flags, reinterpret_cast<sockaddr*>(from), &fromLength,
                            &overlapped, nullptr);
  return finish(socket, overlapped, started, wake, bytes);
}

}  // namespace platform::win32
