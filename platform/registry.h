#pragma once
// The registry: a tree of keys with named, typed values under the roots
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, with the Windows API shape (calls
// return a Windows error code, 0 for success).
//
// Storage: one text file per root in platform::registryDir(),
// "HKEY_LOCAL_MACHINE.reg" and "HKEY_CURRENT_USER.reg", in the .reg format of
// regedit (REGEDIT5, UTF-8, LF line ends), so people can read and edit it. A
// missing file is an empty root; it is created by the first write.
//
// Names: key paths use backslashes ("Software\Vendor\Product"). Key and
// value names compare case-insensitively and keep the case they were created
// with. The empty value name is the key's default value.
//
// Limits, as Windows has them (lengths in UTF-16 units): a key name at most
// 255, a value name at most 16383, a key path at most 512 names deep below
// its root and at most 32767 long (backslashes included; below an open key
// the path from the root counts). New keys and values need names without
// control characters and unpaired surrogates. Opening, deleting and
// exporting also find keys with control characters in their names, which
// older versions let an import create, so such keys can be removed.
//
// Data: stored exactly as given, byte for byte, for every type; REG_SZ data
// gets no terminator added or removed. Wide ("W") functions take UTF-16 names
// and string data as UTF-16LE bytes; the "A" functions take Windows-1252
// names and convert string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) between
// Windows-1252 and UTF-16 one character per byte, like RegSetValueExA and
// RegQueryValueExA.
//
// Sharing: every call is safe from any thread and any process. Reads use a
// process-wide cache of the parsed files that is checked against the file on
// disk at every call, so they see other processes' writes at once and cost
// no parsing while a file is unchanged. Writes lock the root's lock file,
// re-read the file, change it and replace it atomically, so concurrent
// writers lose nothing and readers never see a half-written file.
//
// A file that cannot be parsed (say, after a bad hand edit) is read as an
// empty root and is never overwritten: writes to its root fail with
// kErrorRegistryCorrupt. The problem ("<file>:<line>: <what>") goes to
// standard error once per version of the file and is available through
// registryLastError().
//
// On Windows (platform/win32/registry_win32.cpp) these functions are the
// system's registry and the handles are HKEYs: no files, no cache, nothing
// parsed (registryFileParseCount stays 0); what is said above about files,
// locks and kErrorRegistryCorrupt holds for the other backend only.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/reg_types.h"
#include "platform/win_error.h"

namespace platform {

// An open key, like an HKEY.
struct RegKeyTag;
using RegKeyHandle = RegKeyTag*;

// The predefined root handles (Windows gives them the same numbers). They
// are always open; closing them does nothing.
inline RegKeyHandle const kHkeyCurrentUser = reinterpret_cast<RegKeyHandle>(uintptr_t{0x80000001u});
inline RegKeyHandle const kHkeyLocalMachine = reinterpret_cast<RegKeyHandle>(uintptr_t{0x80000002u});

// Dispositions reported by regCreateKeyEx.
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;

// Error codes particular to the registry:
//   kErrorFileNotFound     the key or value does not exist
//   kErrorKeyDeleted       the key of the handle was deleted since it was opened
//   kErrorBadKey           a key path with an empty name in it, a key name
//                          too long or not storable, a path too deep or too long
//   kErrorInvalidParameter a null pointer where one is needed, or a value name
//                          too long or with control characters or unpaired
//                          surrogates (regSetValueEx)
//   kErrorAccessDenied     deleting a key that has subkeys (use regDeleteTree), or a root
//   kErrorRegistryCorrupt  the root's file cannot be parsed, so it is not written
//   kErrorCantWrite        the root's file could not be locked, read or written
//   kErrorInvalidData      regImport was given text with a syntax error, or a
//                          name or path beyond the limits
// The last three leave a message in registryLastError(), and so does
// regImportDocument for any document it refuses.

// Opens or creates subKey below key, creating missing parents. disposition
// (may be null) receives kRegCreatedNewKey or kRegOpenedExistingKey.
long regCreateKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result, uint32_t* disposition);
// Opens an existing key; an empty subKey opens key itself again.
long regOpenKeyEx(RegKeyHandle key, std::u16string_view subKey, RegKeyHandle* result);
long regCloseKey(RegKeyHandle key);

// With data null, reports type and size only. With a buffer too small,
// returns kErrorMoreData and the needed size in *size. data requires size.
long regQueryValueEx(RegKeyHandle key, std::u16string_view name, uint32_t* type, uint8_t* data, uint32_t* size);
long regSetValueEx(RegKeyHandle key, std::u16string_view name, uint32_t type, const uint8_t* data, uint32_t size);
long regDeleteValue(RegKeyHandle key, std::u16string_view name);

// Deletes subKey (or key itself when subKey is empty); refuses a key that
// has subkeys, as RegDeleteKey does.
long regDeleteKey(RegKeyHandle key, std::u16string_view subKey);
// Deletes subKey and everything below it; with an empty subKey, deletes the
// values and subkeys of key but keeps key, as RegDeleteTree does.
long regDeleteTree(RegKeyHandle key, std::u16string_view subKey);

// The index-th subkey (in case-insensitive name order) or value (in creation
// order); kErrorNoMoreItems past the end.
long regEnumKeyEx(RegKeyHandle key, uint32_t index, std::u16string* name);
long regEnumValue(RegKeyHandle key, uint32_t index, std::u16string* name, uint32_t* type, uint8_t* data,
                  uint32_t* size);

// Windows-1252 variants. String data of n bytes is stored as n UTF-16
// characters (2n bytes) and read back as one byte per stored character (an
// odd trailing byte of stored data is not part of any character).
long regCreateKeyExA(RegKeyHandle key, std::string_view subKey, RegKeyHandle* result, uint32_t* disposition);
long regOpenKeyExA(RegKeyHandle key, std::string_view subKey, RegKeyHandle* result);
long regQueryValueExA(RegKeyHandle key, std::string_view name, uint32_t* type, uint8_t* data, uint32_t* size);
long regSetValueExA(RegKeyHandle key, std::string_view name, uint32_t type, const uint8_t* data, uint32_t size);

// .reg text (REGEDIT5, UTF-8, LF line ends) of subKey below key (key itself
// when empty) and everything below it. kErrorRegistryCorrupt when the root's
// file is broken. regTextForWindows (reg_text.h) turns it into the form
// Windows' registry editor reads.
long regExportKey(RegKeyHandle key, std::u16string_view subKey, std::string* regText);
// .reg text of both roots.
long regExportAll(std::string* regText);
// Merges .reg text (any encoding regedit writes) into the store: creates
// keys, sets values, and honours [-KEY] and "Name"=- deletions. Nothing is
// changed when the text has a syntax error, a name that cannot be stored or
// a path or name beyond the limits (kErrorInvalidData; the message names
// sourceName and the line) or a root's file is broken.
long regImport(std::string_view regFileBytes, std::string_view sourceName);
// The same for a document already parsed (or built by the caller): checked
// as the parser checks text (kErrorBadKey for a key path, kErrorInvalidParameter
// for a value name or values under a deleted key, kErrorAccessDenied for
// deleting a root; the message names the section), then applied to the
// store in one step, all or nothing.
struct RegTextDocument;
long regImportDocument(const RegTextDocument& document);

// The message of the last problem a registry call on this thread met with a
// registry file or import text; empty when the last call met none.
std::string registryLastError();

// How many times this process has parsed a registry file. Lets tests check
// that unchanged files are not parsed again.
uint64_t registryFileParseCount();

}  // namespace platform
