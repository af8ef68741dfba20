#include "common/sync.h"

#include "platform/codepage.h"
#include "platform/named_mutex.h"

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
