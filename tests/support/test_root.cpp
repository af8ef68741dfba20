#include "tests/support/test_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tktest {
namespace {

std::string g_root;

class FreshRootListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    g_root = makeTempDir("tk-test-");
    setenv("TK_ROOT", g_root.c_str(), 1);
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    // Keep the root of a failed test for inspection unless asked otherwise.
    if (info.result()->Passed() || std::getenv("TK_TEST_KEEP_ROOT") == nullptr) removeTree(g_root);
    else fprintf(stderr, "test root kept at %s\n", g_root.c_str());
    g_root.clear();
  }
};

}  // namespace

std::string currentRoot() { return g_root; }

std::string makeTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return pattern;
}

void removeTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

void installFreshRootListener() {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRootListener);
}

}  // namespace tktest
