// What only the Windows backend of the registry has: its keys and values are
// the system's (seen by direct Win32 calls and the other way round), .reg
// export and import over real keys, the change watch over the system's
// notifications, and an import Windows refuses midway changing nothing.
// Every case runs in its own sandbox (registry_sandbox.h).
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fake_clock.h"
#include "platform/profile.h"
#include "platform/reg_text.h"
#include "platform/registry.h"
#include "platform/registry_generation.h"
#include "tests/support/registry_helpers.h"
#include "tests/windows/platform_registry/registry_sandbox.h"
#include "tests/windows/platform_registry/self_child.h"

namespace {

using namespace platform;
using namespace tktest;

HKEY asHkey(RegKeyHandle key) { return reinterpret_cast<HKEY>(key); }

// A value read directly with RegQueryValueExW.
Bytes systemRead(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* type = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  Bytes data;
  if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
    data.resize(size);
    if (RegQueryValueExW(key, name, nullptr, type, data.data(), &size) != ERROR_SUCCESS) data.clear();
  }
  RegCloseKey(key);
  return data;
}

TEST(RegistryWin32, KeysAndValuesAreTheSystemsBothWays) {
  Key k;
  uint32_t disposition = 0;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Marlix\\Link", &k.h, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(setDword(k.h, u"Port", 15002), kErrorSuccess);
  // Seen by the system's own functions, in any case, and the handle is an HKEY.
  DWORD type = 0;
  EXPECT_EQ(systemRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\marlix\\LINK", L"port", &type), (Bytes{0x9a, 0x3a, 0, 0}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  DWORD values = 0;
  EXPECT_EQ(RegQueryInfoKeyW(asHkey(k.h), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);

  // And what the system writes is seen here; the system's own root constants
  // (sign-extended on x64) are accepted as well.
  HKEY direct = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Direct", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &direct,
                            nullptr),
            ERROR_SUCCESS);
  const wchar_t text[] = L"Grüße";
  ASSERT_EQ(RegSetValueExW(direct, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  RegCloseKey(direct);
  EXPECT_EQ(regData(reinterpret_cast<RegKeyHandle>(HKEY_CURRENT_USER), u"software\\direct", u"TEXT"),
            utf16z(u"Grüße"));
  EXPECT_EQ(regData(kHkeyCurrentUser, u"Software\\Direct", u"Text"), utf16z(u"Grüße"));
  EXPECT_EQ(registryFileParseCount(), 0u);  // nothing is parsed on Windows
}

TEST(RegistryWin32, AnsiFunctionsConvertWithWindows1252WhateverTheSystemCodePage) {
  Key k;
  ASSERT_EQ(regCreateKeyExA(kHkeyCurrentUser, "Software\\M\xFCller", &k.h, nullptr), kErrorSuccess);
  const std::string ansi("Gr\xFC\xDF" "e \x80", 8);  // "Grüße €" and its terminator
  ASSERT_EQ(regSetValueExA(k.h, "Stra\xDF" "e", kRegSz, reinterpret_cast<const uint8_t*>(ansi.data()), 8),
            kErrorSuccess);
  EXPECT_EQ(systemRead(HKEY_CURRENT_USER, L"Software\\Müller", L"Straße"), utf16z(u"Grüße €"));

  HKEY direct = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Müller", 0, KEY_ALL_ACCESS, &direct), ERROR_SUCCESS);
  const wchar_t text[] = L"Öl für €5";
  ASSERT_EQ(RegSetValueExW(direct, L"Öl", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  EXPECT_EQ(regRead(k.h, "\xD6l").data, Bytes({0xD6, 'l', ' ', 'f', 0xFC, 'r', ' ', 0x80, '5', 0}));
  // Where the system's code page is Windows-1252, the system's A function
  // reads what ours wrote the same way.
  if (GetACP() == 1252) {
    char buffer[16] = {};
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(direct, "Stra\xDF" "e", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), ansi);
  }
  RegCloseKey(direct);
}

TEST(RegistryWin32, ExportWritesRealKeysWithTheirStoredNames) {
  ASSERT_EQ(regImport("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Exp]\n\"Count\"=dword:0000000a\n\"Name\"=\"COM1\"\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Exp\\zeta]\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Exp\\Alpha]\n@=hex:01,02\n\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\n",
                      "seed.reg"),
            kErrorSuccess)
      << registryLastError();
  const std::string expected =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Exp]\n\"Count\"=dword:0000000a\n\"Name\"=\"COM1\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\Exp\\Alpha]\n@=hex:01,02\n\n"
      "[HKEY_CURRENT_USER\\Software\\Exp\\zeta]\n\n";
  std::string text;
  ASSERT_EQ(regExportKey(kHkeyCurrentUser, u"SOFTWARE\\exp", &text), kErrorSuccess) << registryLastError();
  EXPECT_EQ(text, expected);
  Key software;
  ASSERT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"software", &software.h), kErrorSuccess);
  ASSERT_EQ(regExportKey(software.h, u"EXP", &text), kErrorSuccess) << registryLastError();
  EXPECT_EQ(text, expected);
  EXPECT_EQ(regExportKey(kHkeyCurrentUser, u"Software\\Missing", &text), kErrorFileNotFound);

  // Both roots, as the portable writer writes trees of the same keys.
  RegKey machine, user;
  machine.ensureSubkey(u"Software").ensureSubkey(u"Other");
  RegKey& exp = user.ensureSubkey(u"Software").ensureSubkey(u"Exp");
  exp.setValue(u"Count", kRegDword, {10, 0, 0, 0});
  exp.setValue(u"Name", kRegSz, utf16z(u"COM1"));
  exp.ensureSubkey(u"Alpha").setValue(u"", kRegBinary, {1, 2});
  exp.ensureSubkey(u"zeta");
  std::string all = regTextHeader();
  appendRegText(all, machine, u"HKEY_LOCAL_MACHINE");
  appendRegText(all, user, u"HKEY_CURRENT_USER");
  ASSERT_EQ(regExportAll(&text), kErrorSuccess) << registryLastError();
  EXPECT_EQ(text, all);

  // An export imported again changes nothing; deletions apply.
  ASSERT_EQ(regImport(text, "again.reg"), kErrorSuccess) << registryLastError();
  ASSERT_EQ(regImport("Windows Registry Editor Version 5.00\n\n[-HKEY_CURRENT_USER\\Software\\Exp\\Alpha]\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Exp]\n\"Count\"=-\n",
                      "delete.reg"),
            kErrorSuccess)
      << registryLastError();
  ASSERT_EQ(regExportKey(kHkeyCurrentUser, u"Software\\Exp", &text), kErrorSuccess);
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Exp]\n\"Name\"=\"COM1\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Exp\\zeta]\n\n");
}

