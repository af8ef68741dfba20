#include "tests/support/test_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace tktest {
namespace {

#if defined(_WIN32)
// The Windows C runtime has neither setenv nor mkdtemp.
void setEnvironment(const char* name, const char* value) { _putenv_s(name, value); }

char* makeUniqueDir(char* pattern) {
  std::string text(pattern);
  const size_t x = text.rfind("XXXXXX");
  if (x == std::string::npos) return nullptr;
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = 0; i < 6; ++i) text[x + i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
    std::error_code ec;
    if (std::filesystem::create_directory(text, ec)) {
      text.copy(pattern, text.size());
      return pattern;
    }
  }
  return nullptr;
}
#else
void setEnvironment(const char* name, const char* value) { setenv(name, value, 1); }
char* makeUniqueDir(char* pattern) { return mkdtemp(pattern); }
#endif

std::string g_root;

class FreshRootListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    g_root = makeTempDir("tk-test-");
    setEnvironment("TK_ROOT", g_root.c_str());
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
  if (makeUniqueDir(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
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
