// The registry files: what is on disk, what other processes see, the cache,
// broken files, export and import.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/fake_clock.h"
#include "platform/reg_tree.h"
#include "platform/registry.h"
#include "platform/registry_generation.h"
#include "platform/root.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/test_root.h"

namespace {

using namespace platform;
using namespace tktest;

std::string hex(const Bytes& data) {
  std::string out;
  char byte[3];
  for (uint8_t b : data) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    out += byte;
  }
  return out;
}

std::string registryFile(const char* root) { return registryDir() + "/" + root + ".reg"; }

// Runs the registry test child to its end; its output lines.
std::vector<std::string> runChild(const std::vector<std::string>& args, int* exitCode = nullptr) {
  tktest::ChildProcess child;
  std::vector<std::string> lines;
  if (!child.start(TK_REGISTRY_TEST_CHILD, args)) {
    ADD_FAILURE() << "cannot start the child";
    return lines;
  }
  for (int i = 0; i < 1000; ++i) {
    auto line = child.readLine(std::chrono::seconds(20));
    if (!line) break;
    lines.push_back(*line);
  }
  auto code = child.wait(std::chrono::seconds(20));
  EXPECT_TRUE(code.has_value());
  if (exitCode) *exitCode = code.value_or(-1);
  return lines;
}

TEST(RegistryFiles, MissingFileIsAnEmptyRootAndTheFirstWriteCreatesIt) {
  std::string path = registryFile("HKEY_LOCAL_MACHINE");
  ASSERT_FALSE(std::filesystem::exists(path));
  Key k;
  EXPECT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software", &k.h), kErrorFileNotFound);
  EXPECT_EQ(registryLastError(), "");
  std::u16string name;
  EXPECT_EQ(regEnumKeyEx(kHkeyLocalMachine, 0, &name), kErrorNoMoreItems);
  EXPECT_FALSE(std::filesystem::exists(path));  // reading creates nothing

  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Vendor\\Test", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"Count", 10), kErrorSuccess);
  ASSERT_EQ(setValue(k.h, u"Name", kRegSz, utf16z(u"Grüße")), kErrorSuccess);
  EXPECT_EQ(readFile(path),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Test]\n"
            "\"Count\"=dword:0000000a\n"
            "\"Name\"=\"Grüße\"\n\n");
  EXPECT_FALSE(std::filesystem::exists(registryFile("HKEY_CURRENT_USER")));
  // No temporary files are left behind.
  for (const auto& entry : std::filesystem::directory_iterator(registryDir())) {
    std::string file = entry.path().filename().string();
    EXPECT_TRUE(file == "HKEY_LOCAL_MACHINE.reg" || file == "HKEY_LOCAL_MACHINE.reg.lock") << file;
  }
}

TEST(RegistryFiles, EveryTypeReachesAFreshProcessUnchanged) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Types", &k.h, nullptr), kErrorSuccess);
  const std::vector<std::tuple<std::string, uint32_t, Bytes>> values = {
      {"Sz", kRegSz, utf16z(u"äöü ß €")},
      {"Dword", kRegDword, {0x0a, 0, 0, 0x80}},
      {"Binary", kRegBinary, {0, 1, 0x7f, 0xff}},
      {"Qword", kRegQword, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"Multi", kRegMultiSz, utf16LeBytes(std::u16string(u"a\0b\0\0", 5))},
      {"Odd", kRegSz, {0x41, 0x00, 0x42}},
      {"Lines", kRegSz, utf16z(u"one\r\ntwo")},
      {"Custom", 0x123, {0xde, 0xad}},
  };
  for (const auto& [name, type, data] : values) ASSERT_EQ(setValue(k.h, utf8ToWide(name), type, data), kErrorSuccess);
  for (const auto& [name, type, data] : values) {
    auto lines = runChild({"dump", "HKCU", "software\\TYPES", name});
    ASSERT_EQ(lines.size(), 1u) << name;
    EXPECT_EQ(lines[0], std::to_string(type) + " " + hex(data)) << name;
  }
}