TEST(RegistryWin32, AnImportWindowsRefusesChangesNothing) {
  Key locked;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Locked", &locked.h, nullptr), kErrorSuccess);
  // Everyone may read the key, no one may change it.
  PSECURITY_DESCRIPTOR readOnly = nullptr, open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                   nullptr));
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KA;;;WD)", SDDL_REVISION_1, &open,
                                                                   nullptr));
  HKEY dacl = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Locked", 0, WRITE_DAC, &dacl), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecurity(dacl, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
  HKEY probe = nullptr;
  bool enforced = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Locked", 0, KEY_SET_VALUE, &probe) != ERROR_SUCCESS;
  if (probe) RegCloseKey(probe);
  long rc = kErrorSuccess;
  std::string message;
  if (enforced) {
    rc = regImport("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Fine]\n\"v\"=dword:00000001\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Locked]\n\"v\"=dword:00000001\n",
                   "locked.reg");
    message = registryLastError();
  }
  RegSetKeySecurity(dacl, DACL_SECURITY_INFORMATION, open);  // so the sandbox can remove it
  RegCloseKey(dacl);
  LocalFree(readOnly);
  LocalFree(open);
  if (!enforced) GTEST_SKIP() << "Wine does not enforce the access rights of registry keys";
  EXPECT_EQ(rc, kErrorAccessDenied);
  EXPECT_NE(message.find("key section 2 (line 6) HKEY_CURRENT_USER\\Software\\Locked"), std::string::npos) << message;
  Key fine;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Fine", &fine.h), kErrorFileNotFound);
}

