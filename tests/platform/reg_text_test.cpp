#include "platform/reg_text.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/codepage.h"
#include "platform/reg_types.h"
#include "tests/support/registry_helpers.h"

namespace {

using platform::RegKey;
using platform::RegRoot;
using tktest::Bytes;
using tktest::utf16z;

// Parses text and applies it to an empty tree of root.
RegKey treeOf(std::string_view text, RegRoot root = RegRoot::LocalMachine) {
  auto parsed = platform::parseRegText(text, "test.reg");
  EXPECT_EQ(parsed.error, "");
  RegKey tree;
  platform::applyRegText(parsed.document, root, tree);
  return tree;
}

const platform::RegValue& valueAt(const RegKey& tree, std::vector<std::u16string> path, std::u16string_view name) {
  const RegKey* key = tree.find(path);
  if (!key) throw std::runtime_error("missing key");
  const platform::RegValue* value = key->findValue(name);
  if (!value) throw std::runtime_error("missing value");
  return *value;
}

std::string errorOf(std::string_view text) { return platform::parseRegText(text, "HKEY_LOCAL_MACHINE.reg").error; }

TEST(RegTextParse, ReadsEveryKindOfValue) {
  RegKey tree = treeOf(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Test]\n"
      "@=\"default\"\n"
      "\"Sz\"=\"C:\\\\dir\\\\ \\\"quoted\\\"\"\n"
      "\"Empty\"=\"\"\n"
      "\"Dw\"=dword:0000000a\n"
      "\"Short\"=DWORD:fF\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"NoBytes\"=hex:\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,80\n"
      "\"Exp\"=hex(2):25,00,00,00\n"
      "\"None\"=hex(0):00\n"
      "\"Big\"=hex(12345678):aa\n"
      "\"Spaced\" = hex: 01 , 02 \n");
  auto at = [&](std::u16string_view name) { return valueAt(tree, {u"Software", u"Test"}, name); };
  EXPECT_EQ(at(u"").data, utf16z(u"default"));
  EXPECT_EQ(at(u"Sz").type, platform::kRegSz);
  EXPECT_EQ(at(u"Sz").data, utf16z(u"C:\\dir\\ \"quoted\""));
  EXPECT_EQ(at(u"Empty").data, utf16z(u""));
  EXPECT_EQ(at(u"Dw").type, platform::kRegDword);
  EXPECT_EQ(at(u"Dw").data, (Bytes{10, 0, 0, 0}));
  EXPECT_EQ(at(u"Short").data, (Bytes{0xff, 0, 0, 0}));
  EXPECT_EQ(at(u"Bin").type, platform::kRegBinary);
  EXPECT_EQ(at(u"Bin").data, (Bytes{1, 2, 0xff}));
  EXPECT_EQ(at(u"NoBytes").data, Bytes{});
  EXPECT_EQ(at(u"Q").type, platform::kRegQword);
  EXPECT_EQ(at(u"Q").data, (Bytes{1, 0, 0, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(at(u"Exp").type, platform::kRegExpandSz);
  EXPECT_EQ(at(u"None").type, platform::kRegNone);
  EXPECT_EQ(at(u"Big").type, 0x12345678u);
  EXPECT_EQ(at(u"Spaced").data, (Bytes{1, 2}));
}

TEST(RegTextParse, JoinsContinuationLinesWithEitherLineEnd) {
  for (std::string eol : {"\n", "\r\n"}) {
    std::string text = "Windows Registry Editor Version 5.00" + eol + eol + "[HKEY_LOCAL_MACHINE\\K]" + eol +
                       "\"Wrapped\"=hex:00,01,\\" + eol + "  02,03,\\" + eol + "  04" + eol +
                       "\"StartsWrapped\"=hex(7):\\" + eol + "  41,00,00,00" + eol + "\"After\"=dword:00000001" + eol;
    RegKey tree = treeOf(text);
    EXPECT_EQ(valueAt(tree, {u"K"}, u"Wrapped").data, (Bytes{0, 1, 2, 3, 4})) << "eol size " << eol.size();
    EXPECT_EQ(valueAt(tree, {u"K"}, u"StartsWrapped").data, (Bytes{0x41, 0, 0, 0}));
    EXPECT_EQ(valueAt(tree, {u"K"}, u"After").data, (Bytes{1, 0, 0, 0}));
    // No line end characters get into names or text.
    EXPECT_EQ(tree.find({u"K"})->values.size(), 3u);
  }
}

TEST(RegTextParse, SkipsCommentsAndBlankLines) {
  RegKey tree = treeOf(
      "Windows Registry Editor Version 5.00\n"
      "; a comment before any key\n"
      "\n\n"
      "[HKEY_LOCAL_MACHINE\\A]\n"
      "   ; an indented comment\n"
      "\t\n"
      "\"v\"=\"x;y\"\n"
      "[hkey_local_machine\\a\\B]\n");
  EXPECT_EQ(valueAt(tree, {u"A"}, u"v").data, utf16z(u"x;y"));
  ASSERT_NE(tree.find({u"A", u"B"}), nullptr);
  EXPECT_EQ(tree.find({u"A"})->name, u"A");
}

TEST(RegTextParse, DecodesUtf8WithOrWithoutBomAndUtf16WithBom) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Grüße]\r\n\"Wörter\"=\"äöüß €\"\r\n";
  std::string utf8 = platform::wideToUtf8(text);
  Bytes utf16 = platform::utf16LeBytes(text);
  std::string utf16Bytes = "\xFF\xFE" + std::string(utf16.begin(), utf16.end());
  for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8, utf16Bytes}) {
    RegKey tree = treeOf(bytes, RegRoot::CurrentUser);
    EXPECT_EQ(valueAt(tree, {u"GRÜßE"}, u"WÖRTER").data, utf16z(u"äöüß €"));
    EXPECT_EQ(tree.subkeys.at(0).name, u"Grüße");
  }
  EXPECT_NE(errorOf("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"\xFC\"\n"), "");
}

