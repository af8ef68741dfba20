#include "platform/thread_stack.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace platform {
namespace {

constexpr int kMaxFrames = 64;
// The signal handler's own frame and the system's signal return trampoline
// sit above the interrupted code.
constexpr int kHandlerFrames = 2;

// Filled by the target's handler. Abandoned records (the target did not
// answer in time) are never freed, so a late answer writes into memory that
// is still ours.
struct Capture {
  Capture() { sem_init(&done, 0, 0); }
  void* frames[kMaxFrames] = {};
  std::atomic<int> count{0};
  sem_t done;
};

std::mutex g_captureLock;                     // one capture at a time
std::atomic<Capture*> g_current{nullptr};     // the record the handler may fill
std::vector<std::unique_ptr<Capture>>* g_abandoned = nullptr;  // under g_captureLock
bool g_installed = false;                     // under g_captureLock
int g_signal = 0;

void onStackSignal(int, siginfo_t* info, void*) {
  // Only a request of this process for the record being captured counts:
  // a stray or late signal is ignored.
  if (info == nullptr || info->si_code != SI_QUEUE) return;
  Capture* capture = g_current.load(std::memory_order_acquire);
  if (capture == nullptr || info->si_value.sival_ptr != capture) return;
  const int savedErrno = errno;
  capture->count.store(backtrace(capture->frames, kMaxFrames), std::memory_order_release);
  sem_post(&capture->done);
  errno = savedErrno;
}

bool install(std::string* error) {
  if (g_installed) return true;
  // backtrace() loads its unwinder on first use, which is not safe inside a
  // signal handler: use it once here.
  void* warm[4];
  backtrace(warm, 4);
  g_signal = SIGRTMIN + 5;
  struct sigaction action {};
  action.sa_sigaction = onStackSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (sigaction(g_signal, &action, nullptr) != 0) {
    *error = "cannot install the stack signal handler (errno " + std::to_string(errno) + ")";
    return false;
  }
  g_abandoned = new std::vector<std::unique_ptr<Capture>>;  // lives as long as the process
  g_installed = true;
  return true;
}

std::string hex(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%jx", static_cast<uintmax_t>(value));
  return text;
}

std::string demangled(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || readable == nullptr) return name;
  std::string text = readable;
  std::free(readable);
  return text;
}

// "#n ADDRESS [symbol+0xOFF ](module+0xOFF)", as far as the address can be named.
std::string describeFrame(int index, void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::string line = "#" + std::to_string(index) + " " + hex(at);
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return line + " ??";
  if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
    line += " " + demangled(info.dli_sname) + "+" + hex(at - reinterpret_cast<uintptr_t>(info.dli_saddr));
  }
  return line + " (" + info.dli_fname + "+" + hex(at - reinterpret_cast<uintptr_t>(info.dli_fbase)) + ")";
}

// Waits for the handler's answer until the deadline (CLOCK_REALTIME, as
// sem_timedwait takes it); false on a time-out.
bool waitDone(Capture& capture, uint32_t timeoutMs) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  for (;;) {
    if (sem_timedwait(&capture.done, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

ThreadStack captureThreadStack(uint32_t threadId, uint32_t timeoutMs) {
  ThreadStack stack;
  std::lock_guard lock(g_captureLock);
  if (!install(&stack.error)) return stack;
  auto capture = std::make_unique<Capture>();
  g_current.store(capture.get(), std::memory_order_release);

  siginfo_t info{};
  info.si_signo = g_signal;
  info.si_code = SI_QUEUE;
  info.si_pid = getpid();
  info.si_uid = getuid();
  info.si_value.sival_ptr = capture.get();
  if (syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(threadId), g_signal, &info) != 0) {
    const int error = errno;
    g_current.store(nullptr, std::memory_order_release);
    stack.error = error == ESRCH ? "no thread " + std::to_string(threadId) + " in this process"
                                 : "cannot signal thread " + std::to_string(threadId) + " (errno " +
                                       std::to_string(error) + ")";
    return stack;
  }
  bool answered = waitDone(*capture, timeoutMs);
  g_current.store(nullptr, std::memory_order_release);
  // The handler may have answered between the time-out and the line above.
  if (!answered) answered = sem_trywait(&capture->done) == 0;
  if (!answered) {
    // A handler that took the record before it was withdrawn may still
    // write into it.
    g_abandoned->push_back(std::move(capture));
    stack.error = "thread " + std::to_string(threadId) + " did not answer within " + std::to_string(timeoutMs) +
                  " ms (it may block signals)";
    return stack;
  }
  const int count = capture->count.load(std::memory_order_acquire);
  for (int i = kHandlerFrames; i < count; ++i) {
    stack.frames.push_back(describeFrame(i - kHandlerFrames, capture->frames[i]));
  }
  if (stack.frames.empty()) stack.error = "thread " + std::to_string(threadId) + " gave no frames";
  return stack;
}

}  // namespace platform
