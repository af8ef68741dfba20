#pragma once
// A critical section: a lock for the threads of one process that the owning
// thread may take again (each Lock needs its Unlock), with a non-blocking try.
#include <mutex>

namespace platform {

class CriticalSection {
 public:
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }
  bool tryLock() { return m_.try_lock(); }

 private:
  std::recursive_mutex m_;
};

}  // namespace platform
