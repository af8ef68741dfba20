#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

using platform::ansiToWide;
using platform::wideToAnsi;

TEST(CodePage, AnsiToWideMapsLatin1AndTheHighControlBlock) {
  // "Grüße €" in Windows-1252, with the euro sign at 0x80 and a curly quote at 0x93.
  std::string ansi = "Gr\xFC\xDF" "e \x80\x93";
  EXPECT_EQ(ansiToWide(ansi), u"Grüße €\u201C");
  // The five bytes Windows-1252 leaves undefined keep their number.
  EXPECT_EQ(ansiToWide("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
}

TEST(CodePage, WideToAnsiReplacesWhatTheCodePageCannotHold) {
  EXPECT_EQ(wideToAnsi(u"Grüße €"), "Gr\xFC\xDF" "e \x80");
  EXPECT_EQ(wideToAnsi(u"\u0100\u4E2D"), "??");
  // A character outside the basic plane is one character, so one '?'.
  EXPECT_EQ(wideToAnsi(u"a\U0001F600b"), "a?b");
  // A lone surrogate is unmappable, not a crash.
  std::u16string lone = u"x";
  lone += char16_t(0xD800);
  EXPECT_EQ(wideToAnsi(lone), "x?");
  // C1 controls other than the five undefined bytes have no place in the code page.
  EXPECT_EQ(wideToAnsi(u"\u0080"), "?");
}

TEST(CodePage, EveryAnsiByteSurvivesARoundTrip) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(wideToAnsi(ansiToWide(all)), all);
  EXPECT_EQ(platform::utf8ToAnsi(platform::ansiToUtf8(all)), all);
}

TEST(CodePage, Utf8ConversionsHandleMalformedInput) {
  EXPECT_EQ(platform::utf8ToWide("\xC3\xA4\xF0\x9F\x98\x80"), u"ä\U0001F600");
  EXPECT_EQ(platform::wideToUtf8(u"ä\U0001F600"), "\xC3\xA4\xF0\x9F\x98\x80");
  EXPECT_EQ(platform::utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(platform::utf8ToWide("\xE2\x82"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(platform::utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong '/'
  EXPECT_TRUE(platform::isValidUtf8("Grüße \xEF\xBF\xBD"));
  EXPECT_FALSE(platform::isValidUtf8("Gr\xFC\xDF" "e"));
}

}  // namespace
