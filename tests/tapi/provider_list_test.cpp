#include "tapi/host/provider_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <thread>

#include "platform/codepage.h"
#include "platform/reg_types.h"
#include "platform/registry.h"
#include "tests/support/registry_helpers.h"

namespace {

using tapihost::AddProvider;
using tapihost::ProviderListEntry;
using tapihost::ReadProviderList;
using tapihost::RemoveProvider;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

void Import(const std::string& values) {
  ASSERT_TRUE(tktest::regSeed(
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers]\n" + values,
      "test list"));
}

// A value of the list key as the store holds it.
tktest::RegRead Stored(const char* name) {
  tktest::Key key;
  platform::regOpenKeyEx(platform::kHkeyLocalMachine, tapihost::kProviderListKeyPath, &key.h);
  return tktest::regRead(key.h, platform::utf8ToWide(name));
}
bool Exists(const char* name) { return Stored(name).rc == 0; }
// A DWORD value, or nothing when it is missing or of another type.
std::optional<uint32_t> Dword(const char* name) {
  tktest::RegRead r = Stored(name);
  if (r.rc != 0 || r.type != platform::kRegDword || r.data.size() != 4) return {};
  return r.data[0] | r.data[1] << 8 | r.data[2] << 16 | uint32_t{r.data[3]} << 24;
}

std::vector<ProviderListEntry> ReadClean() {
  std::string error = "untouched";
  auto list = ReadProviderList(&error);
  EXPECT_EQ(error, "");
  return list;
}

TEST(ProviderList, AMissingKeyOrCountIsAnEmptyListNotAnError) {
  EXPECT_TRUE(ReadClean().empty());
  Import("\"NextProviderID\"=dword:00000004\n");
  EXPECT_TRUE(ReadClean().empty());
}

TEST(ProviderList, AddHandsOutNextProviderIdFromOneAndAppends) {
  EXPECT_EQ(AddProvider("kvarsp64.tsp"), 1u);
  EXPECT_EQ(AddProvider("/opt/tk/other.tsp"), 2u);
  EXPECT_THAT(ReadClean(),
              ElementsAre(ProviderListEntry{1, "kvarsp64.tsp"}, ProviderListEntry{2, "/opt/tk/other.tsp"}));
  EXPECT_EQ(Dword("NumProviders"), 2u);
  EXPECT_EQ(Dword("NextProviderID"), 3u);
  EXPECT_EQ(Dword("ProviderID1"), 2u);
}

TEST(ProviderList, AddContinuesFromTheStoredNextIdButNeverReusesAListedOne) {
  Import("\"NumProviders\"=dword:00000001\n\"NextProviderID\"=dword:00000007\n"
         "\"ProviderID0\"=dword:00000002\n\"ProviderFilename0\"=\"a.tsp\"\n");
  EXPECT_EQ(AddProvider("b.tsp"), 7u);
  // A stale "NextProviderID" below a listed ID (or 0) does not hand it out again.
  Import("\"NextProviderID\"=dword:00000003\n");
  EXPECT_EQ(AddProvider("c.tsp"), 8u);
  Import("\"NextProviderID\"=dword:00000000\n");
  EXPECT_EQ(AddProvider("d.tsp"), 9u);
  EXPECT_EQ(Dword("NextProviderID"), 10u);
  auto list = ReadClean();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[3], (ProviderListEntry{9, "d.tsp"}));
}

TEST(ProviderList, RemoveClosesTheGapInTheNumberedValues) {
  uint32_t a = AddProvider("a.tsp");
  uint32_t b = AddProvider("b.tsp");
  uint32_t c = AddProvider("c.tsp");
  uint32_t d = AddProvider("d.tsp");
  ASSERT_TRUE(RemoveProvider(b));
  EXPECT_THAT(ReadClean(), ElementsAre(ProviderListEntry{a, "a.tsp"}, ProviderListEntry{c, "c.tsp"},
                                       ProviderListEntry{d, "d.tsp"}));
  EXPECT_EQ(Dword("NumProviders"), 3u);
  EXPECT_EQ(Dword("ProviderID1"), c);
  EXPECT_FALSE(Exists("ProviderID3"));
  EXPECT_FALSE(Exists("ProviderFilename3"));

  // First and last entries, then the only one.
  ASSERT_TRUE(RemoveProvider(d));
  ASSERT_TRUE(RemoveProvider(a));
  EXPECT_THAT(ReadClean(), ElementsAre(ProviderListEntry{c, "c.tsp"}));
  ASSERT_TRUE(RemoveProvider(c));
  EXPECT_TRUE(ReadClean().empty());
  EXPECT_EQ(Dword("NumProviders"), 0u);
  EXPECT_FALSE(Exists("ProviderID0"));

  // Removed IDs are not handed out again.
  EXPECT_EQ(AddProvider("e.tsp"), d + 1);
}

