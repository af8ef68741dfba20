#include "platform/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/thread.h"

namespace {

using platform::Event;
using platform::kWaitObject0;
using platform::kWaitTimeout;
using platform::waitForMultiple;

TEST(Wait, FirstSignalledObjectInArgumentOrderWins) {
  Event a(Event::Reset::Manual), b(Event::Reset::Manual), c(Event::Reset::Manual);
  b.set();
  c.set();
  EXPECT_EQ(waitForMultiple({&a, &b, &c}, false, 0), kWaitObject0 + 1);
  EXPECT_EQ(waitForMultiple({&c, &b, &a}, false, 0), kWaitObject0 + 0);
  a.set();
  EXPECT_EQ(waitForMultiple({&b, &a}, false, 0), kWaitObject0 + 0);
}

TEST(Wait, AutoResetEventIsConsumedOnlyByTheWaitThatReturnsIt) {
  Event manual(Event::Reset::Manual, true);
  Event autoReset(Event::Reset::Auto, true);
  // The manual event comes first and wins: the auto-reset one keeps its signal.
  EXPECT_EQ(waitForMultiple({&manual, &autoReset}, false, 0), kWaitObject0);
  EXPECT_TRUE(autoReset.isSet());
  // Now it is returned, and consumed.
  EXPECT_EQ(waitForMultiple({&autoReset, &manual}, false, 0), kWaitObject0);
  EXPECT_FALSE(autoReset.isSet());
  EXPECT_EQ(platform::waitForSingle(autoReset, 0), kWaitTimeout);
  // A manual-reset event stays set until reset.
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));
  manual.reset();
  EXPECT_FALSE(manual.wait(0));
}

TEST(Wait, OneSetOfAnAutoResetEventReleasesExactlyOneWaiter) {
  Event ev(Event::Reset::Auto);
  std::atomic<int> released{0};
  platform::Thread t1, t2;
  auto waiter = [&] {
    if (ev.wait(5000)) ++released;
  };
  ASSERT_TRUE(t1.start(waiter));
  ASSERT_TRUE(t2.start(waiter));
  ev.set();
  // The released waiter counts itself and ends; the other one is still waiting.
  ASSERT_NE(waitForMultiple({&t1.handle(), &t2.handle()}, false, 10000), kWaitTimeout);
  EXPECT_TRUE(t1.running() || t2.running());
  EXPECT_EQ(released.load(), 1);
  ev.set();
  EXPECT_TRUE(t1.join(10000));
  EXPECT_TRUE(t2.join(10000));
  EXPECT_EQ(released.load(), 2);
  EXPECT_FALSE(ev.isSet());
}

TEST(Wait, ManualResetEventReleasesEveryWaiter) {
  Event ev(Event::Reset::Manual);
  std::atomic<int> released{0};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(std::make_unique<platform::Thread>());
    ASSERT_TRUE(threads.back()->start([&] {
      if (ev.wait(10000)) ++released;
    }));
  }
  ev.set();
  for (auto& t : threads) EXPECT_TRUE(t->join(10000));
  EXPECT_EQ(released.load(), 4);
}

TEST(Wait, TimeOutsReturnWaitTimeoutAfterTheirTime) {
  Event ev(Event::Reset::Auto);
  EXPECT_EQ(platform::waitForSingle(ev, 0), kWaitTimeout);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(platform::waitForSingle(ev, 50), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(Wait, ASetDuringTheWaitEndsItWithThatObject) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto);
  platform::Thread setter;
  ASSERT_TRUE(setter.start([&] {
    platform::sleepMs(20);
    b.set();
  }));
  EXPECT_EQ(waitForMultiple({&a, &b}, false, 10000), kWaitObject0 + 1);
  EXPECT_FALSE(b.isSet());
  EXPECT_TRUE(setter.join(10000));
}

TEST(Wait, WaitAllNeedsEveryObjectAndConsumesThemTogether) {
  Event a(Event::Reset::Auto), b(Event::Reset::Auto);
  a.set();
  EXPECT_EQ(waitForMultiple({&a, &b}, true, 0), kWaitTimeout);
  EXPECT_TRUE(a.isSet());  // a failed wait-all consumes nothing
  b.set();
  EXPECT_EQ(waitForMultiple({&a, &b}, true, 0), kWaitObject0);
  EXPECT_FALSE(a.isSet());
  EXPECT_FALSE(b.isSet());
}

TEST(Wait, BadArgumentsFail) {
  Event a(Event::Reset::Auto, true);
  EXPECT_EQ(waitForMultiple(std::span<platform::Waitable* const>(), false, 0), platform::kWaitFailed);
  EXPECT_EQ(waitForMultiple({&a, nullptr}, false, 0), platform::kWaitFailed);
  std::vector<platform::Waitable*> tooMany(platform::kMaximumWaitObjects + 1, &a);
  EXPECT_EQ(waitForMultiple(tooMany, false, 0), platform::kWaitFailed);
  EXPECT_TRUE(a.isSet());
}

TEST(Thread, HandleIsSignalledWhenTheThreadEnds) {
  Event go(Event::Reset::Manual);
  platform::Thread t;
  EXPECT_TRUE(t.join(0));  // nothing started
  ASSERT_TRUE(t.start([&] { go.wait(10000); }, "waiter"));
  EXPECT_TRUE(t.running());
  EXPECT_NE(t.id(), 0u);
  EXPECT_NE(t.id(), platform::currentThreadId());
  EXPECT_FALSE(t.join(10));
  EXPECT_EQ(waitForMultiple({&t.handle(), &go}, false, 0), kWaitTimeout);
  go.set();
  EXPECT_EQ(waitForMultiple({&t.handle()}, false, 10000), kWaitObject0);
  EXPECT_TRUE(t.join(0));
  EXPECT_FALSE(t.running());
  // The same object can run a thread again.
  std::atomic<bool> ran{false};
  ASSERT_TRUE(t.start([&] { ran = true; }));
  EXPECT_TRUE(t.join(10000));
  EXPECT_TRUE(ran.load());
}

TEST(Thread, ARunningThreadOutlivesItsObject) {
  Event go(Event::Reset::Manual), done(Event::Reset::Manual);
  {
    platform::Thread t;
    ASSERT_TRUE(t.start([&] {
      go.wait(10000);
      done.set();
    }));
  }
  go.set();
  EXPECT_TRUE(done.wait(10000));
}

}  // namespace

namespace {

// A thread whose function holds the last reference to the object that owns
// its Thread: the owner goes when the function's captures do, on the thread
// itself, which must neither deadlock nor throw (the thread goes on detached
// for the few instructions it has left).
TEST(Thread, AThreadMayEndItsOwnThreadObject) {
  Event gone(Event::Reset::Manual);
  struct Owner {
    // Declared first, so it goes last: after the Thread member.
    struct Notifier {
      Event* event = nullptr;
      ~Notifier() { event->set(); }
    } notifier;
    platform::Thread thread;
  };
  auto owner = std::make_shared<Owner>();
  owner->notifier.event = &gone;
  Owner* raw = owner.get();
  ASSERT_TRUE(raw->thread.start([owner = std::move(owner)] { EXPECT_TRUE(owner); }));
  EXPECT_TRUE(gone.wait(10000));
}

}  // namespace
