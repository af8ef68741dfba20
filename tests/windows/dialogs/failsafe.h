#pragma once
// A second time limit beside the dialog layer's own, for tests that open
// dialogs from another module: should the layer's limit not reach that
// module's dialog, WM_QUIT is posted to the thread that made the object
// after `after`, which ends any modal loop on it (and stays queued, ending
// the ones that follow), so the test fails instead of hanging. fired() says
// whether it had to. (No <windows.h> here: the TAPI headers of some tests
// define the Windows type names themselves.)
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tktest {

class QuitFailsafe {
 public:
  explicit QuitFailsafe(std::chrono::milliseconds after = std::chrono::seconds(30));
  ~QuitFailsafe();
  QuitFailsafe(const QuitFailsafe&) = delete;
  QuitFailsafe& operator=(const QuitFailsafe&) = delete;

  bool fired();

 private:
  void watch(std::chrono::milliseconds after);

  const unsigned long thread_;
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  bool fired_ = false;
  std::thread watcher_;  // last: starts once the members above exist
};

}  // namespace tktest
