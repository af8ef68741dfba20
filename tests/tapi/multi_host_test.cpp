// Two telephony hosts in one process, each on its own fake provider.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "tapi/host/host_calls.h"
#include "tapi/host/telephony_host.h"

namespace {

using tapihost::HostEvent;
using tapihost::TelephonyHost;

struct Hosted {
  Hosted(const char* provider, uint32_t lines) : provider(provider), linesAfterCreate(lines) {}
  const char* provider;
  uint32_t linesAfterCreate;  // fakesp_host announces a third line
  TelephonyHost host;
  std::atomic<size_t> notified{0};
};

TEST(MultiHost, CompletionsEventsAndLineCreatesNeverCross) {
  Hosted hosted[] = {{"fakesp_host", 3}, {"fakesp_calls", 1}};
  for (Hosted& h : hosted) {
    std::string error;
    ASSERT_TRUE(h.host.Load(std::string(TK_FAKE_PROVIDER_DIR) + "/" + h.provider + ".tsp", 4, &error)) << error;
    h.host.SetEventNotifier([&h] { ++h.notified; });
    ASSERT_EQ(h.host.Start(), 0);
    ASSERT_EQ(h.host.OpenLine(0), 0);
  }
  TelephonyHost& lines = hosted[0].host;
  TelephonyHost& calls = hosted[1].host;
  tapihost::HostCalls made(calls);
  HTAPICALL htCall = nullptr;
  auto make = made.MakeCall(0, u"22", nullptr, &htCall);
  auto devSpecific = TSPI_CALL_ASYNC(lines, TSPI_lineDevSpecific, *lines.LineHandle(0), DWORD{0}, HDRVCALL{},
                                     LPVOID{}, DWORD{0});
  ASSERT_TRUE(make.accepted());
  ASSERT_TRUE(devSpecific.accepted());
  EXPECT_NE(make.requestId, devSpecific.requestId);
  EXPECT_EQ(calls.WaitCompletion(make.requestId), 0);
  EXPECT_EQ(lines.WaitCompletion(devSpecific.requestId), 0);
  size_t cursor = 0;
  ASSERT_TRUE(calls.WaitEvent(cursor, [&](const HostEvent& e) { return e.htCall == htCall && e.deviceId == 0u; }));
  cursor = 0;
  ASSERT_TRUE(lines.WaitEvent(cursor, [](const HostEvent& e) { return e.msg == LINE_CREATE && e.deviceId; }));
  EXPECT_EQ(lines.WaitCompletion(make.requestId, 0), std::nullopt);
  EXPECT_EQ(calls.WaitCompletion(devSpecific.requestId, 0), std::nullopt);

  for (Hosted& h : hosted) {
    SCOPED_TRACE(h.provider);
    EXPECT_EQ(h.host.LineCount(), h.linesAfterCreate);
    EXPECT_EQ(h.host.Stop(), 0);
    size_t all = 0;
    std::vector<HostEvent> events = h.host.EventsSince(all);
    // Every line event names a line of this host, and each event was announced.
    for (const HostEvent& e : events) {
      if (e.kind == HostEvent::Kind::LineEvent) {
        EXPECT_TRUE(e.deviceId) << describe(e);
      }
    }
    EXPECT_EQ(h.notified, events.size());
    EXPECT_THAT(h.host.violations(), testing::IsEmpty());
  }
}

}  // namespace
