// Shared memory over Windows file mappings (shared_memory_win32.cpp): the
// interface's rules, and sharing with other processes (this program again,
// running the case SharedMemoryChild.Run: self_child.h).
#include "platform/shared_memory.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_root.h"
#include "tests/windows/platform_registry/self_child.h"

namespace {

using platform::SharedMemory;

constexpr size_t kAreaSize = 197284;  // not a multiple of the page size

std::vector<std::byte> pattern(size_t size) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 31 + 7) & 0xFF);
  return bytes;
}

std::atomic_ref<uint32_t> word(const SharedMemory& area, size_t index) {
  return std::atomic_ref<uint32_t>(static_cast<uint32_t*>(area.data())[index]);
}

// Starts this program as a child that maps area `name` (64 bytes) under
// root, adds 1 to its word 0 and exits with 10 + created(); with hold, it
// signals the event readyEventName(its id) and waits to be ended.
struct Child : tktest::SelfChild {
  bool start(const std::string& name, const std::string& root, bool hold) {
    return SelfChild::start("SharedMemoryChild.Run", "TK_SHM_CHILD", name + "|" + root + "|" + (hold ? "hold" : "exit"));
  }
};

std::string readyEventName(DWORD childPid) { return "Local\\TK.test.shm.ready." + std::to_string(childPid); }

// The child's part; skipped unless started by Child.
TEST(SharedMemoryChild, Run) {
  const char* task = std::getenv("TK_SHM_CHILD");
  if (!task) GTEST_SKIP() << "runs only as the child of the shared memory tests";
  std::string text(task);
  size_t a = text.find('|'), b = text.rfind('|');
  _putenv_s("TK_ROOT", text.substr(a + 1, b - a - 1).c_str());
  SharedMemory area(text.substr(0, a), 64);
  if (!area.valid()) std::_Exit(2);
  word(area, 0).fetch_add(1);
  if (text.substr(b + 1) == "hold") {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyEventName(GetCurrentProcessId()).c_str());
    SetEvent(ready);
    Sleep(20000);  // ended by the parent long before
  }
  std::_Exit(10 + (area.created() ? 1 : 0));
}

TEST(SharedMemory, FirstMappingHoldsTheInitialContentsAndLaterOnesShareIt) {
  auto initial = pattern(kAreaSize);
  SharedMemory first("Shared", kAreaSize, initial);
  ASSERT_TRUE(first.valid()) << first.error();
  EXPECT_TRUE(first.created());
  EXPECT_EQ(std::memcmp(first.data(), initial.data(), kAreaSize), 0);
  word(first, 0).store(4711);
  SharedMemory second("Shared", kAreaSize, pattern(kAreaSize));
  ASSERT_TRUE(second.valid()) << second.error();
  EXPECT_FALSE(second.created());
  EXPECT_EQ(word(second, 0).load(), 4711u);
  EXPECT_NE(first.data(), second.data());
}

TEST(SharedMemory, StartsAfreshOnceTheLastMappingIsGone) {
  {
    SharedMemory area("Fresh", 64);
    ASSERT_TRUE(area.valid());
    EXPECT_TRUE(area.created());
    word(area, 0).store(9);
  }
  SharedMemory again("Fresh", 64);
  ASSERT_TRUE(again.valid());
  EXPECT_TRUE(again.created());
  EXPECT_EQ(word(again, 0).load(), 0u);
}

TEST(SharedMemory, NamesAreKeptApartWhateverTheirCharacters) {
  SharedMemory a("Global\\SharedDa", 64);
  SharedMemory b("Global/SharedDa", 64);
  SharedMemory c("Global%5CSharedDa", 64);
  SharedMemory d(std::string(300, 'x') + "1", 64);
  SharedMemory e(std::string(300, 'x') + "2", 64);
  SharedMemory f("shareddA", 64);
  for (SharedMemory* m : {&a, &b, &c, &d, &e, &f}) {
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
  SharedMemory small("grow", 100);
  ASSERT_TRUE(small.valid());
  SharedMemory larger("grow", 100000);
  EXPECT_FALSE(larger.valid());
  EXPECT_NE(larger.error().find("grow"), std::string::npos) << larger.error();
  SharedMemory smaller("grow", 50);
  ASSERT_TRUE(smaller.valid()) << smaller.error();
  EXPECT_FALSE(smaller.created());
}

TEST(SharedMemory, AnotherProcessSharesTheAreaOfTheSameRoot) {
  SharedMemory here("SharedDa", 64);
  ASSERT_TRUE(here.valid()) << here.error();
  word(here, 0).store(5);
  Child child;
  ASSERT_TRUE(child.start("SharedDa", tktest::currentRoot(), false));
  EXPECT_EQ(child.wait(), 10);  // not created: it found this one's area
  EXPECT_EQ(word(here, 0).load(), 6u);

  // Under another root the same name is another area.
  std::string otherRoot = tktest::makeTempDir("tk-shm-root-");
  Child other;
  ASSERT_TRUE(other.start("SharedDa", otherRoot, false));
  EXPECT_EQ(other.wait(), 11);
  tktest::removeTree(otherRoot);
  EXPECT_EQ(word(here, 0).load(), 6u);
}

TEST(SharedMemory, AKilledProcessDoesNotKeepTheAreaAlive) {
  Child child;
  ASSERT_TRUE(child.start("Killed", tktest::currentRoot(), true));
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyEventName(child.info.dwProcessId).c_str());
  HANDLE both[] = {ready, child.info.hProcess};
  ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, 20000), WAIT_OBJECT_0) << "the child did not map the area";
  CloseHandle(ready);
  {
    SharedMemory shared("Killed", 64);
    ASSERT_TRUE(shared.valid());
    EXPECT_FALSE(shared.created());
    EXPECT_EQ(word(shared, 0).load(), 1u);
  }
  ASSERT_TRUE(TerminateProcess(child.info.hProcess, 99));
  ASSERT_EQ(child.wait(), 99);
  SharedMemory afterwards("Killed", 64);
  ASSERT_TRUE(afterwards.valid());
  EXPECT_TRUE(afterwards.created());
  EXPECT_EQ(word(afterwards, 0).load(), 0u);
}

}  // namespace
