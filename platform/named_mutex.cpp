#include "platform/named_mutex.h"

#include "platform/text_internal.h"

#include <atomic>
#include <map>
#include <mutex>

#include "platform/process_shared_mutex.h"
#include "platform/root.h"

namespace platform {

// One per name and process: the threads of a process share it, so the
// ownership rules hold for every NamedMutex object of the same name. The
// process-shared mutex excludes the other threads of this process and the
// other processes alike; this adds the recursion of its owner.
struct NamedMutexState {
  explicit NamedMutexState(const std::string& file) : path(file), shared(file) {}
  std::string path;
  ProcessSharedMutex shared;
  // The owning thread of this process (a token of threadToken()), 0 when no
  // thread here owns it. Written only by the owner; another thread reads it
  // only to learn that it is not the owner.
  std::atomic<uint64_t> owner{0};
  uint32_t depth = 0;  // levels the owner holds; touched by the owner only
};

namespace {

std::mutex& registryLock() {
  static std::mutex m;
  return m;
}

// The mutexes this process has open, by file.
std::map<std::string, std::weak_ptr<NamedMutexState>>& openMutexes() {
  static std::map<std::string, std::weak_ptr<NamedMutexState>> map;
  return map;
}

// A number for the calling thread that no other thread of the process ever
// had or will have (a thread id is used again once its thread has ended,
// and an owner may end without releasing).
uint64_t threadToken() {
  static std::atomic<uint64_t> next{0};
  thread_local const uint64_t token = next.fetch_add(1, std::memory_order_relaxed) + 1;
  return token;
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name) {
  std::string dir = runtimeDir() + "/mutex";
  ensureDirectory(dir);
  std::string path = dir + "/" + internal::encodeFileName(name) + kSharedMutexExtension;

  std::lock_guard lock(registryLock());
  auto& map = openMutexes();
  if (auto it = map.find(path); it != map.end()) shared_ = it->second.lock();
  if (!shared_) {
    shared_ = std::make_shared<NamedMutexState>(path);
    map[path] = shared_;
  }
}

NamedMutex::~NamedMutex() {
  std::lock_guard lock(registryLock());
  std::string path = shared_->path;
  if (shared_.use_count() == 1) {
    // The last object of the name in this process. Its owner thread
    // releases it by closing it; a mutex that another thread here still
    // holds stays held, and its mapping stays with it.
    NamedMutexState& s = *shared_;
    const uint64_t owner = s.owner.load(std::memory_order_relaxed);
    if (owner != 0 && owner == threadToken()) {
      s.depth = 0;
      s.owner.store(0, std::memory_order_relaxed);
      s.shared.unlock();
    } else if (owner != 0) {
      s.shared.keepMapped();
    }
  }
  shared_.reset();
  auto& map = openMutexes();
  if (auto it = map.find(path); it != map.end() && it->second.expired()) map.erase(it);
}

bool NamedMutex::valid() const { return shared_->shared.valid(); }

std::string NamedMutex::lockFilePath() const { return shared_->path; }

NamedMutex::LockResult NamedMutex::lock(uint32_t timeoutMs) {
  NamedMutexState& s = *shared_;
  if (!s.shared.valid()) return LockResult::Failed;
  const uint64_t me = threadToken();
  if (s.owner.load(std::memory_order_relaxed) == me) {
    ++s.depth;
    return LockResult::Acquired;
  }
  switch (s.shared.lock(timeoutMs)) {
    case ProcessSharedMutex::Result::Acquired:
      s.owner.store(me, std::memory_order_relaxed);
      s.depth = 1;
      return LockResult::Acquired;
    case ProcessSharedMutex::Result::Abandoned:
      // A thread here that ended holding it leaves its record behind.
      s.owner.store(me, std::memory_order_relaxed);
      s.depth = 1;
      return LockResult::Abandoned;
    case ProcessSharedMutex::Result::Timeout:
      return LockResult::Timeout;
    case ProcessSharedMutex::Result::Failed:
      break;
  }
  return LockResult::Failed;
}

bool NamedMutex::unlock() {
  NamedMutexState& s = *shared_;
  if (s.owner.load(std::memory_order_relaxed) != threadToken() || s.depth == 0) return false;
  if (--s.depth > 0) return true;
  s.owner.store(0, std::memory_order_relaxed);
  s.shared.unlock();
  return true;
}

}  // namespace platform
