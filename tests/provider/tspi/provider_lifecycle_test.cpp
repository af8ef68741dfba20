// Start-up, shut-down, version negotiation and the layer-2 binding of the
// provider plug-in, driven as the telephony service drives it.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/thread.h"
#include "provider/link_interface.h"
#include "tests/provider/tspi/provider_fixture.h"
#include "tests/support/wait_until.h"

namespace {

using tktest::kProviderId;
using tktest::kVersion;
using namespace kvarsp;
using namespace std::chrono_literals;

class ProviderLifecycle : public tktest::ProviderFixture {};

TEST_F(ProviderLifecycle, VersionNegotiation) {
  struct Row {
    DWORD device, low, high;
    LONG result;
    DWORD version;  // written, from 0
  };
  auto negotiate = [this](const Row& r) {
    DWORD v = 0;
    EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineNegotiateTSPIVersion, r.device, r.low, r.high, &v), r.result) << r.device;
    EXPECT_EQ(v, r.version) << r.device << " " << r.low << "-" << r.high;
  };
  // Before start-up only the provider-level negotiation (device 0xFFFFFFFF)
  // works; a refused range still gets the lowest version written, a bad
  // device nothing.
  Configure(tktest::kThreeLines);
  auto& h = Load();
  for (const Row& r : {Row{0xFFFFFFFF, 0x10003, 0x30000, 0, 0x20000}, Row{0xFFFFFFFF, 0x10000, 0x10004, 0, 0x10004},
                       Row{0xFFFFFFFF, 0x10003, 0x10002, LINEERR_INCOMPATIBLEAPIVERSION, 0x10003},
                       Row{0xFFFFFFFF, 0x20001, 0x30000, LINEERR_INCOMPATIBLEAPIVERSION, 0x10003},
                       Row{0, 0x10003, 0x20000, LINEERR_BADDEVICEID, 0}})
    negotiate(r);
  Start(/*lineDeviceIdBase=*/4);
  for (const Row& r : {Row{4, 0x10003, 0x20000, 0, 0x20000}, Row{6, 0x10003, 0x20000, 0, 0x20000},
                       Row{7, 0x10003, 0x20000, LINEERR_BADDEVICEID, 0},
                       Row{3, 0x10003, 0x20000, LINEERR_BADDEVICEID, 0}})
    negotiate(r);

  // Versions outside 0x10003..0x20000 are refused by init and shutdown.
  DWORD options = 0;
  EXPECT_EQ(h.init(0x10002, kProviderId, 0, 3, &options), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);
  EXPECT_EQ(h.shutdown(0x20001, kProviderId), LINEERR_INCOMPATIBLEAPIVERSION);
}

TEST_F(ProviderLifecycle, EnumeratesInUseLinesAndPhones) {
  Configure(tktest::kThreeLines);
  Configure(R"([HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider3]
"NumPhones"=dword:00000002

[HKEY_CURRENT_USER\Software\Marlix\TSP\Marlix TK-Anlage]
"NumLinesInUse"=dword:00000002
"LineIDInUse0"=dword:0000000c
"LineIDInUse1"=dword:0000000a
)");
  auto& h = Load();
  DWORD lines = 0, phones = 0;
  EXPECT_EQ(h.enumDevices(kProviderId, &lines, &phones), 0);
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(phones, 2u);
}

TEST_F(ProviderLifecycle, FewerDevicesThanInUseLinesTakesTheFirstInLineTableOrder) {
  Configure(tktest::kThreeLines);
  Start(/*lineDeviceIdBase=*/10, /*numLines=*/2);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 10).result, 1u);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 11).result, 1u);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 12).result, 0u);
  EXPECT_EQ(Ui(UIREQ_IS_OWN_LINE, 9).result, 0u);
}

