// The Linux part of the root folders (root_folders.cpp holds the rest): the
// configured root, creating folders, native paths.
#include "platform/root.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/root_internal.h"

namespace platform {
namespace {

std::string defaultRoot() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/tk";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/tk";
  return "/tmp/tk-" + std::to_string(getuid());
}

}  // namespace

namespace rootimpl {

std::string configuredRoot() {
  const char* root = std::getenv("TK_ROOT");
  std::string dir = (root && *root) ? std::string(root) : defaultRoot();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::optional<std::string> ownSystemDir() { return std::nullopt; }

}  // namespace rootimpl

bool ensureDirectory(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string toNativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace platform
