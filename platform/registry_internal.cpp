#include "platform/registry_internal.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/registry_store.h"

namespace platform {

// What an open handle points to.
struct RegKeyTag {
  RegKeyRef ref;
};

namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_set<RegKeyHandle> open;
};

// Never destroyed, so handles closed during exit still find it.
HandleTable& handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

}  // namespace

long resolveRegHandle(RegKeyHandle handle, RegKeyRef* ref) {
  if (handle == kHkeyLocalMachine || handle == kHkeyCurrentUser) {
    ref->root = handle == kHkeyLocalMachine ? RegRoot::LocalMachine : RegRoot::CurrentUser;
    ref->path.clear();
    return kErrorSuccess;
  }
  HandleTable& table = handles();
  std::lock_guard lock(table.mutex);
  if (!table.open.contains(handle)) return kErrorInvalidHandle;
  *ref = handle->ref;  // copied under the lock: another thread may close the handle
  return kErrorSuccess;
}

RegKeyHandle newRegHandle(RegKeyRef ref) {
  auto* handle = new RegKeyTag{std::move(ref)};
  HandleTable& table = handles();
  std::lock_guard lock(table.mutex);
  table.open.insert(handle);
  return handle;
}

bool closeRegHandle(RegKeyHandle handle) {
  HandleTable& table = handles();
  {
    std::lock_guard lock(table.mutex);
    if (table.open.erase(handle) == 0) return false;
  }
  delete handle;
  return true;
}

long extendRegKeyRef(const RegKeyRef& base, std::u16string_view subKey, RegNames names, RegKeyRef* out) {
  std::vector<std::u16string> added;
  if (!splitRegKeyPath(subKey, names, &added).empty()) return kErrorBadKey;
  RegKeyRef full = base;
  full.path.insert(full.path.end(), added.begin(), added.end());
  // Below an open key, the whole path from the root counts against the
  // limits. (The names of the open key passed when it was opened.)
  if (!regKeyPathProblem(full.path, RegNames::Existing).empty()) return kErrorBadKey;
  *out = std::move(full);
  return kErrorSuccess;
}

long resolveSubKey(RegKeyHandle key, std::u16string_view subKey, RegNames names, RegKeyRef* base,
                   RegKeyRef* target) {
  if (long rc = resolveRegHandle(key, base); rc != kErrorSuccess) return rc;
  return extendRegKeyRef(*base, subKey, names, target);
}

RegKeyRef storedNames(const RegKey& tree, const RegKeyRef& ref) {
  RegKeyRef stored{ref.root, {}};
  const RegKey* key = &tree;
  for (const auto& name : ref.path) {
    key = key ? key->findSubkey(name) : nullptr;
    stored.path.push_back(key ? key->name : name);
  }
  return stored;
}

bool removeRegKey(RegKey& tree, const std::vector<std::u16string>& path) {
  std::vector<std::u16string> parentPath(path.begin(), path.end() - 1);
  RegKey* parent = tree.find(parentPath);
  return parent && parent->removeSubkey(path.back());
}

const RegKey* findRegKey(const RegKey& tree, const RegKeyRef& ref) { return tree.find(ref.path); }

long readRegValue(RegKeyHandle handle, std::u16string_view name, RegValue* value) {
  RegKeyRef ref;
  if (long rc = resolveRegHandle(handle, &ref); rc != kErrorSuccess) return rc;
  auto tree = readRegTree(ref.root);
  const RegKey* key = findRegKey(*tree, ref);
  if (!key) return kErrorKeyDeleted;
  const RegValue* found = key->findValue(name);
  if (!found) return kErrorFileNotFound;
  *value = *found;
  return kErrorSuccess;
}

long copyRegData(uint32_t storedType, const std::vector<uint8_t>& bytes, uint32_t* type, uint8_t* data,
                 uint32_t* size) {
  if (data && !size) return kErrorInvalidParameter;
  if (type) *type = storedType;
  auto needed = static_cast<uint32_t>(bytes.size());
  if (!data) {
    if (size) *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (needed > 0) std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

}  // namespace platform
