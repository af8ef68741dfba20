#include "platform/critical_section.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"

namespace {

bool tryFromOtherThread(platform::CriticalSection& cs) {
  std::atomic<bool> got{false};
  platform::Thread t;
  t.start([&] {
    got = cs.tryLock();
    if (got) cs.unlock();
  });
  t.join();
  return got;
}

TEST(CriticalSection, OwnerMayReenterAndOthersCannotUntilFullyLeft) {
  platform::CriticalSection cs;
  cs.lock();
  EXPECT_TRUE(cs.tryLock());  // the owner re-enters
  EXPECT_FALSE(tryFromOtherThread(cs));
  cs.unlock();
  EXPECT_FALSE(tryFromOtherThread(cs));  // still held once
  cs.unlock();
  EXPECT_TRUE(tryFromOtherThread(cs));
}

}  // namespace
