// The registry API as programs see it, within one process.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/codepage.h"
#include "platform/reg_text.h"
#include "platform/reg_tree.h"
#include "tests/support/registry_helpers.h"
#if defined(_WIN32)
#include "tests/windows/platform_registry/registry_sandbox.h"  // a fresh registry per case; runningUnderWine
#endif

namespace {

using namespace platform;
using namespace tktest;

Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Names by index until kErrorNoMoreItems: of the subkeys, or of the values.
std::vector<std::u16string> namesOf(RegKeyHandle key, bool values) {
  std::vector<std::u16string> names;
  for (uint32_t i = 0; i < 1000; ++i) {
    std::u16string name;
    long rc = values ? regEnumValue(key, i, &name, nullptr, nullptr, nullptr) : regEnumKeyEx(key, i, &name);
    if (rc == kErrorNoMoreItems) break;
    EXPECT_EQ(rc, kErrorSuccess);
    names.push_back(name);
  }
  return names;
}
std::vector<std::u16string> subkeyNames(RegKeyHandle key) { return namesOf(key, false); }
std::vector<std::u16string> valueNames(RegKeyHandle key) { return namesOf(key, true); }

TEST(RegistryValues, EveryTypeRoundTripsUnchanged) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Test", &k.h, nullptr), kErrorSuccess);
  const std::vector<std::pair<uint32_t, Bytes>> values = {
      {kRegSz, utf16z(u"Grüße €")},
      {kRegDword, {0x0a, 0x00, 0x00, 0x80}},
      {kRegBinary, {0x00, 0x01, 0xfe, 0xff}},
      {kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {kRegMultiSz, utf16LeBytes(std::u16string(u"a\0b\0\0", 5))},
      {kRegExpandSz, utf16z(u"%TK_ROOT%\\x")},
      {kRegNone, {}},
      {0x4711, {9, 8, 7}},
  };
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(setValue(k.h, u"v" + utf8ToWide(std::to_string(i)), values[i].first, values[i].second), kErrorSuccess);
  }
  for (size_t i = 0; i < values.size(); ++i) {
    RegRead r = regRead(k.h, u"v" + utf8ToWide(std::to_string(i)));
    EXPECT_EQ(r.rc, kErrorSuccess);
    EXPECT_EQ(r.type, values[i].first);
    EXPECT_EQ(r.data, values[i].second) << "value " << i;
  }
  // Setting a value again replaces type and data.
  ASSERT_EQ(setValue(k.h, u"v0", kRegDword, {1, 0, 0, 0}), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"v0").type, kRegDword);
  EXPECT_EQ(regRead(k.h, u"v0").data, (Bytes{1, 0, 0, 0}));
}

TEST(RegistryValues, QueryReportsSizesAndAsksForMoreRoom) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Sizes", &k.h, nullptr), kErrorSuccess);
  Bytes data = utf16z(u"Modem");  // 12 bytes
  ASSERT_EQ(setValue(k.h, u"Name", kRegSz, data), kErrorSuccess);

  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(regQueryValueEx(k.h, u"Name", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(regQueryValueEx(k.h, u"Name", nullptr, nullptr, nullptr), kErrorSuccess);  // it exists

  Bytes small(data.size() - 1, 0xEE);
  size = static_cast<uint32_t>(small.size());
  EXPECT_EQ(regQueryValueEx(k.h, u"Name", &type, small.data(), &size), kErrorMoreData);
  EXPECT_EQ(size, data.size());

  Bytes big(data.size() + 10, 0xEE);
  size = static_cast<uint32_t>(big.size());
  EXPECT_EQ(regQueryValueEx(k.h, u"Name", nullptr, big.data(), &size), kErrorSuccess);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(Bytes(big.begin(), big.begin() + size), data);
  EXPECT_EQ(big[size], 0xEE);  // nothing written past the data

  EXPECT_EQ(regQueryValueEx(k.h, u"Name", nullptr, big.data(), nullptr), kErrorInvalidParameter);
  size = 99;
  EXPECT_EQ(regQueryValueEx(k.h, u"Missing", &type, nullptr, &size), kErrorFileNotFound);

  // An empty value has size 0 and fits any buffer.
  ASSERT_EQ(setValue(k.h, u"Empty", kRegBinary, {}), kErrorSuccess);
  size = 0;
  EXPECT_EQ(regQueryValueEx(k.h, u"Empty", &type, big.data(), &size), kErrorSuccess);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(type, kRegBinary);
}

TEST(RegistryValues, DefaultValueAndDeletion) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Defaults", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setValue(k.h, u"", kRegSz, utf16z(u"default")), kErrorSuccess);
  ASSERT_EQ(setValue(k.h, u"Other", kRegDword, {1, 0, 0, 0}), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"").data, utf16z(u"default"));
  EXPECT_EQ(regDeleteValue(k.h, u""), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"").rc, kErrorFileNotFound);
  EXPECT_EQ(regDeleteValue(k.h, u""), kErrorFileNotFound);
  EXPECT_EQ(regDeleteValue(k.h, u"OTHER"), kErrorSuccess);
  EXPECT_TRUE(valueNames(k.h).empty());
}

