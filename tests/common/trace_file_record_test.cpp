#include "common/trace_file_record.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/printf_format.h"
#include "platform/root.h"

namespace {

const platform::SystemTime kTime{2024, 3, 4, 7, 14, 5, 9, 42};  // Thursday 07.03.2024 14:05:09,042
const std::u16string kPrefix = u"[07.03.24 14:05:09,042] ";
const std::u16string kIndent(24, u' ');

std::u16string Record(std::u16string_view message) { return ComposeTraceFileRecord(kTime, message); }

std::string Format(const char* format, ...) TK_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FormatTraceMessage(format, args);
  va_end(args);
  return message;
}

TEST(TraceTimePrefix, DayMonthTwoDigitYearAndTimeWithMillisecondsIn24Characters) {
  EXPECT_EQ(TraceTimePrefix(kTime), kPrefix);
  EXPECT_EQ(kPrefix.size(), kTracePrefixChars);
  EXPECT_EQ(TraceTimePrefix({2100, 12, 5, 31, 0, 0, 0, 999}), u"[31.12.00 00:00:00,999] ");
}

TEST(TraceFileRecord, ContinuationLinesAreIndentedUnderTheMessage) {
  EXPECT_EQ(Record(u"single"), kPrefix + u"single\r\n");
  EXPECT_EQ(Record(u"first\nsecond"), kPrefix + u"first\r\n" + kIndent + u"second\r\n");
  EXPECT_EQ(Record(u""), kPrefix + u"\r\n");
  EXPECT_EQ(ComposeTraceDebugCopy(u"first\nsecond"), u"first\r\nsecond\r\n");
}

TEST(TraceFileRecord, EachKindOfLineBreakIsOneBreakAndPairsAreNotMerged) {
  const std::u16string oneBreak = kPrefix + u"a\r\n" + kIndent + u"b\r\n";
  for (std::u16string_view message : {u"a\rb", u"a\nb", u"a\r\nb", u"a\n\rb"}) {
    EXPECT_EQ(Record(message), oneBreak) << std::string(message.begin(), message.end());
    EXPECT_EQ(ComposeTraceDebugCopy(message), u"a\r\nb\r\n");
  }
  const std::u16string twoBreaks = kPrefix + u"a\r\n" + kIndent + u"\r\n" + kIndent + u"b\r\n";
  for (std::u16string_view message : {u"a\r\rb", u"a\n\nb", u"a\r\n\r\nb", u"a\n\r\n\rb", u"a\r\n\nb"}) {
    EXPECT_EQ(Record(message), twoBreaks) << std::string(message.begin(), message.end());
    EXPECT_EQ(ComposeTraceDebugCopy(message), u"a\r\n\r\nb\r\n");
  }
  // A break at the end still leaves an (empty) indented line.
  EXPECT_EQ(Record(u"a\n"), kPrefix + u"a\r\n" + kIndent + u"\r\n");
}

TEST(TraceFileRecord, IsCutAt16384CharactersWithTheClosingLineEndKept) {
  std::u16string record = Record(std::u16string(20000, u'x'));
  ASSERT_EQ(record.size(), kTraceRecordMaxChars);
  EXPECT_EQ(record.substr(0, 24), kPrefix);
  EXPECT_EQ(record.find_first_not_of(u'x', 24), kTraceRecordMaxChars - 2);
  EXPECT_EQ(record.substr(record.size() - 2), u"\r\n");

  // Exactly as much text as fits is not cut.
  EXPECT_EQ(Record(std::u16string(16358, u'x')), kPrefix + std::u16string(16358, u'x') + u"\r\n");
}

TEST(TraceFileRecord, ABreakIsDroppedWhenFewerThan27CharactersRemain) {
  // 16382 characters before the closing CR LF. After the prefix and 16331
  // characters, 27 remain: the break (26) is written and one character fits.
  std::u16string record = Record(std::u16string(16331, u'x') + u"\nyz");
  EXPECT_EQ(record, kPrefix + std::u16string(16331, u'x') + u"\r\n" + kIndent + u"y\r\n");
  EXPECT_EQ(record.size(), kTraceRecordMaxChars);

  // One character more and only 26 remain: the break is dropped and the text
  // goes on in the same line.
  record = Record(std::u16string(16332, u'x') + u"\nyz");
  EXPECT_EQ(record, kPrefix + std::u16string(16332, u'x') + u"yz\r\n");

  // Later breaks are dropped too, while text still fills the rest.
  record = Record(std::u16string(16340, u'x') + u"\r\n1\n2\r3");
  EXPECT_EQ(record, kPrefix + std::u16string(16340, u'x') + u"123\r\n");
}

TEST(FormatTraceMessage, FormatsAnyLengthAndCutsAt16384Characters) {
  EXPECT_EQ(Format("%s return dwRequestID (0x%lx)", "TSPI_lineDrop()", 0x12ul),
            "TSPI_lineDrop() return dwRequestID (0x12)");
  std::string longer(3000, 'q');
  EXPECT_EQ(Format("<%s>", longer.c_str()), "<" + longer + ">");  // beyond the first buffer

  std::string tooLong(20000, 'a');
  EXPECT_EQ(Format("%s", tooLong.c_str()), std::string(16384, 'a'));

  // Characters, not bytes: 16383 + "é" (two bytes) fit, what follows does not.
  std::string text = std::string(16383, 'a') + "\xC3\xA9" + "b";
  EXPECT_EQ(Format("%s", text.c_str()), std::string(16383, 'a') + "\xC3\xA9");
  // A character that needs two UTF-16 units is not split at the end.
  text = std::string(16383, 'a') + "\xF0\x9F\x93\x9E";
  EXPECT_EQ(Format("%s", text.c_str()), std::string(16383, 'a'));
  text = std::string(16382, 'a') + "\xF0\x9F\x93\x9E" + "b";
  EXPECT_EQ(Format("%s", text.c_str()), std::string(16382, 'a') + "\xF0\x9F\x93\x9E");
}

TEST(TraceFilePath, AddsTheSeparatorOnlyWhenMissingAndTakesWindowsStyleFolders) {
  // In the platform's form: "/var/log/tk/KVARTAPI.LOG" on Linux, with backslashes on Windows.
  auto native = [](const char* path) { return platform::toNativePath(path); };
  EXPECT_EQ(TraceFilePath(u"/var/log/tk", TraceFile::Tapi), native("/var/log/tk/KVARTAPI.LOG"));
  EXPECT_EQ(TraceFilePath(u"/var/log/tk/", TraceFile::Cti), native("/var/log/tk/KVARVNL.LOG"));
  EXPECT_EQ(TraceFilePath(u"\\var\\log\\tk\\", TraceFile::Tapi), native("/var/log/tk/KVARTAPI.LOG"));
  EXPECT_EQ(TraceFilePath(u"\\var\\log\\tk", TraceFile::Cti), native("/var/log/tk/KVARVNL.LOG"));
  EXPECT_EQ(TraceFilePath(u"/", TraceFile::Tapi), native("/KVARTAPI.LOG"));
  EXPECT_EQ(TraceFilePath(u"", TraceFile::Tapi), "");
}

}  // namespace
