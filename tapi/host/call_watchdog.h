#pragma once
// Watches the TSPI calls into providers: a call that has not returned after
// a limit is reported once, with the stack of the thread that is stuck in
// it, and once more when it returns, with how long it took. A provider that
// hangs cannot be cured from outside, but its host's log then says where.
//
// In: Enter and Leave around each provider call, from any thread
// (ProviderHarness calls them for a harness given a watchdog). Out: lines
// through the log function:
//   "<who>: TSPI_lineOpen has not returned after 5004 ms (thread 4711); its stack:"
//   "  #0 0x7f... read+0x12 (/lib/.../libc.so.6+0x10e1e2)"  (one line per frame)
//   "<who>: TSPI_lineOpen returned after 7310 ms"
// The first lines come from the watchdog's thread, the last one from the
// thread that made the call; a return waits for the report of its call to
// be complete, so the lines stay in order.
//
// Cost: Enter and Leave take an uncontended lock and read the clock; no
// system call, except that Enter wakes the watchdog's thread when it sleeps
// idle. That thread sleeps without a time-out while no call has been made
// for a whole limit; while calls are made it wakes at the deadline of the
// oldest running call, or once per limit.
//
// Threads: one thread of its own, from the constructor to the destructor
// (none with Manual: the owner calls Check, as tests do with a fake clock).
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/thread.h"

namespace tapihost {

class CallWatchdog {
 public:
  static constexpr uint32_t kDefaultLimitMs = 5000;
  // How long a report waits for the stuck thread's stack.
  static constexpr uint32_t kStackWaitMs = 1000;

  using Log = std::function<void(const std::string& line)>;
  enum class Mode { Thread, Manual };

  // limitMs must be above 0. log may be called from the watchdog's thread.
  explicit CallWatchdog(Log log, uint32_t limitMs = kDefaultLimitMs, Mode mode = Mode::Thread,
                        const platform::Clock& clock = platform::systemClock());
  ~CallWatchdog();
  CallWatchdog(const CallWatchdog&) = delete;
  CallWatchdog& operator=(const CallWatchdog&) = delete;

  uint32_t LimitMs() const { return limitMs_; }

  // The calling thread (threadId: platform::currentThreadId()) calls
  // function (a string that lives for the program, such as a literal) of
  // the provider *who names (it must outlive the call). The token is for Leave.
  uint64_t Enter(const std::string* who, const char* function, uint32_t threadId);
  void Leave(uint64_t token);

  // Reports every call past the limit that was not reported yet.
  void Check();
  // How many calls run now.
  size_t Running() const;

 private:
  struct Call {
    uint64_t token = 0;
    const std::string* who = nullptr;
    const char* function = nullptr;
    uint32_t threadId = 0;
    uint32_t start = 0;  // tick
    bool reported = false;
  };

  void Loop();
  std::string Name(const Call& call) const;

  Log log_;
  const uint32_t limitMs_;
  const platform::Clock& clock_;

  mutable std::mutex m_;
  std::condition_variable wake_;
  std::vector<Call> calls_;
  uint64_t nextToken_ = 1;
  bool idle_ = false;     // the thread sleeps until the next Enter
  bool entered_ = false;  // a call began since the thread last looked
  bool stop_ = false;

  // Held while a report is written; a reported call's return waits for it.
  std::mutex reporting_;

  platform::Thread thread_;
};

}  // namespace tapihost
