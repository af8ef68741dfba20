#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"
#include "tests/support/child_process.h"

namespace {

using LockResult = platform::NamedMutex::LockResult;

TEST(NamedMutex, ExcludesOtherThreadsAndIsRecursiveForItsOwner) {
  platform::NamedMutex a("__Test__Mutex__");
  platform::NamedMutex b("__Test__Mutex__");  // same name: same mutex
  ASSERT_TRUE(a.valid());
  EXPECT_EQ(a.lock(), LockResult::Acquired);
  EXPECT_EQ(b.lock(0), LockResult::Acquired);  // the owning thread again, through another object

  std::atomic<int> other{-1};
  platform::Thread t;
  t.start([&] { other = static_cast<int>(b.lock(20)); });
  t.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));

  EXPECT_TRUE(a.unlock());
  platform::Thread t2;
  t2.start([&] { other = static_cast<int>(b.lock(20)); });
  t2.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Timeout));  // still held once

  EXPECT_TRUE(b.unlock());
  EXPECT_FALSE(b.unlock());  // not owned any more
  platform::Thread t3;
  t3.start([&] {
    other = static_cast<int>(b.lock(1000));
    b.unlock();
  });
  t3.join();
  EXPECT_EQ(other.load(), static_cast<int>(LockResult::Acquired));
}

TEST(NamedMutex, OnlyTheOwnerCanRelease) {
  platform::NamedMutex m("owner-only");
  ASSERT_EQ(m.lock(), LockResult::Acquired);
  std::atomic<bool> released{true};
  platform::Thread t;
  t.start([&] { released = m.unlock(); });
  t.join();
  EXPECT_FALSE(released.load());
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, NamesWithSeparatorsAndOddCharactersAreDistinct) {
  platform::NamedMutex a("Global\\name");
  platform::NamedMutex b("Global/name");
  platform::NamedMutex c("Global%5Cname");
  EXPECT_NE(a.lockFilePath(), b.lockFilePath());
  EXPECT_NE(a.lockFilePath(), c.lockFilePath());
  ASSERT_EQ(a.lock(), LockResult::Acquired);
  std::atomic<int> r{-1};
  platform::Thread t;
  t.start([&] {
    r = static_cast<int>(b.lock(0));
    b.unlock();
  });
  t.join();
  EXPECT_EQ(r.load(), static_cast<int>(LockResult::Acquired));
  a.unlock();
}

TEST(NamedMutex, ExcludesAnotherProcess) {
  platform::NamedMutex m("__MarlixTSP__Tapi__Log__");
  ASSERT_EQ(m.lock(), LockResult::Acquired);

  tktest::ChildProcess blocked;
  ASSERT_TRUE(blocked.start(TK_TEST_CHILD, {"lock-mutex", "__MarlixTSP__Tapi__Log__", "100"}));
  EXPECT_EQ(blocked.readLine(), "timeout");
  EXPECT_EQ(blocked.wait(), 1);

  m.unlock();
  tktest::ChildProcess free;
  ASSERT_TRUE(free.start(TK_TEST_CHILD, {"lock-mutex", "__MarlixTSP__Tapi__Log__", "5000"}));
  EXPECT_EQ(free.readLine(), "acquired");
  EXPECT_EQ(free.wait(), 0);
  EXPECT_EQ(m.lock(0), LockResult::Acquired);  // the child released it cleanly
  m.unlock();
}

TEST(NamedMutex, IsReleasedWhenItsHolderIsKilled) {
  tktest::ChildProcess holder;
  ASSERT_TRUE(holder.start(TK_TEST_CHILD, {"hold-mutex", "__MarlixTSP__Cti__Log__"}));
  ASSERT_EQ(holder.readLine(), "locked");

  platform::NamedMutex m("__MarlixTSP__Cti__Log__");
  EXPECT_EQ(m.lock(50), LockResult::Timeout);

  holder.kill();
  ASSERT_TRUE(holder.wait());
  // The system released it; the next owner learns the holder died.
  EXPECT_EQ(m.lock(5000), LockResult::Abandoned);
  EXPECT_TRUE(m.unlock());
  EXPECT_EQ(m.lock(0), LockResult::Acquired);
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, WaitingForTheMutexEndsWhenTheOtherProcessReleasesIt) {
  tktest::ChildProcess holder;
  ASSERT_TRUE(holder.start(TK_TEST_CHILD, {"hold-mutex", "wait-for-me"}));
  ASSERT_EQ(holder.readLine(), "locked");
  platform::NamedMutex m("wait-for-me");
  std::atomic<int> r{-1};
  platform::Thread waiter;
  waiter.start([&] {
    r = static_cast<int>(m.lock(platform::kInfinite));
    m.unlock();
  });
  EXPECT_FALSE(waiter.join(20));
  holder.kill();
  EXPECT_TRUE(waiter.join(20000));
  EXPECT_EQ(r.load(), static_cast<int>(LockResult::Abandoned));
}

}  // namespace
