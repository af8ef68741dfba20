// The provider's configuration end to end, as the README's first steps set
// it up: tksim with the demo exchange, tksetup, tapisrv with the provider,
// an application of this process watching (lineInitializeEx, no line open),
// and KVARUI's dialog run by lineConfigProvider (or lineAddProvider) in this
// process, offscreen. Unchecking an extension and confirming takes its line
// away (LINE_REMOVE); checking it again brings a line back (LINE_CREATE).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/drawing.h"
#include "tapi/tapi32.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"
#include "tests/support/test_root.h"
#include "tests/support/tool_run.h"

namespace {

namespace ui = platform::ui;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr uint32_t kWaitMs = 20000;
constexpr int kExtensionList = 1013;
constexpr int kOk = 1;
const std::string kDemo = TK_DEMO_DIR;

// What the dialog runs saw: the extension list's entries, the captions of
// other dialogs (the link dialog of a first configuration, message boxes).
struct Seen {
  std::vector<std::string> entries;
  std::vector<std::string> others;
};

std::string ItemText(platform::WindowHandle list, int index) {
  char text[256] = {};
  const auto length = ui::SendMessage(list, ui::kLbGetTextLen, static_cast<platform::WParam>(index), 0);
  if (length < 0 || length >= static_cast<platform::LResult>(sizeof text)) return "?";
  ui::SendMessage(list, ui::kLbGetText, static_cast<platform::WParam>(index), reinterpret_cast<platform::LParam>(text));
  return text;
}

// As a user does: cancels any other dialog, then in the configuration
// dialog selects the extension's entry, toggles its mark with the space bar
// and presses OK.
void Drive(const std::string& extension, Seen* seen, platform::WindowHandle dialog) {
  const platform::WindowHandle list = ui::GetDlgItem(dialog, kExtensionList);
  if (list == nullptr) {
    seen->others.push_back(ui::GetWindowText(dialog));
    ui::testing::PressEscape(dialog);
    ui::testing::OnNextDialog([=](platform::WindowHandle next) { Drive(extension, seen, next); });
    return;
  }
  seen->entries.clear();
  int index = -1;
  const auto count = ui::SendMessage(list, ui::kLbGetCount, 0, 0);
  for (int i = 0; i < count && i < 64; ++i) {
    seen->entries.push_back(ItemText(list, i));
    if (seen->entries.back() == " Nebenstelle " + extension) index = i;
  }
  if (index >= 0) {
    ui::testing::ChooseItem(list, index);
    ui::testing::KeyDown(list, ui::kVkSpace);
  }
  ui::testing::Click(ui::GetDlgItem(dialog, kOk));
}

class KvaruiEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TK_DISCOVERY_TARGET", "127.0.0.1", 0);  // a search, should one start, stays on loopback
    ui::testing::SetDialogTimeout(kWaitMs);
    ASSERT_TRUE(
        tksim_.Start({"--keepalive-ms", "0", "--engine", "vnl", "--exchange-config", kDemo + "/exchange.conf"}));
  }
  // The link (and with `provider` the provider with the demo's lines) as
  // tksetup writes them, the service, and the monitoring application.
  void Serve(bool provider) {
    std::vector<std::string> args{"--port", std::to_string(tksim_.port()), "--link-control", TK_VNL2C64_PATH};
    if (provider) {
      args.insert(args.end(), {"--provider", TK_KVARSP_PATH, "--provider-config", kDemo + "/provider.values"});
    }
    const tktest::ToolRun setup = tktest::runTool(TK_TKSETUP, args);
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    const size_t at = setup.out.find("provider-id ");
    if (provider) {
      ASSERT_NE(at, std::string::npos) << setup.out;
      providerId_ = static_cast<DWORD>(std::stoul(setup.out.substr(at + 12)));
    }
    const tktest::ToolRun started = tktest::runTool(TK_TAPISRV, {});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    serving_ = true;

    DWORD version = TAPI_VERSION2_0;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    ASSERT_EQ(lineInitializeExW(&app_, nullptr, nullptr, u"monitor", &devices_, &version, &params), 0);
  }
  void TearDown() override {
    ui::testing::SetDialogTimeout(0);
    if (app_ != 0) {
      EXPECT_EQ(lineShutdown(app_), 0);
    }
    if (serving_) {
      EXPECT_EQ(tktest::runTool(TK_TAPISRV, {"--stop"}).exitCode, 0);
    }
    tktest::EndLinkControlProcesses();
  }

  // One configuration run that toggles the extension; lineConfigProvider's result.
  LONG Configure(const std::string& extension, Seen* seen) {
    ui::testing::OnNextDialog([=](platform::WindowHandle dialog) { Drive(extension, seen, dialog); });
    return lineConfigProvider(nullptr, providerId_);
  }
  // The monitor's next `count` line announcements (LINE_CREATE, LINE_REMOVE)
  // as "CREATE 2", "REMOVE 1", skipping other messages; bounded.
  std::vector<std::string> Announced(size_t count) {
    std::vector<std::string> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    LINEMESSAGE m{};
    for (int i = 0; i < 100 && seen.size() < count && std::chrono::steady_clock::now() < deadline; ++i) {
      if (lineGetMessage(app_, &m, kWaitMs) != 0) continue;
      if (m.dwMessageID == LINE_CREATE || m.dwMessageID == LINE_REMOVE) {
        seen.push_back((m.dwMessageID == LINE_CREATE ? "CREATE " : "REMOVE ") + std::to_string(m.dwParam1));
      }
    }
    return seen;
  }

  tktest::TksimPeer tksim_;
  DWORD providerId_ = 0;
  bool serving_ = false;
  HLINEAPP app_ = 0;
  DWORD devices_ = 0;
};

