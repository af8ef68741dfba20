#include "platform/window_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>

#include "platform/fd_io_internal.h"
#include "platform/root.h"
#include "platform/window_handle.h"
#include "platform/window_process_identity.h"
#include "platform/window_receiver.h"

namespace platform::wnd {
namespace {

struct WindowEntry {
  WindowHandle window = nullptr;
  uint32_t processId = 0;
  uint64_t startTime = 0;
  uint64_t createdNs = 0;
  std::string className;
};

std::string directoryOf(const std::string& runtimeDir) { return runtimeDir + "/windows"; }

uint64_t realTimeNs() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

bool writeFile(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool written = internal::writeAll(fd, text);
  return close(fd) == 0 && written;
}

std::optional<std::string> readSmallFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  std::string text;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > 4096) break;  // not one of ours
  }
  close(fd);
  return text;
}

// Parses "<pid> <start time> <created ns>\n<class>\n"; nothing for anything else.
std::optional<WindowEntry> parseEntry(WindowHandle window, const std::string& text) {
  WindowEntry entry;
  entry.window = window;
  unsigned pid = 0;
  unsigned long long start = 0, created = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%u %llu %llu\n%n", &pid, &start, &created, &used) != 3 || used <= 0) {
    return std::nullopt;
  }
  size_t end = text.find('\n', static_cast<size_t>(used));
  if (end == std::string::npos) return std::nullopt;
  entry.processId = pid;
  entry.startTime = start;
  entry.createdNs = created;
  entry.className = text.substr(static_cast<size_t>(used), end - static_cast<size_t>(used));
  if (entry.processId != handleProcessId(window)) return std::nullopt;
  return entry;
}

std::optional<WindowHandle> handleFromFileName(const char* name) {
  std::string text(name);
  if (text.size() != 16 || text.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
  return handleFromValue(std::stoull(text, nullptr, 16));
}

}  // namespace

bool publishWindow(WindowHandle window, std::string_view className, const std::string& runtimeDir) {
  auto start = processStartTime(ownProcessId());
  std::string dir = directoryOf(runtimeDir);
  if (!start || !ensureDirectory(dir)) return false;
  if (!acquireReceiver(runtimeDir)) return false;
  std::string text = std::to_string(ownProcessId()) + " " + std::to_string(*start) + " " +
                     std::to_string(realTimeNs()) + "\n" + std::string(className) + "\n";
  // Written aside and renamed, so that a reader never sees half a file.
  std::string path = dir + "/" + handleHex(window);
  std::string temporary = path + ".tmp";
  if (!writeFile(temporary, text) || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    releaseReceiver(runtimeDir);
    return false;
  }
  return true;
}

void unpublishWindow(WindowHandle window, const std::string& runtimeDir) {
  unlink((directoryOf(runtimeDir) + "/" + handleHex(window)).c_str());
  releaseReceiver(runtimeDir);
}

WindowHandle findPublishedWindow(std::string_view className) {
  std::string dir = directoryOf(runtimeDir());
  DIR* listing = opendir(dir.c_str());
  if (!listing) return nullptr;
  std::optional<WindowEntry> best;
  while (struct dirent* item = readdir(listing)) {
    auto window = handleFromFileName(item->d_name);
    if (!window) continue;
    std::string path = dir + "/" + item->d_name;
    auto text = readSmallFile(path);
    if (!text) continue;  // withdrawn meanwhile
    auto entry = parseEntry(*window, *text);
    if (!entry || !equalsNoCase(entry->className, className)) continue;
    if (!processIdentityAlive(entry->processId, entry->startTime)) {
      unlink(path.c_str());  // left behind by a process that has ended
      continue;
    }
    if (!best || entry->createdNs < best->createdNs ||
        (entry->createdNs == best->createdNs && handleValue(entry->window) < handleValue(best->window))) {
      best = std::move(entry);
    }
  }
  closedir(listing);
  return best ? best->window : nullptr;
}

bool publishedWindowAlive(WindowHandle window) {
  std::string path = directoryOf(runtimeDir()) + "/" + handleHex(window);
  auto text = readSmallFile(path);
  if (!text) return false;
  auto entry = parseEntry(window, *text);
  if (!entry) return false;
  if (processIdentityAlive(entry->processId, entry->startTime)) return true;
  unlink(path.c_str());
  return false;
}

}  // namespace platform::wnd
