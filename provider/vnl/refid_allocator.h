#pragma once
// RefIDs of requests: 1, 2, ..., 255, 1, 2, ... never 0. Requests are built on
// TAPI's threads and answers on the link interface thread, so the counter has
// a lock of its own.
#include <cstdint>

#include "common/sync.h"

namespace kvarsp {

class RefIdAllocator {
 public:
  uint8_t Next() {
    ScopedLock lock(&lock_);
    const uint8_t refId = counter_ == 0 ? 1 : counter_;
    counter_ = static_cast<uint8_t>(refId + 1);
    return refId;
  }

 private:
  CCritSec lock_;
  uint8_t counter_ = 0;
};

}  // namespace kvarsp
