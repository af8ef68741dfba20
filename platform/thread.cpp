#include "platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

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
        if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
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

uint32_t currentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void sleepMs(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string currentThreadName() {
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
  return name;
}

}  // namespace platform
