// The registry API of registry.h over the Windows registry itself.
//
// Wraps RegCreateKeyExW, RegOpenKeyExW, RegQueryValueExW, RegSetValueExW,
// RegDeleteValueW, RegDeleteKeyExW, RegEnumKeyExW and RegEnumValueW. The
// handles are real HKEYs (registry_win32.h); errors are Windows' own codes,
// which are the ones registry.h documents (kErrorKeyDeleted for a handle of a
// deleted key, kErrorAccessDenied for deleting a key with subkeys, ...).
//
// Where Windows would answer differently from the interface, the call checks
// first and answers as the other backend does:
// - key paths and value names are checked against the rules and limits of
//   reg_tree.h before Windows sees them (Windows itself takes control
//   characters in names and paths with empty names); a name with a zero
//   character, which Windows would cut short and so find another key or
//   value, is refused or not found;
// - below an open key the path from the root counts against the limits: the
//   key's own path is asked of Windows (keyPathBelowRoot);
// - Windows creates at most 32 levels of keys per call: deeper paths are
//   created in steps;
// - the roots cannot be deleted.
// Order of enumeration: Windows keeps subkeys sorted by their upper-case
// names and values in creation order. Names differing only in characters
// between 'Z' and 'a' ('_', '[', ...) may sort apart from the other
// backend, which folds to lower case.
//
// No files, no caches, no locks of our own: Windows serialises the calls and
// shares the registry among all processes and threads. registryFileParseCount
// is 0 (nothing is parsed); registryLastError is kept per thread as on Linux.
#include "platform/win32/registry_win32.h"

#include <algorithm>
#include <cstring>

#include "platform/registry_generation.h"
#include "platform/registry_store.h"
#include "platform/thread_error_text.h"

