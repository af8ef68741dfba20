// Finding a program by its Windows-style path, and the running program's name.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <vector>

#include "platform/process.h"
#include "platform/root.h"
#include "platform/text_internal.h"

namespace platform {
namespace {

using internal::asciiLower;
using internal::endsWith;

// File names (lower case) that a Windows program name may have here:
// "vnl2c64.exe" for "VNL2C64.EXE", then "vnl2c64"; a name without an
// extension may also have ".exe".
std::vector<std::string> candidateNames(std::string_view name) {
  std::string n = asciiLower(name);
  std::vector<std::string> out{n};
  if (endsWith(n, ".exe") && n.size() > 4) {
    out.push_back(n.substr(0, n.size() - 4));
  } else if (n.find('.') == std::string::npos) {
    out.push_back(n + ".exe");
  }
  return out;
}

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Finds, in one folder, an executable whose name matches a candidate
// case-insensitively. Candidates are tried in order, and for each an entry
// spelt exactly so wins over one that differs in case.
std::string findInFolder(const std::string& folder, const std::vector<std::string>& candidates) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  std::vector<std::string> entries;
  while (dirent* e = ::readdir(dir)) entries.emplace_back(e->d_name);
  ::closedir(dir);
  const std::string prefix = folder == "/" ? folder : folder + "/";
  for (const std::string& want : candidates) {
    for (bool exact : {true, false}) {
      for (const std::string& entry : entries) {
        if (exact ? entry != want : asciiLower(entry) != want) continue;
        if (isExecutableFile(prefix + entry)) return prefix + entry;
      }
    }
  }
  return {};
}

std::string runningProgramPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  // A program file replaced while it runs shows with this mark.
  if (endsWith(path, " (deleted)")) path.resize(path.size() - 10);
  return path;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string resolveProgramPath(std::string_view programPath) {
  if (programPath.empty()) return {};
  std::string native = toNativePath(programPath);
  size_t slash = native.rfind('/');
  if (slash != std::string::npos) {
    if (isExecutableFile(native)) return native;
    if (slash + 1 == native.size()) return {};
    return findInFolder(folderOf(native), candidateNames(native.substr(slash + 1)));
  }
  // A bare name: the running program's folder, the current folder, then the
  // system directory, as Windows looks for a program named without a path.
  auto candidates = candidateNames(native);
  for (const std::string& folder : {folderOf(runningProgramPath()), std::string("."), systemDir()}) {
    if (std::string found = findInFolder(folder, candidates); !found.empty()) return found;
  }
  return {};
}

std::string programBaseName() {
  std::string path = runningProgramPath();
  std::string name = path.substr(path.rfind('/') + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string currentProgramPath() { return runningProgramPath(); }

}  // namespace platform
