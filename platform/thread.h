#pragma once
// Threads as the system uses them: started with a function, waitable (a
// thread's handle is signalled when the thread has ended, so it can be
// waited for with a time-out like any other object), identified by a 32-bit id.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/wait.h"

namespace platform {

class Thread {
 public:
  Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins a finished thread; a thread still running goes on detached, as a
  // Windows thread goes on when its handle is closed.
  ~Thread();

  // Starts fn on a new thread; false when a thread could not be created or
  // this object still runs one. The name (at most 15 characters are kept)
  // shows in debuggers.
  bool start(std::function<void()> fn, const std::string& name = {});

  // Waits up to timeoutMs for the thread to end; true when it has ended
  // (it is then joined). True at once when none was started.
  bool join(uint32_t timeoutMs = kInfinite);

  bool running() const;
  uint32_t id() const;

  // Signalled while no thread runs; for waitForMultiple.
  Waitable& handle();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

uint32_t currentThreadId();
// The calling thread's name as debuggers show it (the name given to
// Thread::start; for the main thread, the program's name).
std::string currentThreadName();
void sleepMs(uint32_t milliseconds);

}  // namespace platform
