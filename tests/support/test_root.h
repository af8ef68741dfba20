#pragma once
// Every test case runs under its own fresh root folder (TK_ROOT), so tests
// never see each other's registry files, locks or logs and can run in parallel.
#include <string>

namespace tktest {

// The root of the running test case.
std::string currentRoot();

// Makes a fresh, empty folder below the system temporary folder.
std::string makeTempDir(const std::string& prefix);

// Removes a folder and everything in it.
void removeTree(const std::string& path);

}  // namespace tktest
