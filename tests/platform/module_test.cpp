#include "platform/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/root.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

using tktest::readFile;

class ModuleLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = tktest::currentRoot() + "/module.log";
    setenv("TK_TEST_MODULE_LOG", log_.c_str(), 1);
    unsetenv("TK_TEST_MODULE_REFUSE");
  }
  void TearDown() override { unsetenv("TK_TEST_MODULE_LOG"); }
  std::string log_;
};

TEST_F(ModuleLoading, WindowsStyleNamesResolveCaseInsensitively) {
  std::string expected = platform::resolveModulePath("tkmodtest.so");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(platform::resolveModulePath("TKMODTEST.DLL"), expected);
  EXPECT_EQ(platform::resolveModulePath("TkModTest"), expected);
  EXPECT_EQ(platform::resolveModulePath("NOSUCHMODULE.DLL"), "");
  // A path with a folder: the folder is taken as it is, the file name matched.
  std::string folder = expected.substr(0, expected.rfind('/'));
  EXPECT_EQ(platform::resolveModulePath(folder + "\\TKMODTEST.DLL"), expected);
}

TEST_F(ModuleLoading, EntryIsCalledOnFirstLoadAndLastFree) {
  platform::ModuleHandle a = platform::loadLibrary("TKMODTEST.DLL");
  ASSERT_NE(a, nullptr) << platform::lastModuleError();
  platform::ModuleHandle b = platform::loadLibrary("tkmodtest.so");
  EXPECT_EQ(a, b);  // one module, one handle
  EXPECT_EQ(readFile(log_), "attach self\n");

  auto value = reinterpret_cast<int (*)()>(platform::getProcAddress(a, "TestModuleValue"));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 42);
  EXPECT_EQ(platform::getProcAddress(a, "NoSuchExport"), nullptr);
  EXPECT_EQ(platform::moduleFromAddress(reinterpret_cast<const void*>(value)), a);
  EXPECT_EQ(platform::moduleFileName(a), platform::resolveModulePath("tkmodtest.so"));

  EXPECT_TRUE(platform::freeLibrary(a));
  EXPECT_EQ(readFile(log_), "attach self\n");  // still loaded once
  EXPECT_TRUE(platform::freeLibrary(b));
  EXPECT_EQ(readFile(log_), "attach self\ndetach self\n");
  EXPECT_FALSE(platform::freeLibrary(b));  // freed already

  // Loading again attaches again.
  platform::ModuleHandle c = platform::loadLibrary("TKMODTEST.DLL");
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(platform::freeLibrary(c));
  EXPECT_EQ(readFile(log_), "attach self\ndetach self\nattach self\ndetach self\n");
}

TEST_F(ModuleLoading, AnEntryThatRefusesToAttachFailsTheLoad) {
  setenv("TK_TEST_MODULE_REFUSE", "1", 1);
  EXPECT_EQ(platform::loadLibrary("TKMODTEST.DLL"), nullptr);
  EXPECT_NE(platform::lastModuleError().find("refused"), std::string::npos);
  unsetenv("TK_TEST_MODULE_REFUSE");
}

TEST_F(ModuleLoading, MissingModulesAndTheSearchPath) {
  EXPECT_EQ(platform::loadLibrary("NOSUCHMODULE.DLL"), nullptr);
  EXPECT_NE(platform::lastModuleError().find("NOSUCHMODULE.DLL"), std::string::npos);
  // The system directory is searched too.
  std::string copy = platform::systemDir() + "/Other.so";
  {
    std::ifstream src(platform::resolveModulePath("tkmodtest.so"), std::ios::binary);
    std::ofstream dst(copy, std::ios::binary);
    dst << src.rdbuf();
  }
  EXPECT_EQ(platform::resolveModulePath("OTHER.DLL"), copy);
  // TK_MODULE_PATH comes first.
  std::string folder = tktest::currentRoot() + "/mods";
  platform::ensureDirectory(folder);
  std::rename(copy.c_str(), (folder + "/other.so").c_str());
  setenv("TK_MODULE_PATH", ("/nonexistent:" + folder).c_str(), 1);
  EXPECT_EQ(platform::resolveModulePath("OTHER.DLL"), folder + "/other.so");
  unsetenv("TK_MODULE_PATH");
}

TEST(ModuleFileName, NullMeansTheRunningProgram) {
  std::string self = platform::moduleFileName(nullptr);
  EXPECT_NE(self.find("platform_tests"), std::string::npos);
}

}  // namespace
