// The tkreg command-line tool, run as users run it, under the test's TK_ROOT.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "platform/codepage.h"
#include "platform/reg_tree.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

using namespace platform;
using namespace tktest;

// Runs tkreg with args; standard input comes from inputFile when given.
ToolRun tkreg(const std::vector<std::string>& args, const std::string& inputFile = "/dev/null") {
  ToolRunOptions options;
  options.inputFile = inputFile;
  return runTool(TK_TKREG, args, options);
}

TEST(Tkreg, HelpDescribesTheCommandsAndTheRootFolder) {
  ToolRun run = tkreg({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* word : {"get KEY", "set KEY NAME --dword", "--sz", "delete KEY", "export", "import FILE", "TK_ROOT",
                           "HKLM", "HKEY_CURRENT_USER", "REG_DWORD", "REG_SZ", "--utf8", "UTF-16LE", "CR LF",
                           "255", "16383", "512", "32767", "Exit status"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(tkreg({"set", "--help"}).out, run.out);
}

TEST(Tkreg, BadInputIsRefusedWithWhatIsWrongAndChangesNothing) {
  const std::string h = "Windows Registry Editor Version 5.00\n\n";
  const std::string folder = tktest::currentRoot();
  const std::string file = folder + "/in.reg";
  struct Case {
    std::vector<std::string> args;  // "FILE" stands for a file holding text
    std::string text;
    int exitCode;
    std::string error;  // what stderr must say
  };
  const std::vector<Case> cases = {
      {{}, "", 2, "tkreg: no command given\nusage:"},
      {{"frobnicate"}, "", 2, "tkreg: unknown command 'frobnicate'\nusage:"},
      {{"--frob"}, "", 2, "tkreg: unknown option --frob\n"},
      {{"get"}, "", 2, "tkreg: get needs KEY\n"},
      {{"get", "HKXX\\Software"}, "", 2, "tkreg: unknown root key 'HKXX' in 'HKXX\\Software'"},
      {{"get", "HKLM\\a", "b", "c"}, "", 2, "tkreg: too many arguments for get: 'c'"},
      {{"set", "HKLM\\Software", "v"}, "", 2, "tkreg: set needs KEY, NAME and the value"},
      {{"set", "HKLM\\Software", "v", "--dword"}, "", 2, "tkreg: --dword needs a number from 0 to 4294967295"},
      {{"set", "HKLM\\Software", "v", "--dword", "ten"}, "", 2,
       "tkreg: --dword needs a number from 0 to 4294967295 (decimal, or hex with 0x), not 'ten'\n"},
      {{"set", "HKLM\\Software", "v", "--dword", "4294967296"}, "", 2, "not '4294967296'"},
      {{"set", "HKLM\\Software", "v", "--dword", "-1"}, "", 2, "not '-1'"},
      {{"set", "HKLM\\Software", "v", "--dword", "0x"}, "", 2, "not '0x'"},
      {{"set", "HKLM\\Software", "v", "--qword", "1"}, "", 2, "tkreg: unknown option --qword"},
      {{"set", "Software", "v", "--sz", "x"}, "", 2, "tkreg: unknown root key 'Software'"},
      {{"set", "HKLM\\a\\\\b", "v", "--sz", "x"}, "", 2, "has an empty key name"},
      {{"set", "HKLM\\" + regPathOfDepth(30000), "v", "--dword", "1"}, "", 2, "59999 characters long; at most 32767"},
      {{"set", "HKLM\\a", std::string(16384, 'v'), "--dword", "1"}, "", 2, "16384 characters long; at most 16383"},
      {{"set", "HKLM\\a\tb", "v", "--sz", "x"}, "", 2, "the key name \"a\\tb\" holds a control character"},
      {{"set", "HKLM\\a", "v\x1b[2J", "--dword", "1"}, "", 2,
       "the value name \"v\\x1b[2J\" holds a control character"},
      {{"set", "HKLM\\a", "\xFF", "--dword", "1"}, "", 2, "the value name '\\xff' is not valid UTF-8"},
      {{"set", "HKLM\\a", "v", "--sz", "\xC3"}, "", 2, "the text after --sz is not valid UTF-8"},
      {{"export", "HKLM", "extra"}, "", 2, "tkreg: too many arguments for export: 'extra'"},
      {{"export", "--frob"}, "", 2, "tkreg: unknown option --frob"},
      {{"import"}, "", 2, "tkreg: import needs FILE"},
      {{"import", folder}, "", 1, "tkreg: cannot read " + folder + ": it is a folder, not a file\n"},
      {{"import", "FILE"}, h + "[HKEY_CURRENT_USER\\" + regPathOfDepth(30000) + "]\n", 1,
       file + ":3: the key path is 59999 characters long; at most 32767 are allowed"},
      {{"import", "FILE"}, h + "[HKEY_CURRENT_USER\\K]\n[HKEY_CURRENT_USER\\a" + std::string(1, '\0') + "b]\n", 1,
       file + ":4: the key name \"a\\x00b\" holds a control character"},
      {{"import", "FILE"}, h + "[HKEY_CURRENT_USER\\K]\n\"a\tb\"=dword:1\n", 1,
       file + ":4: the value name \"a\\tb\" holds a control character"},
      {{"import", "FILE"}, "\xFE\xFF", 1, file + ":1: the text is UTF-16 big-endian"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    std::string shown;
    for (auto& arg : args) {
      if (arg == "FILE") {
        writeFile(file, c.text);
        arg = file;
      }
      shown += arg.substr(0, 40) + " ";
    }
    ToolRun run = tkreg(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << shown;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << shown << "\n" << run.err;
    EXPECT_TRUE(run.err.starts_with("tkreg: ")) << shown << "\n" << run.err;
    if (c.exitCode == 2) {
      EXPECT_NE(run.err.find("tkreg --help"), std::string::npos) << shown;
    }
    EXPECT_LT(run.err.size(), 2000u) << shown;  // long arguments are cut short in messages
    EXPECT_EQ(run.out, "") << shown;
  }
  EXPECT_FALSE(std::filesystem::exists(registryDir() + "/HKEY_LOCAL_MACHINE.reg"));
  EXPECT_FALSE(std::filesystem::exists(registryDir() + "/HKEY_CURRENT_USER.reg"));
}

TEST(Tkreg, SetsAndGetsDwordsAndText) {
  EXPECT_EQ(tkreg({"set", "HKLM\\Software\\Test", "Count", "--dword", "10"}).exitCode, 0);
  EXPECT_EQ(regData(kHkeyLocalMachine, u"Software\\Test", u"Count"), (Bytes{10, 0, 0, 0}));
  ToolRun run = tkreg({"get", "HKLM\\Software\\Test", "Count"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "REG_DWORD 0x0000000a (10)\n");

  EXPECT_EQ(tkreg({"set", "hkey_local_machine\\software\\test\\", "Max", "--dword", "0xFFFFffff"}).exitCode, 0);
  EXPECT_EQ(tkreg({"get", "HKEY_LOCAL_MACHINE\\Software\\Test", "max"}).out, "REG_DWORD 0xffffffff (4294967295)\n");

  // Text from the command line is UTF-8 and is kept as UTF-16 with a terminator.
  EXPECT_EQ(tkreg({"set", "HKCU\\Software\\Grüße", "Wörter", "--sz", "ä ö ü ß €"}).exitCode, 0);
  uint32_t type = 0;
  EXPECT_EQ(regData(kHkeyCurrentUser, u"Software\\Grüße", u"Wörter", &type), utf16z(u"ä ö ü ß €"));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(tkreg({"get", "hkcu\\SOFTWARE\\GRÜßE", "WÖRTER"}).out, "REG_SZ ä ö ü ß €\n");

  // The empty name is the default value.
  EXPECT_EQ(tkreg({"set", "HKCU\\Software", "", "--sz", ""}).exitCode, 0);
  EXPECT_EQ(regData(kHkeyCurrentUser, u"Software", u""), utf16z(u""));
  EXPECT_EQ(tkreg({"get", "HKCU\\Software", ""}).out, "REG_SZ \n");
}

TEST(Tkreg, GetWithoutANameListsValuesAndSubkeys) {
  {
    Key child, key;
    ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\List\\Child", &child.h, nullptr), kErrorSuccess);
    ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\List", &key.h), kErrorSuccess);
    const std::vector<std::tuple<std::u16string, uint32_t, Bytes>> values = {
        {u"", kRegSz, utf16z(u"default")},
        {u"Speed", kRegDword, {0x00, 0xc2, 0x01, 0x00}},
        {u"Blob", kRegBinary, {0x01, 0x02, 0xff}},
        {u"Multi", kRegMultiSz, utf16LeBytes(std::u16string(u"a\0b\0\0", 5))},
        {u"Big", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}},
        {u"Odd \"one\"", 0x99, {0xab}},
        {u"Raw", kRegSz, utf16LeBytes(u"115200")},
    };
    for (const auto& [name, type, data] : values) ASSERT_EQ(setValue(key.h, name, type, data), kErrorSuccess);
  }
  ToolRun run = tkreg({"get", "HKLM\\Software\\List"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "@ REG_SZ default\n"
            "\"Speed\" REG_DWORD 0x0001c200 (115200)\n"
            "\"Blob\" REG_BINARY 01 02 ff\n"
            "\"Multi\" REG_MULTI_SZ a\\0b\n"
            "\"Big\" REG_QWORD 0x0000000000000001 (1)\n"
            "\"Odd \\\"one\\\"\" REG_TYPE(153) ab\n"
            "\"Raw\" REG_SZ 115200\n"
            "[Child]\n");
}

TEST(Tkreg, MissingKeysAndValuesExitWithOne) {
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Here", "v", "--dword", "1"}).exitCode, 0);
  const std::vector<std::vector<std::string>> missing = {
      {"get", "HKCU\\Software\\Nowhere"},
      {"get", "HKCU\\Software\\Here", "nothing"},
      {"get", "HKLM\\Software\\Here", "v"},
      {"delete", "HKCU\\Software\\Here", "nothing"},
      {"delete", "HKCU\\Software\\Nowhere"},
      {"export", "HKCU\\Software\\Nowhere"},
      {"import", tktest::currentRoot() + "/no-such-file.reg"},
  };
  for (const auto& args : missing) {
    ToolRun run = tkreg(args);
    EXPECT_EQ(run.exitCode, 1) << args[0] << " " << args[1];
    EXPECT_TRUE(run.err.starts_with("tkreg: ")) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_NE(tkreg({"get", "HKCU\\Software\\Nowhere"}).err.find("not found"), std::string::npos);
}

TEST(Tkreg, DeletesValuesAndWholeKeys) {
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Del\\Sub", "a", "--dword", "1"}).exitCode, 0);
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Del", "b", "--dword", "2"}).exitCode, 0);
  EXPECT_EQ(tkreg({"delete", "HKCU\\Software\\Del", "B"}).exitCode, 0);
  EXPECT_EQ(tkreg({"get", "HKCU\\Software\\Del"}).out, "[Sub]\n");
  EXPECT_EQ(tkreg({"delete", "HKCU\\Software\\Del"}).exitCode, 0);
  RegKeyHandle key = nullptr;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Del", &key), kErrorFileNotFound);
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software", &key), kErrorSuccess);
  regCloseKey(key);
  EXPECT_EQ(tkreg({"delete", "HKCU"}).exitCode, 1);
}

TEST(Tkreg, ExportAndImportRoundTripWithUmlauts) {
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Grüße", "Umlaute", "--sz", "ä ö ü ß"}).exitCode, 0);
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Grüße\\Währung", "Zeichen", "--sz", "€"}).exitCode, 0);
  ASSERT_EQ(tkreg({"set", "HKCU\\Software\\Grüße\\Währung", "Cent", "--dword", "100"}).exitCode, 0);
  ASSERT_EQ(tkreg({"set", "HKLM\\Software\\Other", "x", "--dword", "1"}).exitCode, 0);

  ToolRun exported = tkreg({"export", "--utf8", "HKCU\\Software\\Grüße"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Grüße]\n"
            "\"Umlaute\"=\"ä ö ü ß\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Grüße\\Währung]\n"
            "\"Zeichen\"=\"€\"\n"
            "\"Cent\"=dword:00000064\n\n");
  std::string saved = tktest::currentRoot() + "/saved.reg";
  writeFile(saved, exported.out);

  ASSERT_EQ(tkreg({"delete", "HKCU\\Software\\Grüße"}).exitCode, 0);
  EXPECT_EQ(tkreg({"get", "HKCU\\Software\\Grüße"}).exitCode, 1);
  ToolRun imported = tkreg({"import", saved});
  EXPECT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_EQ(tkreg({"get", "HKCU\\Software\\Grüße\\Währung", "Zeichen"}).out, "REG_SZ €\n");
  EXPECT_EQ(regData(kHkeyCurrentUser, u"Software\\Grüße", u"Umlaute"), utf16z(u"ä ö ü ß"));
  EXPECT_EQ(tkreg({"export", "HKCU\\Software\\Grüße", "--utf8"}).out, exported.out);

  // Export of everything holds both roots; import from standard input honours deletions.
  ToolRun all = tkreg({"export", "--utf8"});
  EXPECT_EQ(all.exitCode, 0);
  EXPECT_NE(all.out.find("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"x\"=dword:00000001\n"), std::string::npos);
  EXPECT_NE(all.out.find("[HKEY_CURRENT_USER\\Software\\Grüße\\Währung]\n"), std::string::npos);
  std::string changes = tktest::currentRoot() + "/changes.reg";
  writeFile(changes,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Grüße\\Währung]\r\n"
            "[HKEY_CURRENT_USER\\Software\\Grüße]\r\n\"Umlaute\"=-\r\n\"Neu\"=\"ÄÖÜ\"\r\n");
  EXPECT_EQ(tkreg({"import", "-"}, changes).exitCode, 0);
  EXPECT_EQ(tkreg({"get", "HKCU\\Software\\Grüße"}).out, "\"Neu\" REG_SZ ÄÖÜ\n");
}

TEST(Tkreg, ExportIsUtf16WithBomAndCrLfAsWindowsWritesAndImportsBackExactly) {
  const std::u16string path = u"Software\\Größe €";
  Bytes blob;
  for (int i = 0; i < 100; ++i) blob.push_back(static_cast<uint8_t>(i * 13));
  const std::vector<std::tuple<std::u16string, uint32_t, Bytes>> values = {
      {u"Größe €", kRegSz, utf16z(u"Größe €")},
      {u"Liste", kRegMultiSz, utf16LeBytes(std::u16string(u"Größe\0€uro\0\0", 12))},
      {u"Pfad", kRegExpandSz, utf16z(u"%TK_ROOT%\\Größe")},
      {u"Blob", kRegBinary, blob},
      {u"Zahl", kRegDword, {0x2a, 0, 0, 0}},
  };
  {
    Key key;
    ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, path, &key.h, nullptr), kErrorSuccess);
    for (const auto& [name, type, data] : values) ASSERT_EQ(setValue(key.h, name, type, data), kErrorSuccess);
  }
  ToolRun exported = tkreg({"export", "HKCU\\Software\\Größe €"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  ASSERT_TRUE(exported.out.starts_with("\xFF\xFE"));
  ASSERT_EQ(exported.out.size() % 2, 0u);
  std::string text = wideToUtf8(
      utf16FromLeBytes(reinterpret_cast<const uint8_t*>(exported.out.data()) + 2, exported.out.size() - 2));
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Software\\Größe €]\r\n"
                               "\"Größe €\"=\"Größe €\"\r\n"
                               "\"Liste\"=hex(7):47,00,72,00,f6,00,df,00,65,00,00,00,ac,20,75,00,72,00,6f,00,00,\\\r\n"
                               "  00,00,00\r\n"
                               "\"Pfad\"=hex(2):25,00,54,00,4b,00,5f,00,52,00,4f,00,4f,00,54,00,25,00,5c,00,47,\\\r\n"
                               "  00,72,00,f6,00,df,00,65,00,00,00\r\n"
                               "\"Blob\"=hex:00,0d,1a,"))
      << text;
  size_t lineEnds = 0;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    ++lineEnds;
    EXPECT_EQ(text[at - 1], '\r') << at;
  }
  EXPECT_GT(lineEnds, 8u);

  // --utf8 writes the same text as UTF-8 with LF line ends.
  ToolRun utf8 = tkreg({"export", "--utf8", "HKCU\\Software\\Größe €"});
  std::string lf = text;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  EXPECT_EQ(utf8.out, lf);

  // The file imports back byte for byte.
  std::string saved = tktest::currentRoot() + "/saved.reg";
  writeFile(saved, exported.out);
  ASSERT_EQ(tkreg({"delete", "HKCU\\Software"}).exitCode, 0);
  ToolRun imported = tkreg({"import", saved});
  EXPECT_EQ(imported.exitCode, 0) << imported.err;
  for (const auto& [name, type, data] : values) {
    uint32_t stored = 0;
    EXPECT_EQ(regData(kHkeyCurrentUser, path, name, &stored), data) << wideToUtf8(name);
    EXPECT_EQ(stored, type) << wideToUtf8(name);
  }
  EXPECT_EQ(tkreg({"export", "HKCU\\Software\\Größe €"}).out, exported.out);
}

TEST(Tkreg, NamesWithControlCharactersFromAnOlderStoreAreShownEscapedAndCanBeDeleted) {
  writeFile(registryDir() + "/HKEY_CURRENT_USER.reg",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Odd\x1b[31m]\n\"v\x01\"=\"x\"\n");
  const std::string odd = "HKCU\\Software\\Odd\x1b[31m";
  {
    Key key;
    ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Odd\x1b[31m", &key.h), kErrorSuccess);
    ASSERT_EQ(setValue(key.h, u"text", kRegSz, utf16z(u"red\x1b[0m\n")), kErrorSuccess);
  }
  EXPECT_EQ(tkreg({"get", "HKCU\\Software"}).out, "[Odd\\x1b[31m]\n");
  EXPECT_EQ(tkreg({"get", odd}).out, "\"v\\x01\" REG_SZ x\n\"text\" REG_SZ red\\x1b[0m\\n\n");
  ToolRun missing = tkreg({"get", odd, "w\x1b[2J"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("value \"w\\x1b[2J\" of HKCU\\Software\\Odd\\x1b[31m: not found"), std::string::npos)
      << missing.err;
  EXPECT_EQ(tkreg({"delete", odd, "v\x01"}).exitCode, 0);
  EXPECT_EQ(tkreg({"get", odd}).out, "\"text\" REG_SZ red\\x1b[0m\\n\n");
  ToolRun deleted = tkreg({"delete", odd});
  EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(tkreg({"get", "HKCU\\Software"}).out, "");
}

TEST(Tkreg, BrokenFilesAreReportedWithFileAndLine) {
  ASSERT_EQ(tkreg({"set", "HKLM\\Software\\Test", "v", "--dword", "1"}).exitCode, 0);
  std::string path = registryDir() + "/HKEY_LOCAL_MACHINE.reg";
  const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\nv=1\n";
  writeFile(path, broken);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"get", "HKLM\\Software\\Test", "v"},
           {"set", "HKLM\\Software\\Test", "v", "--dword", "2"},
           {"export", "HKLM"},
           {"export"}}) {
    ToolRun run = tkreg(args);
    EXPECT_EQ(run.exitCode, 1) << args[0];
    EXPECT_NE(run.err.find(path + ":4: expected \"Name\"=value"), std::string::npos) << run.err;
  }
  EXPECT_EQ(readFile(path), broken);

  std::string bad = tktest::currentRoot() + "/bad.reg";
  writeFile(bad, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\X]\n\"a\"=dword:xyz\n");
  ToolRun run = tkreg({"import", bad});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(bad + ":4: "), std::string::npos) << run.err;
  RegKeyHandle key = nullptr;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"X", &key), kErrorFileNotFound);
}

}  // namespace