TEST_F(ProviderLifecycle, SecondInitCountsAndShutdownsMustMatch) {
  Configure(tktest::kThreeLines);
  Start();
  auto& h = harness();
  DWORD options = 0;
  EXPECT_EQ(h.init(kVersion, kProviderId, 0, 3, &options), 0);
  EXPECT_EQ(h.init(kVersion, kProviderId + 1, 0, 3, &options), LINEERR_NOMULTIPLEINSTANCE);

  EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 1u);
  Stop();
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 0u);
  EXPECT_TRUE(TraceHas("'Events2Tapi' successfully shutdown"));
  EXPECT_EQ(h.shutdown(kVersion, kProviderId), LINEERR_OPERATIONFAILED);
}

// A layer-2 library that does not load, or lacks an entry, fails the
// provider's start-up and the dialog's load, each with its status.
TEST_F(ProviderLifecycle, LayerTwoThatCannotBeBoundFailsStartUpCleanly) {
  Configure(tktest::kThreeLines);
  auto& h = Load();
  DWORD lines = 0, phones = 0, options = 0;
  ASSERT_EQ(h.enumDevices(kProviderId, &lines, &phones), 0);
  struct Refusal {
    const char* layer2;
    uint32_t status;
  };
  for (Refusal r : {Refusal{"broken", kLinkLoadLibraryFailed}, Refusal{"incomplete", kLinkLoadEntryMissing}}) {
    SCOPED_TRACE(r.layer2);
    UseLayer2(r.layer2);
    EXPECT_EQ(h.init(kVersion, kProviderId, 0, lines, &options), LINEERR_NODRIVER);
    EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 0u);
    EXPECT_EQ(h.shutdown(kVersion, kProviderId), LINEERR_OPERATIONFAILED);
    auto failed = Ui(UIREQ_LINK_INIT);
    EXPECT_NE(failed.result, 0u);
    EXPECT_EQ(failed.outputMessageId, r.status);
  }
  // Until the exchange link exists, the link operations report what a link
  // that cannot be started reports.
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30).result, 1u);
  EXPECT_EQ(Ui(UIREQ_PBX_READ).result, 20u);
  EXPECT_EQ(Ui(UIREQ_PBX_DISCONNECT).result, 0u);
  // The event queue was stopped again each time, so a later start succeeds.
  EXPECT_EQ(TraceCount("'Events2Tapi' successfully shutdown"), 2u);
  UseLayer2("complete");
  Start();
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 1u);
}

// The provider uses the link interface from TSPI_providerInit to its last
// TSPI_providerShutdown, the dialog from request 2 to request 3: the thread
// runs while either does, in any order, and a stopped one starts again. A
// dialog load that only counts reports the status every load starts with.
TEST_F(ProviderLifecycle, TheLinkThreadRunsUntilItsLastUserLeaves) {
  enum class Step { Init, Shutdown, DialogLoad, DialogUnload };
  struct Expected {
    Step step;
    bool running;     // the thread, after the step
    uint32_t status;  // DialogLoad: the status it reports
  };
  const std::vector<std::vector<Expected>> orders = {
      {{Step::Init, true, 0}, {Step::Init, true, 0}, {Step::Shutdown, true, 0}, {Step::Shutdown, false, 0}},
      {{Step::DialogLoad, true, 0}, {Step::DialogUnload, false, 0}},
      {{Step::Init, true, 0}, {Step::DialogLoad, true, kLinkLoadThreadFailed}, {Step::DialogUnload, true, 0},
       {Step::Shutdown, false, 0}},
      {{Step::Init, true, 0}, {Step::DialogLoad, true, kLinkLoadThreadFailed}, {Step::Shutdown, true, 0},
       {Step::DialogUnload, false, 0}},
      {{Step::DialogLoad, true, 0}, {Step::Init, true, 0}, {Step::DialogUnload, true, 0}, {Step::Shutdown, false, 0}},
  };
  Configure(tktest::kThreeLines);
  Load();
  for (size_t order = 0; order < orders.size(); ++order) {
    for (size_t i = 0; i < orders[order].size(); ++i) {
      const Expected& e = orders[order][i];
      SCOPED_TRACE("order " + std::to_string(order) + ", step " + std::to_string(i));
      switch (e.step) {
        case Step::Init: Start(); break;
        case Step::Shutdown: Stop(); break;
        case Step::DialogLoad: {
          auto block = Ui(UIREQ_LINK_INIT);
          EXPECT_EQ(block.result, 0u);
          EXPECT_EQ(block.outputMessageId, e.status);
          break;
        }
        case Step::DialogUnload: EXPECT_EQ(Ui(UIREQ_LINK_EXIT).result, 0u); break;
      }
      const size_t started = TraceCount("VNL Layer 2 Interface Thread started");
      EXPECT_EQ(started, order + 1);
      EXPECT_EQ(TraceCount("VNL Layer 2 Interface Thread finished"), e.running ? order : order + 1);
    }
  }
}

