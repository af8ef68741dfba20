#include "platform/reg_tree.h"

#include <gtest/gtest.h>

namespace {

using platform::RegKey;

TEST(RegTree, NamesCompareCaseInsensitivelyAndKeepTheirCase) {
  EXPECT_EQ(platform::compareRegNames(u"Software", u"SOFTWARE"), 0);
  EXPECT_EQ(platform::compareRegNames(u"Müller", u"MÜLLER"), 0);
  EXPECT_EQ(platform::compareRegNames(u"ÿ", u"Ÿ"), 0);
  EXPECT_EQ(platform::compareRegNames(u"Ĳssel", u"ĳSSEL"), 0);
  EXPECT_EQ(platform::compareRegNames(u"Москва", u"МОСКВА"), 0);
  EXPECT_LT(platform::compareRegNames(u"alpha", u"Beta"), 0);
  EXPECT_GT(platform::compareRegNames(u"b", u"A"), 0);
  EXPECT_LT(platform::compareRegNames(u"ab", u"ABC"), 0);
  EXPECT_NE(platform::compareRegNames(u"a", u"ä"), 0);

  RegKey root;
  bool created = false;
  root.ensureSubkey(u"Software", &created).setValue(u"LinkSpeed", 1, {1, 2});
  EXPECT_TRUE(created);
  RegKey& again = root.ensureSubkey(u"SOFTWARE", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.name, u"Software");
  again.setValue(u"LINKSPEED", 4, {3});
  ASSERT_EQ(again.values.size(), 1u);
  EXPECT_EQ(again.values[0].name, u"LinkSpeed");
  EXPECT_EQ(again.values[0].type, 4u);
  EXPECT_EQ(again.values[0].data, std::vector<uint8_t>{3});
  EXPECT_NE(root.find({u"software"}), nullptr);
  EXPECT_EQ(root.find({u"software", u"missing"}), nullptr);
}

TEST(RegTree, SubkeysStaySortedAndValuesKeepTheirOrder) {
  RegKey key;
  for (auto name : {u"zeta", u"Alpha", u"beta", u"Gamma", u"ALPHA"}) key.ensureSubkey(name);
  std::vector<std::u16string> names;
  for (const auto& k : key.subkeys) names.push_back(k.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Alpha", u"beta", u"Gamma", u"zeta"}));

  for (auto name : {u"z", u"a", u"m"}) key.setValue(name, 4, {});
  key.setValue(u"A", 1, {});
  ASSERT_EQ(key.values.size(), 3u);
  EXPECT_EQ(key.values[0].name, u"z");
  EXPECT_EQ(key.values[1].name, u"a");
  EXPECT_EQ(key.values[2].name, u"m");

  EXPECT_TRUE(key.removeValue(u"A"));
  EXPECT_FALSE(key.removeValue(u"a"));
  EXPECT_TRUE(key.removeSubkey(u"GAMMA"));
  EXPECT_FALSE(key.removeSubkey(u"gamma"));
  EXPECT_EQ(key.subkeys.size(), 3u);
}

TEST(RegTree, PathsSplitAtBackslashesAndRefuseEmptyNames) {
  std::vector<std::u16string> parts;
  EXPECT_TRUE(platform::splitRegPath(u"Software\\Vendor\\Product", &parts));
  EXPECT_EQ(parts, (std::vector<std::u16string>{u"Software", u"Vendor", u"Product"}));
  EXPECT_EQ(platform::joinRegPath(parts), u"Software\\Vendor\\Product");
  EXPECT_TRUE(platform::splitRegPath(u"", &parts));
  EXPECT_TRUE(parts.empty());
  EXPECT_TRUE(platform::splitRegPath(u"a/b", &parts));
  EXPECT_EQ(parts.size(), 1u);
  for (auto bad : {u"\\a", u"a\\", u"a\\\\b", u"\\"}) EXPECT_FALSE(platform::splitRegPath(bad, &parts)) << "path";
}

TEST(RegTree, StorableNamesHaveNoControlCharactersOrLoneSurrogates) {
  EXPECT_TRUE(platform::isStorableRegName(u"Grüße € \U0001F600 \"q\" \\"));
  EXPECT_TRUE(platform::isStorableRegName(u""));
  EXPECT_FALSE(platform::isStorableRegName(u"a\nb"));
  EXPECT_FALSE(platform::isStorableRegName(u"a\tb"));
  std::u16string lone = u"x";
  lone += char16_t(0xD800);
  EXPECT_FALSE(platform::isStorableRegName(lone));
  EXPECT_FALSE(platform::isStorableRegName(std::u16string(1, char16_t(0xDC00))));
}

TEST(RegTree, Utf16BytesAreLittleEndian) {
  EXPECT_EQ(platform::utf16LeBytes(u"A€"), (std::vector<uint8_t>{0x41, 0x00, 0xAC, 0x20}));
  std::vector<uint8_t> odd = {0x41, 0x00, 0xAC, 0x20, 0x7F};
  EXPECT_EQ(platform::utf16FromLeBytes(odd.data(), odd.size()), u"A€");
}

}  // namespace
