// The exchange's line and number lists as they come in a
// VNL_GETADDRESSLIST_CONF.
#include "provider/vnl/address_list_parser.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kvarsp::ParseAddressList;

TEST(AddressListParser, LineListCutsLongAddressesLaterAndReadsOnAfterAllTheirBytes) {
  std::vector<uint8_t> lines = {0x0A, 25};
  for (int i = 0; i < 25; ++i) lines.push_back(static_cast<uint8_t>('0' + i % 10));
  lines.insert(lines.end(), {0x0B, 2, '2', '1', 0x0C});  // a last entry of one byte ends the walk
  auto list = ParseAddressList(lines, false, {});
  ASSERT_EQ(list.lines.size(), 2u);
  EXPECT_EQ(list.lines[0].pbxLineId, 10);
  EXPECT_EQ(list.lines[0].address.size(), 25u);  // the tables cut it to 20
  EXPECT_EQ(list.lines[1].pbxLineId, 11);
  EXPECT_EQ(list.lines[1].address, u"21");
  EXPECT_FALSE(list.lineId16Bit);

  kvarsp::ConfigTables tables;
  kvarsp::RefillFromAddressList(tables, list);
  ASSERT_EQ(tables.lines.size(), 2u);
  EXPECT_EQ(tables.lines[0].address, u"01234567890123456789");
}

TEST(AddressListParser, AnAddressLongerThanTheListTakesWhatIsThere) {
  const std::vector<uint8_t> lines = {0x0A, 9, '2', '0'};
  auto list = ParseAddressList(lines, false, {});
  ASSERT_EQ(list.lines.size(), 1u);
  EXPECT_EQ(list.lines[0].address, u"20");
}

TEST(AddressListParser, SixteenBitLinesAreNamedByTheirNumber) {
  const std::vector<uint8_t> lines = {0x01, 0x2C, 0x00, 0x07};
  auto list = ParseAddressList(lines, true, {});
  ASSERT_EQ(list.lines.size(), 2u);
  EXPECT_EQ(list.lines[0].pbxLineId, 300);
  EXPECT_EQ(list.lines[0].address, u"300");
  EXPECT_EQ(list.lines[1].address, u"7");
  EXPECT_TRUE(list.lineId16Bit);
}

TEST(AddressListParser, MsnEntriesWithTerminatorAndTheLinesThatUseThem) {
  const std::vector<uint8_t> msns = {
      1, 7, '4', '7', '1', '1', 0, 0x0A, 0x0B,  // number, terminator, two line IDs
      2, 4, '9', '9', 0x0A, 0x0C,               // no terminator: IDs follow the number
      3, 3, '5', '5', 0,                        // no lines
  };
  auto list = ParseAddressList({}, false, msns);
  ASSERT_EQ(list.msns.size(), 3u);
  EXPECT_EQ(list.msns[0].msnIndex, 1);
  EXPECT_EQ(list.msns[0].number, u"4711");
  EXPECT_EQ(list.msns[0].lineIds, (std::vector<uint16_t>{10, 11}));
  EXPECT_EQ(list.msns[1].number, u"99");
  EXPECT_EQ(list.msns[1].lineIds, (std::vector<uint16_t>{10, 12}));
  EXPECT_EQ(list.msns[2].number, u"55");
  EXPECT_TRUE(list.msns[2].lineIds.empty());
}

TEST(AddressListParser, SixteenBitMsnLineIdsAndEntriesCutShortByTheList) {
  const std::vector<uint8_t> msns = {
      5, 6, '1', '2', 0, 0x01, 0x2C, 0x01,  // an odd last byte is no line ID
      6, 40, '7',                           // content length beyond the list
  };
  auto list = ParseAddressList({}, true, msns);
  ASSERT_EQ(list.msns.size(), 2u);
  EXPECT_EQ(list.msns[0].lineIds, std::vector<uint16_t>{300});
  EXPECT_EQ(list.msns[1].number, u"7");
}

TEST(AddressListParser, NumbersStopAtFiftyBytes) {
  std::vector<uint8_t> msns = {9, 52};
  for (int i = 0; i < 51; ++i) msns.push_back('1');
  msns.push_back(0x0A);
  auto list = ParseAddressList({}, false, msns);
  ASSERT_EQ(list.msns.size(), 1u);
  EXPECT_EQ(list.msns[0].number.size(), 50u);
  // The 51st byte is read as the ID of a line that uses the number.
  EXPECT_EQ(list.msns[0].lineIds, (std::vector<uint16_t>{'1', 0x0A}));
}

}  // namespace
