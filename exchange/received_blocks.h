#pragma once
// The data blocks received on the current connection, kept for scenario
// commands that wait for a block ("wait-block"). A wait consumes the first
// block with the wanted prefix and every block before it, so a sequence of
// waits follows the stream in order, and a block that arrived before its
// wait started still counts. At most kCapacity blocks are kept; the oldest
// go first.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace exchange {

class ReceivedBlocks {
 public:
  static constexpr size_t kCapacity = 4096;

  void Push(std::vector<uint8_t> block);
  void Clear();
  // The first kept block that starts with prefix, or nullopt after timeout.
  std::optional<std::vector<uint8_t>> WaitFor(std::span<const uint8_t> prefix, std::chrono::milliseconds timeout);
  size_t Size() const;

 private:
  std::optional<std::vector<uint8_t>> TakeLocked(std::span<const uint8_t> prefix);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> blocks_;
};

}  // namespace exchange
