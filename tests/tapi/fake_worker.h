#pragma once
// The thread of a fake provider plug-in: it calls TAPI back with the jobs
// posted to it, one after the other, never on the thread of the TSPI call
// that posted them (as a real provider's threads do).
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/thread.h"
#include "platform/wait.h"

namespace tktest {

class FakeWorker {
 public:
  bool Running() const { return thread_ != nullptr; }

  void Start(const std::string& name) {
    if (thread_) Stop();  // one still running, or left to end by itself
    {
      std::lock_guard lock(m_);
      stop_ = false;
      jobs_.clear();
    }
    thread_ = std::make_unique<platform::Thread>();
    thread_->start([this] { Loop(); }, name);
  }

  void Post(std::function<void()> job) {
    {
      std::lock_guard lock(m_);
      jobs_.push_back(std::move(job));
    }
    wake_.set();
  }

  // Runs the jobs posted so far, then ends the thread. Without wait the
  // thread is left to end by itself, and Join waits for it later.
  void Stop(bool wait = true) {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    wake_.set();
    if (wait) Join();
  }
  void Join() {
    if (!thread_) return;
    thread_->join();
    thread_.reset();
  }

 private:
  void Loop() {
    for (;;) {
      wake_.wait(5000);
      std::deque<std::function<void()>> jobs;
      bool stop;
      {
        std::lock_guard lock(m_);
        jobs.swap(jobs_);
        stop = stop_;
      }
      for (auto& job : jobs) job();
      if (stop) return;
    }
  }

  std::mutex m_;
  std::deque<std::function<void()>> jobs_;
  bool stop_ = false;
  platform::Event wake_{platform::Event::Reset::Auto};
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace tktest
