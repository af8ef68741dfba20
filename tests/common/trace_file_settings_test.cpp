// The trace switches and folder as the trace calls see them: every change
// through the registry API at the next call, a hand edit of the file within
// a second.
#include "common/trace_file_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "platform/registry_generation.h"
#include "platform/root.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"

namespace {

using tktest::Bytes;

class TraceSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTraceSettingsClock(&clock_);
    ASSERT_EQ(platform::regCreateKeyEx(platform::kHkeyLocalMachine, kTraceSettingsKeyPath, &key_.h, nullptr),
              platform::kErrorSuccess);
  }
  void TearDown() override { SetTraceSettingsClock(nullptr); }

  platform::FakeClock clock_;
  tktest::Key key_;
};

// A "LogTapi" value as it is set and what the switch reads right after.
struct SwitchCase {
  const char* what;
  uint32_t type;
  Bytes data;  // empty with type 0: the value is deleted
  bool on;
};

TEST_F(TraceSettingsTest, EveryValueSetThroughTheRegistryCountsAtTheNextCall) {
  const std::vector<SwitchCase> cases = {
      {"missing", 0, {}, false},
      {"DWORD 1", platform::kRegDword, {1, 0, 0, 0}, true},
      {"DWORD 0", platform::kRegDword, {0, 0, 0, 0}, false},
      {"DWORD, only the high byte set", platform::kRegDword, {0, 0, 0, 0x80}, true},
      {"DWORD of two bytes", platform::kRegDword, {1, 0}, false},
      {"DWORD of five bytes", platform::kRegDword, {1, 0, 0, 0, 0}, false},
      {"DWORD 2", platform::kRegDword, {2, 0, 0, 0}, true},
      {"text \"1\"", platform::kRegSz, tktest::utf16z(u"1"), false},
      {"binary 01000000", platform::kRegBinary, {1, 0, 0, 0}, false},
      {"DWORD 1 again", platform::kRegDword, {1, 0, 0, 0}, true},
      {"deleted", 0, {}, false},
  };
  for (const SwitchCase& c : cases) {
    if (c.type == 0) {
      platform::regDeleteValue(key_.h, u"LogTapi");
    } else {
      ASSERT_EQ(tktest::setValue(key_.h, u"LogTapi", c.type, c.data), platform::kErrorSuccess) << c.what;
    }
    EXPECT_EQ(TraceSwitchOn(TraceFile::Tapi), c.on) << c.what;
    EXPECT_EQ(TraceSwitchOn(TraceFile::Tapi), c.on) << c.what << ", asked again";
    EXPECT_FALSE(TraceSwitchOn(TraceFile::Cti)) << c.what;
  }
}

TEST_F(TraceSettingsTest, TheFolderFollowsItsValue) {
  EXPECT_EQ(TraceFolder(), u"");
  ASSERT_EQ(tktest::setValue(key_.h, u"LogPath", platform::kRegSz, tktest::utf16z(u"/var/log/tk")), 0);
  EXPECT_EQ(TraceFolder(), u"/var/log/tk");
  ASSERT_EQ(tktest::setValue(key_.h, u"LogPath", platform::kRegSz, tktest::utf16z(u"C:\\logs")), 0);
  EXPECT_EQ(TraceFolder(), u"C:\\logs");
  ASSERT_EQ(tktest::setDword(key_.h, u"LogPath", 1), 0);
  EXPECT_EQ(TraceFolder(), u"");
}

TEST_F(TraceSettingsTest, AChangeMadeOnAnotherThreadCountsHereAndTheOtherWay) {
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Cti));
  std::thread([] {
    tktest::Key key;
    ASSERT_EQ(platform::regOpenKeyEx(platform::kHkeyLocalMachine, kTraceSettingsKeyPath, &key.h), 0);
    EXPECT_FALSE(TraceSwitchOn(TraceFile::Cti));
    ASSERT_EQ(tktest::setDword(key.h, u"LogCTI", 1), 0);
  }).join();
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Cti));
  ASSERT_EQ(tktest::setDword(key_.h, u"LogCTI", 0), 0);
  std::thread([] { EXPECT_FALSE(TraceSwitchOn(TraceFile::Cti)); }).join();
}

TEST_F(TraceSettingsTest, EachRootHasItsOwnSwitches) {
  ASSERT_EQ(tktest::setDword(key_.h, u"LogTapi", 1), 0);
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Tapi));
  setenv("TK_ROOT", (tktest::currentRoot() + "/other").c_str(), 1);
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Tapi));
  setenv("TK_ROOT", tktest::currentRoot().c_str(), 1);
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Tapi));
}

TEST_F(TraceSettingsTest, AHandEditOfTheFileCountsWithinASecond) {
  ASSERT_EQ(tktest::setDword(key_.h, u"LogTapi", 1), 0);
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Tapi));
  const std::string path = platform::registryDir() + "/HKEY_LOCAL_MACHINE.reg";
  std::string text = tktest::readFile(path);
  size_t at = text.find("\"LogTapi\"=dword:00000001");
  ASSERT_NE(at, std::string::npos) << text;
  tktest::writeFile(path, text.replace(at, 24, "\"LogTapi\"=dword:00000000\n\"LogCTI\"=dword:00000001"));
  clock_.advance(platform::RegistryChangeWatch::kFileCheckIntervalMs - 1);
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Tapi)) << "the file is looked at once a second";
  clock_.advance(1);
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Tapi));
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Cti));
}

}  // namespace
