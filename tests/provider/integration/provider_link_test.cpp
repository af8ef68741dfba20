// TAPI lines of the loaded provider plug-in against the simulated exchange,
// through vnlsock, VNL2D32, the link control process and a loopback TCP
// connection: what the exchange sees of line open and close, forwarding,
// the configuration dialog's address list, and a lost connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/common/link_config.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/window.h"
#include "provider/ui_request_block.h"
#include "tapi/host/provider_harness.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/files.h"
#include "tests/support/harness_violations.h"
#include "tests/support/test_root.h"

namespace {

using namespace std::chrono_literals;
using namespace kvarsp;

constexpr DWORD kVersion = 0x20000;
constexpr DWORD kProviderId = 4;
constexpr char kControlClass[] = "VNL2ControlProg";

// The provider knows extensions 10 "20" and 11 "21".
const char* kProviderConfiguration = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider4]
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000000
)";

// The exchange has one extension more, and extension 11 forwards on busy.
const char* kExchangeConfiguration = R"(# the exchange of the integration tests
line-list 8
line 10 "20"
line 11 "21" forward busy "0301234"
line 12 "22"
msn 1 "4711" lines 10 11
)";

class ProviderLink : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    const std::string exchangeFile = tktest::currentRoot() + "/exchange.conf";
    tktest::writeFile(exchangeFile, kExchangeConfiguration);
    ASSERT_TRUE(tksim.Start({"--keepalive-ms", "0", "--engine", "vnl", "--exchange-config", exchangeFile}));

    ASSERT_TRUE(tktest::WriteLoopbackLinkConfiguration(tksim.port()));
    ASSERT_EQ(platform::regImport(kProviderConfiguration, "provider configuration"), 0);

    ASSERT_TRUE(harness.load(TK_KVARSP_PATH)) << harness.loadError();
    DWORD lines = 0, phones = 0;
    ASSERT_EQ(harness.enumDevices(kProviderId, &lines, &phones), 0);
    ASSERT_EQ(lines, 2u);
    DWORD options = 0;
    ASSERT_EQ(harness.init(kVersion, kProviderId, 0, lines, &options), 0);
    initialised = true;
  }
  void TearDown() override {
    if (initialised) {
      EXPECT_EQ(harness.shutdown(kVersion, kProviderId), 0);
    }
    // No control process may outlive its test.
    tktest::EndLinkControlProcesses();
  }

  static HTAPILINE TapiLine(DWORD deviceId) { return reinterpret_cast<HTAPILINE>(uintptr_t{0x500} + deviceId); }
  LONG Open(DWORD deviceId) {
    HDRVLINE hdLine = nullptr;
    LONG rc = TSPI_CALL(harness, TSPI_lineOpen, deviceId, TapiLine(deviceId), &hdLine, kVersion,
                        tapihost::ProviderHarness::lineEventCallback());
    if (rc == 0) {
      EXPECT_EQ(hdLine, reinterpret_cast<HDRVLINE>(TapiLine(deviceId)));
    }
    return rc;
  }
  LONG Close(DWORD deviceId) {
    return TSPI_CALL(harness, TSPI_lineClose, reinterpret_cast<HDRVLINE>(TapiLine(deviceId)));
  }
  kvarsp::UiRequestBlock Ui(uint32_t request, uint32_t x = 0) {
    kvarsp::UiRequestBlock block{};
    block.request = request;
    block.x = x;
    EXPECT_EQ(TSPI_CALL(harness, TSPI_providerGenericDialogData, DWORD_PTR{kProviderId},
                        DWORD{TUISPIDLL_OBJECT_PROVIDERID}, static_cast<LPVOID>(&block),
                        DWORD{sizeof block}),
              0);
    return block;
  }

  // How many of the exchange's events so far begin with prefix.
  size_t Seen(const std::string& prefix) {
    return static_cast<size_t>(std::count_if(tksim.events().begin(), tksim.events().end(),
                                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
  }
  // Reads the exchange's events until the n-th one that begins with prefix.
  bool WaitSeen(const std::string& prefix, size_t n) {
    while (Seen(prefix) < n)
      if (!tksim.WaitEvent(prefix, 15s)) return false;
    return true;
  }
  bool LineEventSeen(DWORD deviceId, DWORD msg, DWORD_PTR param1) {
    return harness.waitFor([&](const std::vector<tapihost::CallbackRecord>& records) {
      return std::any_of(records.begin(), records.end(), [&](const tapihost::CallbackRecord& r) {
        return r.htLine == TapiLine(deviceId) && r.msg == msg && r.param1 == param1;
      });
    });
  }

  tktest::TksimPeer tksim;
  tapihost::ProviderHarness harness{tktest::failTestOnViolation};
  bool initialised = false;
};

TEST_F(ProviderLink, TwoLinesStartTheLinkOnceAndTheLastCloseEndsIt) {
  ASSERT_EQ(Open(0), 0);
  ASSERT_EQ(Open(1), 0);
  ASSERT_TRUE(WaitSeen("vnl-rx VNL_GETLINEINFO_REQ", 2));
  EXPECT_EQ(Seen("vnl-rx VNL_START_REQ"), 1u);
  EXPECT_EQ(Seen("vnl-rx VNL_REGISTER_REQ"), 2u);

  EXPECT_EQ(Close(0), 0);
  EXPECT_EQ(Close(1), 0);
  ASSERT_TRUE(WaitSeen("vnl-rx VNL_END_RESP", 1));
  EXPECT_EQ(Seen("vnl-rx VNL_UNREGISTER_REQ"), 2u);
  EXPECT_EQ(Seen("vnl-rx VNL_END_REQ"), 1u);
}

TEST_F(ProviderLink, TheExchangesForwardingShowsInTheAddressStatus) {
  ASSERT_EQ(Open(1), 0);
  std::vector<uint8_t> buffer(512);
  auto* status = reinterpret_cast<LINEADDRESSSTATUS*>(buffer.data());
  status->dwTotalSize = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(TSPI_CALL(harness, TSPI_lineGetAddressStatus, reinterpret_cast<HDRVLINE>(TapiLine(1)), DWORD{0}, status),
            0);
  ASSERT_EQ(status->dwForwardNumEntries, 1u);
  ASSERT_GE(status->dwForwardOffset, sizeof(LINEADDRESSSTATUS));
  const auto* forward = reinterpret_cast<const LINEFORWARD*>(buffer.data() + status->dwForwardOffset);
  EXPECT_EQ(forward->dwForwardMode, static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  std::u16string destination(reinterpret_cast<const char16_t*>(buffer.data() + forward->dwDestAddressOffset));
  EXPECT_EQ(destination, u"0301234");
  EXPECT_EQ(Close(1), 0);
}

TEST_F(ProviderLink, ALostConnectionClosesTheLinesAndTheNextOpenStartsAgain) {
  ASSERT_EQ(Open(0), 0);
  ASSERT_EQ(Open(1), 0);
  ASSERT_TRUE(WaitSeen("vnl-rx VNL_GETLINEINFO_REQ", 2));
  const uint32_t controlPid = platform::windowProcessId(platform::findWindow(kControlClass));
  ASSERT_NE(controlPid, 0u);
  ASSERT_EQ(tksim.Command("drop").rfind("ok", 0), 0u);
  for (DWORD device : {0u, 1u}) {
    EXPECT_TRUE(LineEventSeen(device, LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE));
    EXPECT_TRUE(LineEventSeen(device, LINE_CLOSE, 0));
  }
  EXPECT_EQ(Close(0), 0);
  EXPECT_EQ(Close(1), 0);
  // The control process of the lost link ends by itself; the next open,
  // made at once while it may still be on its way out, starts a new one.

  // The closes sent nothing: the next thing the exchange hears is a new start.
  ASSERT_EQ(Open(0), 0);
  EXPECT_NE(platform::windowProcessId(platform::findWindow(kControlClass)), controlPid);
  ASSERT_TRUE(WaitSeen("vnl-rx VNL_START_REQ", 2));
  const auto& events = tksim.events();
  auto firstStart = std::find_if(events.begin(), events.end(),
                                 [](const std::string& e) { return e.rfind("vnl-rx VNL_START_REQ", 0) == 0; });
  for (auto it = firstStart; it != events.end(); ++it) {
    EXPECT_NE(it->rfind("vnl-rx VNL_UNREGISTER_REQ", 0), 0u) << *it;
    EXPECT_NE(it->rfind("vnl-rx VNL_END_REQ", 0), 0u) << *it;
  }
  EXPECT_EQ(Close(0), 0);
}

TEST_F(ProviderLink, TheDialogReadsTheExchangesLinesIntoTheTables) {
  EXPECT_EQ(Ui(UIREQ_PBX_READ).result, 20u);  // not started
  EXPECT_EQ(Ui(UIREQ_PBX_CONNECT, 0x30).result, 0u);
  EXPECT_EQ(Ui(UIREQ_PBX_READ).result, 0u);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_COUNT).result, 3u);
  auto third = Ui(UIREQ_GET_EXT_ADDRESS, 2);
  EXPECT_EQ(std::u16string(third.outputText), u"22");
  EXPECT_EQ(Ui(UIREQ_GET_MSN_COUNT).result, 1u);
  EXPECT_EQ(Ui(UIREQ_GET_EXT_MSN_COUNT, 1).result, 1u);
  EXPECT_EQ(Ui(UIREQ_PBX_DISCONNECT).result, 0u);
  ASSERT_TRUE(WaitSeen("vnl-rx VNL_END_RESP", 1));
}

}  // namespace
