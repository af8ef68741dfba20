#include "platform/registry_files.h"

#include "platform/fd_io_internal.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using internal::readAll;
using internal::writeAll;

std::string describe(const char* what, const std::string& path, int err) {
  return std::string(what) + " " + path + ": " + std::strerror(err);
}

FileIdentity identityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.modifiedSeconds = st.st_mtim.tv_sec;
  id.modifiedNanoseconds = st.st_mtim.tv_nsec;
  id.changedSeconds = st.st_ctim.tv_sec;
  id.changedNanoseconds = st.st_ctim.tv_nsec;
  return id;
}

// A modification time after both the clock and the replaced file's, so that
// every version of a file has its own identity even when the file system
// reuses the inode number and the clock is coarse.
struct timespec newModificationTime(const FileIdentity* previous) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  if (previous && (now.tv_sec < previous->modifiedSeconds ||
                   (now.tv_sec == previous->modifiedSeconds && now.tv_nsec <= previous->modifiedNanoseconds))) {
    now.tv_sec = static_cast<time_t>(previous->modifiedSeconds);
    now.tv_nsec = static_cast<long>(previous->modifiedNanoseconds) + 1;
    if (now.tv_nsec >= 1000000000L) {
      now.tv_sec += 1;
      now.tv_nsec = 0;
    }
  }
  return now;
}

}  // namespace

FileStatus statFile(const std::string& path, FileIdentity* identity, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileStatus::Missing;
    *error = describe("cannot examine", path, errno);
    return FileStatus::Failed;
  }
  *identity = identityOf(st);
  return FileStatus::Ok;
}

FileStatus readWholeFile(const std::string& path, std::string* bytes, FileIdentity* identity, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileStatus::Missing;
    *error = describe("cannot open", path, errno);
    return FileStatus::Failed;
  }
  // A file edited in place while it is read is read again, so the identity
  // returned always belongs to the bytes returned.
  FileStatus status = FileStatus::Failed;
  for (int attempt = 0; attempt < 5; ++attempt) {
    struct stat before {}, after {};
    if (::fstat(fd, &before) != 0 || ::lseek(fd, 0, SEEK_SET) != 0 || !readAll(fd, bytes) ||
        ::fstat(fd, &after) != 0) {
      *error = describe("cannot read", path, errno);
      break;
    }
    if (identityOf(before) == identityOf(after)) {
      *identity = identityOf(after);
      status = FileStatus::Ok;
      break;
    }
    *error = "the file " + path + " kept changing while it was read";
  }
  ::close(fd);
  return status;
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes, const FileIdentity* previous,
                           FileIdentity* written, std::string* error) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + base + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = describe("cannot create a temporary file in", folder, errno);
    return false;
  }
  // The new file keeps the permissions of the one it replaces.
  struct stat old {};
  mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  struct timespec times[2];
  times[0] = times[1] = newModificationTime(previous);
  bool ok = writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::futimens(fd, times) == 0 && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    *error = describe("cannot write", path, err);
    return false;
  }
  if (statFile(path, written, error) != FileStatus::Ok) {
    *written = {};  // unknown: the next read parses the file again
  }
  return true;
}

FileLock::FileLock(const std::string& lockPath, Mode mode) {
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = describe("cannot open the lock file", lockPath, errno);
    return;
  }
  int rc;
  do {
    rc = ::flock(fd, mode == Mode::Exclusive ? LOCK_EX : LOCK_SH);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    error_ = describe("cannot lock", lockPath, errno);
    ::close(fd);
    return;
  }
  handle_ = fd;
}

FileLock::FileLock(FileLock&& other) noexcept : handle_(other.handle_), error_(std::move(other.error_)) {
  other.handle_ = -1;
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

}  // namespace platform
