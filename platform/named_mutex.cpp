#include "platform/named_mutex.h"

#include "platform/text_internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/root.h"
#include "platform/thread.h"

namespace platform {

// One per name and process: the threads of a process share it, so the
// ownership rules hold for every NamedMutex object of the same name. Across
// processes an open-file-description lock on a file in the runtime folder
// excludes the other owners; the kernel drops it when the process dies.
// While owned, the file holds the owner's process id; a clean release zeroes
// it, so an acquirer that finds a non-zero id knows the last owner died.
struct NamedMutexState {
  std::string path;
  int fd = -1;
  std::mutex m;
  std::condition_variable released;
  uint32_t ownerThread = 0;
  uint32_t depth = 0;

  ~NamedMutexState() {
    if (fd >= 0) close(fd);
  }
};

namespace {

std::mutex& registryLock() {
  static std::mutex m;
  return m;
}

// The mutexes this process has open, by lock file.
std::map<std::string, std::weak_ptr<NamedMutexState>>& openMutexes() {
  static std::map<std::string, std::weak_ptr<NamedMutexState>> map;
  return map;
}


bool setFileLock(int fd, bool wait) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void clearFileLock(int fd) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  fcntl(fd, F_OFD_SETLK, &fl);
}

int32_t readOwnerPid(int fd) {
  int32_t pid = 0;
  return pread(fd, &pid, sizeof pid, 0) == static_cast<ssize_t>(sizeof pid) ? pid : 0;
}

void writeOwnerPid(int fd, int32_t pid) {
  [[maybe_unused]] ssize_t n = pwrite(fd, &pid, sizeof pid, 0);
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name) {
  std::string dir = runtimeDir() + "/mutex";
  ensureDirectory(dir);
  std::string path = dir + "/" + internal::encodeFileName(name) + ".mutex";

  std::lock_guard lock(registryLock());
  auto& map = openMutexes();
  if (auto it = map.find(path); it != map.end()) shared_ = it->second.lock();
  if (!shared_) {
    shared_ = std::make_shared<NamedMutexState>();
    shared_->path = path;
    shared_->fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    map[path] = shared_;
  }
}

NamedMutex::~NamedMutex() {
  std::lock_guard lock(registryLock());
  std::string path = shared_->path;
  shared_.reset();
  auto& map = openMutexes();
  if (auto it = map.find(path); it != map.end() && it->second.expired()) map.erase(it);
}

bool NamedMutex::valid() const { return shared_->fd >= 0; }

std::string NamedMutex::lockFilePath() const { return shared_->path; }

NamedMutex::LockResult NamedMutex::lock(uint32_t timeoutMs) {
  NamedMutexState& s = *shared_;
  if (s.fd < 0) return LockResult::Failed;
  const uint32_t me = currentThreadId();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

  std::unique_lock lock(s.m);
  if (s.ownerThread == me) {
    ++s.depth;
    return LockResult::Acquired;
  }
  // First win the mutex among the threads of this process...
  auto freeInProcess = [&] { return s.ownerThread == 0; };
  if (timeoutMs == kInfinite) {
    s.released.wait(lock, freeInProcess);
  } else if (!s.released.wait_until(lock, deadline, freeInProcess)) {
    return LockResult::Timeout;
  }
  s.ownerThread = me;
  lock.unlock();

  // ...then among the processes.
  bool locked = false;
  if (timeoutMs == kInfinite) {
    locked = setFileLock(s.fd, true);
  } else {
    for (;;) {
      if (setFileLock(s.fd, false)) {
        locked = true;
        break;
      }
      if (errno != EAGAIN && errno != EACCES) break;
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  lock.lock();
  if (!locked) {
    s.ownerThread = 0;
    s.released.notify_one();
    return timeoutMs == kInfinite ? LockResult::Failed : LockResult::Timeout;
  }
  s.depth = 1;
  bool abandoned = readOwnerPid(s.fd) != 0;
  writeOwnerPid(s.fd, static_cast<int32_t>(getpid()));
  return abandoned ? LockResult::Abandoned : LockResult::Acquired;
}

bool NamedMutex::unlock() {
  NamedMutexState& s = *shared_;
  std::lock_guard lock(s.m);
  if (s.ownerThread != currentThreadId() || s.depth == 0) return false;
  if (--s.depth > 0) return true;
  writeOwnerPid(s.fd, 0);
  clearFileLock(s.fd);
  s.ownerThread = 0;
  s.released.notify_one();
  return true;
}

}  // namespace platform
