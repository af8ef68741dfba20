#pragma once
// One overlapped operation on a file handle (ReadFile, WriteFile,
// DeviceIoControl on a handle opened with FILE_FLAG_OVERLAPPED) that another
// thread can end: the serial port's and the device's way of letting close()
// wake a thread blocked in a transfer, as the eventfd in the poll set does on
// Linux. The calling thread waits on the operation's own event and on a
// manual-reset wake event; a wake cancels the operation (CancelIoEx) and
// waits for it to end, so the buffers are never written after the return.
//
// Private to platform/win32; includes <windows.h>.
#include <windows.h>

namespace platform::win32 {

struct OverlappedResult {
  DWORD error = 0;  // 0, or the operation's Windows error
  DWORD bytes = 0;  // bytes it moved
  bool woken = false;  // the wake event came before the operation ended
};

// start(OVERLAPPED*) issues the operation and returns its BOOL result.
template <class Start>
OverlappedResult runOverlapped(HANDLE handle, HANDLE wake, Start start) {
  OverlappedResult result;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) {
    result.error = GetLastError();
    return result;
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = done;
  if (!start(&overlapped)) {
    result.error = GetLastError();
    if (result.error != ERROR_IO_PENDING) {
      CloseHandle(done);
      return result;
    }
  }
  HANDLE events[2] = {done, wake};
  // The operation's event comes first: one that has ended wins over a wake.
  if (WaitForMultipleObjects(wake ? 2 : 1, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
    result.woken = true;
    CancelIoEx(handle, &overlapped);
  }
  result.error = GetOverlappedResult(handle, &overlapped, &result.bytes, TRUE) ? 0 : GetLastError();
  CloseHandle(done);
  return result;
}

}  // namespace platform::win32
