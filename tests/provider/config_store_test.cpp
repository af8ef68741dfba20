#include "provider/config_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/root.h"
#include "provider/config_registry.h"
#include "tests/support/files.h"
#include "tests/support/registry_helpers.h"
#include "tests/support/trace_capture.h"

namespace {

using namespace kvarsp;

constexpr uint32_t kProviderId = 7;
const std::string kProviderKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider7]\n";
const std::string kUserKey = "[HKEY_CURRENT_USER\\Software\\Marlix\\TSP\\Marlix TK-Anlage]\n";
const std::string kLoggingKey(tktest::kRegLoggingKey);

// Seeds the store with .reg text: one import for a whole configuration.
void seed(const std::string& body) { ASSERT_TRUE(tktest::regSeed(body)); }
using tktest::regDword;
using tktest::regSz;
std::string n(const char* prefix, int i, const char* rest = "", int k = -1) {
  return prefix + std::to_string(i) + rest + (k >= 0 ? std::to_string(k) : "");
}

// A stored DWORD, read with the registry API itself.
std::optional<uint32_t> stored(bool userKey, std::u16string name) {
  tktest::Key key;
  uint32_t type = 0, value = 0, size = 4;
  if (platform::regOpenKeyEx(userKey ? platform::kHkeyCurrentUser : platform::kHkeyLocalMachine,
                             userKey ? u"Software\\Marlix\\TSP\\Marlix TK-Anlage"
                                     : u"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider7",
                             &key.h) != 0 ||
      platform::regQueryValueEx(key.h, name, &type, reinterpret_cast<uint8_t*>(&value), &size) != 0) {
    return std::nullopt;
  }
  return value;
}
std::optional<uint32_t> storedProvider(std::u16string name) { return stored(false, std::move(name)); }
std::optional<uint32_t> storedUser(std::u16string name) { return stored(true, std::move(name)); }

ConfigTables loaded() {
  ConfigTables tables;
  LoadConfiguration(tables, kProviderId);
  return tables;
}

TEST(ConfigLoad, WithoutInUseListOffersEveryLineAndDropsLinesWithoutAddress) {
  seed(kProviderKey + regDword("NumLinesTotal", 3) + regDword("PbxLineID0", 0x1000A) + regSz("LineAddress0", "21") +
       regDword("PbxLineID1", 11) + regDword("NumMSNSLine1", 1) + regDword("Line1MSN0", 4) +  // no address: dropped
       regDword("PbxLineID2", 12) + regSz("LineAddress2", "23") + regDword("NumMSNSLine2", 2) + regDword("Line2MSN0", 0x105) +
       regDword("Line2MSN1", 6) + regDword("NumMSNs", 3) + regDword("MSNIndex0", 5) + regSz("MSNAddress0", "555") + regDword("MSNIndex1", 9) +
       regSz("MSNAddress1", "") + regDword("MSNIndex2", 6) + regSz("MSNAddress2", "666") + regDword("16BitLineId", 2));
  ConfigTables t = loaded();
  ASSERT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.lines[0].pbxLineId, 10) << "low 16 bits";
  EXPECT_TRUE(t.lines[0].inUse && t.lines[1].inUse);
  EXPECT_EQ(t.lines[0].msnCount, 0);
  ASSERT_EQ(t.lines[1].msnCount, 2) << "the dropped line's MSN list stays with it";
  EXPECT_EQ(t.lines[1].msnIndexes[0], 5) << "low byte";
  ASSERT_EQ(t.msns.size(), 2u) << "an MSN without address is dropped";
  EXPECT_EQ(t.msns[1].address, u"666");
  EXPECT_TRUE(t.lineId16Bit);

  seed(kUserKey + regDword("NumLinesInUse", 2) + regDword("LineIDInUse0", 11) + regDword("LineIDInUse1", 0x2000C));
  t = loaded();
  ASSERT_EQ(t.lines.size(), 2u) << "an in-use line without address is still dropped";
  EXPECT_FALSE(t.lines[0].inUse);
  EXPECT_TRUE(t.lines[1].inUse);
}

