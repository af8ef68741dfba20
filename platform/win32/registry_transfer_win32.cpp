// Export of real registry keys as .reg text and import of .reg text into the
// Windows registry (registry.h: regExportKey, regExportAll, regImport,
// regImportDocument). The text is read and written by the portable parser
// and writer (reg_text.h), so both backends speak the same format.
//
// Export walks the keys with RegEnumValueW/RegEnumKeyExW into a RegKey tree
// and writes it. It is not a snapshot: Windows has no read lock, so keys
// another process changes during the walk may show half changed, and keys
// deleted meanwhile are left out. Names come in the case they were created
// with (the root's part from the kernel's name of the key). regExportKey
// fails when a key below is unreadable or has a name .reg text cannot carry;
// regExportAll, which walks the whole registry of the machine and the user
// (always with keys a user may not read), leaves those out and names how
// many in registryLastError.
//
// Import: the document is checked as on the other backend (names, limits),
// then every section is tried without changing anything (each key to change
// opened with the rights the change needs, each key to create: its nearest
// existing parent opened to create subkeys), and only then applied. So a
// refusal Windows gives up front (access denied, a key path too deep for
// Windows) changes nothing. What cannot be all or nothing on Windows: there
// is no transaction over several keys (the transacted registry functions are
// deprecated and absent from Wine), so another process may see an import
// half applied, and a failure while applying (out of resources, a key made
// read-only meanwhile) leaves the sections before it applied; the message
// then says so.
#include <algorithm>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/registry_check.h"
#include "platform/registry_store.h"
#include "platform/win32/registry_win32.h"

