// Threads: Thread and its shared State are the same on every system; naming,
// ids and sleeping are the system's, the POSIX ones at the end of this file,
// the Win32 ones in win32/thread_win32.cpp.
#include "platform/thread.h"

#if !defined(_WIN32)
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/thread_internal.h"

namespace platform {

// Shared by the Thread object and the running thread, so that a thread that
// outlives its Thread object can still mark itself finished.
struct Thread::State : Waitable {
  std::thread thread;
  // Held by start() until `thread` is assigned: the new thread waits for it
  // before it runs its function, which may end the Thread object itself.
  std::mutex starting;
  uint32_t id = 0;
  bool finished = true;

  bool isSignaledLocked() const override { return finished; }
  void setFinished(bool value) {
    changeState([&] { finished = value; });
  }
};

Thread::Thread() : state_(std::make_shared<State>()) {}

Thread::~Thread() {
  if (!state_->thread.joinable()) return;
  if (!join(0)) state_->thread.detach();
}

bool Thread::start(std::function<void()> fn, const std::string& name) {
  if (state_->thread.joinable() && !join(0)) return false;
  // From here on only locals: the function may hold the last reference to
  // this Thread's owner and end it as soon as it has run.
  const std::shared_ptr<State> state = state_;
  state->setFinished(false);
  Event started(Event::Reset::Manual);
  {
    std::lock_guard<std::mutex> assigning(state->starting);
    try {
      state->thread = std::thread([state, fn = std::move(fn), name, &started]() mutable {
        if (!name.empty()) internal::nameThisThread(name);
        { std::lock_guard<std::mutex> assigned(state->starting); }
        state->id = currentThreadId();
        started.set();
        {
          // The function and what it captured go before the thread counts as
          // finished: a capture may hold the last reference to the Thread's
          // owner, whose destructor must then find the thread still running
          // (and let it go on detached) rather than try to join it from itself.
          std::function<void()> body = std::move(fn);
          body();
        }
        if (!name.empty()) internal::forgetThisThreadName();
        state->setFinished(true);
      });
    } catch (const std::system_error&) {
      state->setFinished(true);
      return false;
    }
  }
  started.wait();
  return true;
}

bool Thread::join(uint32_t timeoutMs) {
  if (waitForSingle(*state_, timeoutMs) != kWaitObject0) return false;
  if (state_->thread.joinable()) state_->thread.join();
  return true;
}

bool Thread::running() const { return waitForSingle(*state_, 0) != kWaitObject0; }

uint32_t Thread::id() const { return state_->id; }

Waitable& Thread::handle() { return *state_; }

#if !defined(_WIN32)
void internal::nameThisThread(const std::string& name) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

void internal::forgetThisThreadName() {}

uint32_t currentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void sleepMs(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string currentThreadName() {
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
  return name;
}
#endif

}  // namespace platform
