#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/test_root.h"
#include "tests/support/wait_until.h"

namespace {

using platform::SharedMemory;

// Laid out as process_test_child.cpp expects: "map" areas start with a u32
// marker and are initialised with this pattern; "count" areas hold a u32
// total and a u32 number of finished parties.
constexpr size_t kAreaSize = 197284;  // not a multiple of the page size
constexpr size_t kCountAreaSize = 8;

std::vector<std::byte> initialPattern(size_t size) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 31 + 7) & 0xFF);
  return bytes;
}

std::atomic_ref<uint32_t> word(const SharedMemory& area, size_t index) {
  return std::atomic_ref<uint32_t>(static_cast<uint32_t*>(area.data())[index]);
}

// The marker a "map" area holds when it is fresh: the pattern's first word.
uint32_t freshMarker() {
  auto bytes = initialPattern(4);
  uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

bool holdsPattern(const SharedMemory& area) {
  std::vector<std::byte> want = initialPattern(area.size());
  return std::memcmp(area.data(), want.data(), want.size()) == 0;
}

// A child that maps the area, reports what it found and writes its marker.
struct MappingChild {
  tktest::ChildProcess process;
  std::string found;  // "created=X marker=Y"

  bool start(const std::string& name, uint32_t value) {
    if (!process.start(TK_PROCESS_TEST_CHILD, {"map", name, std::to_string(kAreaSize), std::to_string(value)})) {
      return false;
    }
    found = process.readLine().value_or("no answer");
    return process.readLine() == "written";
  }
};

TEST(SharedMemory, FirstMappingHoldsTheInitialContentsAndLaterOnesShareIt) {
  auto initial = initialPattern(kAreaSize);
  SharedMemory first("SharedDa", kAreaSize, initial);
  ASSERT_TRUE(first.valid()) << first.error();
  EXPECT_TRUE(first.created());
  EXPECT_EQ(first.size(), kAreaSize);
  EXPECT_TRUE(holdsPattern(first));

  // A second mapping in the same process is the same memory, not initialised again.
  static_cast<unsigned char*>(first.data())[kAreaSize - 1] = 0xAB;
  SharedMemory second("SharedDa", kAreaSize, initial);
  ASSERT_TRUE(second.valid()) << second.error();
  EXPECT_FALSE(second.created());
  EXPECT_NE(second.data(), first.data());
  EXPECT_EQ(static_cast<unsigned char*>(second.data())[kAreaSize - 1], 0xAB);
  word(second, 0).store(42);
  EXPECT_EQ(word(first, 0).load(), 42u);
}

TEST(SharedMemory, WithoutInitialContentsTheAreaStartsAllZero) {
  {
    SharedMemory area("zeroed", 5000, initialPattern(5000));
    ASSERT_TRUE(area.valid()) << area.error();
  }
  // The file left behind by the first area must not show through.
  SharedMemory area("zeroed", 5000);
  ASSERT_TRUE(area.valid()) << area.error();
  EXPECT_TRUE(area.created());
  std::vector<std::byte> zero(5000);
  EXPECT_EQ(std::memcmp(area.data(), zero.data(), zero.size()), 0);
}

TEST(SharedMemory, StartsAfreshOnceTheLastMappingIsGone) {
  auto initial = initialPattern(kAreaSize);
  auto open = [&] { return std::make_unique<SharedMemory>("afresh", kAreaSize, initial); };
  auto a = open();
  ASSERT_TRUE(a->valid()) << a->error();
  word(*a, 0).store(7);
  auto b = open();
  a.reset();
  // b still keeps the area alive, for itself and for a new mapping.
  EXPECT_EQ(word(*b, 0).load(), 7u);
  auto c = open();
  EXPECT_FALSE(c->created());
  EXPECT_EQ(word(*c, 0).load(), 7u);
  b.reset();
  c.reset();
  auto d = open();
  EXPECT_TRUE(d->created());
  EXPECT_TRUE(holdsPattern(*d));
}

TEST(SharedMemory, AnotherProcessSeesTheWritesOfThisOneAndTheOtherWayRound) {
  SharedMemory area("SharedDa", kAreaSize, initialPattern(kAreaSize));
  ASSERT_TRUE(area.valid()) << area.error();
  word(area, 0).store(1111);

  MappingChild child;
  ASSERT_TRUE(child.start("SharedDa", 2222));
  EXPECT_EQ(child.found, "created=0 marker=1111");
  EXPECT_EQ(word(area, 0).load(), 2222u);
  EXPECT_TRUE(std::memcmp(static_cast<char*>(area.data()) + 4, initialPattern(kAreaSize).data() + 4, kAreaSize - 4) ==
              0);
}

TEST(SharedMemory, AKilledProcessDoesNotKeepTheAreaAlive) {
  MappingChild child;
  ASSERT_TRUE(child.start("crash", 3333));
  EXPECT_EQ(child.found, "created=1 marker=" + std::to_string(freshMarker()));
  {
    SharedMemory area("crash", kAreaSize, initialPattern(kAreaSize));
    ASSERT_TRUE(area.valid()) << area.error();
    EXPECT_FALSE(area.created());
    EXPECT_EQ(word(area, 0).load(), 3333u);
  }
  child.process.kill();
  ASSERT_TRUE(child.process.wait());

  SharedMemory area("crash", kAreaSize, initialPattern(kAreaSize));
  ASSERT_TRUE(area.valid()) << area.error();
  EXPECT_TRUE(area.created());
  EXPECT_TRUE(holdsPattern(area));
}

TEST(SharedMemory, ProcessesOpeningTogetherInitialiseItOnce) {
  constexpr int kChildren = 3;
  constexpr int kCounts = 20000;
  const std::string go = tktest::currentRoot() + "/go";
  const std::string parties = std::to_string(kChildren + 1);
  std::vector<std::unique_ptr<tktest::ChildProcess>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<tktest::ChildProcess>());
    ASSERT_TRUE(
        children.back()->start(TK_PROCESS_TEST_CHILD, {"count", "counter", std::to_string(kCounts), go, parties}));
  }
  tktest::writeFile(go, "");
  SharedMemory area("counter", kCountAreaSize);
  ASSERT_TRUE(area.valid()) << area.error();
  for (int i = 0; i < kCounts; ++i) word(area, 0).fetch_add(1);
  word(area, 1).fetch_add(1);

  const std::string total = "total=" + std::to_string((kChildren + 1) * kCounts);
  int created = area.created() ? 1 : 0;
  for (auto& child : children) {
    std::string line = child->readLine().value_or("no answer");
    EXPECT_NE(line.find(total), std::string::npos) << line;
    if (line.rfind("created=1", 0) == 0) ++created;
    EXPECT_EQ(child->wait(), 0);
  }
  EXPECT_EQ(word(area, 0).load(), static_cast<uint32_t>((kChildren + 1) * kCounts));
  EXPECT_EQ(created, 1);
}

