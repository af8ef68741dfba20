#include "platform/root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

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

TEST(Root, WindowsStylePathsBecomeNative) {
  EXPECT_EQ(platform::toNativePath("logs\\KVARTAPI.LOG"), "logs/KVARTAPI.LOG");
  EXPECT_EQ(platform::toNativePath("/tmp/x"), "/tmp/x");
}

}  // namespace
