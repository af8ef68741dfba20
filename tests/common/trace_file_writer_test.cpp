#include "common/trace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/trace_file_record.h"
#include "platform/debug_output.h"
#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/thread.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"

namespace {

void Seed(const std::string& values) { ASSERT_TRUE(tktest::regSeed(std::string(tktest::kRegLoggingKey) + values)); }
std::string Switches(int tapi, int cti) { return tktest::regDword("LogTapi", tapi) + tktest::regDword("LogCTI", cti); }
std::string LogPath(const std::string& folder) { return tktest::regSz("LogPath", folder); }

class TraceFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = tktest::currentRoot() + "/logs";
    platform::ensureDirectory(folder_);
    // 2024-01-01 01:02:03,045 UTC; the prefix takes the local time, an hour later.
    clock_.setUtcOffsetMinutes(60);
    clock_.advance(3723045);
    platform::setDebugOutputSink([this](std::string_view text) {
      std::lock_guard lock(m_);
      debug_ += text;
    });
  }
  void TearDown() override { platform::setDebugOutputSink({}); }

  std::string TapiLog() const { return tktest::readFile(folder_ + "/KVARTAPI.LOG"); }
  std::string CtiLog() const { return tktest::readFile(folder_ + "/KVARVNL.LOG"); }
  bool NoFileIn(const std::string& folder) const { return std::filesystem::is_empty(folder); }
  std::string Debug() {
    std::lock_guard lock(m_);
    return debug_;
  }

  std::string folder_;
  platform::FakeClock clock_;
  std::mutex m_;
  std::string debug_;
};

const std::string kIndent(24, ' ');

TEST_F(TraceFileWriterTest, WritesTheRecordToTheFileAndTheMessageToTheDebugger) {
  Seed(Switches(1, 0) + LogPath(folder_));
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "TSPI_lineDrop\n  (\n  hdCall = 0x%zx\n  )", size_t{0x5});
  writer.Printf(TraceFile::Tapi, "TSPI_lineDrop() return %s", "SUCCESS");
  EXPECT_EQ(TapiLog(), "[01.01.24 02:02:03,045] TSPI_lineDrop\r\n" + kIndent + "  (\r\n" + kIndent +
                           "  hdCall = 0x5\r\n" + kIndent + "  )\r\n" +
                           "[01.01.24 02:02:03,045] TSPI_lineDrop() return SUCCESS\r\n");
  EXPECT_EQ(Debug(), "TSPI_lineDrop\r\n  (\r\n  hdCall = 0x5\r\n  )\r\nTSPI_lineDrop() return SUCCESS\r\n");
}

TEST_F(TraceFileWriterTest, RecordsAreConvertedToTheAnsiCodePage) {
  Seed(Switches(1, 0) + LogPath(folder_));
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "%s", "B\xC3\xBCro \xE2\x82\xAC \xE2\x98\x8E");  // "Büro € ☎"
  EXPECT_EQ(TapiLog(), "[01.01.24 02:02:03,045] B\xFCro \x80 ?\r\n");
  EXPECT_EQ(Debug(), "B\xC3\xBCro \xE2\x82\xAC \xE2\x98\x8E\r\n");  // the debugger gets every character
}

TEST_F(TraceFileWriterTest, EachLogGoesToItsOwnFileUnderItsOwnSwitch) {
  Seed(Switches(0, 1) + LogPath(folder_));
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "tapi 1");
  writer.Printf(TraceFile::Cti, "vnl 1");
  Seed(Switches(1, 1));
  writer.Printf(TraceFile::Tapi, "tapi 2");
  writer.Printf(TraceFile::Cti, "vnl 2");
  EXPECT_EQ(TapiLog(), "[01.01.24 02:02:03,045] tapi 2\r\n");
  EXPECT_EQ(CtiLog(), "[01.01.24 02:02:03,045] vnl 1\r\n[01.01.24 02:02:03,045] vnl 2\r\n");
}

