#include "exchange/received_blocks.h"

#include <algorithm>

namespace exchange {

void ReceivedBlocks::Push(std::vector<uint8_t> block) {
  {
    std::lock_guard lock(mutex_);
    if (blocks_.size() == kCapacity) blocks_.pop_front();
    blocks_.push_back(std::move(block));
  }
  changed_.notify_all();
}

void ReceivedBlocks::Clear() {
  std::lock_guard lock(mutex_);
  blocks_.clear();
}

size_t ReceivedBlocks::Size() const {
  std::lock_guard lock(mutex_);
  return blocks_.size();
}

std::optional<std::vector<uint8_t>> ReceivedBlocks::TakeLocked(std::span<const uint8_t> prefix) {
  auto match = std::find_if(blocks_.begin(), blocks_.end(), [&](const std::vector<uint8_t>& block) {
    return block.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), block.begin());
  });
  if (match == blocks_.end()) return std::nullopt;
  std::vector<uint8_t> block = std::move(*match);
  blocks_.erase(blocks_.begin(), match + 1);
  return block;
}

std::optional<std::vector<uint8_t>> ReceivedBlocks::WaitFor(std::span<const uint8_t> prefix,
                                                            std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (auto block = TakeLocked(prefix)) return block;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return TakeLocked(prefix);
  }
}

}  // namespace exchange
