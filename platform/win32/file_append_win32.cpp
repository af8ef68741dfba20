// Appending to a shared log file on Windows (the link programs' vnl2.log).
//
// Each piece: CreateFileW on the existing file (OPEN_EXISTING, never
// created; a folder or a device is refused), with FILE_APPEND_DATA so every
// WriteFile lands at the end, then LockFileEx on one byte far beyond any
// real file size, the writes, UnlockFileEx and CloseHandle. Windows locks
// are mandatory and belong to the handle: locking a byte that holds no data
// keeps readers of the log unhindered while every writer, in this process
// (each call opens its own handle) or another, waits for its turn on the same
// byte. This stands in for the Linux backend's lock from the end of the file
// onward; the effect is the same: pieces never mix. No threads, no state.
#include "platform/file_append.h"

#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

// The byte every writer locks: far beyond what a log file reaches.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

HANDLE openExistingForAppend(const std::string& path) {
  const std::wstring wide = wincore::widen(path);
  HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool writeAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool fileExists(const std::string& path) {
  const std::wstring wide = wincore::widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
}

bool canOpenExistingForWriting(const std::string& path) {
  HANDLE file = openExistingForAppend(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool appendToExistingFile(const std::string& path, std::string_view bytes) {
  HANDLE file = openExistingForAppend(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
  if (ok) {
    ok = writeAll(file, bytes);
    OVERLAPPED unlockAt{};
    unlockAt.Offset = kLockOffsetLow;
    unlockAt.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &unlockAt);
  }
  if (!CloseHandle(file)) ok = false;
  return ok;
}

}  // namespace platform
