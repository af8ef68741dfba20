// The root folders, the clock, debug output, file reading and thread stacks
// on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/file_read.h"
#include "platform/root.h"
#include "platform/thread_stack.h"
#include "tests/support/test_root.h"
#include "tests/windows/platform_core/core_test_support.h"

namespace {

namespace fs = std::filesystem;

bool isDir(const std::string& path) { return fs::is_directory(fs::u8path(path)); }

TEST(WindowsRoot, WithTkRootTheLayoutIsBelowItWithBackslashes) {
  const std::string base = tktest::currentRoot();
  coretest::setEnv("TK_ROOT", base + "\\nested\\root\\");
  EXPECT_EQ(platform::rootDir(), base + "\\nested\\root");
  EXPECT_EQ(platform::registryDir(), base + "\\nested\\root\\registry");
  EXPECT_EQ(platform::runtimeDir(), base + "\\nested\\root\\run");
  EXPECT_EQ(platform::systemDir(), base + "\\nested\\root\\system");
  EXPECT_TRUE(isDir(platform::registryDir()));
  EXPECT_TRUE(isDir(platform::systemDir()));
  coretest::setEnv("TK_ROOT", base);
}

TEST(WindowsRoot, WithoutTkRootTheSystemDirectoryIsTheRealOne) {
  const std::string base = tktest::currentRoot();
  const char* saved = std::getenv("LOCALAPPDATA");
  const std::string savedLocal = saved ? saved : "";
  coretest::setEnv("TK_ROOT", "");
  coretest::setEnv("LOCALAPPDATA", base + "\\local");
  wchar_t system[MAX_PATH + 1];
  GetSystemDirectoryW(system, MAX_PATH + 1);
  EXPECT_EQ(fs::path(fs::u8path(platform::systemDir())), fs::path(system));
  EXPECT_EQ(platform::rootDir(), base + "\\local\\tk");
  EXPECT_EQ(platform::registryDir(), base + "\\local\\tk\\registry");
  coretest::setEnv("LOCALAPPDATA", savedLocal);
  coretest::setEnv("TK_ROOT", base);
}

TEST(WindowsRoot, EnsureDirectoryCreatesParentsAndRefusesFiles) {
  const std::string base = tktest::currentRoot();
  EXPECT_TRUE(platform::ensureDirectory(base + "\\a\\b/c\\\\d"));
  EXPECT_TRUE(isDir(base + "\\a\\b\\c\\d"));
  tktest::writeFile(base + "\\file", "x");
  EXPECT_FALSE(platform::ensureDirectory(base + "\\file"));
  EXPECT_FALSE(platform::ensureDirectory(base + "\\file\\below"));
  EXPECT_FALSE(platform::ensureDirectory(""));
  EXPECT_EQ(platform::toNativePath("C:/logs/KVARTAPI.LOG"), "C:\\logs\\KVARTAPI.LOG");
  EXPECT_EQ(platform::toNativePath("logs\\x"), "logs\\x");
}

TEST(WindowsClock, ReadingsAgreeWithTheSystemAndTheOffsetShiftsAChild) {
  SYSTEMTIME st;
  GetSystemTime(&st);
  const platform::SystemTime utc = platform::utcTime();
  EXPECT_EQ(utc.year, st.wYear);
  EXPECT_GE(utc.month, 1);
  EXPECT_LT(utc.milliseconds, 1000);
  const int64_t skew = platform::unixMillisFromSystemTime(platform::localTime()) - platform::unixMillisFromSystemTime(utc);
  EXPECT_LE(std::abs(skew), 14 * 3600000LL);  // a time zone's offset

  const uint32_t before = platform::tickCount();
  coretest::setEnv("TK_TICK_OFFSET", "0xFFFF0000");
  const std::string file = tktest::currentRoot() + "\\tick";
  const int code = coretest::runChild("tick \"" + file + "\"");
  coretest::setEnv("TK_TICK_OFFSET", "");
  const uint32_t after = platform::tickCount();
  ASSERT_EQ(code, 0);
  const uint32_t childTick = static_cast<uint32_t>(std::stoul(tktest::readFile(file))) - 0xFFFF0000u;
  EXPECT_LE(static_cast<uint32_t>(childTick - before), static_cast<uint32_t>(after - before) + 1000u);
}

TEST(WindowsDebugOutput, GoesToStandardErrorWhenAskedAndToTheSinkInstead) {
  coretest::setEnv("TK_DEBUG_OUTPUT", "stderr");
  testing::internal::CaptureStderr();
  platform::outputDebugString(u"Grüße\n");
  const std::string seen = testing::internal::GetCapturedStderr();
  coretest::setEnv("TK_DEBUG_OUTPUT", "");
  EXPECT_EQ(seen, "Grüße\n");
}

TEST(WindowsFileRead, ReadsWholeFilesAndSaysWhyNot) {
  const std::string base = tktest::currentRoot();
  std::string bytes, error;
  tktest::writeFile(base + "\\x.reg", std::string("a\0b\r\n", 5));
  ASSERT_TRUE(platform::readWholeFileText(base + "\\x.reg", &bytes, &error)) << error;
  EXPECT_EQ(bytes, std::string("a\0b\r\n", 5));
  EXPECT_FALSE(platform::readWholeFileText(base + "\\x.reg", &bytes, &error, 4));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(platform::readWholeFileText(base, &bytes, &error));
  EXPECT_EQ(error, "cannot read " + base + ": it is a folder, not a file");
  EXPECT_FALSE(platform::readWholeFileText(base + "\\missing.reg", &bytes, &error));
  EXPECT_EQ(error.rfind("cannot open " + base + "\\missing.reg: ", 0), 0u) << error;
  EXPECT_FALSE(platform::readWholeFileText("", &bytes, &error));
}

bool anyFrameHas(const platform::ThreadStack& stack, const std::string& part) {
  return std::any_of(stack.frames.begin(), stack.frames.end(),
                     [&](const std::string& f) { return f.find(part) != std::string::npos; });
}

TEST(WindowsThreadStack, FramesOfAWaitingThreadAndOfTheCaller) {
#if !defined(_WIN64)
  GTEST_SKIP() << "the stack walk is x64 only";
#endif
  platform::Event started(platform::Event::Reset::Manual), release(platform::Event::Reset::Manual);
  std::atomic<uint32_t> id{0};
  platform::Thread parked;
  parked.start([&] {
    id = platform::currentThreadId();
    started.set();
    release.wait(20000);
  });
  ASSERT_TRUE(started.wait(20000));
  const platform::ThreadStack stack = platform::captureThreadStack(id, 1000);
  release.set();
  ASSERT_TRUE(parked.join(20000));
  ASSERT_EQ(stack.error, "");
  ASSERT_GE(stack.frames.size(), 2u) << testing::PrintToString(stack.frames);
  EXPECT_EQ(stack.frames[0].rfind("#0 0x", 0), 0u) << stack.frames[0];
  // The thread's own function, in the test program, is among its callers.
  EXPECT_TRUE(anyFrameHas(stack, "(win_platform_core_test.exe+0x")) << testing::PrintToString(stack.frames);

  const platform::ThreadStack self = platform::captureThreadStack(platform::currentThreadId());
  ASSERT_EQ(self.error, "");
  EXPECT_TRUE(anyFrameHas(self, "(win_platform_core_test.exe+0x")) << testing::PrintToString(self.frames);

  EXPECT_EQ(platform::captureThreadStack(0x3FFFFFFF, 50).error, "no thread 1073741823 in this process");
}

}  // namespace
