// Root names and applying a parsed .reg document to a tree.
#include "platform/reg_text.h"

namespace platform {

std::u16string_view regRootName(RegRoot root) {
  return root == RegRoot::LocalMachine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_CURRENT_USER";
}

bool regRootFromName(std::u16string_view name, RegRoot* root) {
  for (RegRoot r : kAllRegRoots) {
    if (regNamesEqual(name, regRootName(r))) {
      *root = r;
      return true;
    }
  }
  return false;
}

bool applyRegText(const RegTextDocument& document, RegRoot root, RegKey& tree) {
  bool changed = false;
  for (const RegTextSection& section : document.sections) {
    if (section.root != root) continue;
    if (section.remove) {
      if (section.path.empty()) continue;  // the parser refuses to delete a root
      std::vector<std::u16string> parentPath(section.path.begin(), section.path.end() - 1);
      if (RegKey* parent = tree.find(parentPath)) changed |= parent->removeSubkey(section.path.back());
      continue;
    }
    RegKey* key = &tree;
    for (const auto& name : section.path) {
      bool created = false;
      key = &key->ensureSubkey(name, &created);
      changed |= created;
    }
    for (const RegTextValue& value : section.values) {
      if (value.remove) {
        changed |= key->removeValue(value.name);
        continue;
      }
      const RegValue* old = key->findValue(value.name);
      if (old && old->type == value.type && old->data == value.data) continue;
      key->setValue(value.name, value.type, value.data);
      changed = true;
    }
  }
  return changed;
}

}  // namespace platform
