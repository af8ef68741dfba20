#pragma once
// A mutex that the processes under one root share through a small file: a
// process-shared, robust pthread mutex in a MAP_SHARED mapping of
// <run>/mutex/<name>.pmtx. Taking and releasing it while nobody waits is an
// atomic operation in user space, with no system call; a waiter sleeps in the
// kernel (futex) until the release wakes it.
//
// In: the file's path. Out: lock() with a time-out, unlock(). Owned by the
// calling thread in the pthread sense: the thread that takes it releases it.
// No threads of its own. Not recursive; NamedMutex adds recursion and the
// per-process sharing of one mapping by every object of a name.
//
// An owner that ends while holding it (the process dies, or only the thread)
// leaves it to the kernel, which marks it "owner died" and wakes one waiter;
// that next owner gets Abandoned.
//
// The file is only ever complete: it is written under a temporary name and
// renamed into place while a file lock on <run>/mutex/.create.lock is held.
// That lock is taken only when the file is missing or unusable, never on a
// lock() or unlock(). A file is unusable when it is not a complete mutex
// file of this layout (damaged, cut short, of another format) or when it was
// made before the system last started (a boot id is kept in it: the owner
// recorded in a mutex of a previous boot can never be declared dead by the
// kernel). Such a file is replaced; when it was damaged, or held when the
// system went down, the next owner of the new one gets Abandoned, as it
// would have from the lost owner.
#include <pthread.h>

#include <cstdint>
#include <string>

namespace platform {

// The contents of a mutex file.
struct SharedMutexFile {
  char magic[8];
  uint32_t layout;            // sizeof(SharedMutexFile) when it was made
  uint32_t held;              // 1 while owned (written by the owner)
  uint32_t abandonedPending;  // 1: the next owner learns that a previous one was lost
  uint32_t reserved;
  char bootId[40];  // the boot the file was made in, NUL-padded
  alignas(64) pthread_mutex_t mutex;
};

inline constexpr char kSharedMutexMagic[8] = {'T', 'K', 'P', 'M', 'T', 'X', '0', '1'};
inline constexpr char kSharedMutexExtension[] = ".pmtx";

// The id of the running boot as the kernel gives it (empty when unknown:
// then files are never taken for ones of another boot).
const std::string& currentBootId();

class ProcessSharedMutex {
 public:
  enum class Result { Acquired, Abandoned, Timeout, Failed };

  // Maps the mutex file at `path` (its folder must exist), creating it, or
  // replacing an unusable one, when needed. valid() tells whether that worked.
  explicit ProcessSharedMutex(const std::string& path);
  // Unmaps the file (the caller has released the mutex, or calls keepMapped).
  ~ProcessSharedMutex();
  ProcessSharedMutex(const ProcessSharedMutex&) = delete;
  ProcessSharedMutex& operator=(const ProcessSharedMutex&) = delete;

  bool valid() const { return file_ != nullptr; }

  // 0 = try once, kInfinite = no limit. Waits on the monotonic clock, so a
  // change of the wall clock neither ends nor stretches the wait.
  Result lock(uint32_t timeoutMs);
  // Only by the thread that holds it.
  void unlock();

  // The mapping stays for the life of the process: a thread of it still
  // holds the mutex (or ended holding it), and the robust-mutex list of that
  // thread points into the mapping.
  void keepMapped() { keep_ = true; }

 private:
  SharedMutexFile* file_ = nullptr;
  bool keep_ = false;
};

}  // namespace platform
