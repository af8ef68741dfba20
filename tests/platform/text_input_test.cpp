// Reading files people name and printing text that came from outside.
#include <gtest/gtest.h>

#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"

namespace {

using platform::printableText;
using platform::readWholeFileText;

TEST(PrintableText, EscapesControlsAndBrokenUtf8AndKeepsTheRest) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain ASCII", "plain ASCII"},
      {"Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\x9E", "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\x9E"},
      {"C:\\logs", "C:\\logs"},
      {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {"\x1B[2J\x07", "\\x1b[2J\\x07"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7F", "del\\x7f"},
      {"c1 \xC2\x9B", "c1 \\u009b"},                  // CSI as a C1 character
      {"lone \xFC byte", "lone \\xfc byte"},          // Latin-1, not UTF-8
      {"cut \xE2\x82", "cut \\xe2\\x82"},             // sequence cut short
      {"overlong \xC0\xAF", "overlong \\xc0\\xaf"},
      {"surrogate \xED\xA0\x80", "surrogate \\xed\\xa0\\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(printableText(c.in), c.out) << c.in;
}

TEST(ReadWholeFileText, ReadsFilesAndNamesWhatWentWrong) {
  const std::string root = tktest::currentRoot();
  const std::string file = root + "/script.txt";
  tktest::writeFile(file, std::string("line 1\n\0line 2", 14));
  std::string bytes, error;
  ASSERT_TRUE(readWholeFileText(file, &bytes, &error)) << error;
  EXPECT_EQ(bytes, std::string("line 1\n\0line 2", 14));

  const struct {
    std::string path;
    std::string message;
  } failures[] = {
      {root, "cannot read " + root + ": it is a folder, not a file"},
      {root + "/missing.txt", "cannot open " + root + "/missing.txt: No such file or directory"},
      {file + "/below", "cannot open " + file + "/below: Not a directory"},
      {"", "no file name given"},
  };
  EXPECT_FALSE(readWholeFileText("/dev/zero", &bytes, &error, 100000));
  EXPECT_EQ(error, "cannot read /dev/zero: it is larger than 100000 bytes, too large for a text file of this kind");
  EXPECT_EQ(bytes, "");
  EXPECT_TRUE(readWholeFileText(file, &bytes, &error, 14)) << error;  // exactly at the limit
  for (const auto& f : failures) {
    bytes = "stale";
    EXPECT_FALSE(readWholeFileText(f.path, &bytes, &error)) << f.path;
    EXPECT_EQ(error, f.message);
    EXPECT_EQ(bytes, "");
  }
}

}  // namespace
