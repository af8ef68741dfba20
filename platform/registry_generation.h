#pragma once
// Telling cheaply whether the registry may have changed.
//
// In:  the registry store raises a change counter after every file it
//      replaces (every write through the registry API: values, keys, imports
//      and restores), in any process.
// Out: RegistryChangeWatch::changed(), which readers that keep values taken
//      from the registry call before using them: true when they must read
//      them again.
// Threads: the counter is shared by all processes of a root; a watch belongs
//      to one thread, or is used under its owner's lock.
//
// The counter is one 64-bit word in <root>/run/registry.generation, mapped
// into every process that uses it; a look at it is one atomic load, no system
// call. The file is created on first use. Each root (TK_ROOT) has its own
// counter, and a watch notices when the root it watched is no longer the
// current one. A hand edit of a registry file with a text editor does not
// raise the counter: a watch also compares the watched file's identity (a
// stat) at most once per second, so a value changed by editing the file by
// hand takes effect within a second. Where the counter cannot be mapped (a
// read-only root), changed() is always true and readers read every time.
// On Windows the registry is the system's: see the private part of
// RegistryChangeWatch for how changes are noticed there.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/reg_text.h"
#include "platform/registry_files.h"

namespace platform {

// The counter of the current root; 0 when it cannot be mapped.
uint64_t registryGeneration();

// Raises the counter of root (a root folder as rootDir() gives it). Called
// by the registry store after it replaced a file.
void bumpRegistryGeneration(const std::string& root);

struct RegistryGenerationPage;
struct RegistryRootNotification;  // Windows only

class RegistryChangeWatch {
 public:
  // How often, at most, the watched file's identity is compared.
  static constexpr uint32_t kFileCheckIntervalMs = 1000;

  explicit RegistryChangeWatch(RegRoot file) : file_(file) {}

  // True on the first call, when the root changed, when the counter moved
  // since the last call, and (looked at when kFileCheckIntervalMs have passed
  // on clock since the last look) when the watched root's file was replaced
  // or edited. The state is taken before returning, so a caller that reads
  // its values after a true answer misses no change made meanwhile.
  bool changed(const Clock& clock);

 private:
  RegRoot file_;
#if defined(_WIN32)
  // Windows: the counter is one word in a named file mapping of the session
  // ("Local\TK.RegistryGeneration"), raised by every write through the
  // registry API of any process of the session; writes by anything else
  // (regedit, other programs, services of another session) are noticed
  // through a change notification on the watched root (RegNotifyChangeKeyValue
  // over its whole tree), looked at once per kFileCheckIntervalMs. The
  // registry is the system's, not the root folder's, so TK_ROOT plays no
  // part. Copies of a watch share its notification.
  bool notified();
  bool started_ = false;
  std::shared_ptr<RegistryGenerationPage> page_;
  std::shared_ptr<RegistryRootNotification> notification_;
  uint64_t generation_ = 0;
  uint32_t lookedAt_ = 0;
#else
  void start(std::string root, uint32_t now);
  bool fileChanged();

  bool started_ = false;
  std::string root_;
  std::string filePath_;
  std::shared_ptr<RegistryGenerationPage> page_;
  uint64_t generation_ = 0;
  uint32_t lookedAt_ = 0;
  FileStatus fileStatus_ = FileStatus::Missing;
  FileIdentity fileIdentity_;
#endif
};

}  // namespace platform
