#include "link/api/control_watch.h"

#include "link/common/link_log.h"

ControlWatch::ControlWatch(WatchedFn watched, EndedFn ended) : watched_(watched), ended_(ended) {}

namespace {
constexpr uint32_t kUnloadWaitMs = 1000;
}  // namespace

ControlWatch::~ControlWatch() {
  // Unloaded with services open: the thread leaves its loop at the wake-up,
  // before the library's locks and code go.
  stopping_ = true;
  wait_.wake();
  if (thread_.running()) left_.wait(kUnloadWaitMs);
}

void ControlWatch::opened(int slot) {
  std::lock_guard lock(m_);
  slots_ |= 1u << slot;
  if (thread_.running()) {
    wait_.wake();
    return;
  }
  thread_.join(0);  // one that gave up on its own
  stopping_ = false;
  left_.reset();
  if (!wait_.valid() || !thread_.start([this] { run(); }, "vnl2-watch"))
    LinkLog(kLogError, "VNL2: cannot watch the control process: no thread or wake-up descriptor");
}

void ControlWatch::closed(int slot) {
  std::lock_guard lock(m_);
  slots_ &= ~(1u << slot);
  if (slots_ != 0 || !thread_.running()) return;
  stopping_ = true;
  wait_.wake();
  thread_.join();
}

bool ControlWatch::running() {
  std::lock_guard lock(m_);
  return thread_.running();
}

void ControlWatch::run() {
  struct Leaving {
    platform::Event& left;
    ~Leaving() { left.set(); }
  } leaving{left_};
  while (!stopping_) {
    const uint32_t processId = watched_();
    const platform::ProcessEndWait::Result result = wait_.wait(processId);
    if (stopping_) return;
    if (result == platform::ProcessEndWait::Result::Failed) {
      LinkLog(kLogError, "VNL2: watching control process %u failed", processId);
      return;
    }
    if (result == platform::ProcessEndWait::Result::Ended) ended_(processId);
  }
}
