// The kernel-object side of the wait core on Windows (see wait_win32.h): an
// auto-reset Win32 event per blocking wait, and the sleep on it, with or
// without the thread's message queue. The objects themselves keep their
// state under the wait lock of platform/wait.cpp, as on Linux; only the way a
// waiter sleeps and is woken differs (an event instead of a condition
// variable).
#include "platform/win32/wait_win32.h"

#include <windows.h>

#include "platform/wait.h"

namespace platform::win32 {
namespace {

// Trivially destructible (see wait_win32.h).
thread_local bool t_inputRequested = false;

}  // namespace

void* createWaitEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

void closeWaitEvent(void* event) { CloseHandle(static_cast<HANDLE>(event)); }

void wakeWaiter(void* event) { SetEvent(static_cast<HANDLE>(event)); }

Woke sleepOnWaitEvent(void* event, uint32_t timeoutMs, bool withInput) {
  HANDLE handle = static_cast<HANDLE>(event);
  DWORD r = withInput ? MsgWaitForMultipleObjectsEx(1, &handle, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                      : WaitForSingleObject(handle, timeoutMs);
  if (r == WAIT_OBJECT_0) return Woke::Signaled;
  if (withInput && r == WAIT_OBJECT_0 + 1) return Woke::Input;
  if (r == WAIT_TIMEOUT) return Woke::TimedOut;
  return Woke::Failed;
}

uint32_t waitForObjectsOrInput(std::span<Waitable* const> objects, uint32_t timeoutMs) {
  t_inputRequested = true;
  uint32_t r = waitForMultiple(objects, false, timeoutMs);
  t_inputRequested = false;  // also when the wait refused before taking the request
  return r;
}

bool takeInputRequest() {
  bool requested = t_inputRequested;
  t_inputRequested = false;
  return requested;
}

}  // namespace platform::win32
