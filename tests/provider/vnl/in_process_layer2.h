#pragma once
// A layer 2 for component tests: the provider's connection leads straight
// into a simulated exchange's protocol engine in this process, without a
// thread. A request reaches the engine at once; the engine's answers are
// queued and delivered by Pump() on the test's thread, one at a time with the
// provider lock taken, as the link interface thread would. Tick(n) moves the
// fake clock by 500 ms and runs one tick, n times. Answers can be held back to
// let requests time out. PumpingWaiter is the waiter of the synchronous link
// operations on top of it: while an operation waits, it delivers the answers
// and, when none is left, ticks.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/sync.h"
#include "exchange/protocol_engine.h"
#include "platform/fake_clock.h"
#include "platform/wait.h"
#include "provider/vnl/blocking_link.h"
#include "provider/vnl/layer2.h"

namespace tktest {

class InProcessLayer2 : public kvarsp::Layer2 {
 public:
  InProcessLayer2(exchange::ProtocolEngine& engine, platform::FakeClock& clock) : engine_(engine), clock_(clock) {}

  void Attach(CCritSec& providerLock, kvarsp::Layer2Events& events) override {
    providerLock_ = &providerLock;
    events_ = &events;
  }
  int Load(uint32_t* status) override {
    *status = 0;
    ++loadCount_;
    return 0;
  }
  int Unload() override {
    if (loadCount_ > 0) --loadCount_;
    return 0;
  }
  int OpenConnection() override {
    if (refuseOpen_ || connected_) return -1;
    connected_ = true;
    linkDown_ = false;
    return 0;
  }
  void CloseConnection() override { connected_ = false; }
  bool LinkUp() override { return connected_ && !linkDown_; }
  bool SendBlock(std::span<const uint8_t> message) override {
    if (!connected_) return false;
    sent_.emplace_back(message.begin(), message.end());
    engine_.OnBlock(message, sink_);
    return true;
  }

  // --- Test controls ------------------------------------------------------
  // Delivers the queued answers (unless held), each with the provider lock
  // taken; answers they cause are delivered too. The number delivered.
  size_t Pump() {
    size_t delivered = 0;
    while (!held_ && !answers_.empty()) {
      std::vector<uint8_t> bytes = std::move(answers_.front());
      answers_.pop_front();
      Deliver(bytes);
      ++delivered;
    }
    return delivered;
  }
  // Moves the clock by 500 ms and runs one tick, then pumps; n times.
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) {
      clock_.advance(500);
      Locked([&] { events_->OnLayer2Tick(); });
      Pump();
    }
  }
  // While held, the exchange's answers wait; Hold(false) delivers them in order.
  void Hold(bool hold) {
    held_ = hold;
    Pump();
  }
  // Drops the answers held back so far.
  void Discard() { answers_.clear(); }
  // A message as if the exchange had sent it.
  void Inject(const std::vector<uint8_t>& bytes) {
    Deliver(bytes);
    Pump();
  }
  // Layer 2 reports the link lost.
  void LoseLink() {
    linkDown_ = true;
    CloseConnection();
    Locked([&] { events_->OnLayer2Disconnect(); });
    Pump();
  }
  void RefuseOpen(bool refuse) { refuseOpen_ = refuse; }

  const std::vector<std::vector<uint8_t>>& Sent() const { return sent_; }
  // The message types sent so far, in order.
  std::vector<uint8_t> SentTypes() const {
    std::vector<uint8_t> types;
    for (const auto& block : sent_)
      if (!block.empty()) types.push_back(block[0]);
    return types;
  }
  bool Connected() const { return connected_; }
  // Sends the engine a command as the command interface would.
  std::optional<exchange::ProtocolEngine::CommandResult> Command(std::string_view verb, std::string_view args) {
    return engine_.OnCommand(verb, args, sink_);
  }

 private:
  class Sink : public exchange::BlockSink {
   public:
    explicit Sink(InProcessLayer2& owner) : owner_(owner) {}
    bool SendBlock(std::span<const uint8_t> block) override {
      owner_.answers_.emplace_back(block.begin(), block.end());
      return true;
    }

   private:
    InProcessLayer2& owner_;
  };

  template <typename Fn>
  void Locked(Fn&& fn) {
    // The link interface thread tries the lock; on the test's one thread it
    // is free or already this thread's.
    ASSERT_TRUE(providerLock_->TryLock());
    fn();
    providerLock_->Unlock();
  }
  void Deliver(const std::vector<uint8_t>& bytes) {
    Locked([&] { events_->OnLayer2Message(bytes.data(), bytes.size()); });
  }

  exchange::ProtocolEngine& engine_;
  platform::FakeClock& clock_;
  CCritSec* providerLock_ = nullptr;
  kvarsp::Layer2Events* events_ = nullptr;
  Sink sink_{*this};

  std::deque<std::vector<uint8_t>> answers_;
  int loadCount_ = 0;
  bool held_ = false;
  bool connected_ = false;
  bool linkDown_ = false;
  bool refuseOpen_ = false;
  std::vector<std::vector<uint8_t>> sent_;
};

// The synchronous link operations' waiter on the test's thread: answers
// first, then ticks, then the session's timer; at most kMaxSteps ticks.
class PumpingWaiter : public kvarsp::LinkWaiter {
 public:
  static constexpr int kMaxSteps = 100;
  explicit PumpingWaiter(InProcessLayer2& layer2) : layer2_(layer2) {}
  // Another waiter to use instead (null: pump).
  kvarsp::LinkWaiter* instead = nullptr;
  void Wait(platform::Event& finished, const std::function<void()>& driveTimer) override {
    if (instead) return instead->Wait(finished, driveTimer);
    for (int step = 0; !finished.isSet(); ++step) {
      ASSERT_LT(step, kMaxSteps) << "the operation did not finish";
      if (layer2_.Pump() == 0) layer2_.Tick();
      driveTimer();
    }
  }

 private:
  InProcessLayer2& layer2_;
};

// The real waiter, on the test's thread without ticks: before each look at
// the timer the answers are delivered and the fake clock moves by stepMs.
class SteppingEventWaiter : public kvarsp::LinkWaiter {
 public:
  SteppingEventWaiter(InProcessLayer2& layer2, platform::FakeClock& clock, uint32_t stepMs)
      : layer2_(layer2), clock_(clock), stepMs_(stepMs) {}
  void Wait(platform::Event& finished, const std::function<void()>& driveTimer) override {
    real_.Wait(finished, [&] {
      layer2_.Pump();
      clock_.advance(stepMs_);
      driveTimer();
    });
  }

 private:
  kvarsp::EventLinkWaiter real_;
  InProcessLayer2& layer2_;
  platform::FakeClock& clock_;
  const uint32_t stepMs_;
};

}  // namespace tktest