TEST(RegTextParse, ReadsRegedit4AsWindows1252) {
  RegKey tree = treeOf(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\M\xFCller]\r\n"
      "\"Stra\xDF" "e\"=\"Gr\xFC\xDF" "e \x80\"\r\n"
      "\"Path\"=hex(2):25,41,e4,00\r\n"
      "\"Bin\"=hex:e4\r\n");
  EXPECT_EQ(valueAt(tree, {u"Software", u"Müller"}, u"Straße").data, utf16z(u"Grüße €"));
  // String types given as hex hold ANSI bytes in REGEDIT4; the store keeps UTF-16.
  EXPECT_EQ(valueAt(tree, {u"Software", u"Müller"}, u"Path").data, utf16z(u"%Aä"));
  EXPECT_EQ(valueAt(tree, {u"Software", u"Müller"}, u"Bin").data, Bytes{0xe4});
}

TEST(RegTextParse, AppliesKeyAndValueDeletions) {
  RegKey tree = treeOf(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Keep]\n\"a\"=dword:00000001\n\"b\"=dword:00000002\n"
      "[HKEY_LOCAL_MACHINE\\Gone\\Child]\n\"c\"=\"x\"\n");
  auto parsed = platform::parseRegText(
      "Windows Registry Editor Version 5.00\n\n"
      "[-HKEY_LOCAL_MACHINE\\Gone]\n"
      "[-HKEY_LOCAL_MACHINE\\Never\\There]\n"
      "[HKEY_LOCAL_MACHINE\\Keep]\n\"A\"=-\n\"missing\"=-\n"
      "[HKEY_CURRENT_USER\\Other]\n\"b\"=-\n",
      "import.reg");
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(platform::applyRegText(parsed.document, RegRoot::LocalMachine, tree));
  EXPECT_EQ(tree.find({u"Gone"}), nullptr);
  ASSERT_NE(tree.find({u"Keep"}), nullptr);
  ASSERT_EQ(tree.find({u"Keep"})->values.size(), 1u);
  EXPECT_EQ(tree.find({u"Keep"})->values[0].name, u"b");  // the other root's section did not apply
  // Applying again changes nothing.
  EXPECT_FALSE(platform::applyRegText(parsed.document, RegRoot::LocalMachine, tree));
}

