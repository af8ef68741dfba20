#include "platform/root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

bool isDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Root, FoldersLieUnderTkRootAndAreCreatedOnDemand) {
  std::string root = tktest::currentRoot() + "/nested/root/";
  setenv("TK_ROOT", root.c_str(), 1);
  EXPECT_EQ(platform::rootDir(), tktest::currentRoot() + "/nested/root");
  EXPECT_EQ(platform::registryDir(), platform::rootDir() + "/registry");
  EXPECT_EQ(platform::runtimeDir(), platform::rootDir() + "/run");
  EXPECT_EQ(platform::systemDir(), platform::rootDir() + "/system");
  EXPECT_TRUE(isDir(platform::registryDir()));
  EXPECT_TRUE(isDir(platform::systemDir()));
  setenv("TK_ROOT", tktest::currentRoot().c_str(), 1);
}

TEST(Root, WithoutTkRootTheUsersDataFolderIsUsed) {
  std::string home = tktest::currentRoot() + "/home";
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  unsetenv("TK_ROOT");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(platform::rootDir(), home + "/.local/share/tk");
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  EXPECT_EQ(platform::rootDir(), home + "/data/tk");
  unsetenv("XDG_DATA_HOME");
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
  setenv("TK_ROOT", tktest::currentRoot().c_str(), 1);
}

// The folder functions create a folder once per thread and root; what each
// step does to the folders of root "a" or "b" (below the test's root), and
// whether a's registry folder exists afterwards.
struct FolderStep {
  enum Action { Use, RemoveFolders, UseInNewThread } action;
  const char* root;
  bool registryExists;
};

struct FolderCase {
  const char* name;
  std::vector<FolderStep> steps;
};

TEST(Root, FoldersAreCreatedOnceForEachRootAndThread) {
  using S = FolderStep;
  const std::vector<FolderCase> cases = {
      {"first use creates them", {{S::Use, "a", true}}},
      {"removed while the root stays: remembered, not created again",
       {{S::Use, "a", true}, {S::RemoveFolders, "a", false}, {S::Use, "a", false}}},
      {"another root in between: created again",
       {{S::Use, "a", true}, {S::RemoveFolders, "a", false}, {S::Use, "b", false}, {S::Use, "a", true}}},
      {"another thread creates its own",
       {{S::Use, "a", true}, {S::RemoveFolders, "a", false}, {S::UseInNewThread, "a", true}}},
  };
  const std::string base = tktest::currentRoot();
  auto use = [&](const char* root) {
    setenv("TK_ROOT", (base + "/" + root).c_str(), 1);
    return platform::registryDir() + platform::runtimeDir() + platform::systemDir();
  };
  for (const FolderCase& c : cases) {
    for (const FolderStep& step : c.steps) {
      switch (step.action) {
        case S::Use: use(step.root); break;
        case S::RemoveFolders: std::filesystem::remove_all(base + "/" + step.root); break;
        case S::UseInNewThread: std::thread([&] { use(step.root); }).join(); break;
      }
      EXPECT_EQ(isDir(base + "/a/registry"), step.registryExists) << c.name;
      EXPECT_EQ(isDir(base + "/a/run"), step.registryExists) << c.name;
      EXPECT_EQ(isDir(base + "/a/system"), step.registryExists) << c.name;
    }
    std::filesystem::remove_all(base + "/a");
    use("b");  // the next case starts from another root
  }
  setenv("TK_ROOT", base.c_str(), 1);
}

TEST(Root, AFolderThatCannotBeCreatedIsTriedAgain) {
  const std::string root = tktest::currentRoot() + "/blocked";
  tktest::writeFile(root, "a file where the root should be");
  setenv("TK_ROOT", root.c_str(), 1);
  EXPECT_EQ(platform::registryDir(), root + "/registry");
  EXPECT_FALSE(isDir(root + "/registry"));
  std::filesystem::remove(root);
  EXPECT_EQ(platform::registryDir(), root + "/registry");
  EXPECT_TRUE(isDir(root + "/registry"));
  setenv("TK_ROOT", tktest::currentRoot().c_str(), 1);
}

TEST(Root, WindowsStylePathsBecomeNative) {
  EXPECT_EQ(platform::toNativePath("logs\\KVARTAPI.LOG"), "logs/KVARTAPI.LOG");
  EXPECT_EQ(platform::toNativePath("/tmp/x"), "/tmp/x");
}

}  // namespace
