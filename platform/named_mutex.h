#pragma once
// A named mutex shared by all processes under the same root folder, with the
// semantics of a Windows mutex: owned by a thread, recursive for its owner,
// and released by the system when the owning process dies (the next owner
// learns that through the Abandoned result).
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

  // The file that carries the cross-process lock (for diagnostics and tests).
  std::string lockFilePath() const;

 private:
  std::shared_ptr<NamedMutexState> shared_;
};

}  // namespace platform
