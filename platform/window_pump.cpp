// The message loop side of the window stand-in: taking messages from the
// calling thread's queue and waiting for them.
#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/window.h"
#include "platform/window_sent.h"
#include "platform/window_table.h"

namespace platform {

using namespace wnd;

namespace {

// Milliseconds until the earlier of deadline and timerDue, rounded up; 0
// when that has passed, kInfinite when there is neither.
uint32_t millisecondsUntil(std::optional<SteadyTime> deadline, std::optional<SteadyTime> timerDue) {
  std::optional<SteadyTime> until = deadline;
  if (timerDue && (!until || *timerDue < *until)) until = timerDue;
  if (!until) return kInfinite;
  auto left = *until - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<uint32_t>(std::min<int64_t>(ms, kInfinite - 1));
}

}  // namespace

bool getMessage(Message& message) {
  auto queue = currentQueue();
  for (;;) {
    handleSentMessages(*queue);
    std::optional<SteadyTime> timerDue;
    if (queue->nextMessage(message, true, &timerDue)) return message.message != kWmQuit;
    waitForSingle(queue->inputSignal(), millisecondsUntil(std::nullopt, timerDue));
  }
}

bool peekMessage(Message& message, bool remove) {
  auto queue = currentQueue();
  handleSentMessages(*queue);
  return queue->nextMessage(message, remove, nullptr);
}

bool waitMessage() { return msgWaitForMultiple({}, kInfinite) == kWaitObject0; }

uint32_t msgWaitForMultiple(std::span<Waitable* const> objects, uint32_t timeoutMs) {
  // One place stays for the queue, as with MsgWaitForMultipleObjects.
  if (objects.size() >= kMaximumWaitObjects) return kWaitFailed;
  if (std::find(objects.begin(), objects.end(), nullptr) != objects.end()) return kWaitFailed;
  auto queue = currentQueue();
  std::vector<Waitable*> all(objects.begin(), objects.end());
  all.push_back(&queue->inputSignal());
  const uint32_t input = kWaitObject0 + static_cast<uint32_t>(objects.size());
  std::optional<SteadyTime> deadline;
  if (timeoutMs != kInfinite) deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

  for (;;) {
    // The objects come first, as they do in the wait itself.
    uint32_t r = waitForMultiple(all, false, 0);
    if (r < input) return r;
    bool handled = handleSentMessages(*queue) > 0;
    Message next;
    std::optional<SteadyTime> timerDue;
    if (queue->nextMessage(next, false, &timerDue) || handled) return input;
    uint32_t waitMs = millisecondsUntil(deadline, timerDue);
    if (deadline && std::chrono::steady_clock::now() >= *deadline) return kWaitTimeout;
    r = waitForMultiple(all, false, waitMs);
    if (r < input) return r;
    // Input, a due timer or the end of the time-out: looked at again above.
  }
}

}  // namespace platform
