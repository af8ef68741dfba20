#pragma once
// The provider with its real protocol client, talking to the simulated
// exchange's protocol engine in this process (no library, no process, no
// socket), on a fake clock. The test drives the 500 ms ticks.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
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
#include "tests/provider/vnl/in_process_layer2.h"
#include "tests/provider/vnl/trace_recorder.h"
#include "tests/support/wait_until.h"

namespace tktest {

constexpr DWORD kComponentProviderId = 3;

// The provider's configuration: extensions 10 "20" (MSNs 4711, 4712) and 11 "21".
inline const char* kComponentConfiguration = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider3]
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"NumMSNSLine0"=dword:00000002
"Line0MSN0"=dword:00000001
"Line0MSN1"=dword:00000002
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000002
"MSNIndex0"=dword:00000001
"MSNAddress0"="4711"
"MSNIndex1"=dword:00000002
"MSNAddress1"="4712"
)";

// What TAPI's callbacks received.
struct TapiSeen {
  HTAPILINE htLine = nullptr;
  DWORD msg = 0;  // 0 for a completion
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
};

class TapiRecorder {
 public:
  static TapiRecorder& Instance() {
    static TapiRecorder recorder;
    return recorder;
  }
  static void OnCompletion(DRV_REQUESTID id, LONG result) {
    Instance().Add({nullptr, 0, id, static_cast<DWORD_PTR>(result)});
  }
  static void OnEvent(HTAPILINE htLine, HTAPICALL, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
    Instance().Add({htLine, msg, p1, p2});
  }
  void Clear() {
    std::lock_guard lock(m_);
    seen_.clear();
  }
  std::vector<TapiSeen> Seen() {
    std::lock_guard lock(m_);
    return seen_;
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
};

inline HTAPILINE TapiLine(uintptr_t n) { return reinterpret_cast<HTAPILINE>(n); }

class LinkComponent : public ::testing::Test {
 protected:
  LinkComponent() : LinkComponent(Exchange()) {}
  explicit LinkComponent(exchange::ExchangeConfig exchangeConfig) : engine(std::move(exchangeConfig)) {
    client.Attach(provider);
  }

  void SetUp() override {
    TapiRecorder::Instance().Clear();
    ASSERT_EQ(platform::regImport(kComponentConfiguration, "component configuration"), 0);
    DWORD lines = 0, phones = 0;
    ASSERT_EQ(provider.EnumDevices(kComponentProviderId, &lines, &phones, nullptr, nullptr), 0);
    DWORD options = 0;
    ASSERT_EQ(provider.Init(0x20000, kComponentProviderId, 0, lines, TapiRecorder::OnCompletion, &options), 0);
  }
  void TearDown() override {
    layer2.Hold(false);
    EXPECT_EQ(provider.Shutdown(0x20000, kComponentProviderId), 0);
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
    return provider.LineOpen(deviceId, TapiLine(0x100 + deviceId), &hdLine, 0x20000, TapiRecorder::OnEvent);
  }
  LONG Close(DWORD deviceId) { return provider.LineClose(reinterpret_cast<HDRVLINE>(TapiLine(0x100 + deviceId))); }
  std::future<LONG> OpenAsync(DWORD deviceId) {
    return std::async(std::launch::async, [this, deviceId] { return Open(deviceId); });
  }

  // A dialog request, answered in the block's result.
  uint32_t Ui(uint32_t request, uint32_t x = 0) {
    kvarsp::UiRequestBlock block{};
    block.request = request;
    block.x = x;
    provider.HandleUiRequest(block);
    return block.result;
  }
  std::future<uint32_t> UiAsync(uint32_t request, uint32_t x = 0) {
    return std::async(std::launch::async, [this, request, x] { return Ui(request, x); });
  }

  // Waits until the provider has sent n messages.
  bool SentAtLeast(size_t n) {
    return waitUntil([&] { return layer2.Sent().size() >= n; }, std::chrono::seconds(10));
  }
  size_t SentCount(uint8_t type) {
    size_t n = 0;
    for (uint8_t t : layer2.SentTypes()) n += t == type;
    return n;
  }
  // The RefID of the last message sent.
  uint8_t LastRefId() { return layer2.Sent().back()[1]; }

  template <typename T>
  static bool Ready(std::future<T>& f, std::chrono::milliseconds within = std::chrono::milliseconds(0)) {
    return f.wait_for(within) == std::future_status::ready;
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
  kvarsp::VnlClient client{layer2, clock, [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }};
  kvarsp::Provider provider{client, clock, [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }};
};

}  // namespace tktest
