// Loading modules on Windows: the system's loader (LoadLibraryExW,
// GetProcAddress, FreeLibrary), with the module's DllMain as its entry (see
// TK_DLL_MAIN in module.h), so the system makes the attach and detach calls.
//
// Names resolve as on Linux, minus the mapping to ".so": "VNLSOCK.DLL" is
// looked for in TK_MODULE_PATH (folders separated by ';'), the running
// program's folder, then the system directory; a name without an extension
// gets ".dll", and "lib<name>.dll" (a MinGW-style library name) is tried
// after the plain one. The file system compares names without case; the
// path found carries the file's own spelling. A name with a folder in it is
// used as a path. Dependencies of a module load from its own folder first
// (LOAD_WITH_ALTERED_SEARCH_PATH).
//
// As on Linux the platform counts its own loads: freeLibrary only frees
// what loadLibrary loaded (a handle of a module the program links, or one
// already freed, is refused instead of dropping the system's reference).
// getProcAddress takes an ordinal in place of a name (a value below 0x10000,
// as GetProcAddress does). Errors are per thread (thread_error_text.h).
#include "platform/module.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/root.h"
#include "platform/text_internal.h"
#include "platform/thread_error_text.h"
#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

using wincore::narrow;
using wincore::widen;

thread_local ThreadErrorText t_lastError;

std::mutex& tableLock() {
  static std::mutex m;
  return m;
}

// Loads through loadLibrary still to be freed, by module.
std::map<ModuleHandle, unsigned>& loadCounts() {
  static std::map<ModuleHandle, unsigned> counts;
  return counts;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> candidateNames(const std::string& name) {
  std::vector<std::string> out{name};
  const std::string lower = internal::asciiLower(name);
  if (internal::endsWith(lower, ".dll")) {
    out.push_back("lib" + name);
  } else if (lower.find('.') == std::string::npos) {
    out.push_back(name + ".dll");
    out.push_back("lib" + name + ".dll");
  }
  return out;
}

// The file's path with the name as the folder spells it; "" when there is
// no such file (a folder does not count).
std::string existingFile(const std::string& path) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(widen(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  FindClose(search);
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  const size_t slash = path.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + narrow(found.cFileName);
}

std::string findInFolder(const std::string& folder, const std::vector<std::string>& candidates) {
  if (folder.empty()) return {};
  const std::string prefix = isSeparator(folder.back()) ? folder : folder + "\\";
  for (const std::string& name : candidates) {
    // A wildcard would match more than the name itself.
    if (name.find_first_of("*?") != std::string::npos) continue;
    if (std::string found = existingFile(prefix + name); !found.empty()) return found;
  }
  return {};
}

std::vector<std::string> searchFolders() {
  std::vector<std::string> folders;
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(L"TK_MODULE_PATH", buffer, static_cast<DWORD>(std::size(buffer)));
  if (n != 0 && n < std::size(buffer)) {
    const std::string list = narrow(std::wstring_view(buffer, n));
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(';', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) folders.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  folders.push_back(wincore::folderOf(wincore::moduleFilePath(nullptr)));
  folders.push_back(systemDir());
  return folders;
}

std::string exportText(const char* exportName) {
  const auto value = reinterpret_cast<uintptr_t>(exportName);
  return value < 0x10000 ? "#" + std::to_string(value) : std::string(exportName);
}

}  // namespace

std::string resolveModulePath(std::string_view name) {
  if (name.empty()) return {};
  const std::string native = toNativePath(name);
  const size_t slash = native.find_last_of("\\/");
  if (slash != std::string::npos) {
    if (slash + 1 == native.size()) return {};
    return findInFolder(native.substr(0, slash), candidateNames(native.substr(slash + 1)));
  }
  const std::vector<std::string> candidates = candidateNames(native);
  for (const std::string& folder : searchFolders()) {
    if (std::string found = findInFolder(folder, candidates); !found.empty()) return found;
  }
  return {};
}

ModuleHandle loadLibrary(std::string_view name) {
  const std::string path = resolveModulePath(name);
  if (path.empty()) {
    std::string text = "module not found: " + std::string(name);
    const DWORD attributes = GetFileAttributesW(widen(toNativePath(name)).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      text += " (it is a folder, not a module file)";
    t_lastError.set(text);
    return nullptr;
  }
  // No error boxes for a module that cannot be loaded: the caller reports it.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = GetLastError();
  SetErrorMode(oldMode);
  if (module == nullptr) {
    t_lastError.set(error == ERROR_DLL_INIT_FAILED ? "module entry refused to attach: " + path
                                                    : "cannot load " + path + ": " + wincore::errorText(error));
    return nullptr;
  }
  const auto handle = reinterpret_cast<ModuleHandle>(module);
  std::lock_guard lock(tableLock());
  ++loadCounts()[handle];
  return handle;
}

bool freeLibrary(ModuleHandle module) {
  {
    std::lock_guard lock(tableLock());
    auto it = loadCounts().find(module);
    if (it == loadCounts().end()) {
      t_lastError.set("not a loaded module");
      return false;
    }
    if (--it->second == 0) loadCounts().erase(it);
  }
  if (!FreeLibrary(reinterpret_cast<HMODULE>(module))) {
    t_lastError.set("cannot free the module: " + wincore::errorText(GetLastError()));
    return false;
  }
  return true;
}

void* getProcAddress(ModuleHandle module, const char* exportName) {
  if (module == nullptr || exportName == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(module), exportName);
  if (proc == nullptr) {
    t_lastError.set("no export " + exportText(exportName));
    return nullptr;
  }
  return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(proc));
}

std::string moduleFileName(ModuleHandle module) {
  return wincore::moduleFilePath(reinterpret_cast<HMODULE>(module));
}

ModuleHandle moduleFromAddress(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module))
    return nullptr;
  return reinterpret_cast<ModuleHandle>(module);
}

std::string lastModuleError() { return t_lastError.get(); }

}  // namespace platform