namespace platform {
namespace {

using win32reg::wide;

HKEY rootHkey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::string windowsError(long rc) { return "Windows error " + std::to_string(rc); }

// Reads key and everything below it into tree. With skip, keys that cannot be
// read and names .reg text cannot carry are left out and counted; without,
// they fail the walk (problem says where).
struct Walk {
  bool skip = false;
  size_t skipped = 0;
  std::string problem;
};

long readTree(HKEY key, const std::u16string& path, RegKey* tree, Walk& walk) {
  std::vector<RegValue> values;
  if (long rc = win32reg::readValues(key, &values); rc != kErrorSuccess) {
    walk.problem = wideToUtf8(path) + ": " + windowsError(rc);
    return rc;
  }
  for (RegValue& value : values) {
    if (regValueNameProblem(value.name, RegNames::Existing).empty()) {
      tree->values.push_back(std::move(value));
    } else if (walk.skip) {
      ++walk.skipped;
    } else {
      walk.problem = wideToUtf8(path) + ": a value name .reg text cannot carry";
      return kErrorInvalidData;
    }
  }
  std::vector<std::u16string> names;
  if (long rc = win32reg::readSubkeyNames(key, &names); rc != kErrorSuccess) {
    walk.problem = wideToUtf8(path) + ": " + windowsError(rc);
    return rc;
  }
  for (const std::u16string& name : names) {
    std::u16string childPath = path + u"\\" + name;
    if (!regKeyPathProblem({name}, RegNames::Existing).empty() || name.find(u'\0') != std::u16string::npos) {
      if (walk.skip) {
        ++walk.skipped;
        continue;
      }
      walk.problem = wideToUtf8(childPath) + ": a key name .reg text cannot carry";
      return kErrorInvalidData;
    }
    HKEY child = nullptr;
    std::wstring wname = wide(name);
    long rc = RegOpenKeyExW(key, wname.c_str(), 0, win32reg::kReadOnly, &child);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED) continue;  // deleted meanwhile
    if (rc != ERROR_SUCCESS) {
      if (walk.skip) {
        ++walk.skipped;
        continue;
      }
      walk.problem = wideToUtf8(childPath) + ": " + windowsError(rc);
      return rc;
    }
    RegKey sub;
    sub.name = name;
    rc = readTree(child, childPath, &sub, walk);
    RegCloseKey(child);
    if (rc == ERROR_KEY_DELETED) continue;
    if (rc != kErrorSuccess) return rc;
    tree->subkeys.push_back(std::move(sub));
  }
  // The tree's order (reg_tree.h); Windows' own differs for a few characters.
  std::stable_sort(tree->subkeys.begin(), tree->subkeys.end(),
                   [](const RegKey& a, const RegKey& b) { return compareRegNames(a.name, b.name) < 0; });
  return kErrorSuccess;
}

std::u16string fullName(RegRoot root, const std::vector<std::u16string>& path) {
  std::u16string name(regRootName(root));
  for (const auto& part : path) name += u"\\" + part;
  return name;
}

// What one section of a document needs, tried without changing anything.
long trySection(const RegTextSection& section) {
  HKEY root = rootHkey(section.root);
  HKEY key = nullptr;
  constexpr REGSAM kToRemove = KEY_READ | KEY_SET_VALUE | DELETE | KEY_WOW64_64KEY;
  constexpr REGSAM kToChange = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY;
  long rc = win32reg::openKeyPath(root, section.path, section.remove ? kToRemove : kToChange, &key);
  if (rc == ERROR_SUCCESS && key != root) RegCloseKey(key);
  if (rc != ERROR_FILE_NOT_FOUND || section.remove) return rc == ERROR_FILE_NOT_FOUND ? kErrorSuccess : rc;
  // Missing: its nearest existing parent must let subkeys be created.
  for (size_t depth = section.path.size(); depth-- > 0;) {
    std::vector<std::u16string> parent(section.path.begin(), section.path.begin() + depth);
    rc = win32reg::openKeyPath(root, parent, KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY, &key);
    if (rc == ERROR_SUCCESS && key != root) RegCloseKey(key);
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return kErrorSuccess;
}

long applySection(const RegTextSection& section) {
  HKEY root = rootHkey(section.root);
  if (section.remove) {
    long rc = win32reg::deleteKeyTree(root, section.path);
    return rc == ERROR_FILE_NOT_FOUND ? kErrorSuccess : rc;
  }
  HKEY key = nullptr;
  if (long rc = win32reg::createKeyPath(root, section.path, &key, nullptr); rc != ERROR_SUCCESS) return rc;
  long rc = ERROR_SUCCESS;
  for (const RegTextValue& value : section.values) {
    std::wstring name = wide(value.name);
    if (value.remove) {
      rc = RegDeleteValueW(key, name.c_str());
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    } else {
      rc = win32reg::setValueExact(key, value.name, value.type, value.data.data(),
                                   static_cast<uint32_t>(value.data.size()));
    }
    if (rc != ERROR_SUCCESS) break;
  }
  if (key != root) RegCloseKey(key);
  return rc;
}

std::string sectionName(const RegTextDocument& document, size_t i) {
  std::string where = "key section " + std::to_string(i + 1);
  if (document.sections[i].line > 0) where += " (line " + std::to_string(document.sections[i].line) + ")";
  return where + " " + wideToUtf8(fullName(document.sections[i].root, document.sections[i].path));
}

}  // namespace

long regExportKey(RegKeyHandle key, std::u16string_view subKey, std::string* regText) {
  clearRegistryError();
  if (!regText) return kErrorInvalidParameter;
  RegKeyHandle opened = nullptr;
  if (long rc = regOpenKeyEx(key, subKey, &opened); rc != kErrorSuccess) return rc;
  HKEY hkey = win32reg::toHkey(opened);
  RegRoot root = RegRoot::LocalMachine;
  std::vector<std::u16string> path;
  long rc = kErrorSuccess;
  if (!win32reg::keyPathBelowRoot(hkey, &root, &path)) {
    setRegistryError("the key lies under neither HKEY_LOCAL_MACHINE nor HKEY_CURRENT_USER");
    rc = kErrorBadKey;
  }
  RegKey tree;
  Walk walk;
  if (rc == kErrorSuccess) {
    tree.name = path.empty() ? std::u16string(regRootName(root)) : path.back();
    rc = readTree(hkey, fullName(root, path), &tree, walk);
    if (rc != kErrorSuccess) setRegistryError("cannot export " + walk.problem);
  }
  regCloseKey(opened);
  if (rc != kErrorSuccess) return rc;
  *regText = regTextHeader();
  appendRegText(*regText, tree, fullName(root, path));
  return kErrorSuccess;
}

long regExportAll(std::string* regText) {
  clearRegistryError();
  if (!regText) return kErrorInvalidParameter;
  std::string text = regTextHeader();
  Walk walk;
  walk.skip = true;
  for (RegRoot root : kAllRegRoots) {
    HKEY hkey = nullptr;
    if (long rc = RegOpenKeyExW(rootHkey(root), L"", 0, win32reg::kReadOnly, &hkey); rc != ERROR_SUCCESS) return rc;
    RegKey tree;
    tree.name = std::u16string(regRootName(root));
    long rc = readTree(hkey, tree.name, &tree, walk);
    RegCloseKey(hkey);
    if (rc != kErrorSuccess) {
      setRegistryError("cannot export " + walk.problem);
      return rc;
    }
    appendRegText(text, tree, regRootName(root));
  }
  if (walk.skipped > 0)
    setRegistryError(std::to_string(walk.skipped) + " keys or values could not be read or named in .reg text and were left out");
  *regText = std::move(text);
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
  for (size_t i = 0; i < document.sections.size(); ++i) {
    if (long rc = trySection(document.sections[i]); rc != kErrorSuccess) {
      setRegistryError(sectionName(document, i) + ": " + windowsError(rc) + "; nothing was changed");
      return rc;
    }
  }
  for (size_t i = 0; i < document.sections.size(); ++i) {
    if (long rc = applySection(document.sections[i]); rc != kErrorSuccess) {
      setRegistryError(sectionName(document, i) + ": " + windowsError(rc) + "; the " + std::to_string(i) +
                       " sections before it were applied");
      if (i > 0) win32reg::bumpGeneration();
      return rc;
    }
  }
  if (!document.sections.empty()) win32reg::bumpGeneration();
  return kErrorSuccess;
}

}  // namespace platform
