#pragma once
// Whole reads and writes on a file descriptor, retried on interruption.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform::internal {

// Writes every byte at the current position; false on an error.
bool writeAll(int fd, std::string_view bytes);
// Reads from the current position to the end of the file into *bytes.
bool readAll(int fd, std::string* bytes);

}  // namespace platform::internal
