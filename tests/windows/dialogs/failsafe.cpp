// See failsafe.h.
#include "tests/windows/dialogs/failsafe.h"

#include <windows.h>

namespace tktest {

QuitFailsafe::QuitFailsafe(std::chrono::milliseconds after)
    : thread_(GetCurrentThreadId()), watcher_([this, after] { watch(after); }) {}

QuitFailsafe::~QuitFailsafe() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  done_changed_.notify_all();
  watcher_.join();
}

bool QuitFailsafe::fired() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

void QuitFailsafe::watch(std::chrono::milliseconds after) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!done_changed_.wait_for(lock, after, [this] { return done_; })) {
    fired_ = true;
    PostThreadMessageW(thread_, WM_QUIT, 0, 0);
  }
}

}  // namespace tktest
