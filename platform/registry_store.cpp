#include "platform/registry_store.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <sys/stat.h>

#include "platform/codepage.h"
#include "platform/printable_text.h"
#include "platform/registry.h"
#include "platform/registry_files.h"
#include "platform/registry_generation.h"
#include "platform/root.h"
#include "platform/thread_error_text.h"

namespace platform {
namespace {

thread_local ThreadErrorText t_lastError;  // trivially destructible: see thread_error_text.h
std::atomic<uint64_t> g_parseCount{0};

// Files of other roots (other TK_ROOT folders) are forgotten beyond this many.
constexpr size_t kMaxCachedFiles = 16;

// One parsed version of a root's file.
struct Version {
  FileIdentity identity;
  std::shared_ptr<const RegKey> tree;
  std::string error;  // why the file could not be parsed; tree is then empty
};

struct Cache {
  std::mutex mutex;
  std::map<std::string, Version> versions;         // by file path
  std::map<std::string, FileIdentity> reported;    // broken versions already told about
};

// Never destroyed, so threads still running at exit may use it.
Cache& cache() {
  static Cache* c = new Cache;
  return *c;
}

std::shared_ptr<const RegKey> emptyTree(RegRoot root) {
  auto tree = std::make_shared<RegKey>();
  tree->name = std::u16string(regRootName(root));
  return tree;
}

std::string filePath(const std::string& folder, RegRoot root) { return regFilePath(folder, root); }

std::string lockPath(const std::string& folder, RegRoot root) { return filePath(folder, root) + ".lock"; }

// Locks the roots' lock files in order. registryDir() creates the folder only
// once per thread and root, so a folder removed since is created again here
// before the one retry.
bool lockAll(const std::string& folder, const std::vector<RegRoot>& roots, FileLock::Mode mode,
             std::vector<FileLock>* locks) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    locks->clear();
    locks->reserve(roots.size());
    for (RegRoot root : roots) {
      locks->emplace_back(lockPath(folder, root), mode);
      if (!locks->back().held()) break;
    }
    if (locks->empty() || locks->back().held()) return true;
    struct stat st {};
    if (attempt != 0 || ::stat(folder.c_str(), &st) == 0 || !ensureDirectory(folder)) break;
  }
  setRegistryError(locks->back().error());
  return false;
}

// The root folder of a registry folder (<root>/registry).
std::string rootOf(const std::string& folder) { return folder.substr(0, folder.rfind('/')); }

// Tells standard error about a broken file, once per version of it.
void reportBroken(const std::string& path, const FileIdentity& identity, const std::string& message) {
  Cache& c = cache();
  {
    std::lock_guard lock(c.mutex);
    auto it = c.reported.find(path);
    if (it != c.reported.end() && it->second == identity) return;
    c.reported[path] = identity;
  }
  std::fprintf(stderr, "registry: %s (the file is read as empty and is not written until it is repaired)\n",
               printableText(message).c_str());
  std::fflush(stderr);
}

Version parseVersion(RegRoot root, const std::string& path, const std::string& bytes, const FileIdentity& identity) {
  ++g_parseCount;
  Version version{identity, nullptr, {}};
  RegTextParseResult parsed = parseRegStoreText(bytes, path);
  version.error = parsed.error;
  for (const RegTextSection& section : parsed.document.sections) {
    if (version.error.empty() && section.root != root) {
      version.error = path + ":" + std::to_string(section.line) + ": the key belongs to " +
                      wideToUtf8(regRootName(section.root)) + ", which has a file of its own";
    }
  }
  if (!version.error.empty()) {
    version.tree = emptyTree(root);
    reportBroken(path, identity, version.error);
    return version;
  }
  auto tree = std::make_shared<RegKey>();
  tree->name = std::u16string(regRootName(root));
  applyRegText(parsed.document, root, *tree);
  version.tree = std::move(tree);
  return version;
}

void remember(const std::string& path, const Version& version) {
  Cache& c = cache();
  std::lock_guard lock(c.mutex);
  if (c.versions.size() >= kMaxCachedFiles && !c.versions.contains(path)) c.versions.clear();
  c.versions[path] = version;
}

std::vector<RegRoot> inLockOrder(std::vector<RegRoot> roots) {
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  return roots;
}

}  // namespace

std::string regFilePath(const std::string& folder, RegRoot root) {
  return folder + "/" + wideToUtf8(regRootName(root)) + ".reg";
}

