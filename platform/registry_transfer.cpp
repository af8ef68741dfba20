// Export of keys as .reg text and import of .reg text into the store.
#include "platform/registry.h"
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

namespace {

// Checks a document as the parser checks text, since a program may have built
// or changed it: the limits and names of keys and values, no deleted root, no
// values in a deleted key. kErrorSuccess, or the error with its message set.
long checkDocument(const RegTextDocument& document) {
  for (size_t i = 0; i < document.sections.size(); ++i) {
    const RegTextSection& section = document.sections[i];
    long rc = kErrorBadKey;
    std::string problem = regKeyPathProblem(section.path, RegNames::Storable);
    if (problem.empty() && section.remove && section.path.empty()) {
      problem = "a root key cannot be deleted";
      rc = kErrorAccessDenied;
    } else if (problem.empty() && section.remove && !section.values.empty()) {
      problem = "a deleted key cannot have values";
      rc = kErrorInvalidParameter;
    }
    for (size_t v = 0; problem.empty() && v < section.values.size(); ++v) {
      problem = regValueNameProblem(section.values[v].name, RegNames::Storable);
      rc = kErrorInvalidParameter;
    }
    if (!problem.empty()) {
      std::string where = "key section " + std::to_string(i + 1);
      if (section.line > 0) where += " (line " + std::to_string(section.line) + ")";
      setRegistryError(where + ": " + problem);
      return rc;
    }
  }
  return kErrorSuccess;
}

}  // namespace

long regImportDocument(const RegTextDocument& document) {
  clearRegistryError();
  if (long rc = checkDocument(document); rc != kErrorSuccess) return rc;
  std::vector<RegRoot> roots;
  for (const RegTextSection& section : document.sections) roots.push_back(section.root);
  if (roots.empty()) return kErrorSuccess;
  return editRegTrees(roots, [&](std::vector<RegTreeEdit>& edits) {
    for (RegTreeEdit& edit : edits) edit.changed = applyRegText(document, edit.root, edit.tree);
    return kErrorSuccess;
  });
}

}  // namespace platform
