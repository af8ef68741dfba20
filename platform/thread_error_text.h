#pragma once
// The text of the last error of a thread, kept in a thread_local object that
// has neither a constructor nor a destructor to run. A thread_local object
// with a destructor registers it when a thread first touches it, which takes
// the module loader's lock: a thread doing so while another thread unloads a
// module and waits for it would never go on. Longer texts are cut to fit.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {

class ThreadErrorText {
 public:
  void set(std::string_view text) {
    size_ = text.size() < sizeof text_ ? text.size() : sizeof text_;
    std::memcpy(text_, text.data(), size_);
  }
  void clear() { size_ = 0; }
  std::string get() const { return std::string(text_, size_); }

 private:
  char text_[1024];
  size_t size_;
};

}  // namespace platform
