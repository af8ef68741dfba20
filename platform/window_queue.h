#pragma once
// The message queue of one thread: posted messages in order, sent messages
// waiting to be handled by the thread, the quit request, and the timers of
// the thread's windows. Any thread may add to a queue; only the owning thread
// takes from it. A queue is closed when its thread ends: then it refuses new
// messages, and sent messages still waiting are answered 0.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/wait.h"
#include "platform/window.h"

namespace platform::wnd {

using SteadyTime = std::chrono::steady_clock::time_point;

// Where the result of a sent message goes. A target destroyed without having
// been answered answers 0, so a sender never waits for a message that is
// dropped.
class ReplyTarget {
 public:
  virtual ~ReplyTarget() = default;
  virtual void answer(LResult result) = 0;
};

// A sent message waiting for the thread that owns its window. For
// WM_COPYDATA the block travels as a copy; the handling thread points its
// own CopyDataStruct at it.
struct SentMessage {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
  bool carriesCopyData = false;
  uintptr_t copyDataTag = 0;  // dwData
  std::vector<std::byte> copyData;
  std::unique_ptr<ReplyTarget> reply;
};

// A waitable yes/no state.
class SignalFlag : public Waitable {
 public:
  void set(bool on) {
    changeState([&] { on_ = on; });
  }

 private:
  bool isSignaledLocked() const override { return on_; }
  bool on_ = false;
};

class MessageQueue {
 public:
  MessageQueue() = default;
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Any thread. False once the queue is closed (post: or full).
  bool post(const Message& message);
  // Like post; onQueued runs when the message is accepted, before the owning
  // thread can see it (so a receipt goes out before the message can take
  // effect, which may end the process). It must not block.
  bool post(const Message& message, const std::function<void()>& onQueued);
  bool postQuit(int exitCode);
  // On false the message has been dropped, which answers its sender 0.
  bool deliverSent(std::unique_ptr<SentMessage> message);
  void setTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
  bool killTimer(WindowHandle window, uintptr_t id);
  void killTimers(WindowHandle window);
  void close();

  // Owning thread only.
  std::unique_ptr<SentMessage> takeSent();
  // The next posted message, else WM_QUIT when asked for, else WM_TIMER of
  // the timer due longest. Without one, *nextTimerDue tells when the next
  // timer falls due (nothing when there is no timer).
  bool nextMessage(Message& out, bool remove, std::optional<SteadyTime>* nextTimerDue);
  // Signalled while a posted or sent message or the quit request waits, and
  // after another thread changed the timers (until the next nextMessage).
  Waitable& inputSignal() { return input_; }
  // Signalled while a sent message waits.
  Waitable& sentSignal() { return sent_; }
  // A descriptor that becomes readable when a sent message arrives, for a
  // thread that waits on a socket meanwhile; drainSentWake() resets it.
  int sentWakeDescriptor();
  void drainSentWake();

 private:
  struct Timer {
    WindowHandle window;
    uintptr_t id;
    std::chrono::milliseconds period;
    SteadyTime due;
  };
  void updateSignalsLocked();

  std::mutex mutex_;
  bool closed_ = false;
  std::deque<Message> posted_;
  std::deque<std::unique_ptr<SentMessage>> sentMessages_;
  bool quit_ = false;
  int quitCode_ = 0;
  std::vector<Timer> timers_;
  bool timersChanged_ = false;
  int wakeFd_ = -1;

  bool inputOn_ = false;
  bool sentOn_ = false;
  SignalFlag input_;
  SignalFlag sent_;
};

}  // namespace platform::wnd
