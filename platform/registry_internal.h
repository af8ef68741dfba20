#pragma once
// What the files of the registry API share: the table of open key handles,
// the key a handle stands for, and the Windows rules for handing data out.
// Internal to the platform layer.
#include <string_view>
#include <vector>

#include "platform/reg_text.h"
#include "platform/registry.h"

namespace platform {

// A key, by root and path of names below it.
struct RegKeyRef {
  RegRoot root = RegRoot::LocalMachine;
  std::vector<std::u16string> path;
};

// The key of an open or predefined handle; kErrorInvalidHandle for anything else.
long resolveRegHandle(RegKeyHandle handle, RegKeyRef* ref);
RegKeyHandle newRegHandle(RegKeyRef ref);
// False when handle is not an open handle of this process.
bool closeRegHandle(RegKeyHandle handle);

// base extended by the names of subKey; kErrorBadKey when a name is empty,
// breaks the rule of names (RegNames::Storable to create a key,
// RegNames::Existing to find one) or the whole path the limits of reg_tree.h.
long extendRegKeyRef(const RegKeyRef& base, std::u16string_view subKey, RegNames names, RegKeyRef* out);

// The handle's key (base) and the key subKey names below it (target).
long resolveSubKey(RegKeyHandle key, std::u16string_view subKey, RegNames names, RegKeyRef* base,
                   RegKeyRef* target);

// ref with the names of the keys along its path as stored (they keep the
// case they were created with); names not found are kept as given.
RegKeyRef storedNames(const RegKey& tree, const RegKeyRef& ref);

// Removes the key of a non-empty path from tree; false when it was not there.
bool removeRegKey(RegKey& tree, const std::vector<std::u16string>& path);

// The key of ref in tree; nullptr when missing.
const RegKey* findRegKey(const RegKey& tree, const RegKeyRef& ref);

// A copy of a value of the key of handle, read through the cache.
long readRegValue(RegKeyHandle handle, std::u16string_view name, RegValue* value);

// Hands data out as RegQueryValueEx does: size only when data is null,
// kErrorMoreData with the needed size when the buffer is too small.
long copyRegData(uint32_t storedType, const std::vector<uint8_t>& bytes, uint32_t* type, uint8_t* data,
                 uint32_t* size);

}  // namespace platform
