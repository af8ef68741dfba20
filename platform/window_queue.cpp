#include "platform/window_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace platform::wnd {
namespace {

// Timer periods are kept within the limits Windows applies (USER_TIMER_MINIMUM
// and USER_TIMER_MAXIMUM), so a period of 0 does not make a busy loop.
constexpr uint32_t kMinimumTimerMs = 10;
constexpr uint32_t kMaximumTimerMs = 0x7FFFFFFF;
// Posted messages a queue holds at most, the Windows default: a thread that
// stops serving its queue cannot make the process grow without bound.
constexpr size_t kMaximumPosted = 10000;

}  // namespace

MessageQueue::~MessageQueue() {
  close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool MessageQueue::post(const Message& message) { return post(message, {}); }

bool MessageQueue::post(const Message& message, const std::function<void()>& onQueued) {
  std::lock_guard lock(mutex_);
  if (closed_ || posted_.size() >= kMaximumPosted) return false;
  posted_.push_back(message);
  if (onQueued) onQueued();
  updateSignalsLocked();
  return true;
}

bool MessageQueue::postQuit(int exitCode) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  quit_ = true;
  quitCode_ = exitCode;
  updateSignalsLocked();
  return true;
}

bool MessageQueue::deliverSent(std::unique_ptr<SentMessage> message) {
  {
    std::lock_guard lock(mutex_);
    if (!closed_) {
      sentMessages_.push_back(std::move(message));
      updateSignalsLocked();
      if (wakeFd_ >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
      }
      return true;
    }
  }
  message.reset();  // answers 0, outside the lock
  return false;
}

void MessageQueue::setTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  auto period = std::chrono::milliseconds(std::clamp(periodMs, kMinimumTimerMs, kMaximumTimerMs));
  auto due = std::chrono::steady_clock::now() + period;
  std::lock_guard lock(mutex_);
  if (closed_) return;
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it != timers_.end()) {
    it->period = period;
    it->due = due;
  } else {
    timers_.push_back(Timer{window, id, period, due});
  }
  timersChanged_ = true;
  updateSignalsLocked();
}

bool MessageQueue::killTimer(WindowHandle window, uintptr_t id) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

void MessageQueue::killTimers(WindowHandle window) {
  std::lock_guard lock(mutex_);
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window; });
}

void MessageQueue::close() {
  std::deque<std::unique_ptr<SentMessage>> unanswered;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    unanswered.swap(sentMessages_);
    posted_.clear();
    quit_ = false;
    timers_.clear();
    timersChanged_ = false;
    updateSignalsLocked();
  }
  unanswered.clear();  // each answers 0
}

std::unique_ptr<SentMessage> MessageQueue::takeSent() {
  std::lock_guard lock(mutex_);
  if (sentMessages_.empty()) return nullptr;
  auto message = std::move(sentMessages_.front());
  sentMessages_.pop_front();
  updateSignalsLocked();
  return message;
}

bool MessageQueue::nextMessage(Message& out, bool remove, std::optional<SteadyTime>* nextTimerDue) {
  std::lock_guard lock(mutex_);
  timersChanged_ = false;
  bool found = false;
  if (!posted_.empty()) {
    out = posted_.front();
    if (remove) posted_.pop_front();
    found = true;
  } else if (quit_) {
    out = Message{nullptr, kWmQuit, static_cast<WParam>(quitCode_), 0};
    if (remove) quit_ = false;
    found = true;
  } else if (!timers_.empty()) {
    auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                     [](const Timer& a, const Timer& b) { return a.due < b.due; });
    auto now = std::chrono::steady_clock::now();
    if (earliest->due <= now) {
      out = Message{earliest->window, kWmTimer, static_cast<WParam>(earliest->id), 0};
      // The next period counts from now, as on Windows: a timer that could
      // not be served in time does not pile up messages.
      if (remove) earliest->due = now + earliest->period;
      found = true;
    } else if (nextTimerDue) {
      *nextTimerDue = earliest->due;
    }
  }
  if (!found && nextTimerDue && timers_.empty()) nextTimerDue->reset();
  updateSignalsLocked();
  return found;
}

int MessageQueue::sentWakeDescriptor() {
  std::lock_guard lock(mutex_);
  if (wakeFd_ < 0) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Sent messages that came before the descriptor existed wake it too.
    if (wakeFd_ >= 0 && !sentMessages_.empty()) {
      uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
  }
  return wakeFd_;
}

void MessageQueue::drainSentWake() {
  std::lock_guard lock(mutex_);
  if (wakeFd_ < 0) return;
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
}

void MessageQueue::updateSignalsLocked() {
  bool input = !posted_.empty() || quit_ || !sentMessages_.empty() || timersChanged_;
  bool sent = !sentMessages_.empty();
  if (input != inputOn_) {
    inputOn_ = input;
    input_.set(input);
  }
  if (sent != sentOn_) {
    sentOn_ = sent;
    sent_.set(sent);
  }
}

}  // namespace platform::wnd
