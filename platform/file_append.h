#pragma once
// Appending to a log file that several threads and processes share, the way
// the link programs write "vnl2.log": each piece is written by its own
// open-append-close, the file is never created, and a write lock on the end
// of the file keeps concurrent pieces from mixing.
#include <string>
#include <string_view>

namespace platform {

// True when path names an existing regular file (links are followed).
bool fileExists(const std::string& path);

// True when path is an existing regular file that this process may open for
// writing. Nothing is created or changed.
bool canOpenExistingForWriting(const std::string& path);

// Opens the existing regular file path for writing (never creates it), locks
// the file from its end onward, writes bytes at the end, unlocks and closes.
// False when any step fails; a piece that could not be written whole may have
// been written in part.
bool appendToExistingFile(const std::string& path, std::string_view bytes);

}  // namespace platform