TEST(ConfigLoad, CutsCountsAndTextsToTheTableLimits) {
  std::string body = kProviderKey + regDword("NumLinesTotal", 300) + regDword("NumMSNSLine0", 100) + regDword("NumMSNs", 70);
  for (int i = 0; i < 300; ++i) body += regDword(n("PbxLineID", i), i) + regSz(n("LineAddress", i), "1234567890123456789012345");
  for (int k = 0; k < 100; ++k) body += regDword(n("Line", 0, "MSN", k), 100 + k);
  for (int i = 0; i < 70; ++i) body += regDword(n("MSNIndex", i), i) + regSz(n("MSNAddress", i), std::string(55, '9'));
  seed(body);
  ConfigTables t = loaded();
  ASSERT_EQ(t.lines.size(), 256u);
  EXPECT_EQ(t.lines[255].pbxLineId, 255);
  EXPECT_EQ(t.lines[0].address, u"12345678901234567890");
  ASSERT_EQ(t.lines[0].msnCount, 60);
  EXPECT_EQ(t.lines[0].msnIndexes[59], 159);
  ASSERT_EQ(t.msns.size(), 60u);
  EXPECT_EQ(t.msns[59].address, std::u16string(50, u'9'));
}

TEST(ConfigLoad, FallsBackToNumLinesAndTakesTheFirstHandsfreeRecord) {
  seed(kProviderKey + regDword("NumLines", 2) + regDword("NumLinesTotal", 0xFFFFFFFF) + regDword("PbxLineID0", 10) +
       regSz("LineAddress0", "a") + regDword("PbxLineID1", 11) + regSz("LineAddress1", "b") + regSz("LineAddress2", "c") + kUserKey +
       regDword("NumLinesHandsfreeMode", 3) + regDword("HandsfreeModeLineID0", 10) + regDword("HandsfreeMode0", 0x101) +
       regDword("HandsfreeModeLineID1", 10) + regDword("HandsfreeMode1", 2) + regDword("HandsfreeModeLineID2", 11) +
       regDword("HandsfreeMode2", 2));
  ConfigTables t = loaded();
  ASSERT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.lines[0].handsfreeMode, 1);
  EXPECT_EQ(t.lines[1].handsfreeMode, 2);

  seed(kProviderKey + regDword("NumLinesTotal", 1));
  EXPECT_EQ(loaded().lines.size(), 1u) << "NumLinesTotal, when present, wins over NumLines";
}

TEST(ConfigRegistryErrors, WrongTypeKeepsTheDefaultAndIsTracedMissingValuesAreSilent) {
  seed(kProviderKey + regDword("LineName", 5) + regSz("NumPhones", "three") + "\"NumLinesTotal\"=hex(4):01,00\n" + kLoggingKey +
       regSz("LogTapi", "1"));
  tktest::TraceCapture trace;
  EXPECT_EQ(ReadLineName(kProviderId, 100), u"Marlix TK-Anlage");
  EXPECT_EQ(ReadNumPhones(kProviderId), 0u);
  EXPECT_FALSE(ReadLogTapi());
  EXPECT_EQ(ReadFirstConfig(), 0u);
  EXPECT_EQ(ReadDialPrefix(PrefixKind::International, kProviderId, 10).prefix, u"00");
  EXPECT_TRUE(loaded().lines.empty());
  EXPECT_EQ(trace.texts(), (std::vector<std::string>{"Error in RegQueryValueEx( \"LineName\" ): 13",
                                                     "Error in RegQueryValueEx( \"NumPhones\" ): 234",
                                                     "Error in RegQueryValueEx( \"NumLinesTotal\" ): 13"}));
}

TEST(ConfigRegistryErrors, UnwritableStoreTracesTheKeyAndKeepsDefaults) {
  tktest::writeFile(platform::registryDir() + "/HKEY_LOCAL_MACHINE.reg", "not a registry file\n");
  tktest::writeFile(platform::registryDir() + "/HKEY_CURRENT_USER.reg", "not a registry file\n");
  tktest::TraceCapture trace;
  WriteLineName(kProviderId, u"x");
  EXPECT_EQ(ReadLineName(kProviderId, 5), u"Marl");
  WriteFirstConfig(1);
  EXPECT_TRUE(ReadLogPath().empty());
  ASSERT_EQ(trace.texts().size(), 3u);
  EXPECT_EQ(trace.texts()[0],
            "Error in RegCreateKeyEx( \"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\" ): 1015");
  EXPECT_EQ(trace.texts()[2], "Error in RegCreateKeyEx( \"Software\\Marlix\\TSP\\Marlix TK-Anlage\" ): 1015");
  EXPECT_EQ(ProviderSubkeyName(0x80000001u), "Provider-2147483647");
}

