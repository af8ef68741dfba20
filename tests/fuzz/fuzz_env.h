#pragma once
// The private folder of a fuzzer process: TK_ROOT points into a fresh
// folder below /dev/shm (or the temporary directory), so that the registry, the trace
// files and the settings the code under test writes stay there; the folder
// is removed when the process exits normally (a finding keeps it).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace tkfuzz {

inline void PrivateRoot(const char* fuzzer) {
  static std::string root;
  // In memory where possible: the registry syncs every file it writes.
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
  std::string pattern = base + "/" + fuzzer + ".XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror(pattern.c_str());
    std::abort();
  }
  root = pattern;
  setenv("TK_ROOT", root.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  });
}

}  // namespace tkfuzz
