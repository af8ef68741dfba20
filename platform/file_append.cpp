#include "platform/file_append.h"

#include "platform/fd_io_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Opens an existing regular file for appending, or returns -1. O_NONBLOCK
// keeps a FIFO of that name from blocking the open; anything but a regular
// file is refused.
int openExistingForAppend(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Locks (F_WRLCK) or unlocks (F_UNLCK) from the given start to the end of the
// file and beyond. Open-file-description locks exclude other descriptions
// of the same file in this process too, so threads exclude each other as
// processes do.
bool setTailLock(int fd, short type, short whence) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = whence;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, however far it grows
  while (::fcntl(fd, type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW, &lock) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool canOpenExistingForWriting(const std::string& path) {
  int fd = openExistingForAppend(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool appendToExistingFile(const std::string& path, std::string_view bytes) {
  int fd = openExistingForAppend(path);
  if (fd < 0) return false;
  // Every writer locks from the end it sees to infinity, so any two writers'
  // regions overlap and they take turns. A writer that waited finds the end
  // moved by the one before; its lock still covers the new end, and
  // O_APPEND writes there.
  bool ok = setTailLock(fd, F_WRLCK, SEEK_END);
  if (ok) {
    ok = internal::writeAll(fd, bytes);
    // Releases every lock this description holds, wherever the end is now.
    setTailLock(fd, F_UNLCK, SEEK_SET);
  }
  if (::close(fd) != 0 && errno != EINTR) ok = false;  // after EINTR the descriptor is closed
  return ok;
}

}  // namespace platform
