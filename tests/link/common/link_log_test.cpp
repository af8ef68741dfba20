#include "link/common/link_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/common/link_log_line.h"
#include "platform/debug_output.h"
#include "platform/fake_clock.h"
#include "platform/module.h"
#include "platform/root.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace {

// Each case logs through a mask word of its own; the file exists only when
// the case creates it.
class LinkLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = platform::systemDir() + "/vnl2.log";
    platform::SystemTime t{};
    t.year = 2024, t.month = 3, t.day = 5, t.hour = 9, t.minute = 7, t.second = 3;
    clock_.setUtcTime(t);
    LinkLogSetClockForTest(&clock_);
    LinkLogSetProgramNameForTest("VNL2C64");
  }
  void TearDown() override {
    static uint32_t parked = 0;
    LinkLogSetup(&parked);
    LinkLogSetClockForTest(nullptr);
    LinkLogSetProgramNameForTest("");
    platform::setDebugOutputSink({});
  }
  void createLog() { tktest::writeFile(path_, ""); }
  std::string log() const { return tktest::readFile(path_); }

  std::string path_;
  uint32_t mask_ = 0;
  platform::FakeClock clock_;
};

// The lines of the log text; a trailing piece without "\r\n" counts as a line too.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST_F(LinkLogTest, WithoutTheFileNothingIsWrittenAndTheFileIsNeverCreated) {
  std::vector<std::string> debug;
  platform::setDebugOutputSink([&](std::string_view s) { debug.emplace_back(s); });
  LinkLogSetup(&mask_);
  EXPECT_EQ(mask_, 0u);
  LinkLog(kLogError, "lost");
  LinkLogHexDump(kLogError, "Received:", reinterpret_cast<const uint8_t*>("ab"), 2);
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_TRUE(debug.empty());
}

TEST_F(LinkLogTest, WithTheFileErrorsWarningsAndTraceAreWrittenButNotDetail) {
  createLog();
  std::vector<std::string> debug;
  platform::setDebugOutputSink([&](std::string_view s) { debug.emplace_back(s); });
  LinkLogSetup(&mask_);
  EXPECT_EQ(mask_, kLinkLogMask);
  EXPECT_EQ(LinkLogMask(), kLinkLogMask);
  LinkLog(kLogError, "e%d", 1);
  LinkLog(kLogWarning, "w%s", "2");
  LinkLog(kLogDetail, "detail");
  LinkLog(kLogTrace, " - Process_Attach");
  const std::string expected =
      "[05.03.24 09:07:03] VNL2C64: e1\r\n"
      "[05.03.24 09:07:03] VNL2C64: w2\r\n"
      "[05.03.24 09:07:03] VNL2C64:  - Process_Attach\r\n";
  EXPECT_EQ(log(), expected);
  ASSERT_EQ(debug.size(), 3u);
  EXPECT_EQ(debug[0] + debug[1] + debug[2], expected);
}

TEST_F(LinkLogTest, LinesCarryLocalTimeAndCutLongMessages) {
  createLog();
  LinkLogSetup(&mask_);
  platform::SystemTime utc{};
  utc.year = 2009, utc.month = 12, utc.day = 31, utc.hour = 23, utc.minute = 59, utc.second = 58;
  clock_.setUtcTime(utc);
  clock_.setUtcOffsetMinutes(60);
  LinkLog(kLogError, "%s|", std::string(2000, 'x').c_str());
  EXPECT_EQ(log(), "[01.01.10 00:59:58] VNL2C64: " + std::string(1024, 'x') + "\r\n");
}

TEST_F(LinkLogTest, ProgramNameIsTheFileNameWithoutFolderAndExtension) {
  EXPECT_EQ(ProgramNameFromPath("/opt/tk/bin/VNL2C64.EXE"), "VNL2C64");
  EXPECT_EQ(ProgramNameFromPath("C:\\WINDOWS\\system32\\vnl2c64.exe"), "vnl2c64");
  EXPECT_EQ(ProgramNameFromPath("/usr/lib/tk.d/vnl2c64"), "vnl2c64");
  EXPECT_EQ(ProgramNameFromPath("tkphone"), "tkphone");

  createLog();
  LinkLogSetProgramNameForTest("");
  LinkLogSetup(&mask_);
  LinkLog(kLogError, "who");
  EXPECT_EQ(log(), "[05.03.24 09:07:03] link_common_tests: who\r\n");
}

TEST_F(LinkLogTest, DeletingTheFileStopsLoggingAndANewFileServesLaterStarts) {
  createLog();
  LinkLogSetup(&mask_);
  std::filesystem::remove(path_);
  LinkLog(kLogError, "dropped");
  EXPECT_FALSE(std::filesystem::exists(path_));

  uint32_t laterProgram = 0;
  LinkLogSetup(&laterProgram);
  EXPECT_EQ(laterProgram, 0u);
  createLog();
  LinkLog(kLogError, "not on yet");
  EXPECT_EQ(log(), "");
  LinkLogSetup(&laterProgram);
  EXPECT_EQ(laterProgram, kLinkLogMask);
  LinkLog(kLogError, "on");
  EXPECT_EQ(log(), "[05.03.24 09:07:03] VNL2C64: on\r\n");
}

