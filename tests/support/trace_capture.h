#pragma once
// Catches the provider's trace records for a test: while a TraceCapture
// lives, every record of the TAPI and the VNL log comes here instead of the
// trace files. Records may come from any thread (the event queue's, the
// link's); every member takes a lock. Header-only, because only tests that
// link the provider's core may include it.
#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "provider/trace.h"

namespace tktest {

class TraceCapture : public kvarsp::TraceSink {
 public:
  struct Record {
    kvarsp::TraceLog log;
    std::string text;
    bool operator==(const Record&) const = default;
  };

  TraceCapture() { kvarsp::setTraceSink(this); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  ~TraceCapture() override { kvarsp::setTraceSink(nullptr); }

  void write(kvarsp::TraceLog log, std::string_view record) override {
    std::lock_guard lock(mutex_);
    records_.push_back({log, std::string(record)});
  }

  // Every record so far, with its log, in the order written.
  std::vector<Record> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  // The texts of every record so far, of both logs.
  std::vector<std::string> texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const Record& r : records_) texts.push_back(r.text);
    return texts;
  }
  // How many records have exactly this text.
  size_t count(std::string_view text) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(records_.begin(), records_.end(), [&](const Record& r) { return r.text == text; }));
  }
  bool contains(std::string_view text) const { return count(text) > 0; }

 private:
  mutable std::mutex mutex_;
  std::vector<Record> records_;
};

}  // namespace tktest
