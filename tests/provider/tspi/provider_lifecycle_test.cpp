// Start-up, shut-down, version negotiation and the layer-2 binding of the
// provider plug-in, driven as the telephony service drives it.
#include <gtest/gtest.h>

#include "platform/thread.h"
#include "tests/provider/tspi/provider_fixture.h"

namespace {

using tktest::kProviderId;
using tktest::kVersion;
using namespace kvarsp;

class ProviderLifecycle : public tktest::ProviderFixture {};

LONG Negotiate(tapihost::ProviderHarness& h, DWORD device, DWORD low, DWORD high, DWORD* version) {
  return TSPI_CALL(h, TSPI_lineNegotiateTSPIVersion, device, low, high, static_cast<LPDWORD>(version));
}

TEST_F(ProviderLifecycle, VersionNegotiation) {
  Configure(tktest::kThreeLines);
  auto& h = Load();
  DWORD v = 0;
  // Before start-up the provider-level negotiation works (device 0xFFFFFFFF).
  EXPECT_EQ(Negotiate(h, 0xFFFFFFFF, 0x10003, 0x30000, &v), 0);
  EXPECT_EQ(v, 0x20000u);
  EXPECT_EQ(Negotiate(h, 0xFFFFFFFF, 0x10000, 0x10004, &v), 0);
  EXPECT_EQ(v, 0x10004u);
  v = 0;
  EXPECT_EQ(Negotiate(h, 0xFFFFFFFF, 0x10003, 0x10002, &v), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(v, 0x10003u);  // written before the check
  EXPECT_EQ(Negotiate(h, 0xFFFFFFFF, 0x20001, 0x30000, &v), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(Negotiate(h, 0, 0x10003, 0x20000, &v), LINEERR_BADDEVICEID);  // no devices yet

  Start(/*lineDeviceIdBase=*/4);
  EXPECT_EQ(Negotiate(h, 4, 0x10003, 0x20000, &v), 0);
  EXPECT_EQ(Negotiate(h, 6, 0x10003, 0x20000, &v), 0);
  v = 0;
  EXPECT_EQ(Negotiate(h, 7, 0x10003, 0x20000, &v), LINEERR_BADDEVICEID);
  EXPECT_EQ(v, 0u);  // a bad device is refused before anything is written
  EXPECT_EQ(Negotiate(h, 3, 0x10003, 0x20000, &v), LINEERR_BADDEVICEID);

  // Versions outside 0x10003..0x20000 are refused by init and shutdown.
  DWORD options = 0;
  EXPECT_EQ(h.init(0x10002, kProviderId, 0, 3, &options), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);
  EXPECT_EQ(h.shutdown(0x20001, kProviderId), LINEERR_INCOMPATIBLEAPIVERSION);
}

TEST_F(ProviderLifecycle, EnumeratesInUseLinesAndPhones) {
  Configure(tktest::kThreeLines);
  Configure(R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider3]
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
  EXPECT_EQ(TraceCount("VNL Layer 2 Interface Thread started"), 1u);  // started once

  EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 1u);
  EXPECT_FALSE(TraceHas("VNL Layer 2 Interface Thread finished"));
  Stop();
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 0u);
  EXPECT_TRUE(TraceHas("VNL Layer 2 Interface Thread finished"));
  EXPECT_TRUE(TraceHas("'Events2Tapi' successfully shutdown"));
  EXPECT_EQ(h.shutdown(kVersion, kProviderId), LINEERR_OPERATIONFAILED);

  // A stopped provider starts again.
  Start();
  EXPECT_EQ(TraceCount("VNL Layer 2 Interface Thread started"), 2u);
}

TEST_F(ProviderLifecycle, LayerTwoThatCannotBeBoundFailsStartUpCleanly) {
  Configure(tktest::kThreeLines);
  auto& h = Load();
  DWORD lines = 0, phones = 0, options = 0;
  ASSERT_EQ(h.enumDevices(kProviderId, &lines, &phones), 0);
  for (const char* variant : {"broken", "incomplete"}) {
    SCOPED_TRACE(variant);
    UseLayer2(variant);
    EXPECT_EQ(h.init(kVersion, kProviderId, 0, lines, &options), LINEERR_NODRIVER);
    EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 0u);
    EXPECT_EQ(h.shutdown(kVersion, kProviderId), LINEERR_OPERATIONFAILED);
  }
  // The event queue was stopped again each time, so a later start succeeds.
  EXPECT_EQ(TraceCount("'Events2Tapi' successfully shutdown"), 2u);
  UseLayer2("complete");
  Start();
  EXPECT_EQ(Ui(UIREQ_IS_INITIALIZED).result, 1u);
}

TEST_F(ProviderLifecycle, DialogBindsAndReleasesTheLinkInterface) {
  Configure(tktest::kThreeLines);
  Load();
  UseLayer2("broken");
  auto failed = Ui(UIREQ_LINK_INIT);
  EXPECT_NE(failed.result, 0u);
  EXPECT_EQ(failed.outputMessageId, 29u);
  UseLayer2("incomplete");
  failed = Ui(UIREQ_LINK_INIT);
  EXPECT_NE(failed.result, 0u);
  EXPECT_EQ(failed.outputMessageId, 30u);

  UseLayer2("complete");
  auto bound = Ui(UIREQ_LINK_INIT);
  EXPECT_EQ(bound.result, 0u);
  EXPECT_EQ(bound.outputMessageId, 0u);
  EXPECT_EQ(Ui(UIREQ_LINK_EXIT).result, 0u);
  EXPECT_TRUE(TraceHas("VNL Layer 2 Interface Thread finished"));

  // Until the exchange link exists, the link operations report what a link
  // that cannot be started reports.
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30).result, 1u);
  EXPECT_EQ(Ui(UIREQ_PBX_READ).result, 20u);
  EXPECT_EQ(Ui(UIREQ_PBX_DISCONNECT).result, 0u);
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