TEST_F(LinkLogTest, ASharedMaskWordServesEveryModuleThatUsesIt) {
  using SetupFn = void (*)(uint32_t*);
  using MaskFn = uint32_t (*)();
  using LogFn = void (*)(uint32_t, const char*);
  platform::ModuleHandle probe = platform::loadLibrary("TKLINKLOGPROBE.DLL");
  ASSERT_NE(probe, nullptr) << platform::lastModuleError();
  auto probeSetup = reinterpret_cast<SetupFn>(platform::getProcAddress(probe, "ProbeLinkLogSetup"));
  auto probeMask = reinterpret_cast<MaskFn>(platform::getProcAddress(probe, "ProbeLinkLogMask"));
  auto probeLog = reinterpret_cast<LogFn>(platform::getProcAddress(probe, "ProbeLinkLog"));
  ASSERT_TRUE(probeSetup && probeMask && probeLog);

  createLog();
  uint32_t shared = 0;
  LinkLogSetup(&shared);
  ASSERT_EQ(shared, kLinkLogMask);
  std::filesystem::remove(path_);

  // The probe's own word was never set: its copy of the log is separate.
  probeSetup(nullptr);
  EXPECT_EQ(probeMask(), 0u);
  // Through the shared word it is on although it did not find the file itself.
  probeSetup(&shared);
  EXPECT_EQ(probeMask(), kLinkLogMask);
  createLog();
  probeLog(kLogTrace, "from the probe");
  std::string written = log();
  const std::string tail = "] PROBE: from the probe\r\n";  // the probe stamps with the real clock
  ASSERT_EQ(written.size(), 20 + tail.size() - 2) << written;
  EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
  // A change of the shared word by anyone is seen at once.
  shared = 0;
  EXPECT_EQ(probeMask(), 0u);
  probeLog(kLogError, "off");
  EXPECT_EQ(log(), written);
  EXPECT_TRUE(platform::freeLibrary(probe));
}

TEST_F(LinkLogTest, ConcurrentWritersKeepEveryLineWhole) {
  createLog();
  LinkLogSetProgramNameForTest("MT");
  LinkLogSetup(&mask_);
  constexpr int kThreads = 8, kLinesPerThread = 400, kChildren = 2, kLinesPerChild = 600;

  std::vector<tktest::ChildProcess> children(kChildren);
  for (int c = 0; c < kChildren; ++c)
    ASSERT_TRUE(children[c].start(TK_LINK_LOG_CHILD, {"child" + std::to_string(c), std::to_string(kLinesPerChild)}));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLinesPerThread; ++i) {
        // Lengths up to the message limit, so some writes are large.
        std::string pad((i * 37 + t * 101) % 1000, static_cast<char>('a' + t));
        LinkLog(kLogTrace, "thread%d %d %s", t, i, pad.c_str());
      }
    });
  }
  for (auto& th : threads) th.join();
  for (auto& child : children) {
    EXPECT_EQ(child.readLine(), "done");
    EXPECT_EQ(child.wait(), 0);
  }

  std::set<std::string> seen;
  for (const std::string& line : splitLines(log())) {
    ASSERT_GT(line.size(), 20u);
    std::string body = line.substr(20);
    int n = -1, t = -1, i = -1, used = 0;
    if (std::sscanf(body.c_str(), "CHILD: child%d %d%n", &n, &i, &used) == 2 && used == int(body.size())) {
      seen.insert("c" + std::to_string(n) + " " + std::to_string(i));
    } else if (std::sscanf(body.c_str(), "MT: thread%d %d %n", &t, &i, &used) == 2) {
      std::string pad((i * 37 + t * 101) % 1000, static_cast<char>('a' + t));
      ASSERT_EQ(body.substr(static_cast<size_t>(used)), pad) << "thread " << t << " line " << i;
      seen.insert("t" + std::to_string(t) + " " + std::to_string(i));
    } else {
      FAIL() << "mixed line: " << line.substr(0, 200);
    }
  }
  EXPECT_EQ(seen.size(), size_t(kThreads * kLinesPerThread + kChildren * kLinesPerChild));
  EXPECT_EQ(splitLines(log()).size(), seen.size());
}

TEST_F(LinkLogTest, HexDumpBreaksAfterTheSeventeenthByteAndEverySixteenMore) {
  createLog();
  LinkLogSetup(&mask_);
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  LinkLogHexDump(kLogDetail, "Received:", bytes.data(), bytes.size());
  LinkLogHexDump(kLogTrace, "Received:", bytes.data(), bytes.size());
  EXPECT_EQ(log(),
            "[05.03.24 09:07:03] VNL2C64: Received:\r\n"
            "00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69 70 \r\n"
            ">>77 7E 85 8C 93 9A A1 A8 AF B6 BD C4 CB D2 D9 E0 \r\n"
            ">>E7 EE F5 FC 03 0A 11 \r\n");
}

TEST_F(LinkLogTest, HexDumpStopsOnceTheTextPasses2040Characters) {
  createLog();
  LinkLogSetup(&mask_);
  std::vector<uint8_t> bytes(1000, 0xAB);
  LinkLogHexDump(kLogError, "SendConnection():", bytes.data(), bytes.size());
  std::string text = log();
  const std::string head = "[05.03.24 09:07:03] VNL2C64: ";
  ASSERT_EQ(text.substr(0, head.size()), head);
  std::string message = text.substr(head.size(), text.size() - head.size() - 2);
  // 19 characters of title, 624 bytes of 3 and 38 breaks of 4: the text was
  // exactly 2040 before the last byte, which is still added.
  EXPECT_EQ(message.size(), 2043u);
  size_t count = 0;
  for (size_t pos = 0; (pos = message.find("AB ", pos)) != std::string::npos; pos += 3) ++count;
  EXPECT_EQ(count, 624u);
  EXPECT_EQ(text.substr(text.size() - 5), "AB \r\n");
}

}  // namespace
