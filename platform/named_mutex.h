#pragma once
// A named mutex shared by all processes under the same root folder, with the
// semantics of a Windows mutex: owned by a thread, recursive for its owner,
// and released by the system when the owning thread or process ends (the
// next owner learns that through the Abandoned result).
//
// In: a name. Out: lock()/unlock() for the calling thread. Every NamedMutex
// object of one name in a process shares one mapping of the mutex file
// (platform/process_shared_mutex.h) and one record of the owning thread and
// its depth, so the ownership rules hold across the objects. Taking a free
// mutex and releasing it make no system call. No threads of its own.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/wait.h"

namespace platform {

struct NamedMutexState;

class NamedMutex {
 public:
  enum class LockResult { Acquired, Abandoned, Timeout, Failed };

  // Opens (creating when needed) the mutex of this name, unowned. Any name
  // is allowed; the same name means the same mutex in every process.
  explicit NamedMutex(std::string_view name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // False when the mutex could not be created (then lock fails).
  bool valid() const;

  LockResult lock(uint32_t timeoutMs = kInfinite);
  // Releases one level of ownership; false when the calling thread does not own it.
  bool unlock();

  // The file that carries the cross-process mutex (for diagnostics and tests).
  std::string lockFilePath() const;

 private:
  std::shared_ptr<NamedMutexState> shared_;
};

}  // namespace platform
