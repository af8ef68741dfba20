// Reading a whole file a person named, on Windows: CreateFileW (shared for
// reading and writing, so a log another program writes can be read) and
// ReadFile to the end, refusing folders and anything beyond the size limit.
// A pipe or console (standard input) is read until it ends. Errors carry the
// system's text ("cannot open x.reg: The system cannot find the file
// specified"). No threads, no state.
#include "platform/file_read.h"

#include <cerrno>
#include <cstring>

#include "platform/win32/core_text_win32.h"

namespace platform {

bool readWholeFileText(const std::string& path, std::string* bytes, std::string* error, size_t maxBytes) {
  bytes->clear();
  if (path.empty()) {
    *error = "no file name given";
    return false;
  }
  const std::wstring wide = wincore::widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = "cannot read " + path + ": it is a folder, not a file";
    return false;
  }
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + ": " + wincore::errorText(GetLastError());
    return false;
  }
  bool ok = true;
  char buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
      const DWORD why = GetLastError();
      if (why == ERROR_BROKEN_PIPE || why == ERROR_HANDLE_EOF) break;  // the writer is done
      *error = "cannot read " + path + ": " + wincore::errorText(why);
      ok = false;
      break;
    }
    if (n == 0) break;
    if (bytes->size() + n > maxBytes) {
      *error = "cannot read " + path + ": it is larger than " + std::to_string(maxBytes) +
               " bytes, too large for a text file of this kind";
      ok = false;
      break;
    }
    bytes->append(buffer, n);
  }
  CloseHandle(file);
  if (!ok) bytes->clear();
  return ok;
}

// The C runtime's streams set errno on Windows too.
std::string lastStreamErrorText() { return std::strerror(errno); }

}  // namespace platform