TEST(RegistryValues, RefusesNamesAndArgumentsThatCannotBeStored) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Bad", &k.h, nullptr), kErrorSuccess);
  EXPECT_EQ(setValue(k.h, u"a\nb", kRegDword, {1, 0, 0, 0}), kErrorInvalidParameter);
  EXPECT_EQ(regSetValueEx(k.h, u"x", kRegBinary, nullptr, 4), kErrorInvalidParameter);
  EXPECT_EQ(regSetValueEx(k.h, u"x", kRegBinary, nullptr, 0), kErrorSuccess);
  Key sub;
  EXPECT_EQ(regCreateKeyEx(k.h, u"a\\\\b", &sub.h, nullptr), kErrorBadKey);
  EXPECT_EQ(regCreateKeyEx(k.h, u"\\a", &sub.h, nullptr), kErrorBadKey);
  EXPECT_EQ(regCreateKeyEx(k.h, u"line\nbreak", &sub.h, nullptr), kErrorBadKey);
  EXPECT_EQ(regCreateKeyEx(k.h, u"ok", nullptr, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(sub.h, nullptr);
}

// Names of 'k' of at most 255 characters, joined by backslashes, exactly length long.
std::u16string pathOfLength(size_t length) {
  std::u16string path;
  while (path.size() < length) {
    if (!path.empty()) path += u'\\';
    size_t left = length - path.size();
    size_t take = std::min<size_t>(kMaxRegKeyNameLength, left);
    if (left - take == 1) --take;  // leave room for a backslash and one more name
    path += std::u16string(take, u'k');
  }
  return path;
}

TEST(RegistryLimits, KeyPathsAndNamesBeyondTheWindowsLimitsAreRefusedEverywhere) {
  struct Case {
    const char* what;
    std::u16string subKey;
    long rc;
  };
  const std::vector<Case> cases = {
      {"512 levels", regPathOfDepth<std::u16string>(512), kErrorSuccess},
      {"513 levels", regPathOfDepth<std::u16string>(513), kErrorBadKey},
      {"30000 levels", regPathOfDepth<std::u16string>(30000), kErrorBadKey},
      {"255 characters", std::u16string(255, u'n'), kErrorSuccess},
      {"256 characters", std::u16string(256, u'n'), kErrorBadKey},
      {"path of 32767", pathOfLength(32767), kErrorSuccess},
      {"path of 32768", pathOfLength(32768), kErrorBadKey},
  };
  for (const Case& c : cases) {
    Key k;
    EXPECT_EQ(regCreateKeyEx(kHkeyCurrentUser, c.subKey, &k.h, nullptr), c.rc) << c.what;
    EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, c.subKey, &k.h), c.rc) << c.what;
    EXPECT_EQ(regDeleteTree(kHkeyCurrentUser, c.subKey), c.rc) << c.what;
  }
  // Below an open key the path from the root counts.
  Key half;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, regPathOfDepth<std::u16string>(300), &half.h, nullptr), kErrorSuccess);
  Key deeper;
  EXPECT_EQ(regCreateKeyEx(half.h, regPathOfDepth<std::u16string>(212), &deeper.h, nullptr), kErrorSuccess);
  EXPECT_EQ(regCreateKeyEx(half.h, regPathOfDepth<std::u16string>(213), &deeper.h, nullptr), kErrorBadKey);

  EXPECT_EQ(setValue(half.h, std::u16string(16383, u'v'), kRegDword, {1, 0, 0, 0}), kErrorSuccess);
  EXPECT_EQ(setValue(half.h, std::u16string(16384, u'v'), kRegDword, {1, 0, 0, 0}), kErrorInvalidParameter);
}