TEST(ConfigRegistryStrings, ReadsOnlyTheStoredCharactersWhateverTheirTermination) {
  seed(kProviderKey + "\"LineName\"=hex(1):41,00,42,00,43\n" + "\"OutSideLinePrefix\"=hex(1):39,00\n" +
       "\"LongDistancePrefix\"=hex(1):31,00,00,00,32,00\n" + "\"InternationalPrefix\"=hex(1):\n");
  EXPECT_EQ(ReadLineName(kProviderId, 100), u"AB") << "odd byte, no terminator: default must not show through";
  EXPECT_EQ(ReadDialPrefix(PrefixKind::OutsideLine, kProviderId, 10).prefix, u"9");
  EXPECT_EQ(ReadDialPrefix(PrefixKind::LongDistance, kProviderId, 10).prefix, u"1");
  EXPECT_EQ(ReadDialPrefix(PrefixKind::International, kProviderId, 10).prefix, u"");
}

ConfigTables sampleTables() {  // lines 300 (in use), 301, 302 (in use, MSNs 4 and 8); modes 0, 1, 2
  ConfigTables t;
  t.lineId16Bit = true;
  for (uint16_t id : {300, 301, 302}) {
    t.AddLine({.pbxLineId = id,
               .address = u"Nr " + std::u16string(1, static_cast<char16_t>(u'0' + id % 10)),
               .inUse = id != 301,
               .handsfreeMode = static_cast<uint8_t>(id % 3)});
  }
  t.AddMsnIndex(2, 4);
  t.AddMsnIndex(2, 8);
  t.AddMsn(8, u"0815");
  t.AddMsn(4, u"4711");
  return t;
}

TEST(ConfigSave, RoundTripsAndLeavesValuesOfALongerConfiguration) {
  ConfigTables saved = sampleTables();
  SaveConfiguration(saved, kProviderId);
  EXPECT_EQ(loaded(), saved);
  EXPECT_EQ(storedProvider(u"NumLines"), 2u);
  EXPECT_EQ(storedUser(u"NumLinesInUse"), 2u);
  EXPECT_EQ(storedUser(u"LineIDInUse1"), 302u) << "in-use list numbered consecutively";
  EXPECT_EQ(storedUser(u"NumLinesHandsfreeMode"), 3u);
  EXPECT_EQ(storedUser(u"HandsfreeModeLineID2"), 302u);

  ConfigTables shorter;
  shorter.AddLine(saved.lines[1]);
  SaveConfiguration(shorter, kProviderId);
  EXPECT_EQ(loaded(), shorter);
  EXPECT_EQ(storedProvider(u"PbxLineID2"), 302u);
  EXPECT_EQ(storedUser(u"NumLinesInUse"), 0u);
  EXPECT_EQ(storedUser(u"LineIDInUse1"), 302u);
}