TEST(RegistryFiles, AnsiRegSzBytesReachAFreshProcessUnchanged) {
  Key k;
  ASSERT_EQ(regCreateKeyExA(kHkeyLocalMachine, "Software\\Link", &k.h, nullptr), kErrorSuccess);
  const std::pair<const char*, std::string_view> values[] = {
      {"LinkSpeed", "115200"},                        // no room for a terminator
      {"Slow", std::string_view("9600\0\0", 6)},      // padded
      {"Link", std::string_view("COM1\0\0\0\0", 8)},  // text, terminator and padding
  };
  for (const auto& [name, bytes] : values) ASSERT_EQ(setAnsiSz(k.h, name, bytes), kErrorSuccess);
  for (const auto& [name, bytes] : values) {
    const std::string size = std::to_string(bytes.size());
    EXPECT_EQ(runChild({"dump-ansi", "HKLM", "Software\\Link", name, size}),
              std::vector<std::string>{"0 1 " + size + " " + hex(Bytes(bytes.begin(), bytes.end()))});
  }
}

TEST(RegistryFiles, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kPerChild = 100;
  tktest::ChildProcess first, second;
  ASSERT_TRUE(first.start(TK_REGISTRY_TEST_CHILD, {"write-values", "Software\\Shared", "first", "100"}));
  ASSERT_TRUE(second.start(TK_REGISTRY_TEST_CHILD, {"write-values", "Software\\Shared", "second", "100"}));
  // Both are up before either writes, so their writes overlap.
  EXPECT_EQ(first.readLine(std::chrono::seconds(20)), "ready");
  EXPECT_EQ(second.readLine(std::chrono::seconds(20)), "ready");
  writeFile(rootDir() + "/go", "");
  EXPECT_EQ(first.readLine(std::chrono::seconds(60)), "done");
  EXPECT_EQ(second.readLine(std::chrono::seconds(60)), "done");
  EXPECT_EQ(first.wait(std::chrono::seconds(20)), 0);
  EXPECT_EQ(second.wait(std::chrono::seconds(20)), 0);

  Key k;
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Shared", &k.h), kErrorSuccess);
  int found = 0;
  for (const char* prefix : {"first", "second"}) {
    for (int i = 0; i < kPerChild; ++i) {
      RegRead r = regRead(k.h, utf8ToWide(prefix + std::to_string(i)));
      EXPECT_EQ(r.rc, kErrorSuccess) << prefix << i;
      uint32_t n = static_cast<uint32_t>(i);
      if (r.data == Bytes(reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + 4)) ++found;
    }
  }
  EXPECT_EQ(found, 2 * kPerChild);
  std::u16string name;
  EXPECT_EQ(regEnumValue(k.h, 2 * kPerChild, &name, nullptr, nullptr, nullptr), kErrorNoMoreItems);
}

TEST(RegistryFiles, HandWrittenRegedit4AndUtf16FilesAreRead) {
  writeFile(registryFile("HKEY_LOCAL_MACHINE"),
            "REGEDIT4\r\n\r\n; written by hand\r\n[HKEY_LOCAL_MACHINE\\Software\\M\xFCller]\r\n"
            "\"Name\"=\"Gr\xFC\xDF" "e\"\r\n\"Count\"=dword:00000003\r\n");
  std::u16string wide = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Ünïcode]\r\n@=\"€\"\r\n";
  Bytes utf16 = utf16LeBytes(wide);
  writeFile(registryFile("HKEY_CURRENT_USER"), "\xFF\xFE" + std::string(utf16.begin(), utf16.end()));

  Key lm, cu;
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Müller", &lm.h), kErrorSuccess);
  EXPECT_EQ(regRead(lm.h, u"name").data, utf16z(u"Grüße"));
  EXPECT_EQ(regRead(lm.h, u"Count").data, (Bytes{3, 0, 0, 0}));
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"ünïcode", &cu.h), kErrorSuccess);
  EXPECT_EQ(regRead(cu.h, u"").data, utf16z(u"€"));
  // The first write turns the file into our own format, keeping its content.
  ASSERT_EQ(setDword(lm.h, u"Added", 1), kErrorSuccess);
  std::string text = readFile(registryFile("HKEY_LOCAL_MACHINE"));
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n")) << text;
  EXPECT_NE(text.find("\"Name\"=\"Grüße\"\n\"Count\"=dword:00000003\n\"Added\"=dword:00000001\n"), std::string::npos)
      << text;
}

