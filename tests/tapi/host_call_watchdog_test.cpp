// The watchdog of provider calls: by hand with a fake clock (the limit, one
// report per call, the stack or why there is none, the late return), and
// with its own thread around a provider plug-in that hangs in a TSPI call.
#include "tapi/host/call_watchdog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/fake_clock.h"
#include "platform/thread.h"
#include "tapi/host/telephony_host.h"
#include "tests/tapi/fake_block_fifo.h"

namespace {

// The watchdog's lines, which may come from its own thread.
class LogLines {
 public:
  tapihost::CallWatchdog::Log Sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(m_);
      lines_.push_back(line);
      added_.notify_all();
    };
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(m_);
    return lines_;
  }
  // The index of the first line that starts with head; bounded wait.
  std::optional<size_t> WaitFor(const std::string& head) {
    std::unique_lock lock(m_);
    std::optional<size_t> found;
    added_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (size_t i = 0; i < lines_.size() && !found; ++i) {
        if (lines_[i].rfind(head, 0) == 0) found = i;
      }
      return found.has_value();
    });
    return found;
  }

 private:
  std::mutex m_;
  std::condition_variable added_;
  std::vector<std::string> lines_;
};

TEST(CallWatchdog, ReportsACallPastItsLimitOnceWithItsStackAndThenItsReturn) {
  struct Case {
    const char* what;
    uint32_t threadId;  // 0: the test's own thread
    uint32_t durationMs;
    std::vector<std::string> lines;  // kStack: the frames of a stack
  };
  const std::string kStack = "(stack)";
  const std::string who = "provider 3 (x.tsp)";
  const std::string me = std::to_string(platform::currentThreadId());
  const Case cases[] = {
      {"returns within the limit", 0, 99, {}},
      {"stuck", 0, 250,
       {who + ": TSPI_lineOpen has not returned after 100 ms (thread " + me + "); its stack:", kStack,
        who + ": TSPI_lineOpen returned after 250 ms"}},
      {"stuck on a thread that has gone", 0x3FFFFFFF, 100,
       {who + ": TSPI_lineOpen has not returned after 100 ms (thread 1073741823); no stack: no thread 1073741823 in "
              "this process",
        who + ": TSPI_lineOpen returned after 100 ms"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::FakeClock clock(0xFFFFFFF0u);  // the tick wraps during the call
    LogLines log;
    tapihost::CallWatchdog watchdog(log.Sink(), 100, tapihost::CallWatchdog::Mode::Manual, clock);
    const uint32_t thread = c.threadId ? c.threadId : platform::currentThreadId();
    const uint64_t token = watchdog.Enter(&who, "TSPI_lineOpen", thread);
    EXPECT_EQ(watchdog.Running(), 1u);
    for (uint32_t elapsed = 0; elapsed < c.durationMs;) {
      const uint32_t step = std::min<uint32_t>(50, c.durationMs - elapsed);
      clock.advance(step);
      elapsed += step;
      watchdog.Check();  // every look after the first report adds nothing
    }
    watchdog.Leave(token);
    EXPECT_EQ(watchdog.Running(), 0u);
    const std::vector<std::string> lines = log.Lines();
    size_t at = 0;
    for (const std::string& head : c.lines) {
      ASSERT_LT(at, lines.size()) << testing::PrintToString(lines);
      if (head == kStack) {  // as many frames as there are
        EXPECT_EQ(lines[at].rfind("  #0 0x", 0), 0u) << lines[at];
        while (at < lines.size() && lines[at].rfind("  #", 0) == 0) ++at;
        continue;
      }
      EXPECT_EQ(lines[at++], head);
    }
    EXPECT_EQ(at, lines.size()) << testing::PrintToString(lines);
  }
}

TEST(CallWatchdog, ItsThreadReportsAProviderStuckInATspiCall) {
  ASSERT_TRUE(tktest::MakeBlockFifo());
  LogLines log;
  tapihost::CallWatchdog watchdog(log.Sink(), 50);
  tapihost::TelephonyHost host;
  std::string error;
  ASSERT_TRUE(host.Load(TK_FAKE_PROVIDER_DIR "/fakesp_block.tsp", 9, &error)) << error;
  host.harness().watchCalls(&watchdog, "provider 9");
  ASSERT_EQ(host.Start(), 0);

  std::atomic<uint32_t> caller{0};
  std::thread call([&] {
    caller = platform::currentThreadId();
    std::vector<uint8_t> caps(sizeof(LINEADDRESSCAPS));
    reinterpret_cast<LINEADDRESSCAPS*>(caps.data())->dwTotalSize = static_cast<DWORD>(caps.size());
    EXPECT_EQ(TSPI_CALL(host, TSPI_lineGetAddressCaps, DWORD{0}, DWORD{0}, DWORD{0x20000}, DWORD{0},
                        reinterpret_cast<LINEADDRESSCAPS*>(caps.data())),
              0);
  });
  const std::optional<size_t> report = log.WaitFor("provider 9: TSPI_lineGetAddressCaps has not returned after ");
  ASSERT_TRUE(report);
  EXPECT_TRUE(tktest::ReleaseBlockedCall());
  call.join();
  const std::optional<size_t> returned = log.WaitFor("provider 9: TSPI_lineGetAddressCaps returned after ");
  ASSERT_TRUE(returned);

  const std::vector<std::string> lines = log.Lines();
  EXPECT_NE(lines[*report].find("(thread " + std::to_string(caller) + "); its stack:"), std::string::npos)
      << lines[*report];
  // The stack shows the provider's function, named by the plug-in's exports.
  bool inProvider = false;
  for (size_t i = *report + 1; i < *returned; ++i) {
    EXPECT_EQ(lines[i].rfind("  #", 0), 0u) << lines[i];
    inProvider = inProvider || lines[i].find("TSPI_lineGetAddressCaps+0x") != std::string::npos;
  }
  EXPECT_TRUE(inProvider) << testing::PrintToString(lines);
  EXPECT_EQ(*returned, lines.size() - 1);  // reported once
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_TRUE(host.violations().empty());
}

}  // namespace
