#pragma once
// The provider with its real protocol client, talking to the simulated
// exchange's protocol engine in this process (no library, no process, no
// socket), on a fake clock, all on the test's thread: the exchange's answers
// and the 500 ms ticks come from the test (directly, or through the waiter
// of the synchronous link operations). Only the provider's own event
// delivery thread runs beside it; DeliverEvents waits for it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "exchange/exchange_config.h"
#include "exchange/vnl_engine.h"
#include "platform/fake_clock.h"
#include "platform/registry.h"
#include "provider/provider.h"
#include "provider/ui_request_block.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "provider/vnl/vnl_client.h"
#include "tests/provider/component/component_configuration.h"
#include "tests/provider/vnl/in_process_layer2.h"
#include "tests/provider/vnl/trace_recorder.h"

namespace tktest {

constexpr DWORD kComponentProviderId = 3;

// What TAPI's callbacks received, in the one order of delivery.
struct TapiSeen {
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  DWORD msg = 0;  // 0 for a completion (param1 the request, param2 the result)
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
  DWORD_PTR param3 = 0;
};

class TapiRecorder {
 public:
  static TapiRecorder& Instance() {
    static TapiRecorder recorder;
    return recorder;
  }
  static void OnCompletion(DRV_REQUESTID id, LONG result) {
    Instance().Add({nullptr, nullptr, 0, id, static_cast<DWORD_PTR>(result), 0});
  }
  // TAPI's LINEEVENT. While new calls are answered, LINE_NEWCALL gets the
  // next handle 0x7000, 0x7010, ... written back, as TAPI does.
  static void OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    TapiRecorder& r = Instance();
    std::lock_guard lock(r.m_);
    if (msg == LINE_NEWCALL && p2 != 0 && r.answerNewCalls_) {
      *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(r.nextHtCall_);
      r.nextHtCall_ += 0x10;
    }
    r.seen_.push_back({htLine, htCall, msg, p1, p2, p3});
  }
  void Clear() {
    std::lock_guard lock(m_);
    seen_.clear();
    nextHtCall_ = 0x7000;
    answerNewCalls_ = false;
  }
  void AnswerNewCalls(bool answer) {
    std::lock_guard lock(m_);
    answerNewCalls_ = answer;
  }
  std::vector<TapiSeen> Seen() {
    std::lock_guard lock(m_);
    return seen_;
  }
  // The events of one message, in order.
  std::vector<TapiSeen> Of(DWORD msg) {
    std::vector<TapiSeen> out;
    for (const TapiSeen& e : Seen())
      if (e.msg == msg) out.push_back(e);
    return out;
  }
  size_t Count(HTAPILINE htLine, DWORD msg, DWORD_PTR param1) {
    size_t n = 0;
    for (const TapiSeen& s : Seen())
      if (s.htLine == htLine && s.msg == msg && s.param1 == param1) ++n;
    return n;
  }

 private:
  void Add(TapiSeen s) {
    std::lock_guard lock(m_);
    seen_.push_back(s);
  }
  std::mutex m_;
  std::vector<TapiSeen> seen_;
  uintptr_t nextHtCall_ = 0x7000;
  bool answerNewCalls_ = false;
};

inline HTAPILINE TapiLine(uintptr_t n) { return reinterpret_cast<HTAPILINE>(n); }

// A line event callback that runs a test's hook on the delivery thread: it
// holds the delivery there while the test's thread is inside the provider.
struct GatedEvents {
  static std::function<void()>& Hook() {
    static std::function<void()> hook;
    return hook;
  }
  static void OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    if (Hook()) Hook()();
    TapiRecorder::OnEvent(htLine, htCall, msg, p1, p2, p3);
  }
};

class LinkComponent : public ::testing::Test {
 protected:
  LinkComponent() : LinkComponent(Exchange()) {}
  explicit LinkComponent(exchange::ExchangeConfig exchangeConfig) : engine(std::move(exchangeConfig)) {
    kvarsp::ProviderState& state = provider.state;
    client.Attach(state.lock, state.config, state.calls, [&state] { return state.session.permanentProviderId; });
  }

