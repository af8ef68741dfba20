#pragma once
// The registry files behind the registry API: cached reading and locked,
// atomic changing of the trees of the roots. Internal to the platform layer.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/reg_text.h"

namespace platform {

// The tree of a root as its file now holds it, from the process-wide cache
// when the file has not changed since it was parsed. A broken or unreadable
// file gives an empty tree and sets the thread's registry error; broken
// (may be null) tells whether that happened.
std::shared_ptr<const RegKey> readRegTree(RegRoot root, bool* broken = nullptr);

// One root's tree, handed to a change function to edit in place. The change
// sets changed when the tree must be written back.
struct RegTreeEdit {
  RegRoot root;
  RegKey tree;
  bool changed = false;
};
using RegTreeChange = std::function<long(std::vector<RegTreeEdit>& edits)>;

// Locks the roots' files (in a fixed order, so callers cannot deadlock),
// reads them from disk, lets change edit them and writes back those it
// changed. Nothing is written when change fails. A broken file makes the
// call fail with kErrorRegistryCorrupt before change runs. Once a file was
// replaced, the root's change counter is raised (registry_generation.h).
long editRegTrees(std::vector<RegRoot> roots, const RegTreeChange& change);
long editRegTree(RegRoot root, const std::function<long(RegKey& tree, bool& changed)>& change);

// Reads several roots under shared locks, so they are consistent with each
// other. Fails with kErrorRegistryCorrupt when a file is broken or cannot be
// read (instead of handing out an empty tree), kErrorCantWrite when a lock
// cannot be taken.
long readRegTreesLocked(const std::vector<RegRoot>& roots, std::vector<std::shared_ptr<const RegKey>>* trees);

// The file of root in the registry folder folder.
std::string regFilePath(const std::string& folder, RegRoot root);

// The thread's registry error (see registryLastError()).
void clearRegistryError();
void setRegistryError(std::string message);

}  // namespace platform
