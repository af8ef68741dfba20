#include "platform/file_read.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd_io_internal.h"

namespace platform {

bool readWholeFileText(const std::string& path, std::string* bytes, std::string* error) {
  bytes->clear();
  if (path.empty()) {
    *error = "no file name given";
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && S_ISDIR(st.st_mode)) {
    *error = "cannot read " + path + ": it is a folder, not a file";
    ok = false;
  } else if (!ok || !internal::readAll(fd, bytes)) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    ok = false;
  }
  ::close(fd);
  if (!ok) bytes->clear();
  return ok;
}

}  // namespace platform