TEST_F(TraceFileWriterTest, TheSwitchIsReadAtEveryRecord) {
  Seed(LogPath(folder_));
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "off by default");
  EXPECT_TRUE(NoFileIn(folder_));
  Seed(Switches(2, 0));  // any nonzero value is on
  writer.Printf(TraceFile::Tapi, "on");
  clock_.advance(1);
  Seed(Switches(0, 0));
  writer.Printf(TraceFile::Tapi, "off again");
  Seed(Switches(1, 0));
  writer.Printf(TraceFile::Tapi, "on again");
  EXPECT_EQ(TapiLog(), "[01.01.24 02:02:03,045] on\r\n[01.01.24 02:02:03,046] on again\r\n");
  EXPECT_EQ(Debug(), "on\r\non again\r\n");

  // Only a four-byte DWORD counts.
  Seed("\"LogTapi\"=\"1\"\n");
  writer.Printf(TraceFile::Tapi, "text switch");
  Seed("\"LogTapi\"=hex(4):01,00\n");
  writer.Printf(TraceFile::Tapi, "short switch");
  EXPECT_EQ(Debug(), "on\r\non again\r\n");
}

TEST_F(TraceFileWriterTest, WithoutALogPathNothingIsWrittenNotEvenToTheDebugger) {
  Seed(Switches(1, 1));
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "no folder");
  Seed(LogPath(""));
  writer.Printf(TraceFile::Tapi, "empty folder");
  writer.Printf(TraceFile::Cti, "empty folder");
  EXPECT_TRUE(NoFileIn(folder_));
  EXPECT_EQ(Debug(), "");

  // A folder that does not exist: the file cannot be opened, nothing is written.
  Seed(LogPath(folder_ + "/missing"));
  writer.Printf(TraceFile::Tapi, "missing folder");
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/missing"));
  EXPECT_EQ(Debug(), "");
}

TEST_F(TraceFileWriterTest, AWindowsStyleLogPathAndAnExistingFileAreAppendedTo) {
  std::string windowsStyle = folder_;
  for (char& c : windowsStyle) {
    if (c == '/') c = '\\';
  }
  // In .reg text a backslash is written twice.
  std::string escaped;
  for (char c : windowsStyle + "\\") escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  Seed(Switches(1, 0) + "\"LogPath\"=\"" + escaped + "\"\n");
  tktest::writeFile(folder_ + "/KVARTAPI.LOG", "earlier\r\n");
  TraceFileWriter writer(clock_);
  writer.Printf(TraceFile::Tapi, "later");
  EXPECT_EQ(TapiLog(), "earlier\r\n[01.01.24 02:02:03,045] later\r\n");
}

TEST_F(TraceFileWriterTest, RecordsOfManyThreadsNeverInterleave) {
  Seed(Switches(1, 0) + LogPath(folder_));
  constexpr int kThreads = 4, kRecords = 25;
  // Records far larger than a stdio buffer, so that each takes several writes.
  std::vector<std::string> bodies;
  for (int t = 0; t < kThreads; ++t) bodies.push_back(std::string(12000, static_cast<char>('a' + t)));
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(std::make_unique<platform::Thread>());
    threads.back()->start([&, t] {
      TraceFileWriter writer(clock_);  // each its own writer: the named mutex is what they share
      for (int i = 0; i < kRecords; ++i) writer.Printf(TraceFile::Tapi, "%s", bodies[t].c_str());
    });
  }
  for (auto& thread : threads) ASSERT_TRUE(thread->join(30000));

  std::string log = TapiLog();
  const size_t recordSize = 24 + 12000 + 2;
  ASSERT_EQ(log.size(), recordSize * kThreads * kRecords);
  int perThread[kThreads] = {};
  for (size_t at = 0; at < log.size(); at += recordSize) {
    std::string record = log.substr(at, recordSize);
    int t = record[24] - 'a';
    ASSERT_TRUE(t >= 0 && t < kThreads) << "at " << at;
    EXPECT_TRUE(record == "[01.01.24 02:02:03,045] " + bodies[t] + "\r\n") << "record at " << at;
    ++perThread[t];
  }
  for (int count : perThread) EXPECT_EQ(count, kRecords);
}

TEST(TraceSettings, LogPathIsCutTo260CharactersAndMissingValuesReadAsDefaults) {
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Tapi));
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Cti));
  EXPECT_EQ(TraceFolder(), u"");
  Seed(LogPath(std::string(300, 'p')) + "\"LogCTI\"=dword:ffffffff\n");
  EXPECT_EQ(TraceFolder(), std::u16string(260, u'p'));
  EXPECT_TRUE(TraceSwitchOn(TraceFile::Cti));
  EXPECT_FALSE(TraceSwitchOn(TraceFile::Tapi));
  Seed("\"LogPath\"=dword:00000001\n");
  EXPECT_EQ(TraceFolder(), u"");
}

}  // namespace
