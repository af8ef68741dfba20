#include "platform/stop_request.h"

#include <signal.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<int> g_request{0};

void OnStopSignal(int sig) {
  g_request.store(sig);
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

}  // namespace platform
