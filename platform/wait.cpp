#include "platform/wait.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(_WIN32)
#include "platform/win32/wait_win32.h"
#endif

namespace platform {

#if defined(_WIN32)
// On Windows a waiter sleeps on a Win32 event of its own, which a state
// change sets, so that one wait can also cover the thread's message queue
// (msgWaitForMultiple); see platform/win32/wait_win32.h.
struct Waiter {
  void* event;
};
#else
struct Waiter {
  std::condition_variable cv;
};
#endif

namespace {

// One lock for the state of every waitable object in the process. Waits and
// state changes are short, and one lock makes multi-object waits atomic.
std::mutex& waitLock() {
  static std::mutex m;
  return m;
}

}  // namespace

Waitable::~Waitable() = default;

void Waitable::lockWaitLock() { waitLock().lock(); }

void Waitable::notifyAndUnlock() {
#if defined(_WIN32)
  for (Waiter* w : waiters_) win32::wakeWaiter(w->event);
#else
  for (Waiter* w : waiters_) w->cv.notify_all();
#endif
  waitLock().unlock();
}

Event::Event(Reset reset, bool initiallySet) : reset_(reset), signaled_(initiallySet) {}

void Event::set() {
  changeState([this] { signaled_ = true; });
}

void Event::reset() {
  std::lock_guard lock(waitLock());
  signaled_ = false;
}

bool Event::isSet() const {
  std::lock_guard lock(waitLock());
  return signaled_;
}

bool Event::wait(uint32_t timeoutMs) { return waitForSingle(*this, timeoutMs) == kWaitObject0; }

uint32_t waitForMultiple(std::span<Waitable* const> objects, bool waitAll, uint32_t timeoutMs) {
#if defined(_WIN32)
  // A wait of msgWaitForMultiple: it also ends for input, and may have no objects.
  const bool withInput = win32::takeInputRequest();
  if ((objects.empty() && !withInput) || objects.size() > kMaximumWaitObjects) return kWaitFailed;
#else
  if (objects.empty() || objects.size() > kMaximumWaitObjects) return kWaitFailed;
#endif
  if (std::find(objects.begin(), objects.end(), nullptr) != objects.end()) return kWaitFailed;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(waitLock());

  // Returns the result when the wait can end now, consuming what it takes.
  auto tryComplete = [&]() -> uint32_t {
    if (waitAll) {
      for (Waitable* o : objects) {
        if (!o->isSignaledLocked()) return kWaitTimeout;
      }
      for (Waitable* o : objects) o->consumeLocked();
      return kWaitObject0;
    }
    for (size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->isSignaledLocked()) {
        objects[i]->consumeLocked();
        return kWaitObject0 + static_cast<uint32_t>(i);
      }
    }
    return kWaitTimeout;
  };

  uint32_t result = tryComplete();
#if defined(_WIN32)
  if (result != kWaitTimeout || (timeoutMs == 0 && !withInput)) return result;
  void* event = win32::createWaitEvent();
  if (event == nullptr) return kWaitFailed;
  Waiter waiter{event};
#else
  if (result != kWaitTimeout || timeoutMs == 0) return result;

  Waiter waiter;
#endif
  for (Waitable* o : objects) o->waiters_.push_back(&waiter);
  for (;;) {
#if defined(_WIN32)
    // The event is set under the lock after every change of an object, and
    // this waiter is registered before the lock is let go: a change between
    // the look above and the sleep leaves the event set.
    uint32_t sleepMs = kInfinite;
    if (timeoutMs != kInfinite) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      sleepMs = static_cast<uint32_t>(std::clamp<int64_t>(left, 0, kInfinite - 1));
    }
    lock.unlock();
    const win32::Woke woke = win32::sleepOnWaitEvent(waiter.event, sleepMs, withInput);
    lock.lock();
    result = tryComplete();
    if (result != kWaitTimeout) break;
    if (woke == win32::Woke::Input) {
      result = kWaitObject0 + static_cast<uint32_t>(objects.size());
      break;
    }
    if (woke == win32::Woke::Failed) {
      result = kWaitFailed;
      break;
    }
    // A system timer may end a sleep a little early: the deadline decides.
    if (timeoutMs != kInfinite && std::chrono::steady_clock::now() >= deadline) break;
#else
    if (timeoutMs == kInfinite) {
      waiter.cv.wait(lock);
    } else if (waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      result = tryComplete();
      break;
    }
    result = tryComplete();
    if (result != kWaitTimeout) break;
#endif
  }
  for (Waitable* o : objects) {
    auto& list = o->waiters_;
    list.erase(std::find(list.begin(), list.end(), &waiter));
  }
#if defined(_WIN32)
  // Closed once no object can set it any more.
  win32::closeWaitEvent(waiter.event);
#endif
  return result;
}

uint32_t waitForMultiple(std::initializer_list<Waitable*> objects, bool waitAll, uint32_t timeoutMs) {
  return waitForMultiple(std::span<Waitable* const>(objects.begin(), objects.size()), waitAll, timeoutMs);
}

uint32_t waitForSingle(Waitable& object, uint32_t timeoutMs) {
  Waitable* one = &object;
  return waitForMultiple(std::span<Waitable* const>(&one, 1), false, timeoutMs);
}

}  // namespace platform
