#include "common/sync.h"

#include "platform/codepage.h"
#include "platform/named_mutex.h"
#include "platform/thread.h"

void CCritSec::Lock() {
  cs_.lock();
  ++depth_;
}

bool CCritSec::TryLock() {
  if (!cs_.tryLock()) return false;
  ++depth_;
  return true;
}

void CCritSec::Unlock() {
  const bool last = --depth_ == 0;
  cs_.unlock();
  if (!last) return;
  // A read-modify-write, so it reads the latest count: a waiter counted
  // after it reads from it and so sees the lock free; a waiter counted
  // before it is seen here and woken.
  if (waiters_.fetch_add(0) > 0) released_.set();
}

bool CCritSec::TryLockUntil(platform::Event& stop, uint32_t retryMs, const std::function<void()>& betweenTries) {
  waiters_.fetch_add(1);
  bool taken = false;
  for (;;) {
    if (stop.isSet()) break;
    if (TryLock()) {
      taken = true;
      break;
    }
    platform::Waitable* objects[] = {&stop, &released_};
    const uint32_t woke = platform::waitForMultiple(objects, false, retryMs);
    if (woke == platform::kWaitFailed) platform::sleepMs(retryMs);
    if (woke != platform::kWaitObject0 && betweenTries) betweenTries();
  }
  waiters_.fetch_sub(1);
  return taken;
}

CMtx::CMtx(std::u16string_view name) {
  auto mutex = std::make_unique<platform::NamedMutex>(platform::wideToUtf8(name));
  if (mutex->valid()) mutex_ = std::move(mutex);
}

CMtx::~CMtx() = default;

void CMtx::Lock() {
  // An abandoned mutex is owned all the same: the previous owner died, and
  // its records may be cut short, but the next writer goes on.
  if (mutex_) mutex_->lock();
}

void CMtx::Unlock() {
  if (mutex_) mutex_->unlock();
}

ScopedLock::ScopedLock(CSync* sync, bool lockNow) : sync_(sync) {
  if (lockNow) Lock();
}

ScopedLock::~ScopedLock() {
  while (depth_ > 0) Unlock();
}

void ScopedLock::Lock() {
  sync_->Lock();
  ++depth_;
}

void ScopedLock::Unlock() {
  if (depth_ == 0) return;
  --depth_;
  sync_->Unlock();
}
