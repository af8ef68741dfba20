#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/root.h"
#include "platform/thread_error_text.h"
#include "platform/text_internal.h"

namespace platform {
namespace {

using EntryFn = int (*)(ModuleHandle, uint32_t);

struct LoadedModule {
  void* dlHandle = nullptr;  // one dlopen reference per loadLibrary
  unsigned count = 0;
  std::string path;
};

thread_local ThreadErrorText t_lastError;  // trivially destructible: see thread_error_text.h

// Loads and unloads are serialised, so the attach and detach calls of one
// module never overlap, and the counts are exact.
std::recursive_mutex& loaderLock() {
  static std::recursive_mutex m;
  return m;
}

std::map<ModuleHandle, LoadedModule>& loadedModules() {
  static std::map<ModuleHandle, LoadedModule> modules;
  return modules;
}

using internal::asciiLower;
using internal::endsWith;

// File names (lower case) that a Windows module name may have here.
std::vector<std::string> candidateNames(std::string_view name) {
  std::string n = asciiLower(name);
  std::vector<std::string> out{n};
  if (endsWith(n, ".dll")) {
    std::string stem = n.substr(0, n.size() - 4);
    out.push_back(stem + ".so");
    out.push_back("lib" + stem + ".so");
  } else if (n.find('.') == std::string::npos) {
    out.push_back(n + ".so");
    out.push_back("lib" + n + ".so");
  }
  return out;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Finds, in one folder, a file whose name matches a candidate case-insensitively.
// Candidates are tried in order, so an exact-name match wins over a mapped one.
std::string findInFolder(const std::string& folder, const std::vector<std::string>& candidates) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return {};
  std::vector<std::string> entries;
  while (dirent* e = readdir(dir)) entries.emplace_back(e->d_name);
  closedir(dir);
  for (const std::string& want : candidates) {
    for (const std::string& entry : entries) {
      if (asciiLower(entry) != want) continue;
      std::string path = (folder.empty() ? "." : folder) + "/" + entry;
      if (isRegularFile(path)) return path;
    }
  }
  return {};
}

std::string programPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string programFolder() {
  std::string path = programPath();
  return path.substr(0, path.rfind('/'));
}

std::vector<std::string> searchFolders() {
  std::vector<std::string> folders;
  if (const char* env = std::getenv("TK_MODULE_PATH"); env && *env) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) folders.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  folders.push_back(programFolder());
  folders.push_back(systemDir());
  return folders;
}

ModuleHandle baseOf(void* dlHandle) {
  link_map* map = nullptr;
  if (dlinfo(dlHandle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(map->l_ld), &info) == 0) return nullptr;
  return static_cast<ModuleHandle>(info.dli_fbase);
}

EntryFn entryOf(void* dlHandle) { return reinterpret_cast<EntryFn>(dlsym(dlHandle, "TkDllMain")); }

}  // namespace

std::string resolveModulePath(std::string_view name) {
  if (name.empty()) return {};
  std::string native = toNativePath(name);
  size_t slash = native.rfind('/');
  if (slash != std::string::npos) {
    if (isRegularFile(native)) return native;
    return findInFolder(native.substr(0, slash), candidateNames(native.substr(slash + 1)));
  }
  auto candidates = candidateNames(native);
  for (const std::string& folder : searchFolders()) {
    if (std::string found = findInFolder(folder, candidates); !found.empty()) return found;
  }
  return {};
}

ModuleHandle loadLibrary(std::string_view name) {
  std::string path = resolveModulePath(name);
  if (path.empty()) {
    std::string text = "module not found: " + std::string(name);
    if (isFolder(toNativePath(name))) text += " (it is a folder, not a module file)";
    t_lastError.set(text);
    return nullptr;
  }
  std::lock_guard lock(loaderLock());
  void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!dl) {
    const char* why = dlerror();
    t_lastError.set(why ? why : ("cannot load " + path));
    return nullptr;
  }
  ModuleHandle module = baseOf(dl);
  if (!module) {
    dlclose(dl);
    t_lastError.set("cannot find the load address of " + path);
    return nullptr;
  }
  LoadedModule& entry = loadedModules()[module];
  if (entry.count++ == 0) {
    entry.dlHandle = dl;
    entry.path = path;
    if (EntryFn fn = entryOf(dl); fn && fn(module, kDllProcessAttach) == 0) {
      loadedModules().erase(module);
      dlclose(dl);
      t_lastError.set("module entry refused to attach: " + path);
      return nullptr;
    }
  } else {
    dlclose(dl);  // the first reference keeps it loaded
  }
  return module;
}

bool freeLibrary(ModuleHandle module) {
  std::lock_guard lock(loaderLock());
  auto it = loadedModules().find(module);
  if (it == loadedModules().end()) {
    t_lastError.set("not a loaded module");
    return false;
  }
  if (--it->second.count > 0) return true;
  void* dl = it->second.dlHandle;
  if (EntryFn fn = entryOf(dl)) fn(module, kDllProcessDetach);
  loadedModules().erase(it);
  dlclose(dl);
  return true;
}

void* getProcAddress(ModuleHandle module, const char* exportName) {
  void* dl = nullptr;
  {
    std::lock_guard lock(loaderLock());
    auto it = loadedModules().find(module);
    if (it != loadedModules().end()) dl = it->second.dlHandle;
  }
  if (!dl) {
    // A module linked at build time: reach it through its file name.
    std::string path = moduleFileName(module);
    if (path.empty()) return nullptr;
    dl = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!dl) return nullptr;
    dlclose(dl);  // RTLD_NOLOAD took a reference; the module stays loaded by its linker
  }
  void* sym = dlsym(dl, exportName);
  if (!sym) t_lastError.set(std::string("no export ") + exportName);
  return sym;
}

std::string moduleFileName(ModuleHandle module) {
  if (module == nullptr) return programPath();
  {
    std::lock_guard lock(loaderLock());
    auto it = loadedModules().find(module);
    if (it != loadedModules().end()) return it->second.path;
  }
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fbase != module || !info.dli_fname) return {};
  return info.dli_fname;
}

ModuleHandle moduleFromAddress(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0) return nullptr;
  return static_cast<ModuleHandle>(info.dli_fbase);
}

std::string lastModuleError() { return t_lastError.get(); }

}  // namespace platform
