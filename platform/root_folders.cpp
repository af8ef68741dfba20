// Where the folders live and how they come to exist, the same on every
// system; the backends supply the configured root (root_internal.h) and
// ensureDirectory.
//
// In:  the root (TK_ROOT or the per-user default), read at every call.
// Out: the folder paths; each folder is created (with its parents) the first
//      time a thread asks for it under the current root.
// Threads: any thread may call; every thread keeps its own memory of what it
//      already ensured (thread_local), so no locks are taken.
//
// Ensuring a folder costs a file-system look (and folder creations when
// missing). The folders are asked for on every registry read and every
// cross-process window message, so each thread remembers the root it last
// ensured and which of its sub-folders exist; only a different root string
// (a test giving each case its own TK_ROOT) makes it ensure them again. A
// folder removed behind the process's back while the root stays the same is
// not re-created by these functions: the users that create files in them
// ensure their own folder (ensureDirectory itself never caches), and the
// registry store ensures its folder again when it cannot lock a file there.
#include <cstdint>
#include <cstring>

#include "platform/root.h"
#include "platform/root_internal.h"

namespace platform {
namespace {

// Bits of EnsuredFolders::done.
constexpr uint8_t kRootFolder = 1;
constexpr uint8_t kRegistryFolder = 2;
constexpr uint8_t kRuntimeFolder = 4;
constexpr uint8_t kSystemFolder = 8;

// The folders this thread has ensured under root. Trivially destructible
// (no destructor to register when a thread first touches it, which would
// take the module loader's lock, and usable until the thread's very end);
// a root longer than the buffer is never remembered, so its folders are
// simply ensured on every call.
struct EnsuredFolders {
  char root[512];
  size_t rootSize;
  uint8_t done;

  bool isRoot(const std::string& dir) const {
    return dir.size() == rootSize && std::memcmp(root, dir.data(), rootSize) == 0;
  }
  void setRoot(const std::string& dir) {
    done = 0;
    rootSize = dir.size() < sizeof root ? dir.size() : 0;
    std::memcpy(root, dir.data(), rootSize);
  }
  bool remembers() const { return rootSize != 0; }
};

thread_local EnsuredFolders t_ensured;

// Ensures path unless this thread already did under the same root; a
// failure is not remembered, so the next call tries again.
void ensureOnce(const std::string& path, uint8_t bit) {
  if (t_ensured.remembers() && (t_ensured.done & bit) != 0) return;
  if (ensureDirectory(path)) t_ensured.done |= bit;
}

std::string subDir(const char* name, uint8_t bit) {
  std::string dir = rootDir() + rootimpl::kSeparator + name;
  ensureOnce(dir, bit);
  return dir;
}

}  // namespace

std::string rootDir() {
  std::string dir = rootimpl::configuredRoot();
  if (!t_ensured.isRoot(dir)) t_ensured.setRoot(dir);
  ensureOnce(dir, kRootFolder);
  return dir;
}

std::string registryDir() { return subDir("registry", kRegistryFolder); }
std::string runtimeDir() { return subDir("run", kRuntimeFolder); }

std::string systemDir() {
  if (std::optional<std::string> own = rootimpl::ownSystemDir()) return *own;
  return subDir("system", kSystemFolder);
}

}  // namespace platform