TEST(RegistryFiles, NamesWithControlCharactersFromOlderVersionsStayReadableAndCanBeDeleted) {
  // Earlier versions let an import create such names; the file stays usable.
  const std::string odd = "[HKEY_CURRENT_USER\\Software\\a\x01" "b]\n\"v\x02\"=dword:00000001\n\n";
  writeFile(registryFile("HKEY_CURRENT_USER"), "Windows Registry Editor Version 5.00\n\n" + odd +
                                                   "[HKEY_CURRENT_USER\\Software\\a\x01" "b\\Sub]\n\n");
  const std::u16string oddKey = u"Software\\a\x01" u"b";
  Key k;
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, oddKey, &k.h), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"v\x02").data, (Bytes{1, 0, 0, 0}));
  // Nothing new gets such a name, but a write elsewhere keeps the old ones unchanged.
  Key created;
  EXPECT_EQ(regCreateKeyEx(kHkeyCurrentUser, oddKey + u"\\New", &created.h, nullptr), kErrorBadKey);
  EXPECT_EQ(setDword(k.h, u"w\x03", 1), kErrorInvalidParameter);
  Key other;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Other", &other.h, nullptr), kErrorSuccess);
  EXPECT_NE(readFile(registryFile("HKEY_CURRENT_USER")).find(odd), std::string::npos);
  // Deleting them works, value by value or the key with its subkeys.
  EXPECT_EQ(regDeleteValue(k.h, u"v\x02"), kErrorSuccess);
  EXPECT_EQ(regDeleteKey(kHkeyCurrentUser, oddKey), kErrorAccessDenied);  // it has a subkey
  EXPECT_EQ(regDeleteTree(kHkeyCurrentUser, oddKey), kErrorSuccess);
  Key gone;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, oddKey, &gone.h), kErrorFileNotFound);
  EXPECT_EQ(readFile(registryFile("HKEY_CURRENT_USER")).find('\x01'), std::string::npos);
}

TEST(RegistryCache, UnchangedFilesAreNotParsedAgainAndChangesAreSeenAtOnce) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Trace", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"Enabled", 1), kErrorSuccess);
  regRead(k.h, u"Enabled");
  uint64_t before = registryFileParseCount();
  for (int i = 0; i < 500; ++i) ASSERT_EQ(regRead(k.h, u"Enabled").data, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(registryFileParseCount(), before);

  // A hand edit is seen by the next read, which parses once.
  std::string path = registryFile("HKEY_CURRENT_USER");
  std::string text = readFile(path);
  size_t at = text.find("dword:00000001");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 14, "dword:00000000\n\"Extra\"=dword:00000002");
  writeFile(path, text);
  EXPECT_EQ(regRead(k.h, u"Enabled").data, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(regRead(k.h, u"Extra").data, (Bytes{2, 0, 0, 0}));
  EXPECT_EQ(registryFileParseCount(), before + 1);

  // So is another process's write.
  writeFile(rootDir() + "/go", "");
  int exitCode = -1;
  EXPECT_EQ(runChild({"write-values", "Software\\Trace", "child", "1"}, &exitCode),
            (std::vector<std::string>{"ready", "done"}));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(regRead(k.h, u"child0").data, (Bytes{0, 0, 0, 0}));
  uint64_t afterChild = registryFileParseCount();
  for (int i = 0; i < 100; ++i) regRead(k.h, u"child0");
  EXPECT_EQ(registryFileParseCount(), afterChild);
}

