#include "platform/registry_generation.h"

#include <atomic>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/registry_store.h"
#include "platform/root.h"

namespace platform {

// One root's counter as mapped into this process. Unmapped when the last
// watch holding it lets go.
struct RegistryGenerationPage {
  uint64_t* word = nullptr;
  bool writable = false;
  dev_t device = 0;
  ino_t inode = 0;

  RegistryGenerationPage() = default;
  RegistryGenerationPage(const RegistryGenerationPage&) = delete;
  RegistryGenerationPage& operator=(const RegistryGenerationPage&) = delete;
  ~RegistryGenerationPage() {
    if (word) ::munmap(word, sizeof *word);
  }

  uint64_t load() const { return std::atomic_ref<uint64_t>(*word).load(std::memory_order_acquire); }
};

namespace {

// Pages of other roots are forgotten beyond this many (watches still holding
// one keep it mapped).
constexpr size_t kMaxMappedRoots = 16;

struct Pages {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<RegistryGenerationPage>> byRoot;
};

// Never destroyed, so threads still running at exit may use it.
Pages& pages() {
  static Pages* p = new Pages;
  return *p;
}

std::string counterPath(const std::string& root) { return root + "/run/registry.generation"; }

std::shared_ptr<RegistryGenerationPage> mapCounter(const std::string& root) {
  if (!ensureDirectory(root + "/run")) return nullptr;
  std::string path = counterPath(root);
  bool writable = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    writable = false;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
  }
  auto page = std::make_shared<RegistryGenerationPage>();
  struct stat st {};
  bool sized = ::fstat(fd, &st) == 0;
  // Growing only: another process may have created it and counted already.
  if (sized && st.st_size < static_cast<off_t>(sizeof(uint64_t)))
    sized = writable && ::ftruncate(fd, sizeof(uint64_t)) == 0;
  if (sized) {
    void* mapped = ::mmap(nullptr, sizeof(uint64_t), writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (mapped != MAP_FAILED) {
      page->word = static_cast<uint64_t*>(mapped);
      page->writable = writable;
      page->device = st.st_dev;
      page->inode = st.st_ino;
    }
  }
  ::close(fd);
  if (!page->word) return nullptr;
  return page;
}

// The page of root's counter; null when it cannot be mapped. With recheck,
// a page whose file was replaced (the root removed and made again) is mapped
// afresh.
std::shared_ptr<RegistryGenerationPage> counterOf(const std::string& root, bool recheck) {
  Pages& p = pages();
  std::lock_guard lock(p.mutex);
  auto it = p.byRoot.find(root);
  if (it != p.byRoot.end()) {
    if (!recheck) return it->second;
    struct stat st {};
    if (::stat(counterPath(root).c_str(), &st) == 0 && st.st_dev == it->second->device &&
        st.st_ino == it->second->inode)
      return it->second;
    p.byRoot.erase(it);
  }
  auto page = mapCounter(root);
  if (!page) return nullptr;
  if (p.byRoot.size() >= kMaxMappedRoots) p.byRoot.clear();
  p.byRoot[root] = page;
  return page;
}

}  // namespace

uint64_t registryGeneration() {
  auto page = counterOf(rootDir(), false);
  return page ? page->load() : 0;
}

void bumpRegistryGeneration(const std::string& root) {
  auto page = counterOf(root, true);
  if (page && page->writable) std::atomic_ref<uint64_t>(*page->word).fetch_add(1, std::memory_order_acq_rel);
}

bool RegistryChangeWatch::changed(const Clock& clock) {
  uint32_t now = clock.tickCount();
  std::string root = rootDir();
  if (!started_ || !page_ || root != root_) {
    start(std::move(root), now);
    return true;
  }
  if (uint64_t generation = page_->load(); generation != generation_) {
    generation_ = generation;
    fileChanged();
    return true;
  }
  if (now - lookedAt_ < kFileCheckIntervalMs) return false;
  lookedAt_ = now;
  if (counterOf(root_, true) != page_) {
    start(root_, now);
    return true;
  }
  return fileChanged();
}

void RegistryChangeWatch::start(std::string root, uint32_t now) {
  started_ = true;
  root_ = std::move(root);
  filePath_ = regFilePath(root_ + "/registry", file_);
  page_ = counterOf(root_, false);
  generation_ = page_ ? page_->load() : 0;
  lookedAt_ = now;
  fileChanged();
}

bool RegistryChangeWatch::fileChanged() {
  FileIdentity identity;
  std::string error;
  FileStatus status = statFile(filePath_, &identity, &error);
  if (status == fileStatus_ && identity == fileIdentity_) return false;
  fileStatus_ = status;
  fileIdentity_ = identity;
  return true;
}

}  // namespace platform
