#pragma once
// The root folder under which everything the system keeps on disk lives:
// the registry files, the runtime folder (sockets, locks, shared memory
// names) and the "system directory". The environment variable TK_ROOT names
// it; without it a per-user default is used ($XDG_DATA_HOME/tk, else
// ~/.local/share/tk). The variable is read at every call, so a test can give
// each case its own root. Each thread creates a folder once per root (see
// root.cpp): one removed later under the same root is not created again by
// these functions.
#include <string>
#include <string_view>

namespace platform {

std::string rootDir();
std::string registryDir();  // <root>/registry
std::string runtimeDir();   // <root>/run
std::string systemDir();    // <root>/system, stands in for the Windows system directory

// Creates a folder and its parents; true when it exists afterwards.
bool ensureDirectory(const std::string& path);

// Turns a Windows-style path ("C:\logs\KVARTAPI.LOG" style separators) into
// one the platform can open: backslashes become the native separator.
std::string toNativePath(std::string_view path);

}  // namespace platform