TEST(SharedMemory, NamesAreKeptApartWhateverTheirCharacters) {
  SharedMemory a("Global\\SharedDa", 64);
  SharedMemory b("Global/SharedDa", 64);
  SharedMemory c("Global%5CSharedDa", 64);
  SharedMemory d(std::string(300, 'x') + "1", 64);
  SharedMemory e(std::string(300, 'x') + "2", 64);
  for (SharedMemory* m : {&a, &b, &c, &d, &e}) {
    ASSERT_TRUE(m->valid()) << m->error();
    EXPECT_TRUE(m->created());
  }
  word(a, 0).store(1);
  word(d, 0).store(4);
  EXPECT_EQ(word(b, 0).load(), 0u);
  EXPECT_EQ(word(c, 0).load(), 0u);
  EXPECT_EQ(word(e, 0).load(), 0u);
}

TEST(SharedMemory, RefusesSizesThatCannotWork) {
  SharedMemory none("empty", 0);
  EXPECT_FALSE(none.valid());
  EXPECT_FALSE(none.error().empty());

  std::vector<std::byte> shortInitial(10);
  SharedMemory mismatch("mismatch", 20, shortInitial);
  EXPECT_FALSE(mismatch.valid());
  EXPECT_FALSE(mismatch.error().empty());

  // A mapping larger than the live area would fault beyond its end.
  SharedMemory small("grow", 100);
  ASSERT_TRUE(small.valid());
  SharedMemory larger("grow", 100000);
  EXPECT_FALSE(larger.valid());
  EXPECT_NE(larger.error().find("grow"), std::string::npos) << larger.error();
  SharedMemory smaller("grow", 50);
  ASSERT_TRUE(smaller.valid()) << smaller.error();
  EXPECT_FALSE(smaller.created());
}

TEST(SharedMemory, AreasOfDifferentRootsAreSeparate) {
  SharedMemory here("SharedDa", 64);
  ASSERT_TRUE(here.valid());
  word(here, 0).store(5);
  // A child under another root sees a fresh area of the same name.
  std::string otherRoot = tktest::makeTempDir("tk-shm-root-");
  tktest::ChildProcess child;
  ASSERT_TRUE(child.start(TK_PROCESS_TEST_CHILD, {"map", "SharedDa", "64", "9"}, {{"TK_ROOT", otherRoot}}));
  EXPECT_EQ(child.readLine().value_or(""), "created=1 marker=" + std::to_string(freshMarker()));
  child.kill();
  child.wait();
  tktest::removeTree(otherRoot);
  EXPECT_EQ(word(here, 0).load(), 5u);
}

}  // namespace