TEST(RegTextParse, ReportsSyntaxErrorsWithSourceAndLine) {
  const std::string h = "Windows Registry Editor Version 5.00\n\n";
  struct Case {
    std::string text;
    int line;
    std::string what;
  };
  const std::vector<Case> cases = {
      {"REGEDIT5\n", 1, "expected the header"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:1\nthis is no value\n", 5, "expected \"Name\"=value"},
      {h + "\"a\"=\"x\"\n", 3, "a value must follow a [KEY] line"},
      {h + "garbage\n", 3, "expected [KEY]"},
      {h + "[HKEY_USERS\\K]\n", 3, "unknown root key \"HKEY_USERS\""},
      {h + "[HKEY_LOCAL_MACHINE\\K\n", 3, "expected \"]\""},
      {h + "[HKEY_LOCAL_MACHINE\\K\\\\L]\n", 3, "empty key name"},
      {h + "[-HKEY_LOCAL_MACHINE]\n", 3, "a root key cannot be deleted"},
      {h + "[-HKEY_LOCAL_MACHINE\\K]\n\"a\"=-\n", 4, "a deleted key cannot have values"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:123456789\n", 4, "dword:"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:\n", 4, "dword:"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:01,2g\n", 4, "expected hex bytes"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:01,,02\n", 4, "expected hex bytes"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex(z):01\n", 4, "hex(N):"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=hex:01,\\", 4, "continuation"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"open\n", 4, "missing closing quote"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"x\\n\"\n", 4, "backslash"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"x\" junk\n", 4, "after the closing quote"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\" \"x\"\n", 4, "expected \"Name\"=value"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=yes\n", 4, "unknown value data"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\n\"a\"=\"\xC3\"\n", 5, "not valid UTF-8"},
      {"\xFE\xFFW\0", 1, "UTF-16 big-endian"},
      // Limits, checked before anything is built.
      {h + "[HKEY_LOCAL_MACHINE\\" + tktest::regPathOfDepth(513) + "]\n", 3, "513 levels deep; at most 512 are allowed"},
      {h + "[HKEY_LOCAL_MACHINE\\" + tktest::regPathOfDepth(30000) + "]\n", 3, "59999 characters long; at most 32767"},
      {h + "[-HKEY_LOCAL_MACHINE\\" + std::string(256, 'n') + "]\n", 3, "256 characters long; at most 255"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"" + std::string(16384, 'v') + "\"=-\n", 4,
       "16384 characters long; at most 16383"},
      // Names that cannot be created cannot be imported either.
      {h + "[HKEY_LOCAL_MACHINE\\a\tb]\n", 3, "the key name \"a\\tb\" holds a control character"},
      {h + "[-HKEY_LOCAL_MACHINE\\K\\a\x1b[31m]\n", 3, "the key name \"a\\x1b[31m\" holds a control character"},
      {h + "[HKEY_LOCAL_MACHINE\\K]\n\"a" + std::string(1, '\0') + "b\"=dword:1\n", 4,
       "the value name \"a\\x00b\" holds a control character"},
  };
  for (const Case& c : cases) {
    std::string error = errorOf(c.text);
    std::string where = "HKEY_LOCAL_MACHINE.reg:" + std::to_string(c.line) + ": ";
    EXPECT_EQ(error.rfind(where, 0), 0u) << "for:\n" << c.text << "got: " << error;
    EXPECT_NE(error.find(c.what), std::string::npos) << "for:\n" << c.text << "got: " << error;
  }
  // An error leaves no half-parsed document behind.
  EXPECT_TRUE(platform::parseRegText(cases[1].text, "x").document.sections.empty());
}

TEST(RegTextParse, StoreFilesKeepNamesWithControlCharactersButNotBeyondTheLimits) {
  const std::string h = "Windows Registry Editor Version 5.00\n\n";
  // Earlier versions imported such names into the store.
  const std::string old = h + "[HKEY_CURRENT_USER\\a\x01" "b]\n\"tab\there\"=dword:00000001\n\"nul" +
                          std::string(1, '\0') + "\"=\"x\"\n";
  EXPECT_NE(platform::parseRegText(old, "x.reg").error.find("x.reg:3: the key name"), std::string::npos);
  auto stored = platform::parseRegStoreText(old, "HKEY_CURRENT_USER.reg");
  ASSERT_EQ(stored.error, "");
  RegKey tree;
  platform::applyRegText(stored.document, RegRoot::CurrentUser, tree);
  ASSERT_NE(tree.find({u"a\x01" u"b"}), nullptr);
  // Written back unchanged.
  std::string written = platform::writeRegText(tree, RegRoot::CurrentUser);
  EXPECT_NE(written.find(old.substr(h.size())), std::string::npos) << written;

  // The limits hold for the store as for an import; exactly at them is fine.
  std::u16string lone = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\x";
  lone += char16_t(0xD800);
  lone += u"]\r\n";
  const Bytes loneBytes = platform::utf16LeBytes(lone);
  for (auto parse : {platform::parseRegText, platform::parseRegStoreText}) {
    EXPECT_NE(parse(h + "[HKEY_CURRENT_USER\\" + tktest::regPathOfDepth(513) + "]\n", "s.reg").error.find("s.reg:3: "),
              std::string::npos);
    EXPECT_NE(parse("\xFF\xFE" + std::string(loneBytes.begin(), loneBytes.end()), "s.reg").error.find("unpaired"),
              std::string::npos);
    EXPECT_EQ(parse(h + "[HKEY_CURRENT_USER\\" + tktest::regPathOfDepth(511) + "\\" + std::string(255, 'n') + "]\n\"" +
                        std::string(16383, 'v') + "\"=dword:1\n",
                    "s.reg")
                  .error,
              "");
  }
}

