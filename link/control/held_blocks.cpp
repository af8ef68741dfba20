#include "link/control/held_blocks.h"

#include <algorithm>
#include <new>

#include "link/api/vnl2_shared_area.h"

bool HeldBlocks::Holds(uint32_t service) const {
  return std::any_of(held_.begin(), held_.end(), [&](const Block& b) { return b.service == service; });
}

int32_t HeldBlocks::Deliver(uint32_t service, const uint8_t* data, uint32_t length) {
  // A block that no receive queue can take (empty, or longer than a queue
  // block) is the library's to refuse. Held, it would wait for room that
  // cannot help it, hold up the service's later blocks and at last be
  // given up as if the service had closed.
  if (length == 0 || length > kRecBlockData) return library_.CopyRecData(service, data, length);
  if (!held_.empty()) Retry();
  if (!Holds(service)) {
    const int32_t result = library_.CopyRecData(service, data, length);
    if (result == 1 || !library_.QueueFull(service)) return result;
  }
  if (held_.size() >= limit_) return -1;
  try {
    held_.push_back(Block{service, std::vector<uint8_t>(data, data + length)});
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 1;
}

bool HeldBlocks::Retry(size_t* refused) {
  // Services whose oldest held block still does not fit: their later blocks wait.
  std::vector<uint32_t> blocked;
  for (auto it = held_.begin(); it != held_.end();) {
    if (std::find(blocked.begin(), blocked.end(), it->service) != blocked.end()) {
      ++it;
      continue;
    }
    const int32_t result =
        library_.CopyRecData(it->service, it->bytes.data(), static_cast<uint32_t>(it->bytes.size()));
    if (result == 1 || !library_.QueueFull(it->service)) {
      if (result != 1 && refused) ++*refused;
      it = held_.erase(it);
    } else {
      blocked.push_back(it->service);
      ++it;
    }
  }
  return !held_.empty();
}
