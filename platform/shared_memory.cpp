#include "platform/shared_memory.h"

#include "platform/text_internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/root.h"

// An area is a file in <runtime>/shm, mapped shared by every user. Two locks
// keep its lifetime:
// - every mapping holds a shared flock on the area file for as long as it
//   exists; the kernel drops it when the mapping's owner closes it or dies;
// - an opener first takes an exclusive flock on a separate "init" file. Then
//   an exclusive, non-blocking flock on the area file succeeds only when no
//   one maps the area: this opener (re)initialises the contents and turns its
//   lock into a shared one. Turning a flock into another kind is not
//   guaranteed to be atomic; the init lock keeps other openers out until it
//   is done, so an area is initialised once however many open it together.
// A process that crashes drops its locks, so stale contents never survive
// the last mapping.

namespace platform {
namespace {

std::string describe(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

int lockFile(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

bool writeAll(int fd, const std::byte* bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Gives the file exactly `size` bytes of the initial contents.
bool initialise(int fd, size_t size, std::span<const std::byte> initial) {
  // Cutting to 0 first zeroes every byte that stays; the file system then
  // keeps a zero area sparse.
  if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
  return initial.empty() || writeAll(fd, initial.data(), size);
}

}  // namespace

SharedMemory::SharedMemory(std::string_view name, size_t size, std::span<const std::byte> initial) {
  if (size == 0) {
    error_ = "a shared memory area needs a size";
    return;
  }
  if (!initial.empty() && initial.size() != size) {
    error_ = "the initial contents of a shared memory area must have its size";
    return;
  }
  std::string dir = runtimeDir() + "/shm";
  if (!ensureDirectory(dir)) {
    error_ = "cannot create the folder " + dir;
    return;
  }
  const std::string base = dir + "/" + internal::encodeFileName(name);
  const std::string areaPath = base + ".shm";
  const std::string initPath = base + ".init";

  int initFd = ::open(initPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (initFd < 0) {
    error_ = describe("cannot open", initPath, errno);
    return;
  }
  if (lockFile(initFd, LOCK_EX) != 0) {
    error_ = describe("cannot lock", initPath, errno);
    ::close(initFd);
    return;
  }

  int fd = ::open(areaPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  if (!ok) error_ = describe("cannot open", areaPath, errno);

  if (ok && lockFile(fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody maps the area: it starts afresh.
    ok = initialise(fd, size, initial) && lockFile(fd, LOCK_SH) == 0;
    if (!ok) error_ = describe("cannot initialise", areaPath, errno);
    created_ = ok;
  } else if (ok) {
    ok = errno == EWOULDBLOCK && lockFile(fd, LOCK_SH) == 0;
    if (!ok) error_ = describe("cannot lock", areaPath, errno);
  }

  if (ok) {
    // Someone else may have made the area smaller; a mapping beyond the end
    // of the file would fault on access.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      ok = false;
      error_ = describe("cannot examine", areaPath, errno);
    } else if (static_cast<uint64_t>(st.st_size) < size) {
      ok = false;
      error_ = "the shared memory area " + std::string(name) + " exists with " + std::to_string(st.st_size) +
               " bytes, fewer than " + std::to_string(size);
    }
  }

  if (ok) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      ok = false;
      error_ = describe("cannot map", areaPath, errno);
    } else {
      data_ = p;
      size_ = size;
    }
  }

  ::close(initFd);  // releases the init lock
  if (!ok) {
    created_ = false;
    if (fd >= 0) ::close(fd);
    return;
  }
  ref_ = fd;  // holds the shared lock that keeps the area alive
}

SharedMemory::~SharedMemory() {
  if (data_) ::munmap(data_, size_);
  if (ref_ >= 0) ::close(static_cast<int>(ref_));
}

}  // namespace platform
