#pragma once
// Helpers of the Windows core tests: the child program beside the test
// program, the environment, and waiting for a file a child writes.
#include <windows.h>

#include <map>
#include <sstream>
#include <string>

#include "platform/process.h"
#include "platform/thread.h"
#include "tests/support/files.h"

namespace coretest {

inline std::string childPath() {
  const std::string self = platform::currentProgramPath();
  return self.substr(0, self.find_last_of("\\/") + 1) + "win_core_test_child.exe";
}

// Sets (or, with an empty value, removes) a variable for the C runtime and
// the system alike.
inline void setEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits (at most 20 s) for a file a child writes when it is ready.
inline bool waitForFile(const std::string& path) {
  for (int i = 0; i < 2000 && !exists(path); ++i) platform::sleepMs(10);
  return exists(path);
}

// The child's "report": key=value lines; repeated keys keep their order.
inline std::multimap<std::string, std::string> readReport(const std::string& path) {
  std::multimap<std::string, std::string> out;
  std::istringstream in(tktest::readFile(path));
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

// Runs the child with the arguments and gives its exit code (-1 when it
// could not start or did not end within 20 s).
inline int runChild(const std::string& arguments) {
  auto child = platform::createProcess(childPath(), "child " + arguments);
  if (!child || !child->wait(20000)) return -1;
  return child->exitCode();
}

}  // namespace coretest
