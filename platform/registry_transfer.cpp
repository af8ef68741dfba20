// Export of keys as .reg text and import of .reg text into the store.
#include "platform/registry.h"
#include "platform/registry_check.h"
#include "platform/registry_internal.h"
#include "platform/registry_store.h"

namespace platform {

long regExportKey(RegKeyHandle key, std::u16string_view subKey, std::string* regText) {
  clearRegistryError();
  if (!regText) return kErrorInvalidParameter;
  RegKeyRef base, target;
  if (long rc = resolveSubKey(key, subKey, RegNames::Existing, &base, &target); rc != kErrorSuccess) return rc;
  std::vector<std::shared_ptr<const RegKey>> trees;
  if (long rc = readRegTreesLocked({target.root}, &trees); rc != kErrorSuccess) return rc;
  if (!findRegKey(*trees[0], base)) return kErrorKeyDeleted;
  const RegKey* k = findRegKey(*trees[0], target);
  if (!k) return kErrorFileNotFound;
  // The path as stored, in the case the keys were created with.
  std::u16string fullPath(regRootName(target.root));
  for (const auto& name : storedNames(*trees[0], target).path) {
    fullPath += u'\\';
    fullPath += name;
  }
  *regText = regTextHeader();
  appendRegText(*regText, *k, fullPath);
  return kErrorSuccess;
}

long regExportAll(std::string* regText) {
  clearRegistryError();
  if (!regText) return kErrorInvalidParameter;
  std::vector<RegRoot> roots(std::begin(kAllRegRoots), std::end(kAllRegRoots));
  std::vector<std::shared_ptr<const RegKey>> trees;
  if (long rc = readRegTreesLocked(roots, &trees); rc != kErrorSuccess) return rc;
  *regText = regTextHeader();
  for (size_t i = 0; i < roots.size(); ++i) appendRegText(*regText, *trees[i], regRootName(roots[i]));
  return kErrorSuccess;
}

long regImport(std::string_view regFileBytes, std::string_view sourceName) {
  clearRegistryError();
  RegTextParseResult parsed = parseRegText(regFileBytes, sourceName);
  if (!parsed.error.empty()) {
    setRegistryError(parsed.error);
    return kErrorInvalidData;
  }
  return regImportDocument(parsed.document);
}

long regImportDocument(const RegTextDocument& document) {
  clearRegistryError();
  std::string problem;
  if (long rc = checkRegTextDocument(document, &problem); rc != kErrorSuccess) {
    setRegistryError(problem);
    return rc;
  }
  std::vector<RegRoot> roots;
  for (const RegTextSection& section : document.sections) roots.push_back(section.root);
  if (roots.empty()) return kErrorSuccess;
  return editRegTrees(roots, [&](std::vector<RegTreeEdit>& edits) {
    for (RegTreeEdit& edit : edits) edit.changed = applyRegText(document, edit.root, edit.tree);
    return kErrorSuccess;
  });
}

}  // namespace platform
