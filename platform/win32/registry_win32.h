#pragma once
// What the Win32 registry files share (registry_win32.cpp, registry_ansi_win32.cpp,
// registry_transfer_win32.cpp, registry_generation_win32.cpp). Internal to the
// platform layer; only files of platform/win32 include it.
//
// A RegKeyHandle is an HKEY: the handles regCreateKeyEx/regOpenKeyEx hand out
// are the system's own, so code that mixes this API with direct Win32 calls
// works. The two predefined handles of registry.h carry the 32-bit numbers of
// HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE; on x64 the system's constants are
// those numbers sign-extended, so toHkey maps them.
//
// Every key is opened with KEY_WOW64_64KEY: a 32-bit module (VNL2D32) and the
// 64-bit ones (KVARSP64, VNL2C64) must see one registry, as they do on the
// other backend, not the 32-bit view Windows would give the 32-bit module.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_text.h"
#include "platform/registry.h"

namespace platform::win32reg {

// Access with which keys are opened: read and write, or (when Windows
// refuses that, e.g. HKEY_LOCAL_MACHINE for a standard user) read only, so
// reading works wherever Windows allows it; a write through a read-only
// handle then fails with Windows' own kErrorAccessDenied.
constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;
constexpr REGSAM kReadOnly = KEY_READ | KEY_WOW64_64KEY;
// Windows creates at most this many levels of keys in one call.
constexpr size_t kLevelsPerCreate = 32;

HKEY toHkey(RegKeyHandle key);
bool isRootHandle(RegKeyHandle key);

inline std::wstring wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string fromWide(const wchar_t* text, size_t size) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), size);
}

// Opens path (names below parent) with access. Up to kLevelsPerCreate
// names go to Windows in one call; longer paths are opened in steps (Windows
// refuses very long names in one call).
long openKeyPath(HKEY parent, const std::vector<std::u16string>& path, REGSAM access, HKEY* result);
// openKeyPath with access kReadWrite, falling back to kReadOnly on
// ERROR_ACCESS_DENIED; returns the Windows error.
long openKey(HKEY parent, const std::vector<std::u16string>& path, HKEY* result);
// Creates path below parent, at most kLevelsPerCreate levels per call.
// created (may be null) tells whether the last key is new.
long createKeyPath(HKEY parent, const std::vector<std::u16string>& path, HKEY* result, bool* created);
// Deletes path below parent and everything below it; an empty path empties
// parent itself but keeps it.
long deleteKeyTree(HKEY parent, const std::vector<std::u16string>& path);
// Deletes the key path below parent (parent itself when empty), which must
// have no subkeys.
long deleteKey(HKEY parent, const std::vector<std::u16string>& path);
// RegSetValueExW storing exactly size bytes. (Windows, like Wine, counts one
// more character for string data when the character after it is zero, so
// the data is passed from a copy followed by a character that is not.)
long setValueExact(HKEY key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size);

// The root and the names from it down to key, in the case they were created
// with; false when the key lies under neither root or cannot be named.
bool keyPathBelowRoot(HKEY key, RegRoot* root, std::vector<std::u16string>* path);

// The values and subkeys of key, in the order Windows enumerates them.
long readValues(HKEY key, std::vector<RegValue>* values);
long readSubkeyNames(HKEY key, std::vector<std::u16string>* names);

// Raises this session's registry change counter (registry_generation.h)
// after a successful change.
void bumpGeneration();

}  // namespace platform::win32reg
