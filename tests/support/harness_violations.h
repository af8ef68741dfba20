#pragma once
// Violation handlers for ProviderHarness in tests: fail the running test
// (instead of aborting the process), or collect the messages for a test
// that expects a violation.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace tktest {

inline void failTestOnViolation(const std::string& message) {
  ADD_FAILURE() << "TSPI contract broken: " << message;
}

class ViolationCollector {
 public:
  auto handler() {
    return [this](const std::string& message) {
      std::lock_guard lock(m_);
      messages_.push_back(message);
    };
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(m_);
    return messages_;
  }
  bool anyContains(const std::string& text) const {
    std::lock_guard lock(m_);
    for (const auto& m : messages_) {
      if (m.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex m_;
  std::vector<std::string> messages_;
};

}  // namespace tktest