TEST(RegTextWrite, ForWindowsIsUtf16WithByteOrderMarkAndCrLf) {
  EXPECT_EQ(platform::regTextForWindows("A\n\xE2\x82\xAC\n"),
            std::string("\xFF\xFE" "A\0\r\0\n\0\xAC\x20\r\0\n\0", 14));
}

TEST(RegTextParse, EmptyTextIsAnEmptyDocument) {
  for (std::string text : {"", "\n\n", "\xEF\xBB\xBF", "Windows Registry Editor Version 5.00\n"}) {
    auto parsed = platform::parseRegText(text, "x.reg");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.document.sections.empty());
  }
}

TEST(RegTextWrite, WritesTheRegeditLayout) {
  RegKey tree;
  RegKey& test = tree.ensureSubkey(u"Software").ensureSubkey(u"zeta").ensureSubkey(u"Test");
  test.setValue(u"", platform::kRegSz, utf16z(u"default"));
  test.setValue(u"Path", platform::kRegSz, utf16z(u"C:\\a \"b\""));
  test.setValue(u"Count", platform::kRegDword, {0x0a, 0, 0, 0});
  test.setValue(u"Bin", platform::kRegBinary, {0x01, 0xab});
  test.setValue(u"Q", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  tree.find({u"Software"})->ensureSubkey(u"Alpha");
  EXPECT_EQ(platform::writeRegText(tree, RegRoot::LocalMachine),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\zeta]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\zeta\\Test]\n"
            "@=\"default\"\n"
            "\"Path\"=\"C:\\\\a \\\"b\\\"\"\n"
            "\"Count\"=dword:0000000a\n"
            "\"Bin\"=hex:01,ab\n"
            "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
            "\n");
}

TEST(RegTextWrite, WrapsLongHexListsLikeRegedit) {
  RegKey tree;
  Bytes data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i * 7));
  tree.ensureSubkey(u"K").setValue(u"Blob", platform::kRegBinary, data);
  tree.ensureSubkey(u"K").setValue(std::u16string(100, u'n'), platform::kRegBinary, data);
  std::string text = platform::writeRegText(tree, RegRoot::LocalMachine);

  int continued = 0;
  bool previousContinues = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with("\"" + std::string(100, 'n'))) {
      EXPECT_EQ(line.back(), '\\');  // a name too long for any byte wraps at once
    } else {
      EXPECT_LE(line.size(), 80u) << line;
    }
    if (previousContinues) {
      EXPECT_TRUE(line.starts_with("  ") && !line.starts_with("   ")) << line;
      ++continued;
    }
    previousContinues = !line.empty() && line.back() == '\\';
  }
  EXPECT_GT(continued, 2 * 300 * 3 / 80 - 2);
  EXPECT_EQ(treeOf(text), tree);
}

