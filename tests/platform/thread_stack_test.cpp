// The stack of another thread as text: a thread parked in a known function
// of the platform library, the calling thread itself, a thread that blocks
// every signal, and a thread that does not exist.
#include "platform/thread_stack.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>

#include "platform/thread.h"
#include "platform/wait.h"

namespace {

bool AnyFrameNames(const platform::ThreadStack& stack, const std::string& part) {
  return std::any_of(stack.frames.begin(), stack.frames.end(),
                     [&](const std::string& f) { return f.find(part) != std::string::npos; });
}

// A thread that waits on an event until the test lets it go; blockSignals
// makes it refuse every signal first.
class ParkedThread {
 public:
  explicit ParkedThread(bool blockSignals) {
    thread_.start([this, blockSignals] {
      if (blockSignals) {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
      }
      id_ = platform::currentThreadId();
      started_.set();
      release_.wait();
    });
    started_.wait(10000);
  }
  ~ParkedThread() {
    release_.set();
    thread_.join(10000);
  }
  uint32_t id() const { return id_; }

 private:
  platform::Event started_{platform::Event::Reset::Manual};
  platform::Event release_{platform::Event::Reset::Manual};
  std::atomic<uint32_t> id_{0};
  platform::Thread thread_;
};

TEST(ThreadStack, NamesTheFramesOfAWaitingThreadInnermostFirst) {
  for (int round = 0; round < 2; ++round) {  // the second capture finds the handler installed
    ParkedThread parked(false);
    // The thread may still be on its way from the start signal into its
    // wait (in a call the compiler made a tail call, with no frame of its
    // own): look again, a bounded number of times, until it waits.
    platform::ThreadStack stack;
    for (int look = 0; look < 200; ++look) {
      stack = platform::captureThreadStack(parked.id(), 10000);
      if (!stack.error.empty() || AnyFrameNames(stack, "platform::Event::wait(unsigned int)+0x")) break;
      platform::sleepMs(10);
    }
    ASSERT_EQ(stack.error, "");
    ASSERT_GE(stack.frames.size(), 3u);
    EXPECT_EQ(stack.frames[0].rfind("#0 0x", 0), 0u) << stack.frames[0];
    EXPECT_TRUE(AnyFrameNames(stack, "platform::Event::wait(unsigned int)+0x")) << testing::PrintToString(stack.frames);
    EXPECT_TRUE(AnyFrameNames(stack, "libtkplatform.so+0x")) << testing::PrintToString(stack.frames);
  }
}

TEST(ThreadStack, CapturesTheCallingThreadToo) {
  const platform::ThreadStack stack = platform::captureThreadStack(platform::currentThreadId(), 10000);
  ASSERT_EQ(stack.error, "");
  EXPECT_TRUE(AnyFrameNames(stack, "platform::captureThreadStack(unsigned int, unsigned int)+0x"))
      << testing::PrintToString(stack.frames);
}

TEST(ThreadStack, SaysWhyWhenThereIsNoStack) {
  {
    ParkedThread deaf(true);
    const platform::ThreadStack stack = platform::captureThreadStack(deaf.id(), 50);
    EXPECT_TRUE(stack.frames.empty());
    EXPECT_EQ(stack.error,
              "thread " + std::to_string(deaf.id()) + " did not answer within 50 ms (it may block signals)");
  }
  const uint32_t none = 0x3FFFFFFF;  // above any process ID the system hands out
  const platform::ThreadStack stack = platform::captureThreadStack(none, 50);
  EXPECT_TRUE(stack.frames.empty());
  EXPECT_EQ(stack.error, "no thread 1073741823 in this process");
  // A capture after those still works.
  ParkedThread parked(false);
  EXPECT_EQ(platform::captureThreadStack(parked.id(), 10000).error, "");
}

}  // namespace
