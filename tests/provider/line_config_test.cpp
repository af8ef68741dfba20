#include "provider/line_config.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using kvarsp::ConfigTables;
using kvarsp::LineConfigEntry;

LineConfigEntry line(uint16_t id, std::u16string address, bool inUse = false) {
  return {.pbxLineId = id, .address = std::move(address), .inUse = inUse};
}

TEST(ConfigTablesLimits, AddsUpToEachLimitCutsTextsAndRefusesTheRest) {
  ConfigTables t;
  for (uint16_t i = 0; i < kvarsp::kMaxLines; ++i) ASSERT_TRUE(t.AddLine(line(i, u"1")));
  EXPECT_FALSE(t.AddLine(line(999, u"1")));
  EXPECT_EQ(t.FindLineIndex(999), -1);

  t.Clear();
  ASSERT_TRUE(t.AddLine(line(1, u"123456789012345678901234")));
  EXPECT_EQ(t.lines[0].address, u"12345678901234567890");
  for (int k = 0; k < 60; ++k) ASSERT_TRUE(t.AddMsnIndex(0, static_cast<uint8_t>(k)));
  EXPECT_FALSE(t.AddMsnIndex(0, 200));
  EXPECT_FALSE(t.AddMsnIndex(1, 1)) << "line index out of range";
  EXPECT_EQ(t.lines[0].msnCount, 60);
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(t.AddMsn(static_cast<uint8_t>(i), std::u16string(55, u'7')));
  EXPECT_FALSE(t.AddMsn(60, u"1"));
  EXPECT_EQ(t.msns[0].address.size(), 50u);
  LineConfigEntry tooMany = line(2, u"2");
  tooMany.msnCount = 100;
  ASSERT_TRUE(t.AddLine(tooMany));
  EXPECT_EQ(t.lines[1].msnCount, 60) << "an entry's MSN count is kept within its index array";

  std::u16string text = std::u16string(19, u'1') + u"\U0001F4DE";  // a surrogate pair at units 19 and 20
  EXPECT_EQ(kvarsp::CutText(text, 20), std::u16string(19, u'1')) << "a cut never splits a pair";
  EXPECT_EQ(kvarsp::CutText(text, 21), text);
}

TEST(ConfigTablesLookup, FindsFirstMatchCountsInUseAndClearKeepsTheFlag) {
  ConfigTables t;
  t.lineId16Bit = true;
  t.AddLine(line(7, u"first", true));
  t.AddLine(line(8, u"other"));
  t.AddLine(line(7, u"second", true));
  t.AddMsn(3, u"msn-a");
  t.AddMsn(3, u"msn-b");
  EXPECT_EQ(t.FindLine(7)->address, u"first");
  EXPECT_EQ(std::as_const(t).FindLine(8)->address, u"other");
  EXPECT_EQ(t.FindLine(9), nullptr);
  EXPECT_EQ(t.FindMsn(3)->address, u"msn-a");
  EXPECT_EQ(t.FindMsn(4), nullptr);
  EXPECT_EQ(t.InUseCount(), 2u);
  t.Clear();
  EXPECT_TRUE(t.lines.empty() && t.msns.empty() && t.lineId16Bit);
}

TEST(ConfigTablesAddresses, NamesAddressesByLineOrMsnAndMatchesExactly) {
  ConfigTables t;
  t.AddLine(line(1, u"21"));  // no MSN: one address named by the line
  t.AddLine(line(2, u"22"));  // MSNs 5, 9 (unknown), 7, 5
  for (uint8_t index : {5, 9, 7, 5}) t.AddMsnIndex(1, index);
  t.AddMsn(7, u"4711");
  t.AddMsn(5, u"0815");

  EXPECT_EQ(t.AddressCount(0), 1u);
  EXPECT_EQ(t.AddressName(0, 0), u"21");
  EXPECT_EQ(t.AddressName(0, 1), u"");
  EXPECT_EQ(t.AddressCount(1), 4u);
  EXPECT_EQ(t.AddressName(1, 1), u"");
  EXPECT_EQ(t.AddressName(1, 2), u"4711");
  EXPECT_EQ(t.AddressCount(2), 0u);
  EXPECT_EQ(t.MatchAddress(0, u"21"), 0);
  EXPECT_EQ(t.MatchAddress(1, u"0815"), 0) << "first match wins";
  EXPECT_EQ(t.MatchAddress(1, u"4711"), 2);
  EXPECT_EQ(t.MatchAddress(1, u"22"), -1) << "a line with MSNs is not named by its own address";
  EXPECT_EQ(t.MatchAddress(1, u"081"), -1);

  ConfigTables names;
  names.lines.push_back(line(3, std::u16string(255, u'x') + u"A"));  // set directly, past every limit
  EXPECT_EQ(names.MatchAddress(0, std::u16string(255, u'x') + u"B"), 0) << "compared as 255 characters";
  EXPECT_EQ(names.MatchAddress(0, std::u16string(255, u'X')), -1) << "case-sensitive";
  names.lines[0].msnCount = 200;  // past the index array: must not read beyond it
  EXPECT_EQ(names.AddressCount(0), 60u);
  EXPECT_EQ(names.AddressName(0, 100), u"");
}

}  // namespace
