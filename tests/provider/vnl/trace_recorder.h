#pragma once
// Collects the provider's trace records for the lifetime of a test.
#include <mutex>
#include <string>
#include <vector>

#include "provider/trace.h"

namespace vnltest {

class TraceRecorder : public kvarsp::TraceSink {
 public:
  TraceRecorder() { kvarsp::setTraceSink(this); }
  ~TraceRecorder() override { kvarsp::setTraceSink(nullptr); }

  void write(kvarsp::TraceLog log, std::string_view record) override {
    std::lock_guard lock(mutex_);
    (log == kvarsp::TraceLog::Vnl ? vnl_ : tapi_).emplace_back(record);
  }

  std::vector<std::string> Vnl() {
    std::lock_guard lock(mutex_);
    return vnl_;
  }
  std::vector<std::string> Tapi() {
    std::lock_guard lock(mutex_);
    return tapi_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> vnl_;
  std::vector<std::string> tapi_;
};

}  // namespace vnltest