TEST(RegistryLimits, ImportOfABuiltDocumentChecksItAsTheParserChecksText) {
  auto document = [](std::vector<std::u16string> path, std::u16string valueName, bool remove = false) {
    RegTextDocument doc;
    RegTextSection fine;
    fine.root = RegRoot::CurrentUser;
    fine.path = {u"Software", u"Fine"};
    doc.sections.push_back(fine);
    RegTextSection section;
    section.root = RegRoot::CurrentUser;
    section.path = std::move(path);
    section.remove = remove;
    section.line = 7;
    RegTextValue value;
    value.name = std::move(valueName);
    value.type = kRegDword;
    value.data = {1, 0, 0, 0};
    if (!remove) section.values.push_back(value);
    doc.sections.push_back(section);
    return doc;
  };
  struct Case {
    RegTextDocument doc;
    long rc;
    std::string message;
  };
  const std::vector<Case> cases = {
      {document(std::vector<std::u16string>(513, u"d"), u"v"), kErrorBadKey, "513 levels deep"},
      {document({u"a\\b"}, u"v"), kErrorBadKey, "holds a backslash"},
      {document({u"a", u""}, u"v"), kErrorBadKey, "empty key name"},
      {document({std::u16string(256, u'n')}, u"v"), kErrorBadKey, "256 characters long"},
      {document({u"tab\tkey"}, u"v"), kErrorBadKey, "holds a control character"},
      {document({u"Software"}, std::u16string(u"nul\0name", 8)), kErrorInvalidParameter, "holds a control character"},
      {document({u"Software"}, std::u16string(16384, u'v')), kErrorInvalidParameter, "16384 characters long"},
      {document({}, u"", true), kErrorAccessDenied, "a root key cannot be deleted"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(regImportDocument(c.doc), c.rc) << c.message;
    EXPECT_EQ(registryLastError().rfind("key section 2 (line 7): ", 0), 0u) << registryLastError();
    EXPECT_NE(registryLastError().find(c.message), std::string::npos) << registryLastError();
  }
  // All or nothing: the fine section before the bad one was not applied either.
  Key fine;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Fine", &fine.h), kErrorFileNotFound);
  EXPECT_EQ(regImportDocument(document({u"Software"}, u"v")), kErrorSuccess);
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Fine", &fine.h), kErrorSuccess);
}

TEST(RegistryNames, KeysAndValuesMatchInAnyCaseAndKeepTheirOwnCase) {
  Key k;
  uint32_t disposition = 0;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Müller\\Link", &k.h, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(setValue(k.h, u"LinkSpeed", kRegDword, {1, 0, 0, 0}), kErrorSuccess);

  Key same;
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"SOFTWARE\\MÜLLER\\link", &same.h), kErrorSuccess);
  EXPECT_EQ(regRead(same.h, u"linkspeed").data, (Bytes{1, 0, 0, 0}));
  ASSERT_EQ(setValue(same.h, u"LINKSPEED", kRegDword, {2, 0, 0, 0}), kErrorSuccess);
  EXPECT_EQ(valueNames(k.h), std::vector<std::u16string>{u"LinkSpeed"});
  EXPECT_EQ(regRead(k.h, u"LinkSpeed").data, (Bytes{2, 0, 0, 0}));

  Key again;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"software\\müller\\LINK", &again.h, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  Key software;
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"software", &software.h), kErrorSuccess);
  EXPECT_EQ(subkeyNames(software.h), std::vector<std::u16string>{u"Müller"});
  EXPECT_EQ(subkeyNames(kHkeyLocalMachine), std::vector<std::u16string>{u"Software"});
}

