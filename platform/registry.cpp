// The wide-character registry API.
#include "platform/registry.h"

#include "platform/registry_internal.h"
#include "platform/registry_store.h"

namespace platform {

long regCreateKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result, uint32_t* disposition) {
  clearRegistryError();
  if (!result) return kErrorInvalidParameter;
  RegKeyRef base, target;
  if (long rc = resolveSubKey(key, subKey, RegNames::Storable, &base, &target); rc != kErrorSuccess) return rc;

  // Opening an existing key needs no lock and no write. (A broken file is
  // left to editRegTree, which reports it.)
  bool broken = false;
  auto snapshot = readRegTree(target.root, &broken);
  if (!broken && !findRegKey(*snapshot, base)) return kErrorKeyDeleted;
  if (!broken && findRegKey(*snapshot, target)) {
    *result = newRegHandle(storedNames(*snapshot, target));
    if (disposition) *disposition = kRegOpenedExistingKey;
    return kErrorSuccess;
  }

  bool created = false;
  RegKeyRef stored;
  long rc = editRegTree(target.root, [&](RegKey& tree, bool& changed) {
    RegKey* k = tree.find(base.path);
    if (!k) return kErrorKeyDeleted;
    for (size_t i = base.path.size(); i < target.path.size(); ++i) {
      bool made = false;
      k = &k->ensureSubkey(target.path[i], &made);
      created |= made;
    }
    changed = created;
    stored = storedNames(tree, target);
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) return rc;
  *result = newRegHandle(std::move(stored));
  if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

long regOpenKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result) {
  clearRegistryError();
  if (!result) return kErrorInvalidParameter;
  RegKeyRef base, target;
  if (long rc = resolveSubKey(key, subKey, RegNames::Existing, &base, &target); rc != kErrorSuccess) return rc;
  auto tree = readRegTree(target.root);
  if (!findRegKey(*tree, base)) return kErrorKeyDeleted;
  if (!findRegKey(*tree, target)) return kErrorFileNotFound;
  *result = newRegHandle(storedNames(*tree, target));
  return kErrorSuccess;
}

long regCloseKey(RegKeyHandle key) {
  clearRegistryError();
  if (key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kErrorSuccess;
  return closeRegHandle(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long regQueryValueEx(RegKeyHandle key, std::u16string_view name, uint32_t* type, uint8_t* data, uint32_t* size) {
  clearRegistryError();
  if (data && !size) return kErrorInvalidParameter;
  RegValue value;
  if (long rc = readRegValue(key, name, &value); rc != kErrorSuccess) return rc;
  return copyRegData(value.type, value.data, type, data, size);
}

long regSetValueEx(RegKeyHandle key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  clearRegistryError();
  if ((!data && size > 0) || !regValueNameProblem(name, RegNames::Storable).empty()) return kErrorInvalidParameter;
  RegKeyRef ref;
  if (long rc = resolveRegHandle(key, &ref); rc != kErrorSuccess) return rc;
  std::vector<uint8_t> bytes(data, data + size);
  return editRegTree(ref.root, [&](RegKey& tree, bool& changed) {
    RegKey* k = tree.find(ref.path);
    if (!k) return kErrorKeyDeleted;
    const RegValue* old = k->findValue(name);
    changed = !old || old->type != type || old->data != bytes;
    if (changed) k->setValue(name, type, bytes);
    return kErrorSuccess;
  });
}

long regDeleteValue(RegKeyHandle key, std::u16string_view name) {
  clearRegistryError();
  RegKeyRef ref;
  if (long rc = resolveRegHandle(key, &ref); rc != kErrorSuccess) return rc;
  return editRegTree(ref.root, [&](RegKey& tree, bool& changed) {
    RegKey* k = tree.find(ref.path);
    if (!k) return kErrorKeyDeleted;
    changed = k->removeValue(name);
    return changed ? kErrorSuccess : kErrorFileNotFound;
  });
}

long regDeleteKey(RegKeyHandle key, std::u16string_view subKey) {
  clearRegistryError();
  RegKeyRef base, target;
  if (long rc = resolveSubKey(key, subKey, RegNames::Existing, &base, &target); rc != kErrorSuccess) return rc;
  if (target.path.empty()) return kErrorAccessDenied;  // a root cannot be deleted
  return editRegTree(target.root, [&](RegKey& tree, bool& changed) {
    if (!tree.find(base.path)) return kErrorKeyDeleted;
    const RegKey* victim = tree.find(target.path);
    if (!victim) return kErrorFileNotFound;
    if (!victim->subkeys.empty()) return kErrorAccessDenied;
    changed = removeRegKey(tree, target.path);
    return kErrorSuccess;
  });
}

long regDeleteTree(RegKeyHandle key, std::u16string_view subKey) {
  clearRegistryError();
  RegKeyRef base, target;
  if (long rc = resolveSubKey(key, subKey, RegNames::Existing, &base, &target); rc != kErrorSuccess) return rc;
  return editRegTree(target.root, [&](RegKey& tree, bool& changed) {
    if (!tree.find(base.path)) return kErrorKeyDeleted;
    RegKey* victim = tree.find(target.path);
    if (!victim) return kErrorFileNotFound;
    if (subKey.empty()) {
      changed = !victim->values.empty() || !victim->subkeys.empty();
      victim->values.clear();
      victim->subkeys.clear();
      return kErrorSuccess;
    }
    changed = removeRegKey(tree, target.path);
    return kErrorSuccess;
  });
}

long regEnumKeyEx(RegKeyHandle key, uint32_t index, std::u16string* name) {
  clearRegistryError();
  if (!name) return kErrorInvalidParameter;
  RegKeyRef ref;
  if (long rc = resolveRegHandle(key, &ref); rc != kErrorSuccess) return rc;
  auto tree = readRegTree(ref.root);
  const RegKey* k = findRegKey(*tree, ref);
  if (!k) return kErrorKeyDeleted;
  if (index >= k->subkeys.size()) return kErrorNoMoreItems;
  *name = k->subkeys[index].name;
  return kErrorSuccess;
}

long regEnumValue(RegKeyHandle key, uint32_t index, std::u16string* name, uint32_t* type, uint8_t* data,
                  uint32_t* size) {
  clearRegistryError();
  if (!name || (data && !size)) return kErrorInvalidParameter;
  RegKeyRef ref;
  if (long rc = resolveRegHandle(key, &ref); rc != kErrorSuccess) return rc;
  auto tree = readRegTree(ref.root);
  const RegKey* k = findRegKey(*tree, ref);
  if (!k) return kErrorKeyDeleted;
  if (index >= k->values.size()) return kErrorNoMoreItems;
  const RegValue& value = k->values[index];
  *name = value.name;
  return copyRegData(value.type, value.data, type, data, size);
}

}  // namespace platform
