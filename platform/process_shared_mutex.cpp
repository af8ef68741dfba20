#include "platform/process_shared_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/wait.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace platform {

const std::string& currentBootId() {
  static const std::string id = [] {
    std::string text;
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::getline(in, text);
    if (text.size() >= sizeof(SharedMutexFile{}.bootId)) text.resize(sizeof(SharedMutexFile{}.bootId) - 1);
    return text;
  }();
  return id;
}

namespace {

constexpr size_t kFileSize = sizeof(SharedMutexFile);

bool madeInThisBoot(const SharedMutexFile& file) {
  const std::string& boot = currentBootId();
  if (boot.empty()) return true;
  char padded[sizeof file.bootId] = {};
  std::memcpy(padded, boot.data(), boot.size());
  return std::memcmp(padded, file.bootId, sizeof padded) == 0;
}

// What a look at the file at a path found.
struct Inspection {
  enum class Found { Usable, Missing, Unusable, Error };
  Found found = Found::Error;
  SharedMutexFile* map = nullptr;  // Usable: the mapping
  bool lost = false;               // Unusable: an owner's state went with it
};

Inspection inspect(const std::string& path) {
  Inspection result;
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) result.found = Inspection::Found::Missing;
    return result;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return result;
  }
  result.found = Inspection::Found::Unusable;
  if (st.st_size == static_cast<off_t>(kFileSize)) {
    void* p = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      result.found = Inspection::Found::Error;
    } else {
      auto* file = static_cast<SharedMutexFile*>(p);
      const bool complete = std::memcmp(file->magic, kSharedMutexMagic, sizeof file->magic) == 0 &&
                            file->layout == static_cast<uint32_t>(kFileSize);
      if (complete && madeInThisBoot(*file)) {
        result.found = Inspection::Found::Usable;
        result.map = file;
      } else {
        // Of another boot: lost only when it was held (or already owed an
        // Abandoned). Damaged: nothing in it can be trusted.
        result.lost = !complete || file->held != 0 || file->abandonedPending != 0;
        munmap(p, kFileSize);
      }
    }
  } else {
    result.lost = st.st_size != 0;
  }
  close(fd);
  return result;
}

// The file lock that makes creating or replacing a mutex file one process's
// job at a time. Released when destroyed.
class CreationLock {
 public:
  explicit CreationLock(const std::string& dir) {
    fd_ = open((dir + "/.create.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~CreationLock() {
    if (fd_ >= 0) close(fd_);
  }
  CreationLock(const CreationLock&) = delete;
  CreationLock& operator=(const CreationLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool initMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK) == 0 && pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

// Writes a new mutex file under a temporary name and renames it over `path`.
// The caller holds the creation lock.
SharedMutexFile* create(const std::string& path, bool lost) {
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  void* p = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(kFileSize)) == 0)
    p = mmap(nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    unlink(temporary.c_str());
    return nullptr;
  }
  auto* file = static_cast<SharedMutexFile*>(p);
  std::memcpy(file->magic, kSharedMutexMagic, sizeof file->magic);
  file->layout = static_cast<uint32_t>(kFileSize);
  file->held = 0;
  file->abandonedPending = lost ? 1 : 0;
  file->reserved = 0;
  const std::string& boot = currentBootId();
  std::memcpy(file->bootId, boot.data(), boot.size());
  if (!initMutex(&file->mutex) || rename(temporary.c_str(), path.c_str()) != 0) {
    munmap(p, kFileSize);
    unlink(temporary.c_str());
    return nullptr;
  }
  return file;
}

timespec deadlineAfter(uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000);
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    ++t.tv_sec;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

int lockUntil(pthread_mutex_t* mutex, const timespec& deadline) {
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer of this tool chain does not see this call by itself.
  // (Nor can it be told that an owner it saw in this process died while this
  // call waited; the try before the wait covers an owner found dead.)
  __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
  const int r = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
  const bool taken = r == 0 || r == EOWNERDEAD;
  __tsan_mutex_post_lock(mutex, taken ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed,
                         0);
  return r;
#else
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

}  // namespace

ProcessSharedMutex::ProcessSharedMutex(const std::string& path) {
  Inspection look = inspect(path);
  if (look.found == Inspection::Found::Usable) {
    file_ = look.map;
    return;
  }
  if (look.found == Inspection::Found::Error) return;
  const size_t slash = path.rfind('/');
  CreationLock guard(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
  if (!guard.held()) return;
  // Another process may have made (or mended) it in the meantime.
  look = inspect(path);
  if (look.found == Inspection::Found::Usable) {
    file_ = look.map;
    return;
  }
  if (look.found == Inspection::Found::Error) return;
  file_ = create(path, look.lost);
}

ProcessSharedMutex::~ProcessSharedMutex() {
  if (file_ && !keep_) munmap(file_, kFileSize);
}

ProcessSharedMutex::Result ProcessSharedMutex::lock(uint32_t timeoutMs) {
  if (!file_) return Result::Failed;
  pthread_mutex_t* mutex = &file_->mutex;
  int r = 0;
  if (timeoutMs == kInfinite) {
    r = pthread_mutex_lock(mutex);
  } else {
    // Try first: a free mutex is taken without reading the clock.
    r = pthread_mutex_trylock(mutex);
    if (r == EBUSY && timeoutMs != 0) r = lockUntil(mutex, deadlineAfter(timeoutMs));
  }
  switch (r) {
    case 0:
      break;
    case EOWNERDEAD:
      pthread_mutex_consistent(mutex);
      file_->held = 1;
      file_->abandonedPending = 0;
      return Result::Abandoned;
    case EBUSY:
    case ETIMEDOUT:
      return Result::Timeout;
    default:
      return Result::Failed;
  }
  file_->held = 1;
  if (file_->abandonedPending != 0) {
    file_->abandonedPending = 0;
    return Result::Abandoned;
  }
  return Result::Acquired;
}

void ProcessSharedMutex::unlock() {
  if (!file_) return;
  file_->held = 0;
  pthread_mutex_unlock(&file_->mutex);
}

}  // namespace platform
