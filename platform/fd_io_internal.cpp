#include "platform/fd_io_internal.h"

#include <cerrno>
#include <unistd.h>

namespace platform::internal {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool readAll(int fd, std::string* bytes) {
  bytes->clear();
  char buffer[16384];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace platform::internal
