#pragma once
// The link lock of the control process: one thread at a time enters the
// protocol core. Recursive for the thread that holds it (each lock needs
// its unlock), and a wait for it can end after a time, so that the window
// thread can look after a holder that is stuck (link_controller.h). Built
// on a plain mutex and a condition variable. No threads of its own.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class LinkLock {
 public:
  void lock() {
    std::unique_lock guard(m_);
    free_.wait(guard, [this] { return Take(); });
  }
  bool try_lock() {
    std::lock_guard guard(m_);
    return Take();
  }
  template <typename Rep, typename Period>
  bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
    std::unique_lock guard(m_);
    return free_.wait_for(guard, wait, [this] { return Take(); });
  }
  void unlock() {
    std::lock_guard guard(m_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;  // not held by this thread
    if (--depth_ == 0) {
      owner_ = std::thread::id();
      free_.notify_one();
    }
  }

 private:
  // Under m_: takes the lock for the calling thread when it is free or its own.
  bool Take() {
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ != 0 && owner_ != me) return false;
    owner_ = me;
    ++depth_;
    return true;
  }

  std::mutex m_;
  std::condition_variable free_;
  std::thread::id owner_;
  size_t depth_ = 0;
};