TEST(ConfigRefill, KeepsHandsfreeModesTakesInUseFromTheRegistryAndHonoursLimits) {
  ConfigTables t = sampleTables();
  seed(kUserKey + regDword("NumLinesInUse", 1) + regDword("LineIDInUse0", 302));
  AddressList list;
  list.lineId16Bit = false;
  list.lines = {{302, u"22"}, {303, u""}, {301, u"123456789012345678901"}, {400, u"40"}};
  list.msns = {{1, u"555", {301, 999, 302}}, {2, u"", {302}}};
  RefillFromAddressList(t, list);
  ASSERT_EQ(t.lines.size(), 3u);
  EXPECT_EQ(t.lines[0].pbxLineId, 302);
  EXPECT_EQ(t.lines[0].handsfreeMode, 2);
  EXPECT_TRUE(t.lines[0].inUse);
  EXPECT_EQ(t.lines[1].handsfreeMode, 1);
  EXPECT_FALSE(t.lines[1].inUse);
  EXPECT_EQ(t.lines[1].address.size(), 20u);
  EXPECT_EQ(t.lines[2].handsfreeMode, 0) << "a new line";
  EXPECT_EQ(t.lines[0].msnCount, 2);
  EXPECT_EQ(t.lines[1].msnCount, 1);
  EXPECT_EQ(t.msns.size(), 2u);
  EXPECT_FALSE(t.lineId16Bit);

  AddressList big;
  big.lineId16Bit = true;
  for (uint16_t id = 0; id < 300; ++id) big.lines.push_back({id, u"1"});
  for (uint8_t i = 0; i < 70; ++i) big.msns.push_back({i, u"2", {7}});
  seed("[-HKEY_CURRENT_USER\\Software\\Marlix\\TSP\\Marlix TK-Anlage]\n");
  RefillFromAddressList(t, big);
  EXPECT_EQ(t.lines.size(), 256u);
  EXPECT_EQ(t.InUseCount(), 256u) << "no in-use list: every line";
  EXPECT_EQ(t.msns.size(), 60u);
  EXPECT_EQ(t.lines[7].msnCount, 60);
  EXPECT_TRUE(t.lineId16Bit);
}

TEST(ConfigPrefixes, DefaultsRoundTripAndPrefixingOfNationalAndInternationalNumbers) {
  for (auto kind : {PrefixKind::OutsideLine, PrefixKind::LongDistance, PrefixKind::International}) {
    DialPrefix p = ReadDialPrefix(kind, kProviderId, 1025);
    EXPECT_TRUE(p.use);
    EXPECT_EQ(p.prefix, kind == PrefixKind::International ? u"00" : u"0");
  }
  EXPECT_EQ(PrefixNumber(kProviderId, 4, u"301234"), u"00301234");
  EXPECT_EQ(PrefixNumber(kProviderId, 5, u"4930"), u"0004930");
  EXPECT_EQ(PrefixNumber(kProviderId, 3, u"4930"), u"4930");

  WriteDialPrefix(PrefixKind::OutsideLine, kProviderId, false, u"9");
  WriteDialPrefix(PrefixKind::LongDistance, kProviderId, true, u"1234567");
  EXPECT_EQ(ReadDialPrefix(PrefixKind::LongDistance, kProviderId, 1025).prefix, u"1234567");
  EXPECT_FALSE(ReadDialPrefix(PrefixKind::OutsideLine, kProviderId, 1025).use);
  EXPECT_EQ(PrefixNumber(kProviderId, 4, u"30"), u"1234530") << "outside line off, 5 characters of the prefix";
  WriteDialPrefix(PrefixKind::OutsideLine, kProviderId, true, u"9");
  WriteDialPrefix(PrefixKind::International, kProviderId, false, u"00");
  EXPECT_EQ(PrefixNumber(kProviderId, 5, u"4930"), u"94930");
  EXPECT_EQ(PrefixNumber(kProviderId, 4, std::u16string(300, u'5')).size(), 255u);
}

TEST(ConfigSmallValues, ReadTheirDefaultsAndRoundTripUnderTheirOwnKeys) {
  EXPECT_EQ(ReadLineName(kProviderId, 1025), u"Marlix TK-Anlage");
  WriteLineName(kProviderId, u"Büro");
  EXPECT_EQ(ReadLineName(kProviderId, 1025), u"Büro");
  EXPECT_EQ(ReadLineName(kProviderId + 1, 1025), u"Marlix TK-Anlage") << "per provider ID";
  WriteNumPhones(kProviderId, 4);
  EXPECT_EQ(ReadNumPhones(kProviderId), 4u);
  WriteFirstConfig(1);
  EXPECT_EQ(ReadFirstConfig(), 1u);
  EXPECT_EQ(storedUser(u"FirstConfig"), 1u);
  seed(kLoggingKey + regDword("LogTapi", 2) + regDword("LogCTI", 0) + regSz("LogPath", std::string(300, 'p')));
  EXPECT_TRUE(ReadLogTapi());
  EXPECT_FALSE(ReadLogCti());
  EXPECT_EQ(ReadLogPath(), std::u16string(260, u'p'));
}

}  // namespace
