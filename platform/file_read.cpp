#include "platform/file_read.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace platform {

namespace {

enum class ReadOutcome { Done, Failed, TooLarge };

// Reads from fd to its end, but no more than maxBytes.
ReadOutcome readUpTo(int fd, std::string* bytes, size_t maxBytes) {
  char buffer[16384];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadOutcome::Failed;
    if (n == 0) return ReadOutcome::Done;
    if (bytes->size() + static_cast<size_t>(n) > maxBytes) return ReadOutcome::TooLarge;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

bool readWholeFileText(const std::string& path, std::string* bytes, std::string* error, size_t maxBytes) {
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
  } else if (!ok) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
  } else {
    switch (readUpTo(fd, bytes, maxBytes)) {
      case ReadOutcome::Done: break;
      case ReadOutcome::Failed:
        *error = "cannot read " + path + ": " + std::strerror(errno);
        ok = false;
        break;
      case ReadOutcome::TooLarge:
        *error = "cannot read " + path + ": it is larger than " + std::to_string(maxBytes) +
                 " bytes, too large for a text file of this kind";
        ok = false;
        break;
    }
  }
  ::close(fd);
  if (!ok) bytes->clear();
  return ok;
}

std::string lastStreamErrorText() { return std::strerror(errno); }

}  // namespace platform
