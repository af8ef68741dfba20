#pragma once
// Sinks for tests: an event sink that keeps every line and waits (bounded)
// for one, and a block sink that keeps every block.
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exchange/protocol_engine.h"
#include "tests/support/wait_until.h"

namespace exchangetest {

class RecordingEvents : public exchange::EventSink {
 public:
  void Event(std::string_view line) override {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  }

  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  size_t Count(std::string_view line) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& l : lines_) n += l == line;
    return n;
  }

  // True as soon as line has been seen at least `times` times.
  bool WaitFor(std::string_view line, size_t times = 1,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return tktest::waitUntil([&] { return Count(line) >= times; }, timeout);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Keeps the blocks sent to it (from any thread); connected = false makes
// every send fail (after keeping the block).
class RecordingBlocks : public exchange::BlockSink {
 public:
  bool SendBlock(std::span<const uint8_t> block) override {
    std::lock_guard lock(mutex_);
    blocks_.emplace_back(block.begin(), block.end());
    return connected;
  }
  std::vector<std::vector<uint8_t>> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(blocks_, {});
  }
  bool connected = true;

 private:
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> blocks_;
};

}  // namespace exchangetest
