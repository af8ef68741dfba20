#pragma once
// Reading a whole file that a person named (a script, a configuration, a
// .reg file), with an error a person can act on instead of an exception:
// a folder, a missing file or an unreadable one is reported by its name.
#include <cstddef>
#include <string>

namespace platform {

// Text files people hand the programs are small; anything beyond this (say,
// /dev/zero given by mistake) is refused instead of filling the memory.
constexpr size_t kMaxTextFileBytes = size_t{256} << 20;

// Reads the whole file at path into *bytes ("-" is not special here).
// Standard streams such as /dev/stdin and pipes are read to their end. On
// failure *error says what went wrong, for example
// "cannot read /tmp: it is a folder, not a file" or
// "cannot open x.reg: No such file or directory".
bool readWholeFileText(const std::string& path, std::string* bytes, std::string* error,
                       size_t maxBytes = kMaxTextFileBytes);

// The text of the last error of a standard stream or file operation that
// just failed (fread, fwrite, fflush, an ifstream that did not open), for a
// message to a person: "No space left on device".
std::string lastStreamErrorText();

}  // namespace platform
