// Named mutexes on Windows: the system's mutex objects, shared with other
// processes, released by the system when the holder ends (the next owner
// hears "abandoned"), one mutex per name and root.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/thread.h"
#include "tests/support/test_root.h"
#include "tests/windows/platform_core/core_test_support.h"

namespace {

using LockResult = platform::NamedMutex::LockResult;

// The child's lock-mutex exit codes.
constexpr int kAcquired = 0, kTimeout = 1, kAbandoned = 2;

int childLock(const std::string& name, uint32_t ms) {
  return coretest::runChild("lock-mutex \"" + name + "\" " + std::to_string(ms));
}

// A child that holds the mutex until it is ended.
std::unique_ptr<platform::Process> startHolder(const std::string& name) {
  const std::string ready = tktest::currentRoot() + "\\held-" + std::to_string(platform::tickCount());
  auto holder = platform::createProcess(coretest::childPath(), "child hold-mutex \"" + name + "\" \"" + ready + "\"");
  if (holder && !coretest::waitForFile(ready)) holder.reset();
  return holder;
}

TEST(WindowsNamedMutex, ExcludesOtherThreadsAndProcessesAndIsRecursiveForItsOwner) {
  platform::NamedMutex a("__MarlixTSP__Tapi__Log__");
  platform::NamedMutex b("__MarlixTSP__Tapi__Log__");
  ASSERT_TRUE(a.valid());
  ASSERT_EQ(a.lock(), LockResult::Acquired);
  EXPECT_EQ(b.lock(0), LockResult::Acquired);
  std::atomic<int> other{-1};
  platform::Thread t;
  t.start([&] { other = static_cast<int>(b.lock(20)); });
  t.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));
  EXPECT_FALSE([&] {
    bool released = true;
    platform::Thread u;
    u.start([&] { released = a.unlock(); });  // only the owner may release
    u.join();
    return released;
  }());
  EXPECT_TRUE(a.unlock());
  EXPECT_EQ(childLock("__MarlixTSP__Tapi__Log__", 0), kTimeout);  // still held once
  EXPECT_TRUE(b.unlock());
  EXPECT_FALSE(b.unlock());
  EXPECT_EQ(childLock("__MarlixTSP__Tapi__Log__", 5000), kAcquired);
}

TEST(WindowsNamedMutex, TheNextOwnerHearsThatTheHolderEnded) {
  auto holder = startHolder("__MarlixTSP__Cti__Log__");
  ASSERT_NE(holder, nullptr);
  platform::NamedMutex m("__MarlixTSP__Cti__Log__");
  EXPECT_EQ(m.lock(50), LockResult::Timeout);
  std::atomic<int> r{-1};
  platform::Thread waiter;
  waiter.start([&] {
    r = static_cast<int>(m.lock(platform::kInfinite));
    m.unlock();
  });
  EXPECT_TRUE(platform::requestProcessStop(holder->id()));  // it does not watch: ended at once
  ASSERT_TRUE(waiter.join(20000));
  EXPECT_EQ(r.load(), static_cast<int>(LockResult::Abandoned));
  EXPECT_EQ(m.lock(0), LockResult::Acquired);
  EXPECT_TRUE(m.unlock());

  // A thread of this process that ends holding it leaves it abandoned too.
  platform::Thread owner;
  owner.start([&] { EXPECT_EQ(m.lock(0), LockResult::Acquired); });
  ASSERT_TRUE(owner.join(20000));
  EXPECT_EQ(childLock("__MarlixTSP__Cti__Log__", 5000), kAbandoned);
  EXPECT_EQ(childLock("__MarlixTSP__Cti__Log__", 0), kAcquired);
}

TEST(WindowsNamedMutex, ClosingTheLastObjectReleasesItForItsOwner) {
  {
    platform::NamedMutex m("closed-held");
    ASSERT_EQ(m.lock(), LockResult::Acquired);
    ASSERT_EQ(m.lock(), LockResult::Acquired);
  }
  EXPECT_EQ(childLock("closed-held", 0), kAcquired);
}

TEST(WindowsNamedMutex, NamesAreDistinctWhateverTheirCharactersAndEachRootHasItsOwn) {
  platform::NamedMutex a("Global\\name");
  platform::NamedMutex b("Global/name");
  platform::NamedMutex c("Global%5Cname");
  EXPECT_NE(a.lockFilePath(), b.lockFilePath());
  EXPECT_NE(a.lockFilePath(), c.lockFilePath());
  ASSERT_EQ(a.lock(), LockResult::Acquired);
  EXPECT_EQ(childLock("Global/name", 0), kAcquired);
  EXPECT_EQ(childLock("Global\\name", 0), kTimeout);

  const std::string root = tktest::currentRoot();
  coretest::setEnv("TK_ROOT", root + "\\other");
  EXPECT_EQ(childLock("Global\\name", 0), kAcquired);  // another root, another mutex
  coretest::setEnv("TK_ROOT", "");
  platform::NamedMutex plain("VNL2D32.Open");
  EXPECT_EQ(plain.lockFilePath(), "VNL2D32.Open");  // the system's own name without a root
  coretest::setEnv("TK_ROOT", root);
  EXPECT_TRUE(a.unlock());
}

}  // namespace