TEST_F(KvaruiEndToEnd, AnUncheckedExtensionLeavesAndComesBack) {
  ASSERT_NO_FATAL_FAILURE(Serve(true));
  ASSERT_EQ(devices_, 2u);  // extensions 20 and 21 of the demo configuration

  Seen first;
  ASSERT_EQ(Configure("21", &first), 0);
  // Read from the exchange: 22 is there although no line has it.
  EXPECT_THAT(first.entries, ElementsAre(" Nebenstelle 20", " Nebenstelle 21", " Nebenstelle 22"));
  // A first configuration opens the link dialog (cancelled here); no message box.
  EXPECT_THAT(first.others, ElementsAre(AnyOf(HasSubstr("Anschlusskonfiguration"), HasSubstr("Varnet Configuration"))));
  // A fresh configuration has every extension in use, so the exchange's 22
  // joins as device 2; 21 (device 1) leaves.
  EXPECT_THAT(Announced(2), ElementsAre("CREATE 2", "REMOVE 1"));

  Seen second;
  ASSERT_EQ(Configure("21", &second), 0);
  EXPECT_THAT(second.others, ::testing::IsEmpty());
  EXPECT_THAT(Announced(1), ElementsAre("CREATE 3"));  // 21 is back, with a new device ID
}

// The provider added while the service runs: its install dialog reads the
// exchange; the extensions left checked become its lines once it starts.
TEST_F(KvaruiEndToEnd, AProviderAddedThroughItsInstallDialog) {
  ASSERT_NO_FATAL_FAILURE(Serve(false));
  ASSERT_EQ(devices_, 0u);
  Seen install;
  DWORD id = 0;
  ui::testing::OnNextDialog([&](platform::WindowHandle dialog) { Drive("22", &install, dialog); });
  ASSERT_EQ(lineAddProviderA(TK_KVARSP_PATH, nullptr, &id), 0);
  EXPECT_EQ(id, 1u);
  EXPECT_THAT(install.entries, ElementsAre(" Nebenstelle 20", " Nebenstelle 21", " Nebenstelle 22"));
  EXPECT_THAT(Announced(2), ElementsAre("CREATE 0", "CREATE 1"));  // 20 and 21; 22 was unchecked
}

}  // namespace