TEST(RegistryWin32, RootsAreNeitherDeletedNorEmptied) {
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\Kept", &k.h, nullptr), kErrorSuccess);
  EXPECT_EQ(regDeleteTree(kHkeyCurrentUser, u""), kErrorAccessDenied);
  EXPECT_EQ(regDeleteKey(kHkeyCurrentUser, u""), kErrorAccessDenied);
  Key still;
  EXPECT_EQ(regOpenKeyEx(kHkeyCurrentUser, u"Software\\Kept", &still.h), kErrorSuccess);
  // Below an open key, an empty name empties that key.
  ASSERT_EQ(setDword(k.h, u"v", 1), kErrorSuccess);
  EXPECT_EQ(regDeleteTree(k.h, u""), kErrorSuccess);
  EXPECT_EQ(regRead(k.h, u"v").rc, kErrorFileNotFound);
}

TEST(RegistryWin32, ChangeWatchSeesThisApiAtOnceAndOtherWritersWithinTheInterval) {
  FakeClock clock(1000);
  RegistryChangeWatch watch(RegRoot::LocalMachine);
  EXPECT_TRUE(watch.changed(clock));
  EXPECT_FALSE(watch.changed(clock));

  uint64_t before = registryGeneration();
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyLocalMachine, u"Software\\Marlix\\TSP\\Logging", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"LogTapi", 1), kErrorSuccess);
  EXPECT_GT(registryGeneration(), before);
  EXPECT_TRUE(watch.changed(clock));
  EXPECT_FALSE(watch.changed(clock));
  clock.advance(RegistryChangeWatch::kFileCheckIntervalMs);
  EXPECT_FALSE(watch.changed(clock));  // the notification of that write was taken in

  // A write by the system's own function, as regedit makes it.
  const DWORD off = 0;
  ASSERT_EQ(RegSetValueExW(asHkey(k.h), L"LogTapi", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off),
            ERROR_SUCCESS);
  clock.advance(RegistryChangeWatch::kFileCheckIntervalMs - 1);
  EXPECT_FALSE(watch.changed(clock));
  clock.advance(1);
  EXPECT_TRUE(watch.changed(clock));
  clock.advance(RegistryChangeWatch::kFileCheckIntervalMs);
  EXPECT_FALSE(watch.changed(clock));
}

// The child's part of the next case: one write through the registry API
// (into the child's own sandbox). Skipped unless started by that case.
TEST(RegistryChild, Write) {
  if (!std::getenv("TK_REG_CHILD")) GTEST_SKIP() << "runs only as the child of a registry test";
  Key k;
  ASSERT_EQ(regCreateKeyEx(kHkeyCurrentUser, u"Software\\FromChild", &k.h, nullptr), kErrorSuccess);
  ASSERT_EQ(setDword(k.h, u"v", 1), kErrorSuccess);
}

TEST(RegistryWin32, ChangeWatchSeesAWriteOfAnotherProcessAtOnce) {
  FakeClock clock(1000);
  RegistryChangeWatch watch(RegRoot::LocalMachine);
  EXPECT_TRUE(watch.changed(clock));
  EXPECT_FALSE(watch.changed(clock));
  uint64_t before = registryGeneration();
  SelfChild child;
  ASSERT_TRUE(child.start("RegistryChild.Write", "TK_REG_CHILD", "write"));
  ASSERT_EQ(child.wait(), 0);
  EXPECT_GT(registryGeneration(), before);
  EXPECT_TRUE(watch.changed(clock));  // the counter of the session moved; no interval needed
  EXPECT_FALSE(watch.changed(clock));
}

TEST(RegistryWin32, ProfileStringsLiveInTheUsersRegistry) {
  ASSERT_TRUE(writeProfileString(u"Marlix", u"Port", u"COM2"));
  EXPECT_EQ(getProfileString(u"Marlix", u"port"), std::optional<std::u16string>(u"COM2"));
  EXPECT_EQ(systemRead(HKEY_CURRENT_USER, L"Software\\TK\\Profile\\Marlix", L"Port"), utf16z(u"COM2"));
  EXPECT_EQ(getProfileString(u"Marlix", u"Missing"), std::nullopt);
  EXPECT_EQ(getProfileString(u"Nowhere", u"Port"), std::nullopt);
}

}  // namespace
