#pragma once
// What each system's backend supplies to the portable root folders
// (root_folders.cpp): the root as configured and the native separator.
#include <optional>
#include <string>

namespace platform::rootimpl {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// TK_ROOT, else the per-user default, without trailing separators.
std::string configuredRoot();
// The system directory when it is not <root>/system: on Windows without
// TK_ROOT, the real one; nothing elsewhere.
std::optional<std::string> ownSystemDir();

}  // namespace platform::rootimpl
