#include "common/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/thread.h"
#include "tests/support/child_process.h"

namespace {

// Records every call, to check what ScopedLock does with its lock.
class RecordingSync : public CSync {
 public:
  void Lock() override { calls.push_back('L'), ++held; }
  void Unlock() override { calls.push_back('U'), --held; }
  std::string calls;
  int held = 0;
};

TEST(ScopedLock, LocksOnConstructionAndUnlocksEveryLevelOnDestruction) {
  RecordingSync sync;
  {
    ScopedLock lock(&sync);
    EXPECT_EQ(lock.Depth(), 1);
    lock.Lock();
    lock.Lock();
    EXPECT_EQ(lock.Depth(), 3);
    EXPECT_EQ(sync.held, 3);
  }
  EXPECT_EQ(sync.calls, "LLLUUU");
  EXPECT_EQ(sync.held, 0);
}

TEST(ScopedLock, UnlockAtDepthZeroDoesNothing) {
  RecordingSync sync;
  {
    ScopedLock lock(&sync, false);
    EXPECT_EQ(lock.Depth(), 0);
    lock.Unlock();
    EXPECT_EQ(sync.calls, "");
    lock.Lock();
    lock.Unlock();
    lock.Unlock();  // once more than locked: ignored
    EXPECT_EQ(lock.Depth(), 0);
  }
  EXPECT_EQ(sync.calls, "LU");
}

TEST(ScopedLock, WaitingCodeCanHandBackItsCallersLock) {
  // The caller holds the provider lock; code that waits for the exchange
  // releases it through the caller's ScopedLock so another thread can take
  // it meanwhile, then retakes it.
  CCritSec providerLock;
  ScopedLock lock(&providerLock);
  std::atomic<bool> otherGotIt{false};
  auto tryFromOtherThread = [&] {
    platform::Thread t;
    t.start([&] {
      otherGotIt = providerLock.TryLock();
      if (otherGotIt) providerLock.Unlock();
    });
    t.join();
    return otherGotIt.load();
  };
  EXPECT_FALSE(tryFromOtherThread());
  lock.Unlock();
  EXPECT_TRUE(tryFromOtherThread());
  lock.Lock();
  EXPECT_FALSE(tryFromOtherThread());
}

TEST(CCritSec, TryLockSucceedsForTheOwnerAndFailsForOthers) {
  CCritSec cs;
  cs.Lock();
  EXPECT_TRUE(cs.TryLock());
  std::atomic<bool> other{true};
  platform::Thread t;
  t.start([&] { other = cs.TryLock(); });
  t.join();
  EXPECT_FALSE(other.load());
  cs.Unlock();
  cs.Unlock();
}

TEST(CMtx, SameNameMeansSameMutexAcrossObjectsAndThreads) {
  CMtx a(u"__MarlixTSP__Tapi__Log__");
  CMtx b(u"__MarlixTSP__Tapi__Log__");
  std::vector<int> order;
  std::atomic<bool> waiting{false};
  a.Lock();
  platform::Thread t;
  t.start([&] {
    waiting = true;
    b.Lock();  // waits until the main thread unlocks
    order.push_back(2);
    b.Unlock();
  });
  while (!waiting) platform::sleepMs(1);
  platform::sleepMs(20);  // give the other thread time to block (ordering only, not timing)
  order.push_back(1);
  a.Unlock();
  t.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(CMtx, UnicodeNamesWork) {
  CMtx m(u"Grüße\\Log");
  m.Lock();
  m.Unlock();
  ScopedLock lock(&m);
  EXPECT_EQ(lock.Depth(), 1);
}

// A thread that must not block on the lock waits for its release instead:
// the retry bound is a minute, so only the release can wake it in time.
TEST(CCritSec, TryLockUntilIsWokenByTheLastReleaseAndGivesUpOnStop) {
  constexpr uint32_t kNoRetry = 60000;
  struct Case {
    const char* what;
    bool stopInstead;  // set stop instead of releasing
  };
  for (const Case& c : {Case{"release", false}, Case{"stop", true}}) {
    SCOPED_TRACE(c.what);
    CCritSec cs;
    platform::Event stop(platform::Event::Reset::Manual);
    platform::Event waiting(platform::Event::Reset::Manual);
    platform::Event done(platform::Event::Reset::Manual);
    std::atomic<bool> taken{false};
    cs.Lock();
    cs.Lock();  // two levels: only the last Unlock releases it
    platform::Thread t;
    t.start([&] {
      waiting.set();
      taken = cs.TryLockUntil(stop, kNoRetry);
      if (taken) cs.Unlock();
      done.set();
    });
    ASSERT_TRUE(waiting.wait(10000));
    cs.Unlock();
    EXPECT_FALSE(taken.load());  // one level is still held
    if (c.stopInstead) stop.set();
    cs.Unlock();
    EXPECT_TRUE(done.wait(10000));
    t.join();
    EXPECT_EQ(taken.load(), !c.stopInstead);
    EXPECT_TRUE(cs.TryLock());  // nothing left held
    cs.Unlock();
  }
}

TEST(CCritSec, TryLockUntilTakesAFreeOrOwnLockAtOnceButNotAfterStop) {
  CCritSec cs;
  platform::Event stop(platform::Event::Reset::Manual);
  EXPECT_TRUE(cs.TryLockUntil(stop, 60000));
  EXPECT_TRUE(cs.TryLockUntil(stop, 60000));  // the owner again
  cs.Unlock();
  cs.Unlock();
  stop.set();
  EXPECT_FALSE(cs.TryLockUntil(stop, 60000));
}

}  // namespace
