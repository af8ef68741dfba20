#pragma once
// A layer 2 for component tests: the provider's connection leads straight
// into a simulated exchange's protocol engine in this process. A worker
// thread plays the link interface thread: it delivers the exchange's answers
// and the 500 ms ticks to the protocol client, one at a time, with the
// provider lock taken by trying it. Ticks are driven by the test on a fake
// clock; answers can be held back to let requests time out.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <span>
#include <thread>
#include <variant>
#include <vector>

#include "common/sync.h"
#include "exchange/protocol_engine.h"
#include "platform/fake_clock.h"
#include "provider/vnl/layer2.h"

namespace tktest {

class InProcessLayer2 : public kvarsp::Layer2 {
 public:
  InProcessLayer2(exchange::ProtocolEngine& engine, platform::FakeClock& clock) : engine_(engine), clock_(clock) {}
  ~InProcessLayer2() override { StopWorker(); }

  void Attach(CCritSec& providerLock, kvarsp::Layer2Events& events) override {
    providerLock_ = &providerLock;
    events_ = &events;
  }
  int Load(uint32_t* status) override {
    *status = 0;
    std::lock_guard lock(m_);
    if (loadCount_++ == 0) {
      stop_ = false;
      worker_ = std::thread([this] { Work(); });
    }
    return 0;
  }
  int Unload() override {
    {
      std::lock_guard lock(m_);
      if (loadCount_ == 0 || --loadCount_ > 0) return 0;
    }
    StopWorker();
    return 0;
  }
  int OpenConnection() override {
    std::lock_guard lock(m_);
    if (refuseOpen_ || connected_) return -1;
    connected_ = true;
    linkDown_ = false;
    ++opens_;
    return 0;
  }
  void CloseConnection() override {
    std::lock_guard lock(m_);
    connected_ = false;
  }
  bool LinkUp() override {
    std::lock_guard lock(m_);
    return connected_ && !linkDown_;
  }
  bool SendBlock(std::span<const uint8_t> message) override {
    {
      std::lock_guard lock(m_);
      if (!connected_) return false;
      sent_.emplace_back(message.begin(), message.end());
    }
    std::lock_guard engineLock(engineMutex_);
    engine_.OnBlock(message, sink_);
    return true;
  }

  // --- Test controls ------------------------------------------------------
  // Moves the clock by 500 ms and runs one tick on the worker, n times. The
  // clock moves on the worker with the provider lock held, as a real tick
  // comes: a request sent under that lock is registered before time passes.
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) Post(TickJob{});
    WaitIdle();
  }
  // While held, the exchange's answers wait; Release delivers them in order.
  void Hold(bool hold) {
    {
      std::lock_guard lock(m_);
      held_ = hold;
    }
    changed_.notify_all();
  }
  // Drops the answers held back so far.
  void Discard() {
    std::lock_guard lock(m_);
    std::erase_if(jobs_, [](const Job& job) { return std::holds_alternative<AnswerJob>(job); });
  }
  // A message as if the exchange had sent it.
  void Inject(std::vector<uint8_t> bytes) { Post(MessageJob{std::move(bytes)}); WaitIdle(); }
  // Layer 2 reports the link lost.
  void LoseLink() {
    {
      std::lock_guard lock(m_);
      linkDown_ = true;
    }
    Post(DisconnectJob{});
    WaitIdle();
  }
  void RefuseOpen(bool refuse) {
    std::lock_guard lock(m_);
    refuseOpen_ = refuse;
  }
  // Waits until the worker has nothing left to deliver (held answers aside).
  void WaitIdle() {
    std::unique_lock lock(m_);
    changed_.wait(lock, [&] { return (jobs_.empty() || (held_ && OnlyAnswersQueued())) && !busy_; });
  }

  std::vector<std::vector<uint8_t>> Sent() {
    std::lock_guard lock(m_);
    return sent_;
  }
  // The message types sent so far, in order.
  std::vector<uint8_t> SentTypes() {
    std::vector<uint8_t> types;
    for (const auto& block : Sent())
      if (!block.empty()) types.push_back(block[0]);
    return types;
  }
  bool Connected() {
    std::lock_guard lock(m_);
    return connected_;
  }
  int Opens() {
    std::lock_guard lock(m_);
    return opens_;
  }
  // Sends the engine a command as the command interface would.
  std::optional<exchange::ProtocolEngine::CommandResult> Command(std::string_view verb, std::string_view args) {
    std::lock_guard engineLock(engineMutex_);
    return engine_.OnCommand(verb, args, sink_);
  }

 private:
  struct TickJob {};
  struct DisconnectJob {};
  struct MessageJob {
    std::vector<uint8_t> bytes;
  };
  struct AnswerJob {
    std::vector<uint8_t> bytes;
  };
  using Job = std::variant<TickJob, DisconnectJob, MessageJob, AnswerJob>;

  class Sink : public exchange::BlockSink {
   public:
    explicit Sink(InProcessLayer2& owner) : owner_(owner) {}
    bool SendBlock(std::span<const uint8_t> block) override {
      owner_.Post(AnswerJob{{block.begin(), block.end()}});
      return true;
    }

   private:
    InProcessLayer2& owner_;
  };

  void Post(Job job) {
    {
      std::lock_guard lock(m_);
      jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
  }
  bool OnlyAnswersQueued() const {
    for (const Job& job : jobs_)
      if (!std::holds_alternative<AnswerJob>(job)) return false;
    return true;
  }
  // The next job to run: answers are skipped while held.
  bool TakeJob(Job& job) {
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
      if (held_ && std::holds_alternative<AnswerJob>(*it)) continue;
      job = std::move(*it);
      jobs_.erase(it);
      return true;
    }
    return false;
  }
  void Work() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(m_);
        changed_.wait(lock, [&] { return stop_ || TakeJob(job); });
        if (stop_) return;
        busy_ = true;
      }
      while (!providerLock_->TryLock()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (std::holds_alternative<TickJob>(job)) {
        clock_.advance(500);
        events_->OnLayer2Tick();
      } else if (std::holds_alternative<DisconnectJob>(job)) {
        CloseConnection();
        events_->OnLayer2Disconnect();
      } else {
        const std::vector<uint8_t>& bytes =
            std::holds_alternative<MessageJob>(job) ? std::get<MessageJob>(job).bytes : std::get<AnswerJob>(job).bytes;
        events_->OnLayer2Message(bytes.data(), bytes.size());
      }
      providerLock_->Unlock();
      {
        std::lock_guard lock(m_);
        busy_ = false;
      }
      changed_.notify_all();
    }
  }
  void StopWorker() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  exchange::ProtocolEngine& engine_;
  platform::FakeClock& clock_;
  CCritSec* providerLock_ = nullptr;
  kvarsp::Layer2Events* events_ = nullptr;
  Sink sink_{*this};
  std::mutex engineMutex_;

  std::mutex m_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::thread worker_;
  int loadCount_ = 0;
  bool stop_ = false;
  bool busy_ = false;
  bool held_ = false;
  bool connected_ = false;
  bool linkDown_ = false;
  bool refuseOpen_ = false;
  int opens_ = 0;
  std::vector<std::vector<uint8_t>> sent_;
};

}  // namespace tktest
