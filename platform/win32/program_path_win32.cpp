// The running program and finding programs by Windows-style path, on
// Windows: the program's file from GetModuleFileNameW, its command line from
// GetCommandLineW (exactly what its starter passed to CreateProcess), and
// resolveProgramPath looking for the file as CreateProcess would, with the
// platform's rules: a name without an extension also finds "<name>.exe"; a
// bare name is looked for in the running program's folder, the current
// folder, then the system directory. The file system compares names without
// case; the result carries the file's own spelling. Paths are UTF-8. No state.
#include <windows.h>

#include <vector>

#include "platform/process.h"
#include "platform/root.h"
#include "platform/text_internal.h"
#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

using wincore::narrow;
using wincore::widen;

std::vector<std::string> candidateNames(const std::string& name) {
  std::vector<std::string> out{name};
  if (name.find('.') == std::string::npos) out.push_back(name + ".exe");
  return out;
}

// The path of an existing file (not a folder) in the folder's spelling of
// its name; "" when there is none.
std::string existingFile(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find_first_of("*?") != std::string::npos) return {};
  const std::string prefix = folder.empty() ? std::string() : (folder.back() == '\\' ? folder : folder + "\\");
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(widen(prefix + name).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  FindClose(search);
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  return prefix + narrow(found.cFileName);
}

std::string findInFolder(const std::string& folder, const std::vector<std::string>& candidates) {
  for (const std::string& name : candidates) {
    if (std::string found = existingFile(folder, name); !found.empty()) return found;
  }
  return {};
}

}  // namespace

std::string resolveProgramPath(std::string_view programPath) {
  if (programPath.empty()) return {};
  const std::string native = toNativePath(programPath);
  const size_t slash = native.rfind('\\');
  if (slash != std::string::npos) {
    if (slash + 1 == native.size()) return {};
    return findInFolder(native.substr(0, slash), candidateNames(native.substr(slash + 1)));
  }
  const std::vector<std::string> candidates = candidateNames(native);
  for (const std::string& folder : {wincore::folderOf(currentProgramPath()), std::string("."), systemDir()}) {
    if (std::string found = findInFolder(folder, candidates); !found.empty()) return found;
  }
  return {};
}

std::string programBaseName() {
  const std::string path = currentProgramPath();
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string currentProgramPath() { return wincore::moduleFilePath(nullptr); }

std::string commandLine() { return narrow(GetCommandLineW()); }

}  // namespace platform
