#include "tapi/host/call_watchdog.h"

#include <algorithm>
#include <chrono>

#include "platform/thread_stack.h"

namespace tapihost {

CallWatchdog::CallWatchdog(Log log, uint32_t limitMs, Mode mode, const platform::Clock& clock)
    : log_(std::move(log)), limitMs_(std::max<uint32_t>(limitMs, 1)), clock_(clock) {
  calls_.reserve(8);  // Enter does not allocate for the usual one or two calls at a time
  if (mode == Mode::Thread) thread_.start([this] { Loop(); }, "call watchdog");
}

CallWatchdog::~CallWatchdog() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

uint64_t CallWatchdog::Enter(const std::string* who, const char* function, uint32_t threadId) {
  Call call;
  call.who = who;
  call.function = function;
  call.threadId = threadId;
  call.start = clock_.tickCount();
  bool wake;
  {
    std::lock_guard lock(m_);
    call.token = nextToken_++;
    calls_.push_back(call);
    entered_ = true;
    wake = idle_;
    idle_ = false;
  }
  if (wake) wake_.notify_one();
  return call.token;
}

void CallWatchdog::Leave(uint64_t token) {
  Call call;
  {
    std::lock_guard lock(m_);
    auto it = std::find_if(calls_.rbegin(), calls_.rend(), [&](const Call& c) { return c.token == token; });
    if (it == calls_.rend()) return;
    call = *it;
    calls_.erase(std::next(it).base());
  }
  if (!call.reported) return;
  // After the report of this call, not in the middle of it.
  std::lock_guard report(reporting_);
  log_(Name(call) + " returned after " + std::to_string(clock_.tickCount() - call.start) + " ms");
}

size_t CallWatchdog::Running() const {
  std::lock_guard lock(m_);
  return calls_.size();
}

std::string CallWatchdog::Name(const Call& call) const {
  return (call.who ? *call.who : std::string("provider")) + ": " + call.function;
}

void CallWatchdog::Check() {
  std::lock_guard report(reporting_);
  std::vector<Call> late;
  uint32_t now;
  {
    std::lock_guard lock(m_);
    now = clock_.tickCount();
    for (Call& call : calls_) {
      if (call.reported || now - call.start < limitMs_) continue;
      call.reported = true;
      late.push_back(call);
    }
  }
  for (const Call& call : late) {
    const std::string head = Name(call) + " has not returned after " + std::to_string(now - call.start) +
                             " ms (thread " + std::to_string(call.threadId) + ")";
    const platform::ThreadStack stack = platform::captureThreadStack(call.threadId, kStackWaitMs);
    if (!stack.error.empty()) {
      log_(head + "; no stack: " + stack.error);
      continue;
    }
    log_(head + "; its stack:");
    for (const std::string& frame : stack.frames) log_("  " + frame);
  }
}

void CallWatchdog::Loop() {
  std::unique_lock lock(m_);
  while (!stop_) {
    if (calls_.empty() && !entered_) {
      // No call for a whole limit: sleep until the next one.
      idle_ = true;
      wake_.wait(lock, [&] { return stop_ || !idle_; });
      continue;
    }
    entered_ = false;
    // Until the oldest unreported call reaches the limit, or one limit on.
    const uint32_t now = clock_.tickCount();
    uint32_t waitMs = limitMs_;
    for (const Call& call : calls_) {
      if (!call.reported) waitMs = std::min(waitMs, limitMs_ - std::min(limitMs_, now - call.start));
    }
    if (waitMs > 0) {
      wake_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stop_; });
      if (stop_) break;
    }
    lock.unlock();
    Check();
    lock.lock();
  }
}

}  // namespace tapihost
