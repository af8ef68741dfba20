// The Windows part of the root folders (root_folders.cpp holds the rest).
//
// With TK_ROOT set (tests, demos, several installations side by side) the
// layout is the same as on Linux: <root>\registry, <root>\run and
// <root>\system below it. Without it the system directory is the real one
// (GetSystemDirectoryW: where VNL2C64.EXE and the link log vnl2.log live on
// Windows) and the other folders lie below %LOCALAPPDATA%\tk (else the
// temporary folder). The root is read at every call, like on Linux, and
// each thread remembers the folders it has already ensured under the root it
// last saw (thread_local, no locks); a failure is tried again next time.
// Paths are UTF-8; backslashes are the native separator, and forward slashes
// that callers append are accepted by the system as well.
#include "platform/root.h"

#include <optional>

#include "platform/root_internal.h"
#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

using wincore::narrow;
using wincore::widen;

std::string environment(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) return {};
  return narrow(std::wstring_view(buffer, n));
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\" and "\\" keep their separator; other folders lose a trailing one.
void trimTrailingSeparators(std::string& dir) {
  while (dir.size() > 1 && isSeparator(dir.back()) && !(dir.size() == 3 && dir[1] == ':')) dir.pop_back();
}

std::string defaultRoot() {
  std::string base = environment(L"LOCALAPPDATA");
  if (base.empty()) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    base = n != 0 ? narrow(std::wstring_view(temp, n)) : std::string("C:\\");
    trimTrailingSeparators(base);
  }
  return base + "\\tk";
}

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

namespace rootimpl {

std::string configuredRoot() {
  std::string dir = environment(L"TK_ROOT");
  if (dir.empty()) dir = defaultRoot();
  trimTrailingSeparators(dir);
  return dir;
}

std::optional<std::string> ownSystemDir() {
  if (!environment(L"TK_ROOT").empty()) return std::nullopt;
  wchar_t buffer[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return std::nullopt;
  return narrow(std::wstring_view(buffer, n));
}

}  // namespace rootimpl

bool ensureDirectory(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = widen(path);
  if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return isFolder(wide);
  // Creates each missing folder from the top; a drive ("C:"), a server and
  // share ("\\server\share") or a leading separator are not created.
  size_t start = 1;
  if (path.size() >= 2 && path[1] == ':') start = 3;
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
    const size_t server = path.find_first_of("\\/", 2);
    const size_t share = server == std::string::npos ? server : path.find_first_of("\\/", server + 1);
    if (share == std::string::npos) return isFolder(wide);
    start = share + 1;
  }
  for (size_t pos = start; pos <= path.size(); ++pos) {
    if (pos != path.size() && !isSeparator(path[pos])) continue;
    if (pos > 0 && isSeparator(path[pos - 1])) continue;  // doubled separator
    const std::wstring prefix = widen(path.substr(0, pos));
    // An existing folder is fine; an existing file in its place is not.
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && !isFolder(prefix)) return false;
  }
  return isFolder(wide);
}

std::string toNativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '/') c = '\\';
  }
  return native;
}

}  // namespace platform
