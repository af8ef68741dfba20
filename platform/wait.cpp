#include "platform/wait.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Waiter {
  std::condition_variable cv;
};

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
  for (Waiter* w : waiters_) w->cv.notify_all();
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
  if (objects.empty() || objects.size() > kMaximumWaitObjects) return kWaitFailed;
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
  if (result != kWaitTimeout || timeoutMs == 0) return result;

  Waiter waiter;
  for (Waitable* o : objects) o->waiters_.push_back(&waiter);
  for (;;) {
    if (timeoutMs == kInfinite) {
      waiter.cv.wait(lock);
    } else if (waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      result = tryComplete();
      break;
    }
    result = tryComplete();
    if (result != kWaitTimeout) break;
  }
  for (Waitable* o : objects) {
    auto& list = o->waiters_;
    list.erase(std::find(list.begin(), list.end(), &waiter));
  }
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
