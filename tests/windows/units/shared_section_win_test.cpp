// platform::SharedSection on Windows: a TK_SHARED_SECTION variable of a
// module is one copy for every process that runs (or loads) the module, and
// a variable outside a shared section is refused. The module here is this
// test program itself: a second process of it writes into the shared
// variable, and this one reads the value back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/shared_section.h"

namespace {

struct Area {
  uint32_t magic;
  uint32_t written;
};

TK_SHARED_SECTION constinit Area g_shared{0x5EC7104, 0};
constinit Area g_private{0x5EC7104, 0};

constexpr char kNonceVariable[] = "TK_SHARED_SECTION_NONCE";

TEST(SharedSectionWin, RefusesAVariableOutsideASharedSection) {
  platform::SharedSection privateData("area", &g_private, sizeof g_private);
  EXPECT_FALSE(privateData.valid());
  EXPECT_EQ(privateData.data(), nullptr);
  EXPECT_FALSE(privateData.error().empty());
  Area onTheStack{};
  platform::SharedSection stack("area", &onTheStack, sizeof onTheStack);
  EXPECT_FALSE(stack.valid());
  EXPECT_FALSE(stack.error().empty());
  // Whole or not at all: an area that runs past its section is refused too.
  platform::SharedSection tooLong("area", &g_shared, 1 << 20);
  EXPECT_FALSE(tooLong.valid());
}

TEST(SharedSectionWin, AnotherProcessOfTheModuleSeesTheSameCopy) {
  platform::SharedSection section("area", &g_shared, sizeof g_shared);
  ASSERT_TRUE(section.valid()) << section.error();
  ASSERT_EQ(section.data(), &g_shared);
  EXPECT_EQ(g_shared.magic, 0x5EC7104u);

  const uint32_t nonce = GetCurrentProcessId();
  g_shared.written = 0;
  char program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
  std::string commandLine = std::string("\"") + program + "\" --gtest_filter=SharedSectionWinChild.WritesTheNonce";
  ASSERT_TRUE(SetEnvironmentVariableA(kNonceVariable, std::to_string(nonce).c_str()));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableA(kNonceVariable, nullptr);
  ASSERT_TRUE(started) << "CreateProcess: " << GetLastError();
  const DWORD waited = WaitForSingleObject(child.hProcess, 20000);
  DWORD exitCode = 1;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(g_shared.written, nonce + 1);
}

// The second process of the test above; skipped in a normal run.
TEST(SharedSectionWinChild, WritesTheNonce) {
  const char* nonce = std::getenv(kNonceVariable);
  if (nonce == nullptr) GTEST_SKIP() << "the second process of AnotherProcessOfTheModuleSeesTheSameCopy";
  platform::SharedSection section("area", &g_shared, sizeof g_shared);
  ASSERT_TRUE(section.valid()) << section.error();
  static_cast<Area*>(section.data())->written = static_cast<uint32_t>(std::strtoul(nonce, nullptr, 10)) + 1;
}

}  // namespace
