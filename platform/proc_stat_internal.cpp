#include "platform/proc_stat_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform::internal {

std::optional<ProcStat> readProcStat(uint32_t processId) {
  if (processId == 0) return std::nullopt;
  std::string path = "/proc/" + std::to_string(processId) + "/stat";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  ssize_t n;
  do {
    n = read(fd, buffer, sizeof buffer - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return std::nullopt;
  std::string text(buffer, static_cast<size_t>(n));
  // "pid (comm) state ppid ... starttime ...": the program name may hold
  // blanks and parentheses, so fields are counted from the last ')'.
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return std::nullopt;
  ProcStat stat;
  size_t pos = paren + 1;
  // Field 3 is the state, 14 and 15 the user and system times, 22 the start time.
  for (int field = 3; field <= 22; ++field) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size()) return std::nullopt;
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    if (field == 3) stat.state = text[pos];
    if (field == 14) stat.userTime = std::strtoull(text.c_str() + pos, nullptr, 10);
    if (field == 15) stat.systemTime = std::strtoull(text.c_str() + pos, nullptr, 10);
    if (field == 22) {
      stat.startTime = std::strtoull(text.c_str() + pos, nullptr, 10);
      return stat;
    }
    pos = end;
  }
  return std::nullopt;
}

}  // namespace platform::internal