TEST(RegistryCorruptFile, IsReadAsEmptyAndNeverOverwritten) {
  Key ok;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Test", &ok.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(ok.h, u"Before", 1), kErrorSuccess);

  std::string path = registryFile("HKEY_LOCAL_MACHINE");
  const std::string broken =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\n\"Before\"=dword:1\n"
      "\"Typo\"=dwrod:00000001\n";
  writeFile(path, broken);
  const std::string where = path + ":5: ";

  testing::internal::CaptureStderr();
  EXPECT_EQ(setDword(ok.h, u"After", 2), kErrorRegistryCorrupt);
  EXPECT_EQ(registryLastError().rfind(where, 0), 0u) << registryLastError();
  Key created;
  EXPECT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\New", &created.h, nullptr), kErrorRegistryCorrupt);
  EXPECT_EQ(regDeleteValue(ok.h, u"Before"), kErrorRegistryCorrupt);
  EXPECT_EQ(regDeleteTree(kHkeyLocalMachine, u"Software"), kErrorRegistryCorrupt);
  const std::string import = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n";
  EXPECT_EQ(regImport(import, "in.reg"), kErrorRegistryCorrupt);
  std::string text;
  EXPECT_EQ(regExportKey(kHkeyLocalMachine, u"", &text), kErrorRegistryCorrupt);
  // Reading sees an empty root and can tell why.
  Key k;
  EXPECT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Test", &k.h), kErrorFileNotFound);
  EXPECT_EQ(registryLastError().rfind(where, 0), 0u) << registryLastError();
  EXPECT_EQ(regRead(ok.h, u"Before").rc, kErrorKeyDeleted);
  std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_EQ(readFile(path), broken);

  // Standard error heard about this version of the file once.
  size_t first = reported.find(where);
  EXPECT_NE(first, std::string::npos) << reported;
  EXPECT_EQ(reported.find(where, first + 1), std::string::npos) << reported;

  // The other root is not affected.
  Key cu;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Fine", &cu.h, nullptr), kErrorSuccess);
  EXPECT_EQ(registryLastError(), "");
  EXPECT_EQ(setDword(cu.h, u"v", 1), kErrorSuccess);

  // A key of the other root is an error too; a new version is reported anew.
  const std::string misplaced =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"v\"=dword:00000001\n";
  writeFile(path, misplaced);
  testing::internal::CaptureStderr();
  EXPECT_EQ(setDword(ok.h, u"After", 2), kErrorRegistryCorrupt);
  EXPECT_NE(registryLastError().find(path + ":3: "), std::string::npos) << registryLastError();
  EXPECT_NE(testing::internal::GetCapturedStderr().find(path + ":3: "), std::string::npos);
  EXPECT_EQ(readFile(path), misplaced);

  // Once repaired, the file is used and written again.
  writeFile(path, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\n");
  EXPECT_EQ(setDword(ok.h, u"After", 2), kErrorSuccess);
  EXPECT_EQ(registryLastError(), "");
  EXPECT_EQ(regRead(ok.h, u"After").data, (Bytes{2, 0, 0, 0}));
}

TEST(RegistryTransfer, ExportAndImportRoundTripWithDeletions) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Grüße\\Sub", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setValue(k.h, u"Wörter", kRegSz, utf16z(u"ä ö ü ß €")), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"Zahl", 42), kErrorSuccess);
  ASSERT_EQ(setValue(k.h, u"Roh", kRegSz, utf16LeBytes(u"115200")), kErrorSuccess);
  Key lm;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Machine", &lm.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(lm.h, u"m", 7), kErrorSuccess);

  std::string exported;
  ASSERT_EQ(regExportKey(kHkeyCurrentUser, u"software\\GRÜßE", &exported),
            kErrorSuccess);
  EXPECT_TRUE(exported.starts_with("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Grüße]\n"))
      << exported;
  EXPECT_NE(exported.find("\"Wörter\"=\"ä ö ü ß €\"\n"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("Machine"), std::string::npos);

  ASSERT_EQ(regDeleteTree(kHkeyCurrentUser, u"Software\\Grüße"), kErrorSuccess);
  ASSERT_EQ(regImport(exported, "saved.reg"), kErrorSuccess);
  std::string again;
  ASSERT_EQ(regExportKey(kHkeyCurrentUser, u"Software\\Grüße", &again), kErrorSuccess);
  EXPECT_EQ(again, exported);

  std::string all;
  ASSERT_EQ(regExportAll(&all), kErrorSuccess);
  size_t machine = all.find("[HKEY_LOCAL_MACHINE\\Software\\Machine]\n\"m\"=dword:00000007\n");
  size_t user = all.find("[HKEY_CURRENT_USER\\Software\\Grüße\\Sub]\n");
  EXPECT_NE(machine, std::string::npos) << all;
  EXPECT_NE(user, std::string::npos) << all;
  EXPECT_EQ(all.find("Windows Registry Editor"), all.rfind("Windows Registry Editor"));

  // Deletions, in both roots at once.
  ASSERT_EQ(regImport("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Grüße\\Sub]\n\"Zahl\"=-\n\"Neu\"=dword:00000001\n"
                      "[-HKEY_LOCAL_MACHINE\\Software\\Machine]\n",
                      "changes.reg"),
            kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"Zahl").rc, kErrorFileNotFound);
  EXPECT_EQ(regRead(k.h, u"Neu").data, (Bytes{1, 0, 0, 0}));
  Key gone;
  EXPECT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Machine", &gone.h), kErrorFileNotFound);

  // A syntax error changes nothing and names the text and line.
  EXPECT_EQ(regImport("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Grüße\\Sub]\n"
                      "\"Neu\"=dword:00000002\nnonsense\n",
                      "bad.reg"),
            kErrorInvalidData);
  EXPECT_EQ(registryLastError(), "bad.reg:5: expected \"Name\"=value");
  EXPECT_EQ(regRead(k.h, u"Neu").data, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(regExportKey(kHkeyCurrentUser, u"Software\\Missing", &again), kErrorFileNotFound);
}

// What happens between two looks of a watch on HKEY_CURRENT_USER, and
// whether the second look reports a change.
struct WatchStep {
  const char* what;
  std::function<void(FakeClock&)> act;
  bool changed;
};

TEST(RegistryChangeWatch, ReportsEveryWayTheRegistryChangesAndNothingElse) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Watched", &k.h, nullptr), kErrorSuccess);
  auto handEdit = [](const std::string& from, const std::string& to) {
    std::string text = readFile(registryFile("HKEY_CURRENT_USER"));
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    writeFile(registryFile("HKEY_CURRENT_USER"), text.replace(at, from.size(), to));
  };
  const std::string otherRoot = tktest::currentRoot() + "/other";
  const std::vector<WatchStep> steps = {
      {"nothing", [](FakeClock&) {}, false},
      {"a value set here", [&](FakeClock&) { ASSERT_EQ(setDword(k.h, u"A", 1), kErrorSuccess); }, true},
      {"the same value set again (nothing to write)",
       [&](FakeClock&) { ASSERT_EQ(setDword(k.h, u"A", 1), kErrorSuccess); },
       false},
      {"a value deleted", [&](FakeClock&) { ASSERT_EQ(regDeleteValue(k.h, u"A"), kErrorSuccess); }, true},
      {"a failed delete", [&](FakeClock&) { ASSERT_NE(regDeleteValue(k.h, u"A"), kErrorSuccess); }, false},
      {"a key created",
       [&](FakeClock&) {
         Key sub;
         ASSERT_EQ(regCreateKeyEx(k.h, u"Sub", &sub.h, nullptr), kErrorSuccess);
       },
       true},
      {"a key deleted", [&](FakeClock&) { ASSERT_EQ(regDeleteKey(k.h, u"Sub"), kErrorSuccess); }, true},
      {"an import",
       [](FakeClock&) { ASSERT_TRUE(regSeed("[HKEY_CURRENT_USER\\Software\\Watched]\n\"B\"=dword:00000001\n")); },
       true},
      {"a write by another process",
       [](FakeClock&) {
         writeFile(rootDir() + "/go", "");
         EXPECT_EQ(runChild({"write-values", "Software\\Watched", "child", "1"}),
                   (std::vector<std::string>{"ready", "done"}));
       },
       true},
      {"a hand edit, 999 ms later",
       [&](FakeClock& clock) {
         handEdit("dword:00000001", "dword:00000002\n\"C\"=dword:00000003");
         clock.advance(RegistryChangeWatch::kFileCheckIntervalMs - 1);
       },
       false},
      {"1 ms more", [](FakeClock& clock) { clock.advance(1); }, true},
      {"another second without edit", [](FakeClock& clock) { clock.advance(1000); }, false},
      {"another root", [&](FakeClock&) { setenv("TK_ROOT", otherRoot.c_str(), 1); }, true},
      {"back", [](FakeClock&) { setenv("TK_ROOT", tktest::currentRoot().c_str(), 1); }, true},
  };
  FakeClock clock;
  RegistryChangeWatch watch(RegRoot::CurrentUser);
  EXPECT_TRUE(watch.changed(clock));
  for (const WatchStep& step : steps) {
    step.act(clock);
    EXPECT_EQ(watch.changed(clock), step.changed) << step.what;
    EXPECT_FALSE(watch.changed(clock)) << "looked again after " << step.what;
  }
}