void clearRegistryError() { t_lastError.clear(); }
void setRegistryError(std::string message) { t_lastError.set(message); }
std::string registryLastError() { return t_lastError.get(); }
uint64_t registryFileParseCount() { return g_parseCount.load(); }

std::shared_ptr<const RegKey> readRegTree(RegRoot root, bool* broken) {
  if (broken) *broken = false;
  std::string path = filePath(registryDir(), root);
  auto fail = [&](std::string message) {
    setRegistryError(std::move(message));
    if (broken) *broken = true;
    return emptyTree(root);
  };

  FileIdentity identity;
  std::string error;
  FileStatus status = statFile(path, &identity, &error);
  if (status == FileStatus::Missing) return emptyTree(root);
  if (status == FileStatus::Failed) return fail(error);
  {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    auto it = c.versions.find(path);
    if (it != c.versions.end() && it->second.identity == identity) {
      if (it->second.error.empty()) return it->second.tree;
      return fail(it->second.error);
    }
  }
  std::string bytes;
  status = readWholeFile(path, &bytes, &identity, &error);
  if (status == FileStatus::Missing) return emptyTree(root);
  if (status == FileStatus::Failed) return fail(error);
  Version version = parseVersion(root, path, bytes, identity);
  remember(path, version);
  if (!version.error.empty()) return fail(version.error);
  return version.tree;
}

long editRegTrees(std::vector<RegRoot> roots, const RegTreeChange& change) {
  roots = inLockOrder(std::move(roots));
  std::string folder = registryDir();
  std::vector<FileLock> locks;
  if (!lockAll(folder, roots, FileLock::Mode::Exclusive, &locks)) return kErrorCantWrite;

  // Under the locks, the files on disk are the truth: read them again.
  std::vector<RegTreeEdit> edits;
  std::vector<FileIdentity> previous(roots.size());
  std::vector<bool> existed(roots.size(), false);
  for (size_t i = 0; i < roots.size(); ++i) {
    std::string path = filePath(folder, roots[i]);
    std::string bytes;
    std::string error;
    FileStatus status = readWholeFile(path, &bytes, &previous[i], &error);
    if (status == FileStatus::Failed) {
      setRegistryError(error);
      return kErrorCantWrite;
    }
    if (status == FileStatus::Missing) {
      edits.push_back(RegTreeEdit{roots[i], *emptyTree(roots[i])});
      continue;
    }
    existed[i] = true;
    Version version = parseVersion(roots[i], path, bytes, previous[i]);
    remember(path, version);
    if (!version.error.empty()) {
      setRegistryError(version.error);
      return kErrorRegistryCorrupt;
    }
    edits.push_back(RegTreeEdit{roots[i], *version.tree});
  }

  if (long rc = change(edits); rc != kErrorSuccess) return rc;

  // Readers in every process learn of the new files from the counter, so it
  // is raised after the replacing (also when a later file fails) and while
  // the locks are still held.
  bool replaced = false;
  long rc = kErrorSuccess;
  for (size_t i = 0; i < edits.size(); ++i) {
    if (!edits[i].changed) continue;
    std::string path = filePath(folder, roots[i]);
    std::string text = writeRegText(edits[i].tree, roots[i]);
    FileIdentity written;
    std::string error;
    if (!replaceFileAtomically(path, text, existed[i] ? &previous[i] : nullptr, &written, &error)) {
      setRegistryError(error);
      rc = kErrorCantWrite;
      break;
    }
    replaced = true;
    remember(path, Version{written, std::make_shared<const RegKey>(std::move(edits[i].tree)), {}});
  }
  if (replaced) bumpRegistryGeneration(rootOf(folder));
  return rc;
}

long editRegTree(RegRoot root, const std::function<long(RegKey& tree, bool& changed)>& change) {
  return editRegTrees({root}, [&](std::vector<RegTreeEdit>& edits) { return change(edits[0].tree, edits[0].changed); });
}

long readRegTreesLocked(const std::vector<RegRoot>& roots, std::vector<std::shared_ptr<const RegKey>>* trees) {
  std::string folder = registryDir();
  std::vector<FileLock> locks;
  if (!lockAll(folder, inLockOrder(roots), FileLock::Mode::Shared, &locks)) return kErrorCantWrite;
  trees->clear();
  for (RegRoot root : roots) {
    bool broken = false;
    trees->push_back(readRegTree(root, &broken));
    if (broken) return kErrorRegistryCorrupt;
  }
  return kErrorSuccess;
}

}  // namespace platform