  void SetUp() override {
    TapiRecorder::Instance().Clear();
    ASSERT_EQ(platform::regImport(kComponentConfiguration, "component configuration"), 0);
    DWORD lines = 0, phones = 0;
    ASSERT_EQ(provider.lifecycle.EnumDevices(kComponentProviderId, &lines, &phones, nullptr, nullptr), 0);
    DWORD options = 0;
    ASSERT_EQ(provider.lifecycle.Init(0x20000, kComponentProviderId, 0, lines, TapiRecorder::OnCompletion, &options),
              0);
  }
  void TearDown() override {
    GatedEvents::Hook() = nullptr;
    layer2.Hold(false);
    EXPECT_EQ(provider.lifecycle.Shutdown(0x20000, kComponentProviderId), 0);
  }

  // Runs fn under the provider lock, as TAPI's threads do.
  template <typename Fn>
  auto Locked(Fn&& fn) {
    ScopedLock lock(&provider.state.lock);
    return fn();
  }
  // Starts an operation of the asynchronous link session under the provider
  // lock; the slot receives its result.
  template <typename Op>
  void StartLinkOp(Op&& op, std::optional<int>& result) {
    result.reset();
    Locked([&] { op(client.session(), [&result](int r) { result = r; }); });
  }
  // Waits until the provider's event delivery thread has handed TAPI
  // everything queued so far: a marker that waits for its own delivery
  // leaves the first-in first-out queue last (and is not recorded).
  void DeliverEvents() {
    static constexpr LINEEVENT kIgnore = [](HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {};
    ASSERT_TRUE(provider.state.events.QueueEvent(nullptr, kIgnore, nullptr, nullptr, LINE_REPLY, 0, 0, 0, true));
  }

  static exchange::ExchangeConfig Exchange() {
    exchange::ExchangeConfig config = exchange::DefaultExchangeConfig();
    config.lines = {{10, "20", 0, ""}, {11, "21", 0, ""}};
    config.msns = {{1, "4711", {10}}, {2, "4712", {10}}};
    return config;
  }

  // TSPI_lineOpen of a device, with TAPI's htLine = 0x100 + device ID.
  LONG Open(DWORD deviceId) {
    HDRVLINE hdLine = nullptr;
    return provider.lineOps.LineOpen(deviceId, TapiLine(0x100 + deviceId), &hdLine, 0x20000, TapiRecorder::OnEvent);
  }
  LONG Close(DWORD deviceId) {
    return provider.lineOps.LineClose(reinterpret_cast<HDRVLINE>(TapiLine(0x100 + deviceId)));
  }

  // A dialog request, answered in the block's result.
  uint32_t Ui(uint32_t request, uint32_t x = 0) {
    kvarsp::UiRequestBlock block{};
    block.request = request;
    block.x = x;
    provider.dialog.HandleUiRequest(block);
    return block.result;
  }

  size_t SentCount(uint8_t type) {
    size_t n = 0;
    for (uint8_t t : layer2.SentTypes()) n += t == type;
    return n;
  }
  // The RefID of the last message sent.
  uint8_t LastRefId() { return layer2.Sent().back()[1]; }
  // The milliseconds the fake clock moved since `since`.
  uint32_t Elapsed(uint32_t since) { return clock.tickCount() - since; }
  // The position of the first VNL trace record with the text, or -1.
  int VnlTraceIndex(const std::string& text) {
    const auto records = trace.Vnl();
    for (size_t i = 0; i < records.size(); ++i)
      if (records[i].find(text) != std::string::npos) return static_cast<int>(i);
    return -1;
  }
  // Bounded: true once a TAPI trace record has the text (for hooks on the delivery thread).
  bool TapiTraceSoon(const std::string& text) {
    for (int i = 0; i < 5000; ++i) {
      if (TapiTraceHas(text)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  static bool AnyHas(const std::vector<std::string>& records, const std::string& text) {
    for (const std::string& record : records)
      if (record.find(text) != std::string::npos) return true;
    return false;
  }
  bool TraceHas(const std::string& text) { return AnyHas(trace.Vnl(), text); }
  bool TapiTraceHas(const std::string& text) { return AnyHas(trace.Tapi(), text); }

  vnltest::TraceRecorder trace;
  platform::FakeClock clock{1000};
  exchange::VnlEngine engine;
  InProcessLayer2 layer2{engine, clock};
  PumpingWaiter waiter{layer2};
  kvarsp::VnlClient client{layer2, clock, &waiter};
  kvarsp::Provider provider{client, clock, [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }};
};

}  // namespace tktest