TEST(RegistryChangeWatch, TheCounterIsSharedByTheProcessesOfARoot) {
  uint64_t before = registryGeneration();
  writeFile(rootDir() + "/go", "");
  EXPECT_EQ(runChild({"write-values", "Software\\Counted", "v", "3"}), (std::vector<std::string>{"ready", "done"}));
  // One for the key, one for each value.
  EXPECT_EQ(registryGeneration(), before + 4);
}

TEST(RegistryChangeWatch, ReadersOnSeveralThreadsThatReadOnlyOnAChangeEndWithTheLastValue) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Threads", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"N", 0), kErrorSuccess);
  constexpr uint8_t kLast = 20;
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  std::vector<Bytes> kept(4);
  std::vector<char> sawTheEnd(kept.size(), 0);
  // Bounded in time, not in looks: on a busy machine the writer's fsyncs may
  // take longer than any fixed number of looks.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (size_t r = 0; r < kept.size(); ++r) {
    readers.emplace_back([&, r] {
      FakeClock clock;
      RegistryChangeWatch watch(RegRoot::CurrentUser);
      while (std::chrono::steady_clock::now() < deadline) {
        bool finished = done.load();
        if (watch.changed(clock)) kept[r] = regData(kHkeyCurrentUser, u"Software\\Threads", u"N");
        if (finished) {  // looked once more after the last write
          sawTheEnd[r] = 1;
          break;
        }
        std::this_thread::yield();
      }
    });
  }
  for (uint8_t i = 1; i <= kLast; ++i) ASSERT_EQ(setDword(k.h, u"N", i), kErrorSuccess);
  done.store(true);
  for (std::thread& t : readers) t.join();
  for (size_t r = 0; r < kept.size(); ++r) {
    EXPECT_TRUE(sawTheEnd[r]) << "reader " << r;
    EXPECT_EQ(kept[r], (Bytes{kLast, 0, 0, 0})) << "reader " << r;
  }
}

TEST(RegistryFiles, AFolderRemovedBehindTheProcesssBackIsCreatedAgainByTheNextWrite) {
  registryDir();
  std::filesystem::remove_all(registryDir());
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Kept", &k.h, nullptr), kErrorSuccess) << registryLastError();
  ASSERT_EQ(setDword(k.h, u"X", 7), kErrorSuccess) << registryLastError();
  EXPECT_EQ(regData(kHkeyCurrentUser, u"Software\\Kept", u"X"), (Bytes{7, 0, 0, 0}));
}

}  // namespace
