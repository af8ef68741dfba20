#include "provider/device_table.h"

#include <gtest/gtest.h>

namespace {

using kvarsp::ConfigTables;
using kvarsp::DeviceTable;
using kvarsp::LineConfigEntry;

ConfigTables Lines(std::vector<std::pair<uint16_t, bool>> idsInUse) {
  ConfigTables config;
  for (auto [id, inUse] : idsInUse) {
    LineConfigEntry entry;
    entry.pbxLineId = id;
    entry.address = std::u16string(u"2") + static_cast<char16_t>(u'0' + id % 10);
    entry.inUse = inUse;
    config.AddLine(entry);
  }
  return config;
}

std::vector<int32_t> DeviceIds(const DeviceTable& table) {
  std::vector<int32_t> out;
  for (const auto& e : table.entries()) out.push_back(e.deviceId);
  return out;
}

TEST(DeviceTable, BuildTakesTheFirstInUseLinesUpToTheCountTapiGives) {
  ConfigTables config = Lines({{10, true}, {11, false}, {12, true}, {13, true}});
  DeviceTable table;
  table.Build(5, 2, config);
  ASSERT_EQ(table.entries().size(), 2u);
  EXPECT_EQ(DeviceIds(table), (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(table.entries()[0].pbxLineId, 10);
  EXPECT_EQ(table.entries()[1].pbxLineId, 12);

  EXPECT_EQ(table.LineIndexOf(5, config), 0u);
  EXPECT_EQ(table.LineIndexOf(6, config), 2u);
  EXPECT_FALSE(table.LineIndexOf(7, config));  // line 13 got no device
  EXPECT_FALSE(table.LineIndexOf(4, config));

  // A device whose line has since disappeared from the line table is not valid.
  ConfigTables fewer = Lines({{12, true}});
  EXPECT_FALSE(table.LineIndexOf(5, fewer));
  EXPECT_EQ(table.LineIndexOf(6, fewer), 0u);
}

TEST(DeviceTable, RebuildKeepsStayingLinesAnnouncesNewOnesAndRemovesOldOnes) {
  DeviceTable table;
  table.Build(0, 10, Lines({{10, true}, {11, true}, {12, true}}));

  // Line 11 leaves, 14 and 15 arrive.
  ConfigTables changed = Lines({{10, true}, {11, false}, {12, true}, {14, true}, {15, true}});
  DeviceTable::Changes changes = table.Rebuild(changed);
  EXPECT_EQ(changes.newTempIds, (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(changes.removedDeviceIds, (std::vector<uint32_t>{1}));
  EXPECT_EQ(DeviceIds(table), (std::vector<int32_t>{0, 2, -1, -1}));
  EXPECT_FALSE(table.LineIndexOf(0xFFFFFFFF, changed));  // pending entries hold -1

  EXPECT_TRUE(table.BindTempId(1, 7));
  EXPECT_FALSE(table.BindTempId(1, 8));  // already bound
  EXPECT_FALSE(table.BindTempId(9, 8));  // never announced
  EXPECT_EQ(table.LineIndexOf(7, changed), 4u);

  // Another change: the still pending line 14 keeps its temporary ID instead
  // of being announced a second time; the next new line gets the next ID.
  ConfigTables again = Lines({{10, true}, {12, true}, {14, true}, {15, true}, {16, true}});
  changes = table.Rebuild(again);
  EXPECT_EQ(changes.newTempIds, (std::vector<int64_t>{2}));
  EXPECT_TRUE(changes.removedDeviceIds.empty());
  EXPECT_TRUE(table.BindTempId(0, 6));
  EXPECT_EQ(table.LineIndexOf(6, again), 2u);

  // A pending line that goes away is not reported removed: TAPI never had it.
  changes = table.Rebuild(Lines({{10, true}, {12, true}, {14, true}, {15, true}}));
  EXPECT_TRUE(changes.removedDeviceIds.empty());
  EXPECT_TRUE(changes.newTempIds.empty());
}

TEST(DeviceTable, AtMost256Devices) {
  ConfigTables config;
  for (int i = 0; i < 300; ++i) {
    LineConfigEntry entry;
    entry.pbxLineId = static_cast<uint16_t>(i);
    entry.address = u"1";
    entry.inUse = true;
    config.AddLine(entry);
  }
  DeviceTable table;
  table.Build(0, 1000, config);
  EXPECT_EQ(table.entries().size(), config.lines.size());
  EXPECT_LE(table.entries().size(), kvarsp::kMaxLines);
}

}  // namespace