TEST(RegistryKeys, CreateMakesParentsAndOpenFindsOnlyExistingKeys) {
  Key missing;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\A", &missing.h), kErrorFileNotFound);
  EXPECT_EQ(missing.h, nullptr);

  Key c;
  uint32_t disposition = 0;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\A\\B\\C", &c.h, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  for (auto path : {u"Software", u"Software\\A", u"Software\\A\\B", u"Software\\A\\B\\C", u""}) {
    Key k;
    EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, path, &k.h), kErrorSuccess);
  }
  // Relative to an open key, and the roots are separate.
  Key a, b;
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\A", &a.h), kErrorSuccess);
  EXPECT_EQ(regOpenKeyEx(a.h, u"B\\C", &b.h), kErrorSuccess);
  Key other;
  EXPECT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\A", &other.h), kErrorFileNotFound);
  // A new key below an existing one is reported as created.
  Key d;
  ASSERT_EQ(regCreateKeyEx(a.h, u"B\\D", &d.h, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  Key bAgain;
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\A\\B", &bAgain.h), kErrorSuccess);
  EXPECT_EQ(subkeyNames(bAgain.h), (std::vector<std::u16string>{u"C", u"D"}));
}

TEST(RegistryKeys, EnumerationGoesByIndexUntilNoMoreItems) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Enum", &k.h, nullptr), kErrorSuccess);
  for (auto name : {u"zulu", u"Alpha", u"mike", u"Bravo"}) {
    Key sub;
    ASSERT_EQ(regCreateKeyEx(k.h, name, &sub.h, nullptr), kErrorSuccess);
  }
  EXPECT_EQ(subkeyNames(k.h), (std::vector<std::u16string>{u"Alpha", u"Bravo", u"mike", u"zulu"}));
  for (auto name : {u"second", u"first", u"third"}) ASSERT_EQ(setValue(k.h, name, kRegBinary, {7}), kErrorSuccess);
#if defined(_WIN32)
  // Windows enumerates values in creation order, Wine in name order.
  if (runningUnderWine()) GTEST_SKIP() << "Wine enumerates values by name, not in creation order";
#endif
  EXPECT_EQ(valueNames(k.h), (std::vector<std::u16string>{u"second", u"first", u"third"}));

  std::u16string name;
  uint32_t type = 0;
  uint8_t byte = 0;
  uint32_t size = 1;
  EXPECT_EQ(regEnumValue(k.h, 1, &name, &type, &byte, &size), kErrorSuccess);
  EXPECT_EQ(name, u"first");
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(byte, 7);
  EXPECT_EQ(regEnumValue(k.h, 3, &name, &type, &byte, &size), kErrorNoMoreItems);
  EXPECT_EQ(regEnumKeyEx(k.h, 4, &name), kErrorNoMoreItems);
}

TEST(RegistryKeys, DeleteKeyRefusesSubkeysAndDeleteTreeRemovesEverything) {
  Key a;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\A\\B\\C", &a.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setValue(a.h, u"v", kRegDword, {1, 0, 0, 0}), kErrorSuccess);
  EXPECT_EQ(regDeleteKey(kHkeyLocalMachine, u"Software\\A"), kErrorAccessDenied);
  EXPECT_EQ(regDeleteKey(kHkeyLocalMachine, u"Software\\A\\B\\C"), kErrorSuccess);
  EXPECT_EQ(regDeleteKey(kHkeyLocalMachine, u"Software\\A\\B\\C"), kErrorFileNotFound);
  EXPECT_EQ(regDeleteKey(kHkeyLocalMachine, u"Software\\a\\b"), kErrorSuccess);
  EXPECT_EQ(regDeleteKey(kHkeyLocalMachine, u""), kErrorAccessDenied);

  Key t;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Tree\\X\\Y", &t.h, nullptr), kErrorSuccess);
  Key tree;
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Tree", &tree.h), kErrorSuccess);
  ASSERT_EQ(setValue(tree.h, u"kept?", kRegDword, {1, 0, 0, 0}), kErrorSuccess);
  // An empty subkey name empties the key but keeps it.
  EXPECT_EQ(regDeleteTree(tree.h, u""), kErrorSuccess);
  EXPECT_TRUE(subkeyNames(tree.h).empty());
  EXPECT_TRUE(valueNames(tree.h).empty());
  ASSERT_EQ(regCreateKeyEx(tree.h, u"X\\Y", &t.h, nullptr), kErrorSuccess);
  EXPECT_EQ(regDeleteTree(kHkeyLocalMachine, u"SOFTWARE\\TREE"), kErrorSuccess);
  Key gone;
  EXPECT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Tree", &gone.h), kErrorFileNotFound);
  EXPECT_EQ(regDeleteTree(kHkeyLocalMachine, u"Software\\Tree"), kErrorFileNotFound);
  EXPECT_EQ(subkeyNames(kHkeyLocalMachine), std::vector<std::u16string>{u"Software"});
}

