// Stop requests on Windows, in place of SIGINT and SIGTERM:
// - Ctrl+C and Ctrl+Break at the console (a console control handler) record
//   SIGINT and SIGBREAK;
// - closing the console window, log-off and shut-down record SIGTERM; the
//   system ends the process a few seconds after the handler returns, so the
//   handler waits there (at most 4.5 s) while the program ends in order;
// - requestProcessStop of another process sets this process's stop event
//   (Local\tk.stop.<pid>, made here), a thread-pool wait records SIGTERM;
// - std::raise(SIGTERM) and raise(SIGINT) in the program itself record them
//   too (C runtime signal handlers), as on Linux.
// The first request is only recorded; a second one ends the process at once
// with exit code 128 + the signal number, as the default action would on
// Linux. The handler threads are the system's (console control and thread
// pool); nothing here starts a thread of its own.
#include "platform/stop_request.h"

#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

std::atomic<int> g_request{0};
HANDLE g_stopEvent = nullptr;
HANDLE g_stopWait = nullptr;
// The context is stored before the function and cleared after it, so a
// handler never calls a function with another one's context.
std::atomic<StopRequestWake> g_wake{nullptr};
std::atomic<void*> g_wakeContext{nullptr};

// Records the request and wakes the program; a second one ends the process at once.
void record(int sig) {
  int none = 0;
  if (!g_request.compare_exchange_strong(none, sig)) TerminateProcess(GetCurrentProcess(), 128u + static_cast<UINT>(sig));
  if (StopRequestWake wake = g_wake.load()) wake(g_wakeContext.load());
}

BOOL WINAPI onConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      record(SIGINT);
      return TRUE;
    case CTRL_BREAK_EVENT:
      record(SIGBREAK);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      record(SIGTERM);
      // The system ends the process once this returns: give the program the
      // time it has to end in order (it exits meanwhile, ending this thread).
      Sleep(4500);
      return TRUE;
    default:
      return FALSE;
  }
}

void onSignal(int sig) {
  signal(sig, onSignal);  // the C runtime resets it to the default before the call
  record(sig);
}

void CALLBACK onStopEvent(void*, BOOLEAN) { record(SIGTERM); }

}  // namespace

void setStopRequestWake(StopRequestWake wake, void* context) {
  g_wake.store(nullptr);
  g_wakeContext.store(context);
  g_wake.store(wake);
}

void watchStopRequests() {
  signal(SIGTERM, onSignal);
  signal(SIGINT, onSignal);
  // After signal(): the last handler installed is asked first.
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  if (g_stopEvent == nullptr) {
    const std::wstring name = wincore::stopEventName(GetCurrentProcessId());
    g_stopEvent = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
    if (g_stopEvent != nullptr &&
        !RegisterWaitForSingleObject(&g_stopWait, g_stopEvent, onStopEvent, nullptr, INFINITE, WT_EXECUTEDEFAULT)) {
      g_stopWait = nullptr;
    }
  }
}

int stopRequest() { return g_request.load(); }

}  // namespace platform
