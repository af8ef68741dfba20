#include "platform/stop_request.h"

#include <signal.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<int> g_request{0};
// The context is stored before the function and cleared after it, so the
// handler never calls a function with another one's context.
std::atomic<StopRequestWake> g_wake{nullptr};
std::atomic<void*> g_wakeContext{nullptr};

void OnStopSignal(int sig) {
  g_request.store(sig);
  if (StopRequestWake wake = g_wake.load()) wake(g_wakeContext.load());
  // The next one of this kind ends the program at once.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

}  // namespace

void watchStopRequests() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int stopRequest() { return g_request.load(); }

void setStopRequestWake(StopRequestWake wake, void* context) {
  g_wake.store(nullptr);
  g_wakeContext.store(context);
  g_wake.store(wake);
}

}  // namespace platform