TEST(RegTextWrite, WritesRegSzThatIsNotPlainTextAsHexSoEveryByteSurvives) {
  auto wide = [](std::u16string_view text) { return platform::utf16LeBytes(text); };
  std::u16string lone = u"a";
  lone += char16_t(0xDC00);
  lone += u'\0';
  const std::vector<Bytes> awkward = {
      wide(u"115200"),                  // no terminator
      wide(std::u16string(u"9600\0\0", 6)),  // padded with zeros
      wide(std::u16string(u"A\0B\0", 4)),    // an embedded zero
      wide(std::u16string(u"line1\r\nline2\0", 13)),
      wide(lone),
      {0x41, 0x00, 0x42},  // odd length
      {},
  };
  for (const Bytes& data : awkward) {
    RegKey tree;
    tree.ensureSubkey(u"K").setValue(u"v", platform::kRegSz, data);
    std::string text = platform::writeRegText(tree, RegRoot::CurrentUser);
    EXPECT_NE(text.find("\"v\"=hex(1):"), std::string::npos) << text;
    EXPECT_EQ(treeOf(text, RegRoot::CurrentUser), tree) << text;
  }
  // Plain text with one terminator is written in quotes.
  RegKey tree;
  tree.ensureSubkey(u"K").setValue(u"v", platform::kRegSz, utf16z(u"Grüße\t€ \U0001F600"));
  std::string text = platform::writeRegText(tree, RegRoot::CurrentUser);
  EXPECT_NE(text.find("\"v\"=\"Grüße\t€ \U0001F600\"\n"), std::string::npos) << text;
  EXPECT_EQ(treeOf(text, RegRoot::CurrentUser), tree);
  // So is a DWORD of four bytes; one of another size is kept as it is.
  tree.ensureSubkey(u"K").setValue(u"d", platform::kRegDword, {1, 2});
  text = platform::writeRegText(tree, RegRoot::CurrentUser);
  EXPECT_NE(text.find("\"d\"=hex(4):01,02\n"), std::string::npos) << text;
  EXPECT_EQ(treeOf(text, RegRoot::CurrentUser), tree);
}

TEST(RegTextWrite, RandomTreesSurviveAWriteAndParse) {
  std::mt19937 random(20240607);
  const std::vector<std::u16string> names = {u"Alpha", u"beta", u"Grüße", u"€uro", u"a\\b", u"q\"uote",
                                             u"x y",   u"ÄÖÜ",  u"[br]",  u"@",    u";semi", u"="};
  const std::vector<uint32_t> types = {platform::kRegSz,     platform::kRegDword,    platform::kRegBinary,
                                       platform::kRegNone,   platform::kRegExpandSz, platform::kRegMultiSz,
                                       platform::kRegQword,  99};
  for (int round = 0; round < 30; ++round) {
    RegKey tree;
    for (int k = 0; k < 8; ++k) {
      RegKey* key = &tree;
      int depth = 1 + static_cast<int>(random() % 3);
      for (int d = 0; d < depth; ++d) {
        std::u16string name = names[random() % names.size()];
        if (name == u"a\\b") name = u"a/b";  // a backslash separates keys
        key = &key->ensureSubkey(name);
      }
      for (int v = 0; v < 3; ++v) {
        Bytes data(random() % 70);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        uint32_t type = types[random() % types.size()];
        if (type == platform::kRegSz && random() % 2) data = utf16z(names[random() % names.size()]);
        std::u16string name = random() % 5 == 0 ? u"" : names[random() % names.size()];
        key->setValue(name, type, data);
      }
    }
    std::string text = platform::writeRegText(tree, RegRoot::LocalMachine);
    ASSERT_EQ(treeOf(text), tree) << text;
  }
}

}  // namespace

namespace {

TEST(RegValueLines, ParsesTheValuesOfOneKeyWithTheirOwnLineNumbers) {
  const std::string utf8 = "; lines of the provider\n\"NumLinesTotal\"=dword:00000002\r\n\n\"LineName\"=\"Gr\xC3\xBC\xC3\x9F" "e\"\n";
  const Bytes utf16 = platform::utf16LeBytes(platform::utf8ToWide(utf8));
  for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8, "\xFF\xFE" + std::string(utf16.begin(), utf16.end())}) {
    auto parsed = platform::parseRegValueLines(bytes, "values.reg");
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.document.sections.size(), 1u);
    const auto& section = parsed.document.sections[0];
    EXPECT_TRUE(section.path.empty());
    ASSERT_EQ(section.values.size(), 2u);
    EXPECT_EQ(section.values[0].name, u"NumLinesTotal");
    EXPECT_EQ(section.values[1].data, utf16z(u"Grüße"));
  }
  const struct {
    std::string text;
    std::string error;
  } bad[] = {
      {"\"A\"=dword:1\n[HKEY_LOCAL_MACHINE\\Software]\n", "values.reg:2: only value lines (\"Name\"=value) belong here, no [KEY] lines"},
      {"\n\n\"A\"=dword:xyz\n", "values.reg:3: expected up to 8 hex digits after dword:"},
      {"Windows Registry Editor Version 5.00\n", "values.reg:1: expected \"Name\"=value"},
  };
  for (const auto& b : bad) EXPECT_EQ(platform::parseRegValueLines(b.text, "values.reg").error, b.error);
}

}  // namespace