// TAPI's line-create callback, in which the test holds the provider's event
// thread until it lets it go.
std::promise<void> eventThreadHeld;
std::shared_future<void> eventThreadLetGo;
void HoldEventThread(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  eventThreadHeld.set_value();
  eventThreadLetGo.wait_for(10s);
}

// The plug-in goes without its final TSPI_providerShutdown and with the
// dialog's load not undone. The link interface thread, which reports to the
// provider, ends before anything of the provider is torn down: here, while
// the provider's event thread is still held in a TAPI callback.
TEST_F(ProviderLifecycle, AnUnloadWithoutShutdownStopsTheLinkThreadFirst) {
  Configure(tktest::kThreeLines);
  // Loaded by hand: the harness, as the telephony service, never unloads an
  // initialised provider.
  platform::ModuleHandle plugin = platform::loadLibrary(TK_KVARSP_PATH);
  ASSERT_NE(plugin, nullptr) << platform::lastModuleError();
  decltype(&::TSPI_providerEnumDevices) enumDevices = nullptr;
  decltype(&::TSPI_providerInit) init = nullptr;
  ASSERT_TRUE(platform::getProcAddress(plugin, "TSPI_providerEnumDevices", enumDevices) &&
              platform::getProcAddress(plugin, "TSPI_providerInit", init) &&
              platform::getProcAddress(plugin, "TSPI_providerGenericDialogData", dialogExport_));
  eventThreadHeld = {};
  std::promise<void> letGo;
  eventThreadLetGo = letGo.get_future().share();
  DWORD lines = 0, phones = 0, options = 0;
  ASSERT_EQ(enumDevices(kProviderId, &lines, &phones, nullptr, HoldEventThread, nullptr), 0);
  ASSERT_EQ(init(kVersion, kProviderId, 0, 0, lines, 0, [](DRV_REQUESTID, LONG) {}, &options), 0);
  EXPECT_EQ(Ui(UIREQ_LINK_INIT).result, 0u);
  // Line 12 taken out of use and saved: LINE_REMOVE goes out on the event thread.
  Ui(UIREQ_SET_EXT_IN_USE, 2, 0);
  Ui(UIREQ_SAVE);
  ASSERT_EQ(eventThreadHeld.get_future().wait_for(10s), std::future_status::ready);

  auto linkThreadEndedFirst = std::async(std::launch::async, [&] {
    const bool ended = tktest::waitUntil([&] { return TraceHas("VNL Layer 2 Interface Thread finished"); }, 3s);
    letGo.set_value();
    return ended;
  });
  platform::freeLibrary(plugin);
  EXPECT_TRUE(linkThreadEndedFirst.get());
}

TEST_F(ProviderLifecycle, EventsReachTapiFromTheProvidersOwnThread) {
  Configure(tktest::kThreeLines);
  Start();
  // Taking line 12 out of use and saving removes its device.
  Ui(UIREQ_SET_EXT_IN_USE, 2, 0);
  Ui(UIREQ_SAVE);
  ASSERT_TRUE(harness().waitFor([](const auto& r) { return !r.empty(); }));
  auto records = harness().records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].msg, LINE_REMOVE);
  EXPECT_NE(records[0].threadId, platform::currentThreadId());
}

}  // namespace