namespace platform {
namespace {

thread_local ThreadErrorText t_lastError;  // trivially destructible: see thread_error_text.h

bool holdsZero(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

// Checks subKey below key: the names by the rule (Storable to create,
// Existing to find) and, with the open key's own path, the limits.
long checkSubKey(RegKeyHandle key, std::u16string_view subKey, RegNames names,
                 std::vector<std::u16string>* components) {
  if (!splitRegKeyPath(subKey, names, components).empty()) return kErrorBadKey;
  if (components->empty() || win32reg::isRootHandle(key)) return kErrorSuccess;
  RegRoot root;
  std::vector<std::u16string> full;
  // A handle Windows cannot name (closed, deleted) is left to Windows to report.
  if (!win32reg::keyPathBelowRoot(win32reg::toHkey(key), &root, &full)) return kErrorSuccess;
  full.insert(full.end(), components->begin(), components->end());
  return regKeyPathProblem(full, RegNames::Existing).empty() ? kErrorSuccess : kErrorBadKey;
}

using NtQueryKeyFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int kKeyNameInformation = 3;

NtQueryKeyFunction ntQueryKey() {
  static NtQueryKeyFunction f = reinterpret_cast<NtQueryKeyFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  return f;
}

// The kernel's name of key: "\REGISTRY\MACHINE\...", "\REGISTRY\USER\<sid>\...".
bool kernelName(HKEY key, std::u16string* name) {
  NtQueryKeyFunction query = ntQueryKey();
  if (!query) return false;
  std::vector<uint8_t> buffer(512);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG needed = 0;
    LONG status = query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      ULONG bytes = 0;
      std::memcpy(&bytes, buffer.data(), sizeof bytes);
      bytes = std::min<ULONG>(bytes, static_cast<ULONG>(buffer.size() - sizeof(ULONG)));
      name->assign(bytes / 2, u'\0');
      std::memcpy(name->data(), buffer.data() + sizeof(ULONG), bytes & ~1u);
      return true;
    }
    // STATUS_BUFFER_OVERFLOW, STATUS_BUFFER_TOO_SMALL: grow and ask again.
    if (status != static_cast<LONG>(0x80000005) && status != static_cast<LONG>(0xC0000023)) return false;
    buffer.resize(std::max<size_t>(needed + 16, buffer.size() * 2));
  }
  return false;
}

// The kernel name of a predefined root as this process sees it (a test may
// have redirected it with RegOverridePredefKey). Opening the root itself may
// give back the predefined handle (Wine does), which the kernel cannot
// name: then the name of its first subkey, without that subkey, is the
// root's. A root without subkeys has no keys below it to name.
bool rootKernelName(HKEY root, std::u16string* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, L"", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
  bool ok = key != root && kernelName(key, name);
  if (key != root) RegCloseKey(key);
  if (ok) return true;
  wchar_t first[256];
  DWORD length = 256;
  if (RegEnumKeyExW(root, 0, first, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return false;
  if (RegOpenKeyExW(root, first, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
  ok = kernelName(key, name) && name->size() > length;
  RegCloseKey(key);
  if (ok) name->resize(name->size() - length - 1);
  return ok;
}

bool startsWithName(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && regNamesEqual(text.substr(0, prefix.size()), prefix) &&
         (text.size() == prefix.size() || text[prefix.size()] == u'\\');
}

// Deletes every subkey of key (depth first) and every value. Keys or values
// added meanwhile by another process may stay; the caller's RegDeleteKeyExW
// then fails.
long emptyKey(HKEY key) {
  std::vector<std::u16string> names;
  if (long rc = win32reg::readSubkeyNames(key, &names); rc != kErrorSuccess) return rc;
  for (const auto& name : names) {
    if (holdsZero(name)) return kErrorAccessDenied;  // made by the native API; Win32 cannot name it
    long rc = win32reg::deleteKeyTree(key, {name});
    if (rc != kErrorSuccess && rc != kErrorFileNotFound) return rc;
  }
  std::vector<RegValue> values;
  if (long rc = win32reg::readValues(key, &values); rc != kErrorSuccess) return rc;
  for (const RegValue& value : values) {
    std::wstring name = win32reg::wide(value.name);
    long rc = RegDeleteValueW(key, name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return kErrorSuccess;
}

// RegQueryValueExW's rules for handing data out, for data already read.
long copyData(uint32_t storedType, const std::vector<uint8_t>& bytes, uint32_t* type, uint8_t* data, uint32_t* size) {
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

}  // namespace

// ---- shared with the other Win32 registry files (registry_win32.h) ----

namespace win32reg {

bool isRootHandle(RegKeyHandle key) {
  return key == kHkeyCurrentUser || key == kHkeyLocalMachine || toHkey(key) == HKEY_CURRENT_USER ||
         toHkey(key) == HKEY_LOCAL_MACHINE;
}

HKEY toHkey(RegKeyHandle key) {
  if (key == kHkeyCurrentUser) return HKEY_CURRENT_USER;
  if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

long openKeyPath(HKEY parent, const std::vector<std::u16string>& path, REGSAM access, HKEY* result) {
  if (path.size() <= kLevelsPerCreate) {
    std::wstring name = wide(joinRegPath(path));
    return RegOpenKeyExW(parent, name.c_str(), 0, access, result);
  }
  HKEY current = parent;
  size_t done = 0;
  while (done < path.size()) {
    size_t take = std::min(kLevelsPerCreate, path.size() - done);
    std::wstring name = wide(joinRegPath({path.begin() + done, path.begin() + done + take}));
    bool last = done + take == path.size();
    HKEY next = nullptr;
    long rc = RegOpenKeyExW(current, name.c_str(), 0, last ? access : KEY_QUERY_VALUE | KEY_WOW64_64KEY, &next);
    if (current != parent) RegCloseKey(current);
    if (rc != ERROR_SUCCESS) return rc;
    current = next;
    done += take;
  }
  *result = current;
  return ERROR_SUCCESS;
}

long openKey(HKEY parent, const std::vector<std::u16string>& path, HKEY* result) {
  long rc = openKeyPath(parent, path, kReadWrite, result);
  if (rc == ERROR_ACCESS_DENIED) rc = openKeyPath(parent, path, kReadOnly, result);
  return rc;
}

long createKeyPath(HKEY parent, const std::vector<std::u16string>& path, HKEY* result, bool* created) {
  HKEY current = parent;
  size_t done = 0;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  do {
    size_t take = std::min(kLevelsPerCreate, path.size() - done);
    std::wstring name = wide(joinRegPath({path.begin() + done, path.begin() + done + take}));
    HKEY next = nullptr;
    long rc = RegCreateKeyExW(current, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadWrite, nullptr, &next,
                              &disposition);
    if (rc == ERROR_ACCESS_DENIED)
      rc = RegCreateKeyExW(current, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kReadOnly, nullptr, &next,
                           &disposition);
    if (current != parent) RegCloseKey(current);
    if (rc != ERROR_SUCCESS) return rc;
    current = next;
    done += take;
  } while (done < path.size());
  *result = current;
  if (created) *created = disposition == REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

long deleteKeyTree(HKEY parent, const std::vector<std::u16string>& path) {
  HKEY key = nullptr;
  long rc = openKeyPath(parent, path, KEY_READ | KEY_SET_VALUE | DELETE | KEY_WOW64_64KEY, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = emptyKey(key);
  if (key != parent) RegCloseKey(key);
  if (rc != ERROR_SUCCESS || path.empty()) return rc;
  return deleteKey(parent, path);
}

long deleteKey(HKEY parent, const std::vector<std::u16string>& path) {
  if (path.empty()) return RegDeleteKeyExW(parent, L"", KEY_WOW64_64KEY, 0);
  HKEY above = parent;
  if (path.size() > 1) {
    std::vector<std::u16string> abovePath(path.begin(), path.end() - 1);
    if (long rc = openKeyPath(parent, abovePath, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &above); rc != ERROR_SUCCESS)
      return rc;
  }
  std::wstring name = wide(path.back());
  long rc = RegDeleteKeyExW(above, name.c_str(), KEY_WOW64_64KEY, 0);
  if (above != parent) RegCloseKey(above);
  return rc;
}

long setValueExact(HKEY key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> copy(data, data + size);
  copy.push_back(0xFF);
  copy.push_back(0xFF);
  std::wstring wname = wide(name);
  return RegSetValueExW(key, wname.c_str(), 0, type, copy.data(), size);
}

bool keyPathBelowRoot(HKEY key, RegRoot* root, std::vector<std::u16string>* path) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
    *root = key == HKEY_LOCAL_MACHINE ? RegRoot::LocalMachine : RegRoot::CurrentUser;
    path->clear();
    return true;
  }
  std::u16string name;
  if (!kernelName(key, &name)) return false;
  // The longest root name that is a prefix wins: a test may have redirected
  // one root to a key below the other.
  size_t best = 0;
  bool found = false;
  for (RegRoot r : kAllRegRoots) {
    std::u16string rootName;
    if (!rootKernelName(r == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, &rootName)) continue;
    if (startsWithName(name, rootName) && (!found || rootName.size() > best)) {
      found = true;
      best = rootName.size();
      *root = r;
    }
  }
  if (!found) return false;
  path->clear();
  std::u16string_view rest = std::u16string_view(name).substr(best);
  if (!rest.empty()) rest.remove_prefix(1);
  return rest.empty() || splitRegPath(rest, path);
}

long readValues(HKEY key, std::vector<RegValue>* values) {
  values->clear();
  DWORD maxName = 0, maxData = 0;
  long rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                             nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<wchar_t> name(maxName + 1);
  std::vector<uint8_t> data(std::max<DWORD>(maxData, 1));
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (rc == ERROR_MORE_DATA && name.size() < 16385 && data.size() < (1u << 30)) {
      // Changed meanwhile: grow and read this one again.
      name.resize(16385);
      data.resize(std::max<size_t>(data.size() * 2, dataSize));
      --index;
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    values->push_back(RegValue{fromWide(name.data(), nameLength), type,
                               std::vector<uint8_t>(data.begin(), data.begin() + dataSize)});
  }
}

long readSubkeyNames(HKEY key, std::vector<std::u16string>* names) {
  names->clear();
  std::vector<wchar_t> name(256);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    long rc = RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (rc == ERROR_MORE_DATA && name.size() < 32768) {
      name.resize(32768);
      --index;
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    names->push_back(fromWide(name.data(), length));
  }
}

}  // namespace win32reg

// ---- the thread's error, shared with the transfer file ----

void clearRegistryError() { t_lastError.clear(); }
void setRegistryError(std::string message) { t_lastError.set(message); }
std::string registryLastError() { return t_lastError.get(); }
uint64_t registryFileParseCount() { return 0; }

// ---- registry.h ----

long regCreateKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result, uint32_t* disposition) {
  clearRegistryError();
  if (!result) return kErrorInvalidParameter;
  std::vector<std::u16string> path;
  if (long rc = checkSubKey(key, subKey, RegNames::Storable, &path); rc != kErrorSuccess) return rc;
  HKEY hkey = nullptr;
  bool created = false;
  long rc;
  if (path.empty()) {
    rc = win32reg::openKey(win32reg::toHkey(key), {}, &hkey);
  } else {
    rc = win32reg::createKeyPath(win32reg::toHkey(key), path, &hkey, &created);
  }
  if (rc != ERROR_SUCCESS) return rc;
  if (created) win32reg::bumpGeneration();
  *result = reinterpret_cast<RegKeyHandle>(hkey);
  if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

long regOpenKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result) {
  clearRegistryError();
  if (!result) return kErrorInvalidParameter;
  std::vector<std::u16string> path;
  if (long rc = checkSubKey(key, subKey, RegNames::Existing, &path); rc != kErrorSuccess) return rc;
  if (holdsZero(subKey)) return kErrorFileNotFound;
  HKEY hkey = nullptr;
  if (long rc = win32reg::openKey(win32reg::toHkey(key), path, &hkey); rc != ERROR_SUCCESS)
    return rc;
  *result = reinterpret_cast<RegKeyHandle>(hkey);
  return kErrorSuccess;
}

long regCloseKey(RegKeyHandle key) {
  clearRegistryError();
  if (win32reg::isRootHandle(key)) return kErrorSuccess;
  return RegCloseKey(win32reg::toHkey(key));
}

long regQueryValueEx(RegKeyHandle key, std::u16string_view name, uint32_t* type, uint8_t* data, uint32_t* size) {
  clearRegistryError();
  if (data && !size) return kErrorInvalidParameter;
  if (holdsZero(name)) return kErrorFileNotFound;
  std::wstring wname = win32reg::wide(name);
  DWORD storedType = 0;
  DWORD bytes = size ? *size : 0;
  long rc = RegQueryValueExW(win32reg::toHkey(key), wname.c_str(), nullptr, &storedType, data, size ? &bytes : nullptr);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
  if (type) *type = storedType;
  if (size) *size = bytes;
  return rc;
}

long regSetValueEx(RegKeyHandle key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size) {
  clearRegistryError();
  if ((!data && size > 0) || !regValueNameProblem(name, RegNames::Storable).empty()) return kErrorInvalidParameter;
  long rc = win32reg::setValueExact(win32reg::toHkey(key), name, type, data, size);
  if (rc == ERROR_SUCCESS) win32reg::bumpGeneration();
  return rc;
}

long regDeleteValue(RegKeyHandle key, std::u16string_view name) {
  clearRegistryError();
  if (holdsZero(name)) {
    // Tells a missing value from a bad handle as Windows would.
    DWORD values = 0;
    long rc = RegQueryInfoKeyW(win32reg::toHkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? kErrorFileNotFound : rc;
  }
  std::wstring wname = win32reg::wide(name);
  long rc = RegDeleteValueW(win32reg::toHkey(key), wname.c_str());
  if (rc == ERROR_SUCCESS) win32reg::bumpGeneration();
  return rc;
}

long regDeleteKey(RegKeyHandle key, std::u16string_view subKey) {
  clearRegistryError();
  std::vector<std::u16string> path;
  if (long rc = checkSubKey(key, subKey, RegNames::Existing, &path); rc != kErrorSuccess) return rc;
  if (path.empty() && win32reg::isRootHandle(key)) return kErrorAccessDenied;  // a root cannot be deleted
  if (holdsZero(subKey)) return kErrorFileNotFound;
  long rc = win32reg::deleteKey(win32reg::toHkey(key), path);
  if (rc == ERROR_SUCCESS) win32reg::bumpGeneration();
  return rc;
}

long regDeleteTree(RegKeyHandle key, std::u16string_view subKey) {
  clearRegistryError();
  std::vector<std::u16string> path;
  if (long rc = checkSubKey(key, subKey, RegNames::Existing, &path); rc != kErrorSuccess) return rc;
  // Unlike RegDeleteTree, a root is never emptied: that would wipe the
  // user's or the machine's whole registry.
  if (path.empty() && win32reg::isRootHandle(key)) return kErrorAccessDenied;
  if (holdsZero(subKey)) return kErrorFileNotFound;
  // Not one step, as on the other backend: another process may see the tree
  // half deleted, and a failure midway leaves the rest in place.
  long rc = win32reg::deleteKeyTree(win32reg::toHkey(key), path);
  if (rc == ERROR_SUCCESS) win32reg::bumpGeneration();
  return rc;
}

long regEnumKeyEx(RegKeyHandle key, uint32_t index, std::u16string* name) {
  clearRegistryError();
  if (!name) return kErrorInvalidParameter;
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    long rc = RegEnumKeyExW(win32reg::toHkey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      buffer.resize(32768);
      continue;
    }
    if (rc == ERROR_SUCCESS) *name = win32reg::fromWide(buffer.data(), length);
    return rc;
  }
  return kErrorMoreData;
}

long regEnumValue(RegKeyHandle key, uint32_t index, std::u16string* name, uint32_t* type, uint8_t* data,
                  uint32_t* size) {
  clearRegistryError();
  if (!name || (data && !size)) return kErrorInvalidParameter;
  HKEY hkey = win32reg::toHkey(key);
  // Sized from the key's largest name and data; grown and read again when a
  // value grew meanwhile.
  DWORD maxName = 0, maxData = 0;
  long rc = RegQueryInfoKeyW(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                             nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<wchar_t> nameBuffer(maxName + 1);
  std::vector<uint8_t> dataBuffer(std::max<DWORD>(maxData, 1));
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
    DWORD dataSize = static_cast<DWORD>(dataBuffer.size());
    DWORD storedType = 0;
    rc = RegEnumValueW(hkey, index, nameBuffer.data(), &nameLength, nullptr, &storedType, dataBuffer.data(),
                       &dataSize);
    if (rc == ERROR_MORE_DATA) {
      nameBuffer.resize(16385);
      dataBuffer.resize(std::max<size_t>(dataBuffer.size() * 2, dataSize));
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    *name = win32reg::fromWide(nameBuffer.data(), nameLength);
    dataBuffer.resize(dataSize);
    return copyData(storedType, dataBuffer, type, data, size);
  }
  return kErrorMoreData;
}

}  // namespace platform
