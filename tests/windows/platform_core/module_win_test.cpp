// Modules on Windows: names resolve without case to the built DLL, the
// system's loader calls the module's entry (TK_DLL_MAIN) on the first load
// and the last free, exports are found by name and by ordinal, and only
// what loadLibrary loaded can be freed. The module is the plug-in of the
// Linux module tests (tests/platform/test_module.cpp) built as tkmodtest.dll.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/module.h"
#include "platform/root.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/windows/platform_core/core_test_support.h"

namespace {

using tktest::readFile;

// The ordinal the module's export table gives a name; 0 when none.
uintptr_t ordinalOf(platform::ModuleHandle module, const char* name) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) return exports->Base + ordinals[i];
  }
  return 0;
}

class WindowsModule : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = tktest::currentRoot() + "\\module.log";
    coretest::setEnv("TK_TEST_MODULE_LOG", log_);
    coretest::setEnv("TK_TEST_MODULE_REFUSE", "");
  }
  void TearDown() override { coretest::setEnv("TK_TEST_MODULE_LOG", ""); }
  std::string log_;
};

TEST_F(WindowsModule, WindowsNamesResolveWithoutCaseAndTheSearchPathIsKept) {
  const std::string expected = platform::resolveModulePath("tkmodtest.dll");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(platform::resolveModulePath("TKMODTEST.DLL"), expected);
  EXPECT_EQ(platform::resolveModulePath("TkModTest"), expected);
  EXPECT_EQ(platform::resolveModulePath("NOSUCHMODULE.DLL"), "");
  const std::string folder = expected.substr(0, expected.find_last_of("\\/"));
  EXPECT_EQ(platform::resolveModulePath(folder + "\\TKMODTEST.DLL"), folder + "\\tkmodtest.dll");

  std::filesystem::copy_file(expected, platform::systemDir() + "\\Other.dll");
  EXPECT_EQ(platform::resolveModulePath("OTHER.DLL"), platform::systemDir() + "\\Other.dll");
  const std::string first = tktest::currentRoot() + "\\mods";
  platform::ensureDirectory(first);
  std::filesystem::copy_file(expected, first + "\\other.dll");
  coretest::setEnv("TK_MODULE_PATH", "C:\\nonexistent;" + first);
  EXPECT_EQ(platform::resolveModulePath("OTHER.DLL"), first + "\\other.dll");
  coretest::setEnv("TK_MODULE_PATH", "");
}

TEST_F(WindowsModule, TheEntryIsCalledOnTheFirstLoadAndTheLastFree) {
  platform::ModuleHandle a = platform::loadLibrary("TKMODTEST.DLL");
  ASSERT_NE(a, nullptr) << platform::lastModuleError();
  platform::ModuleHandle b = platform::loadLibrary("tkmodtest");
  EXPECT_EQ(a, b);
  EXPECT_EQ(readFile(log_), "attach self\n");

  int (*value)() = nullptr;
  ASSERT_TRUE(platform::getProcAddress(a, "TestModuleValue", value));
  EXPECT_EQ(value(), 42);
  EXPECT_EQ(platform::getProcAddress(a, "NoSuchExport"), nullptr);
  EXPECT_EQ(platform::lastModuleError(), "no export NoSuchExport");
  const uintptr_t ordinal = ordinalOf(a, "TestModuleValue");
  ASSERT_NE(ordinal, 0u);
  EXPECT_EQ(platform::getProcAddress(a, reinterpret_cast<const char*>(ordinal)), reinterpret_cast<void*>(value));
  EXPECT_EQ(platform::getProcAddress(a, reinterpret_cast<const char*>(uintptr_t{999})), nullptr);
  EXPECT_EQ(platform::lastModuleError(), "no export #999");
  EXPECT_EQ(platform::moduleFromAddress(reinterpret_cast<const void*>(value)), a);
  EXPECT_EQ(platform::moduleFileName(a), platform::resolveModulePath("tkmodtest.dll"));

  EXPECT_TRUE(platform::freeLibrary(a));
  EXPECT_EQ(readFile(log_), "attach self\n");
  EXPECT_TRUE(platform::freeLibrary(b));
  EXPECT_EQ(readFile(log_), "attach self\ndetach self\n");
  EXPECT_FALSE(platform::freeLibrary(b));
  // A module the program did not load through loadLibrary is not freed.
  EXPECT_FALSE(platform::freeLibrary(reinterpret_cast<platform::ModuleHandle>(GetModuleHandleW(L"kernel32.dll"))));
}

TEST_F(WindowsModule, AnEntryThatRefusesToAttachFailsTheLoadWithoutADetach) {
  coretest::setEnv("TK_TEST_MODULE_REFUSE", "1");
  EXPECT_EQ(platform::loadLibrary("TKMODTEST.DLL"), nullptr);
  EXPECT_NE(platform::lastModuleError().find("refused"), std::string::npos) << platform::lastModuleError();
  EXPECT_EQ(readFile(log_), "attach self\n");
  coretest::setEnv("TK_TEST_MODULE_REFUSE", "");
}

TEST_F(WindowsModule, MissingModulesAndTheRunningProgram) {
  EXPECT_EQ(platform::loadLibrary("NOSUCHMODULE.DLL"), nullptr);
  EXPECT_NE(platform::lastModuleError().find("NOSUCHMODULE.DLL"), std::string::npos);
  EXPECT_EQ(platform::loadLibrary(platform::systemDir()), nullptr);
  EXPECT_NE(platform::lastModuleError().find("folder"), std::string::npos) << platform::lastModuleError();
  EXPECT_NE(platform::moduleFileName(nullptr).find("win_platform_core_test.exe"), std::string::npos);
}

}  // namespace
