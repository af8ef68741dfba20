// Registered window messages: one table file per root, <runtime>/window_messages,
// one name per line; the id of a name is 0xC000 plus its line number (from
// 0). Every process under the root reads and extends the same table under an
// exclusive file lock, so a name has the same id everywhere.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/root.h"
#include "platform/window.h"

#include "platform/fd_io_internal.h"
#include "platform/window_handle.h"

namespace platform {
namespace {

constexpr uint32_t kFirstRegisteredMessage = 0xC000;
constexpr size_t kMaximumRegisteredMessages = 0x10000 - kFirstRegisteredMessage;
// Windows keeps atom names of at most 255 characters.
constexpr size_t kMaximumNameLength = 255;

// Looks the name up in the locked table file, adding it when new.
uint32_t lookUpOrAdd(int fd, std::string_view name) {
  std::string text;
  if (!internal::readAll(fd, &text)) return 0;
  // A line without its end was cut short (a writer died): it does not count
  // and is overwritten.
  size_t complete = text.rfind('\n');
  complete = complete == std::string::npos ? 0 : complete + 1;
  size_t index = 0;
  for (size_t pos = 0; pos < complete; ++index) {
    size_t end = text.find('\n', pos);
    if (wnd::equalsNoCase(std::string_view(text).substr(pos, end - pos), name)) {
      return kFirstRegisteredMessage + static_cast<uint32_t>(index);
    }
    pos = end + 1;
  }
  if (index >= kMaximumRegisteredMessages) return 0;
  if (complete != text.size() && ftruncate(fd, static_cast<off_t>(complete)) != 0) return 0;
  if (lseek(fd, static_cast<off_t>(complete), SEEK_SET) < 0) return 0;
  if (!internal::writeAll(fd, std::string(name) + "\n")) return 0;
  return kFirstRegisteredMessage + static_cast<uint32_t>(index);
}

}  // namespace

uint32_t registerWindowMessage(std::string_view name) {
  if (name.empty() || name.size() > kMaximumNameLength) return 0;
  if (name.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) return 0;
  std::string path = runtimeDir() + "/window_messages";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return 0;
  int locked;
  do {
    locked = flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  uint32_t id = locked == 0 ? lookUpOrAdd(fd, name) : 0;
  close(fd);  // releases the lock
  return id;
}

}  // namespace platform