TEST(RegistryHandles, InvalidClosedAndDeletedKeysAreReported) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Doomed", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(regDeleteKey(kHkeyCurrentUser, u"Software\\Doomed"), kErrorSuccess);
  EXPECT_EQ(setValue(k.h, u"v", kRegDword, {1, 0, 0, 0}), kErrorKeyDeleted);
  EXPECT_EQ(regRead(k.h, u"v").rc, kErrorKeyDeleted);
  Key sub;
  EXPECT_EQ(regCreateKeyEx(k.h, u"Sub", &sub.h, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Doomed", &sub.h), kErrorFileNotFound);

  EXPECT_EQ(regCloseKey(kHkeyCurrentUser), kErrorSuccess);
  EXPECT_EQ(regCloseKey(kHkeyLocalMachine), kErrorSuccess);
  RegKeyHandle h = nullptr;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Once", &h, nullptr), kErrorSuccess);
  EXPECT_EQ(regCloseKey(h), kErrorSuccess);
  EXPECT_EQ(regCloseKey(h), kErrorInvalidHandle);
  EXPECT_EQ(regRead(h, u"v").rc, kErrorInvalidHandle);
  EXPECT_EQ(regCloseKey(nullptr), kErrorInvalidHandle);
  std::u16string name;
  EXPECT_EQ(regEnumKeyEx(nullptr, 0, &name), kErrorInvalidHandle);
}

TEST(RegistryAnsi, ConvertsNamesAndStringsWithUmlauts) {
  Key k;
  ASSERT_EQ(regCreateKeyExA(kHkeyLocalMachine, "Software\\M\xFCller", &k.h, nullptr), kErrorSuccess);
  Key w;
  ASSERT_EQ(regOpenKeyEx(kHkeyLocalMachine, u"Software\\Müller", &w.h), kErrorSuccess);

  // "Grüße €" with its terminator, in Windows-1252.
  const std::string ansi("Gr\xFC\xDF" "e \x80", 8);
  ASSERT_EQ(regSetValueExA(k.h, "Stra\xDF" "e", kRegSz, reinterpret_cast<const uint8_t*>(ansi.data()), 8),
            kErrorSuccess);
  RegRead wide = regRead(w.h, u"STRAßE");
  EXPECT_EQ(wide.rc, kErrorSuccess);
  EXPECT_EQ(wide.data, utf16z(u"Grüße €"));

  ASSERT_EQ(setValue(w.h, u"Öl", kRegSz, utf16z(u"Öl für €5")), kErrorSuccess);
  RegRead back = regRead(k.h, "\xD6l");
  EXPECT_EQ(back.rc, kErrorSuccess);
  EXPECT_EQ(back.type, kRegSz);
  EXPECT_EQ(back.data, bytesOf(std::string("\xD6l f\xFCr \x80" "5", 9) + '\0'));
  // Characters Windows-1252 lacks read as '?'.
  ASSERT_EQ(setValue(w.h, u"cjk", kRegSz, utf16z(u"中文")), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, "cjk").data, bytesOf(std::string("??\0", 3)));
  // Other types pass through unconverted both ways.
  const Bytes raw = {0xFC, 0x00, 0x80};
  ASSERT_EQ(regSetValueExA(k.h, "raw", kRegBinary, raw.data(), 3), kErrorSuccess);
  EXPECT_EQ(regRead(w.h, u"raw").data, raw);
  EXPECT_EQ(regRead(k.h, "raw").data, raw);
}

