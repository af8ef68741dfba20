#include "tapi/host/telephony_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/fake_clock.h"
#include "platform/wait.h"
#include "tapi/host/host_calls.h"
#include "tapi/host/provider_list.h"

namespace {

using tapihost::HostEvent;
using tapihost::TelephonyHost;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uint32_t kProviderId = 5;

const std::string kProviderPath = std::string(TK_FAKE_PROVIDER_DIR) + "/fakesp_host.tsp";

auto IsMsg(DWORD msg) {
  return [msg](const HostEvent& e) { return e.kind != HostEvent::Kind::Completion && e.msg == msg; };
}

void LoadAndStart(TelephonyHost& host) {
  std::string error;
  ASSERT_TRUE(host.Load(kProviderPath, kProviderId, &error)) << error;
  ASSERT_EQ(host.Start(), 0);
}

bool AnyContains(const std::vector<std::string>& messages, const std::string& text) {
  for (const auto& m : messages) {
    if (m.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(TelephonyHost, StartFindsTheLinesAndReadsTheirCapabilities) {
  TelephonyHost host;
  EXPECT_EQ(host.Start(), LINEERR_NODRIVER);
  EXPECT_EQ(host.LineCount(), 0u);
  LoadAndStart(host);
  EXPECT_TRUE(host.Started());
  EXPECT_EQ(host.Start(), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(host.PermanentProviderId(), kProviderId);
  // The announced third line is created only when events are processed.
  EXPECT_EQ(host.LineCount(), 2u);

  DWORD version = 0;
  EXPECT_EQ(host.NegotiateVersion(1, &version), 0);
  EXPECT_EQ(version, 0x20000u);
  EXPECT_EQ(host.NegotiateVersion(2, &version), LINEERR_BADDEVICEID);

  // The name does not fit into the fixed part: the host asks again with dwNeededSize.
  std::vector<uint8_t> buffer;
  ASSERT_EQ(host.GetDevCaps(1, buffer), 0);
  const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
  const DWORD expectedSize = sizeof(LINEDEVCAPS) + sizeof(u"Fake line 1");
  EXPECT_EQ(buffer.size(), expectedSize);
  EXPECT_EQ(caps->dwTotalSize, expectedSize);
  EXPECT_EQ(caps->dwNeededSize, expectedSize);
  EXPECT_EQ(caps->dwUsedSize, expectedSize);
  EXPECT_EQ(caps->dwLineNameOffset, sizeof(LINEDEVCAPS));
  EXPECT_EQ(host.LineName(0), u"Fake line 0");
  EXPECT_EQ(host.LineName(1), u"Fake line 1");
  EXPECT_EQ(host.LineName(2), u"");
  EXPECT_EQ(host.GetDevCaps(2, buffer), LINEERR_BADDEVICEID);

  EXPECT_EQ(host.Stop(), 0);
  EXPECT_FALSE(host.Started());
  EXPECT_EQ(host.LineCount(), 0u);
  EXPECT_EQ(host.Stop(), LINEERR_OPERATIONFAILED);
  EXPECT_THAT(host.violations(), IsEmpty());
}

TEST(TelephonyHost, LineCreateAddsADeviceOnTheHostsThread) {
  TelephonyHost host;
  LoadAndStart(host);
  size_t cursor = 0;
  auto created = host.WaitEvent(cursor, IsMsg(LINE_CREATE));
  ASSERT_TRUE(created);
  EXPECT_EQ(created->kind, HostEvent::Kind::LineCreate);
  EXPECT_EQ(created->name, "LINE_CREATE");
  EXPECT_EQ(created->param2, 0x55u);
  EXPECT_EQ(created->deviceId, 2u);
  EXPECT_EQ(host.LineCount(), 3u);
  // The provider bound the new device ID: it answers for device 2 now.
  EXPECT_EQ(host.LineName(2), u"Fake line 2");
  EXPECT_EQ(host.OpenLine(2), 0);
  // Reading the events again does not create the device a second time.
  size_t again = 0;
  EXPECT_FALSE(host.EventsSince(again).empty());
  EXPECT_EQ(host.LineCount(), 3u);
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_THAT(host.violations(), IsEmpty());
}

TEST(TelephonyHost, OpensAndClosesLinesAndResolvesTheirEvents) {
  TelephonyHost host;
  LoadAndStart(host);
  EXPECT_EQ(host.OpenLine(7), LINEERR_BADDEVICEID);
  EXPECT_EQ(host.CloseLine(0), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(host.LineHandle(0), std::nullopt);

  ASSERT_EQ(host.OpenLine(0), 0);
  ASSERT_EQ(host.OpenLine(1), 0);
  EXPECT_EQ(host.OpenLine(1), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(host.LineHandle(0), reinterpret_cast<HDRVLINE>(uintptr_t{0x700}));
  EXPECT_EQ(host.LineHandle(1), reinterpret_cast<HDRVLINE>(uintptr_t{0x701}));
  EXPECT_NE(host.HtLineOf(0), host.HtLineOf(1));
  EXPECT_EQ(host.DeviceOf(host.HtLineOf(1)), 1u);
  EXPECT_EQ(host.DeviceOf(host.HtLineOf(2)), std::nullopt);  // never opened
  EXPECT_EQ(host.DeviceOf(nullptr), std::nullopt);

  size_t cursor = 0;
  for (uint32_t device : {0u, 1u}) {
    auto opened = host.WaitEvent(cursor, [device](const HostEvent& e) {
      return e.msg == LINE_LINEDEVSTATE && e.deviceId == device;
    });
    ASSERT_TRUE(opened) << "device " << device;
    EXPECT_EQ(opened->name, "LINE_LINEDEVSTATE");
    EXPECT_EQ(opened->htLine, host.HtLineOf(device));
    EXPECT_EQ(opened->param1, LINEDEVSTATE_OPEN);
  }

  EXPECT_EQ(host.CloseLine(0), 0);
  EXPECT_EQ(host.LineHandle(0), std::nullopt);
  EXPECT_EQ(host.CloseLine(0), LINEERR_INVALLINEHANDLE);
  // The line can be opened again; Stop closes what is still open (the
  // provider refuses to shut down while a line is open).
  EXPECT_EQ(host.OpenLine(0), 0);
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_EQ(host.LineHandle(1), std::nullopt);
  EXPECT_THAT(host.violations(), IsEmpty());
}

TEST(TelephonyHost, AWaitFindsAnEventThatArrivedBeforeItStarted) {
  TelephonyHost host;
  LoadAndStart(host);
  size_t cursor = 0;
  host.EventsSince(cursor);
  ASSERT_EQ(host.OpenLine(1), 0);
  // Let the event arrive while nobody waits for it on this cursor.
  size_t other = cursor;
  ASSERT_TRUE(host.WaitEvent(other, IsMsg(LINE_LINEDEVSTATE)));
  auto event = host.WaitEvent(cursor, IsMsg(LINE_LINEDEVSTATE), 0);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->deviceId, 1u);
  EXPECT_EQ(cursor, event->sequence);
  EXPECT_EQ(host.Stop(), 0);
}

TEST(TelephonyHost, WaitEventTimesOutOnTheInjectedClock) {
  platform::FakeClock clock;
  TelephonyHost host(clock);
  LoadAndStart(host);
  // The waiter signals each look at an event and its end.
  platform::Event looked(platform::Event::Reset::Auto), done(platform::Event::Reset::Manual);
  std::optional<HostEvent> result;
  size_t cursor = 0;
  std::thread waiter([&] {
    result = host.WaitEvent(
        cursor,
        [&](const HostEvent& e) {
          looked.set();
          return e.msg == LINE_CLOSE;
        },
        3000);
    done.set();
  });
  // The waiter looks at the LINE_CREATE and creates the device while waiting.
  ASSERT_TRUE(looked.wait(10000));
  EXPECT_EQ(host.LineCount(), 3u);
  clock.advance(2999);
  ASSERT_EQ(host.OpenLine(0), 0);  // an event that does not match
  ASSERT_TRUE(looked.wait(10000));
  EXPECT_FALSE(done.isSet());
  clock.advance(1);
  ASSERT_TRUE(done.wait(10000));
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(host.Stop(), 0);
}

TEST(TelephonyHost, AsynchronousCallsAreCompletedThroughTheHost) {
  TelephonyHost host;
  LoadAndStart(host);
  ASSERT_EQ(host.OpenLine(0), 0);
  auto request = TSPI_CALL_ASYNC(host, TSPI_lineDevSpecific, *host.LineHandle(0), DWORD{0}, HDRVCALL{}, LPVOID{},
                                 DWORD{0});
  ASSERT_TRUE(request.accepted());
  EXPECT_EQ(host.WaitCompletion(request.requestId), 0);
  size_t cursor = 0;
  auto completion = host.WaitEvent(cursor, [](const HostEvent& e) { return e.kind == HostEvent::Kind::Completion; });
  ASSERT_TRUE(completion);
  EXPECT_EQ(completion->name, "ASYNC_COMPLETION");
  EXPECT_EQ(completion->requestId, request.requestId);
  EXPECT_EQ(host.WaitCompletion(request.requestId + 100, 0), std::nullopt);
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_THAT(host.violations(), IsEmpty());
}

TEST(TelephonyHost, ProviderFaultsAreRecordedAndTheHostCarriesOn) {
  TelephonyHost host;
  LoadAndStart(host);
  ASSERT_EQ(host.OpenLine(0), 0);

  auto twice = TSPI_CALL_ASYNC(host, TSPI_lineDevSpecificFeature, *host.LineHandle(0), DWORD{0}, LPVOID{}, DWORD{0});
  auto isTwice = [&](const HostEvent& e) {
    return e.kind == HostEvent::Kind::Completion && e.requestId == twice.requestId;
  };
  size_t completions = 0;
  ASSERT_TRUE(host.WaitEvent(completions, isTwice));
  ASSERT_TRUE(host.WaitEvent(completions, isTwice));
  EXPECT_TRUE(AnyContains(host.violations(), "of TSPI_lineDevSpecificFeature completed twice"));

  ASSERT_EQ(TSPI_CALL(host, TSPI_lineSetCurrentLocation, DWORD{0}), 0);
  size_t cursor = 0;
  auto stray = host.WaitEvent(cursor, [](const HostEvent& e) { return e.msg == LINE_LINEDEVSTATE && !e.deviceId; });
  ASSERT_TRUE(stray);
  EXPECT_TRUE(AnyContains(host.violations(), "names an htLine the host never gave out"));

  EXPECT_EQ(TSPI_CALL(host, TSPI_lineGetLineDevStatus, *host.LineHandle(0), LPLINEDEVSTATUS{}),
            LINEERR_OPERATIONUNAVAIL);
  EXPECT_TRUE(AnyContains(host.violations(), "does not export TSPI_lineGetLineDevStatus"));

  // Still in business.
  EXPECT_EQ(host.LineName(0), u"Fake line 0");
  EXPECT_EQ(host.Stop(), 0);
}

TEST(TelephonyHost, LoadsTheFirstProviderOfTheList) {
  {
    TelephonyHost host;
    std::string error;
    EXPECT_FALSE(host.LoadFirstFromRegistry(&error));
    EXPECT_THAT(error, HasSubstr("no telephony provider is installed"));
    EXPECT_EQ(host.Start(), LINEERR_NODRIVER);
  }
  uint32_t missing = tapihost::AddProvider("/nonexistent/missing.tsp");
  {
    TelephonyHost host;
    std::string error;
    EXPECT_FALSE(host.LoadFirstFromRegistry(&error));
    EXPECT_THAT(error, HasSubstr("/nonexistent/missing.tsp"));
  }
  ASSERT_TRUE(tapihost::RemoveProvider(missing));
  // A bare name is looked for like any module, here beside the test program.
  uint32_t id = tapihost::AddProvider("FAKESP_HOST.TSP");
  tapihost::AddProvider("/nonexistent/second.tsp");
  TelephonyHost host;
  std::string error;
  ASSERT_TRUE(host.LoadFirstFromRegistry(&error)) << error;
  EXPECT_EQ(host.PermanentProviderId(), id);
  ASSERT_EQ(host.Start(), 0);
  EXPECT_EQ(host.LineCount(), 2u);
  std::string reload;
  EXPECT_FALSE(host.Load(kProviderPath, 9, &reload));
  EXPECT_THAT(reload, HasSubstr("stop it first"));
  EXPECT_EQ(host.Stop(), 0);
}

TEST(TelephonyHost, DestroyingARunningHostStopsTheProvider) {
  std::vector<std::string> violations;
  {
    TelephonyHost host;
    LoadAndStart(host);
    ASSERT_EQ(host.OpenLine(1), 0);
  }
  // A second host starts cleanly: the first one shut the provider down and unloaded it.
  TelephonyHost host;
  LoadAndStart(host);
  EXPECT_EQ(host.LineCount(), 2u);
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_THAT(host.violations(), IsEmpty());
}

TEST(TelephonyHost, EventsEveryReaderHasReadAreFreed) {
  TelephonyHost host;
  std::string error;
  ASSERT_TRUE(host.Load(std::string(TK_FAKE_PROVIDER_DIR) + "/fakesp_calls.tsp", kProviderId, &error)) << error;
  ASSERT_EQ(host.Start(), 0);
  ASSERT_EQ(host.OpenLine(0), 0);
  tapihost::HostCalls calls(host);
  size_t cursor = 0;
  for (int i = 0; i < 200; ++i) {
    HTAPICALL htCall = nullptr;
    auto made = calls.MakeCall(0, u"22", u"", &htCall);
    ASSERT_EQ(host.WaitCompletion(made.requestId), 0);
    auto drop = calls.Drop(htCall);
    ASSERT_TRUE(drop.accepted());
    ASSERT_TRUE(host.WaitEvent(cursor, [&](const HostEvent& e) { return e.requestId == drop.requestId; }));
    ASSERT_EQ(calls.CloseCall(htCall), 0);
    host.DiscardEventsBefore(std::min(cursor, calls.Refresh()));
  }
  // Four events a call, and the host keeps no records of its own.
  EXPECT_LT(host.KeptEventCount(), 8u);
  EXPECT_TRUE(host.harness().records().empty());
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_THAT(host.violations(), IsEmpty());
}

}  // namespace
