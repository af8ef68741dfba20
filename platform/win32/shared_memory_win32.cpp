// shared_memory.h on Windows: a named file mapping object backed by the
// paging file (CreateFileMappingW with INVALID_HANDLE_VALUE).
//
// Name: "Local\TK.shm.<root>.<name>", where <root> is a hash of the root
// folder (rootDir(), compared without regard to case and slash direction, as
// Windows compares paths) and <name> the area's name encoded as the Linux
// backend encodes file names (letters, digits, '_', '-', '.' kept, the rest
// %XX, long names cut and made unique by a hash), so every name maps to one
// object and no backslash reaches the object namespace. "Local\" keeps areas
// of different sessions apart (the Linux backend shares them among all
// users of a root).
//
// Lifetime: Windows keeps a mapping object while any process holds a handle
// or view of it; the object is destroyed with the last one, also when its
// holders die, and the next mapping starts afresh. created() is whether
// CreateFileMappingW made the object (no ERROR_ALREADY_EXISTS). The first
// mapper writes the initial contents while it holds the named mutex
// "Local\TK.shminit.<root>.<name>", which every opener takes around its
// CreateFileMappingW, so no one sees the area before it is initialised.
// (A mutex abandoned by a dying opener is taken over; its area died with it
// unless someone else mapped it, which the mutex excludes during the
// initialisation.)
//
// An existing area smaller than the size asked for is refused: its view
// cannot be that large. No threads of its own.
#include "platform/shared_memory.h"

#include <windows.h>

#include <cstring>

#include "platform/root.h"
#include "platform/text_internal.h"

namespace platform {
namespace {

std::string hexOf(uint64_t value) {
  static const char* digits = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = digits[value & 0xF];
  return text;
}

// FNV-1a of the root folder, folded so that spellings of one folder agree.
std::string rootTag(const std::string& root) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : root) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    hash = (hash ^ c) * 1099511628211ull;
  }
  return hexOf(hash);
}

// The names are ASCII (encodeFileName, hex digits).
std::wstring wideName(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string describe(const std::string& what, const std::string& object, DWORD error) {
  return what + " " + object + ": Windows error " + std::to_string(error);
}

}  // namespace

SharedMemory::SharedMemory(std::string_view name, size_t size, std::span<const std::byte> initial) {
  if (size == 0) {
    error_ = "a shared memory area needs a size";
    return;
  }
  if (!initial.empty() && initial.size() != size) {
    error_ = "the initial contents of a shared memory area must have its size";
    return;
  }
  const std::string suffix = rootTag(rootDir()) + "." + internal::encodeFileName(name);
  const std::string areaName = "Local\\TK.shm." + suffix;
  const std::wstring areaW = wideName(areaName);
  const std::wstring initName = wideName("Local\\TK.shminit." + suffix);

  HANDLE init = CreateMutexW(nullptr, FALSE, initName.c_str());
  if (!init) {
    error_ = describe("cannot create the mutex of", areaName, GetLastError());
    return;
  }
  DWORD waited = WaitForSingleObject(init, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    error_ = describe("cannot take the mutex of", areaName, GetLastError());
    CloseHandle(init);
    return;
  }

  const uint64_t size64 = size;
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size64 >> 32),
                                      static_cast<DWORD>(size64 & 0xFFFFFFFFu), areaW.c_str());
  DWORD createError = GetLastError();
  if (!mapping) {
    error_ = describe("cannot create", areaName, createError);
  } else {
    bool created = createError != ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (!view) {
      DWORD mapError = GetLastError();
      error_ = created ? describe("cannot map", areaName, mapError)
                       : "the shared memory area " + std::string(name) + " exists with fewer than " +
                             std::to_string(size) + " bytes";
      CloseHandle(mapping);
    } else {
      // A new object is all zero already.
      if (created && !initial.empty()) std::memcpy(view, initial.data(), size);
      data_ = view;
      size_ = size;
      created_ = created;
      ref_ = reinterpret_cast<intptr_t>(mapping);
    }
  }
  ReleaseMutex(init);
  CloseHandle(init);
}

SharedMemory::~SharedMemory() {
  if (data_) UnmapViewOfFile(data_);
  if (ref_ != -1) CloseHandle(reinterpret_cast<HANDLE>(ref_));
}

}  // namespace platform
