// The tkreg command-line tool, run as users run it, under the test's TK_ROOT.
#include <gtest/gtest.h>

#include <filesystem>

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

Bytes query(RegKeyHandle root, std::u16string_view path, std::u16string_view name, uint32_t* type = nullptr) {
  RegKeyHandle key = nullptr;
  if (regOpenKeyEx(root, path, &key) != kErrorSuccess) return {};
  uint32_t size = 0;
  regQueryValueEx(key, name, type, nullptr, &size);
  Bytes data(size);
  if (regQueryValueEx(key, name, type, data.data(), &size) != kErrorSuccess) data.clear();
  regCloseKey(key);
  return data;
}

TEST(Tkreg, HelpDescribesTheCommandsAndTheRootFolder) {
  ToolRun run = tkreg({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* word : {"get KEY", "set KEY NAME --dword", "--sz", "delete KEY", "export", "import FILE", "TK_ROOT",
                           "HKLM", "HKEY_CURRENT_USER"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(run.err, "");
}

TEST(Tkreg, WrongUsagePrintsTheUsageAndExitsWithTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"get"},
      {"get", "HKXX\\Software"},
      {"get", "HKLM\\a", "b", "c"},
      {"set", "HKLM\\Software", "v"},
      {"set", "HKLM\\Software", "v", "--dword"},
      {"set", "HKLM\\Software", "v", "--dword", "ten"},
      {"set", "HKLM\\Software", "v", "--dword", "4294967296"},
      {"set", "HKLM\\Software", "v", "--dword", "-1"},
      {"set", "HKLM\\Software", "v", "--dword", "0x"},
      {"set", "HKLM\\Software", "v", "--qword", "1"},
      {"set", "Software", "v", "--sz", "x"},
      {"export", "HKLM", "extra"},
      {"import"},
  };
  for (const auto& args : wrong) {
    ToolRun run = tkreg(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_NE(run.err.find("usage"), std::string::npos) << shown << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
  EXPECT_FALSE(std::filesystem::exists(registryDir() + "/HKEY_LOCAL_MACHINE.reg"));
}

TEST(Tkreg, SetsAndGetsDwordsAndText) {
  EXPECT_EQ(tkreg({"set", "HKLM\\Software\\Test", "Count", "--dword", "10"}).exitCode, 0);
  EXPECT_EQ(query(kHkeyLocalMachine, u"Software\\Test", u"Count"), (Bytes{10, 0, 0, 0}));
  ToolRun run = tkreg({"get", "HKLM\\Software\\Test", "Count"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "REG_DWORD 0x0000000a (10)\n");

  EXPECT_EQ(tkreg({"set", "hkey_local_machine\\software\\test\\", "Max", "--dword", "0xFFFFffff"}).exitCode, 0);
  EXPECT_EQ(tkreg({"get", "HKEY_LOCAL_MACHINE\\Software\\Test", "max"}).out, "REG_DWORD 0xffffffff (4294967295)\n");

  // Text from the command line is UTF-8 and is kept as UTF-16 with a terminator.
  EXPECT_EQ(tkreg({"set", "HKCU\\Software\\Grüße", "Wörter", "--sz", "ä ö ü ß €"}).exitCode, 0);
  uint32_t type = 0;
  EXPECT_EQ(query(kHkeyCurrentUser, u"Software\\Grüße", u"Wörter", &type), utf16z(u"ä ö ü ß €"));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(tkreg({"get", "hkcu\\SOFTWARE\\GRÜßE", "WÖRTER"}).out, "REG_SZ ä ö ü ß €\n");

  // The empty name is the default value.
  EXPECT_EQ(tkreg({"set", "HKCU\\Software", "", "--sz", ""}).exitCode, 0);
  EXPECT_EQ(query(kHkeyCurrentUser, u"Software", u""), utf16z(u""));
  EXPECT_EQ(tkreg({"get", "HKCU\\Software", ""}).out, "REG_SZ \n");
}

TEST(Tkreg, GetWithoutANameListsValuesAndSubkeys) {
  RegKeyHandle key = nullptr;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\List\\Child", &key, nullptr), kErrorSuccess);
  regCloseKey(key);
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\List", &key), kErrorSuccess);
  auto set = [&](std::u16string_view name, uint32_t type, const Bytes& data) {
    ASSERT_EQ(regSetValueEx(key, name, type, data.data(), static_cast<uint32_t>(data.size())), kErrorSuccess);
  };
  set(u"", kRegSz, utf16z(u"default"));
  set(u"Speed", kRegDword, {0x00, 0xc2, 0x01, 0x00});
  set(u"Blob", kRegBinary, {0x01, 0x02, 0xff});
  set(u"Multi", kRegMultiSz, utf16LeBytes(std::u16string(u"a\0b\0\0", 5)));
  set(u"Big", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  set(u"Odd \"one\"", 0x99, {0xab});
  set(u"Raw", kRegSz, utf16LeBytes(u"115200"));
  regCloseKey(key);

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

  ToolRun exported = tkreg({"export", "HKCU\\Software\\Grüße"});
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
  EXPECT_EQ(query(kHkeyCurrentUser, u"Software\\Grüße", u"Umlaute"), utf16z(u"ä ö ü ß"));
  EXPECT_EQ(tkreg({"export", "HKCU\\Software\\Grüße"}).out, exported.out);

  // Export of everything holds both roots; import from standard input honours deletions.
  ToolRun all = tkreg({"export"});
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