TEST(ProviderList, RemoveOfAnUnknownIdChangesNothing) {
  std::string error;
  EXPECT_FALSE(RemoveProvider(1, &error));
  EXPECT_THAT(error, HasSubstr("no provider is installed"));
  uint32_t a = AddProvider("a.tsp");
  EXPECT_FALSE(RemoveProvider(a + 1, &error));
  EXPECT_THAT(error, HasSubstr(std::to_string(a + 1)));
  EXPECT_THAT(ReadClean(), ElementsAre(ProviderListEntry{a, "a.tsp"}));
}

TEST(ProviderList, BrokenEntriesAreLeftOutAndReportedTheRestIsRead) {
  Import("\"NumProviders\"=dword:00000004\n"
         "\"ProviderID0\"=dword:00000001\n\"ProviderFilename0\"=\"a.tsp\"\n"
         "\"ProviderID1\"=dword:00000002\n"
         "\"ProviderID2\"=\"3\"\n\"ProviderFilename2\"=\"c.tsp\"\n"
         "\"ProviderID3\"=dword:00000004\n\"ProviderFilename3\"=\"d.tsp\"\n");
  std::string error;
  auto list = ReadProviderList(&error);
  EXPECT_THAT(list, ElementsAre(ProviderListEntry{1, "a.tsp"}, ProviderListEntry{4, "d.tsp"}));
  EXPECT_THAT(error, HasSubstr("ProviderFilename1 is missing"));
  EXPECT_THAT(error, HasSubstr("ProviderID2 has the wrong type"));
  // A broken entry still moves down as a whole when one before it goes.
  ASSERT_TRUE(RemoveProvider(1));
  list = ReadProviderList(&error);
  EXPECT_THAT(list, ElementsAre(ProviderListEntry{4, "d.tsp"}));
  EXPECT_THAT(error, HasSubstr("ProviderFilename0 is missing"));
  EXPECT_THAT(error, HasSubstr("ProviderID1 has the wrong type"));
  EXPECT_EQ(Dword("ProviderID0"), 2u);
}

TEST(ProviderList, ADamagedCountIsBoundedAndBlocksAdding) {
  Import("\"NumProviders\"=dword:7fffffff\n\"ProviderID0\"=dword:00000001\n\"ProviderFilename0\"=\"a.tsp\"\n");
  std::string error;
  auto list = ReadProviderList(&error);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), (ProviderListEntry{1, "a.tsp"}));
  EXPECT_THAT(error, HasSubstr("only the first 1000 entries"));
  EXPECT_EQ(AddProvider("b.tsp", &error), 0u);
  EXPECT_FALSE(error.empty());
}

TEST(ProviderList, AddRefusesAnEmptyName) {
  std::string error;
  EXPECT_EQ(AddProvider("", &error), 0u);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(AddProvider(std::string_view("a\0b", 3), &error), 0u);
  EXPECT_TRUE(ReadClean().empty());
}

TEST(ProviderList, ConcurrentAddsGetDistinctIdsAndLoseNoEntry) {
  constexpr int kThreads = 4;
  constexpr int kEach = 5;
  std::vector<std::vector<uint32_t>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      for (int i = 0; i < kEach; ++i) {
        ids[t].push_back(AddProvider("p" + std::to_string(t) + "_" + std::to_string(i) + ".tsp"));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint32_t> distinct;
  for (const auto& list : ids) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), size_t{kThreads * kEach});
  EXPECT_FALSE(distinct.count(0));
  EXPECT_EQ(ReadClean().size(), size_t{kThreads * kEach});
}

}  // namespace
