#pragma once
// Whole-file reading and writing for tests.
#include <string>
#include <string_view>

namespace tktest {

// The file's bytes; empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file's content with bytes.
void writeFile(const std::string& path, std::string_view bytes);

}  // namespace tktest