TEST(RegistryAnsi, KeepsRegSzBytesExactlyAsWritten) {
  Key k;
  ASSERT_EQ(regCreateKeyExA(kHkeyLocalMachine, "Software\\Link", &k.h, nullptr), kErrorSuccess);
  // Six bytes of "115200" have no room for a terminator, and get none.
  ASSERT_EQ(setAnsiSz(k.h, "LinkSpeed", "115200"), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"LinkSpeed").data, utf16LeBytes(u"115200"));
  uint8_t six[6] = {};
  uint32_t size = sizeof six;
  uint32_t type = 0;
  EXPECT_EQ(regQueryValueExA(k.h, "LinkSpeed", &type, six, &size), kErrorSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(Bytes(six, six + 6), bytesOf("115200"));

  // "9600" padded with zeros to six bytes keeps the padding.
  ASSERT_EQ(setAnsiSz(k.h, "LinkSpeed", std::string_view("9600\0\0", 6)), kErrorSuccess);
  size = sizeof six;
  EXPECT_EQ(regQueryValueExA(k.h, "LinkSpeed", &type, six, &size), kErrorSuccess);
  EXPECT_EQ(Bytes(six, six + size), bytesOf(std::string_view("9600\0\0", 6)));

  // Text, terminator and padding, eight bytes.
  ASSERT_EQ(setAnsiSz(k.h, "Link", std::string_view("COM1\0\0\0\0", 8)), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"Link").data.size(), 16u);
  uint8_t five[5];
  size = sizeof five;
  EXPECT_EQ(regQueryValueExA(k.h, "Link", &type, five, &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(regRead(k.h, "Link").data, bytesOf(std::string_view("COM1\0\0\0\0", 8)));

  // A value written with its terminator reads back with it, and odd-sized
  // wide data is kept byte for byte.
  ASSERT_EQ(setValue(k.h, u"Name", kRegSz, utf16z(u"Port")), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"Name").data, utf16z(u"Port"));
  EXPECT_EQ(regRead(k.h, "Name").data, bytesOf(std::string_view("Port\0", 5)));
  ASSERT_EQ(setValue(k.h, u"Odd", kRegSz, {0x41, 0x00, 0x42}), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"Odd").data, (Bytes{0x41, 0x00, 0x42}));
  EXPECT_EQ(regRead(k.h, "Odd").data, bytesOf("A"));
}

TEST(RegistryThreads, ConcurrentWritersAndReadersInOneProcessLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kPerWriter = 25;
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Threads", &k.h, nullptr), kErrorSuccess);
  std::atomic<int> failures{0};
  std::atomic<int> writersDone{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      Key own;
      if (regOpenKeyEx(kHkeyCurrentUser, u"SOFTWARE\\threads", &own.h) != kErrorSuccess) ++failures;
      for (int i = 0; i < kPerWriter; ++i) {
        uint32_t n = static_cast<uint32_t>(w * 1000 + i);
        auto name = utf8ToWide("w" + std::to_string(w) + "_" + std::to_string(i));
        if (regSetValueEx(own.h, name, kRegDword, reinterpret_cast<const uint8_t*>(&n), 4) != kErrorSuccess) {
          ++failures;
        }
      }
      ++writersDone;
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      for (int round = 0; round < 100000 && writersDone < kWriters; ++round) {
        if (std::chrono::steady_clock::now() > deadline) break;
        std::u16string name;
        uint32_t size = 0;
        long rc = regEnumValue(k.h, 0, &name, nullptr, nullptr, &size);
        if (rc != kErrorSuccess && rc != kErrorNoMoreItems) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(valueNames(k.h).size(), static_cast<size_t>(kWriters * kPerWriter));
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      RegRead r = regRead(k.h, utf8ToWide("w" + std::to_string(w) + "_" + std::to_string(i)));
      uint32_t n = static_cast<uint32_t>(w * 1000 + i);
      EXPECT_EQ(r.data, Bytes(reinterpret_cast<uint8_t*>(&n), reinterpret_cast<uint8_t*>(&n) + 4));
    }
  }
}

}  // namespace
