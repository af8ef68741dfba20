#pragma once
// The provider over a FakeLink, started as TAPI starts it (its event queue
// delivers to the given completion callback, the link is loaded) and shut
// down after the test, with lines opened straight in the call model instead
// of through the exchange; the link always succeeds. Time is a fake clock; the event queue's drain
// waits pause on it and give the delivery thread a moment.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake_clock.h"
#include "provider/provider.h"
#include "tests/provider/fake_link.h"

namespace kvarsp_test {

class StartedProvider : public ::testing::Test {
 protected:
  static constexpr DWORD kProviderId = 3;

  explicit StartedProvider(ASYNC_COMPLETION onCompletion) : onCompletion_(onCompletion) {}
  void SetUp() override {
    DWORD options = 0;
    ASSERT_EQ(provider.lifecycle.Init(0x20000, kProviderId, 0, 0, onCompletion_, &options), 0);
  }
  void TearDown() override { EXPECT_EQ(provider.lifecycle.Shutdown(0x20000, kProviderId), 0); }

  // A line record in the call model, as the device's open line.
  kvarsp::OpenLine& OpenInModel(DWORD deviceId, uintptr_t htLine, LINEEVENT eventProc, DWORD version = 0x20000,
                                uint16_t pbxLineId = 0) {
    ScopedLock lock(&provider.state.lock);
    kvarsp::OpenLine line;
    line.deviceId = deviceId;
    line.tspiVersion = version;
    line.htLine = reinterpret_cast<HTAPILINE>(htLine);
    line.eventProc = eventProc;
    line.pbxLineId = pbxLineId;
    return provider.state.calls.AddLine(line);
  }
  // Runs fn on the call model under the provider lock, as TAPI's threads do.
  template <typename Fn>
  decltype(auto) Locked(Fn&& fn) {
    ScopedLock lock(&provider.state.lock);
    return fn(provider.state.calls);
  }

  platform::FakeClock clock{5000};
  FakeLink link;
  kvarsp::Provider provider{link, clock, [this](uint32_t ms) {
                              clock.advance(ms);
                              std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            }};

 private:
  ASYNC_COMPLETION onCompletion_;
};

// A zeroed structure of dwTotalSize bytes as TAPI hands it (at least its
// fixed part), without room behind it that would hide an overrun.
template <typename T>
struct Zeroed {
  explicit Zeroed(DWORD total) : bytes(total < sizeof(T) ? sizeof(T) : total, 0) {
    std::memcpy(bytes.data(), &total, sizeof total);
  }
  T* get() { return reinterpret_cast<T*>(bytes.data()); }
  std::u16string Wide(DWORD offset, DWORD size) const {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), bytes.data() + offset, size);
    return text;
  }
  std::vector<uint8_t> bytes;
};

}  // namespace kvarsp_test
