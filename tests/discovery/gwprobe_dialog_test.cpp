// gwProbe through its export, with the dialogs offscreen: the settings dialog
// (start text, OK, Cancel, small buffers, refused octets) and two searches
// over loopback (TK_DISCOVERY_TARGET): one against tksim --discovery, one
// with port 5000 taken and no answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/detect_socket.h"
#include "discovery/discovery_core.h"
#include "platform/ui/dialog.h"
#include "platform/udp_socket.h"
#include "tests/discovery/search_driver.h"
#include "tests/support/child_process.h"

namespace {
namespace ui = platform::ui;
using platform::WindowHandle;

constexpr int kOctet1 = 10014;

class GwProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A search a test starts by mistake stays on loopback, where nobody answers.
    setenv("TK_DISCOVERY_TARGET", "127.0.0.3", 1);
    ui::testing::SetDialogTimeout(20000);
    fn_ = gwtest::loadGwProbe();
    ASSERT_NE(fn_, nullptr) << "gwprobe.dll not loaded";
  }
  gwtest::GetRouterIpAddressFn fn_ = nullptr;
};

TEST_F(GwProbeTest, SettingsShowTheNormalisedStartAddress) {
  const struct {
    const char* start;  // nullptr: no buffer
    const char* shown;
  } rows[] = {{"192.168.1.25", "192.168.1.25"}, {"", "255.255.255.255"},     {"pbx", "255.255.255.255"},
              {nullptr, "255.255.255.255"},     {"10.1", "10.0.0.1"},         {"300.1.1.1", "255.255.255.255"}};
  for (const auto& row : rows) {
    std::string shown;
    ui::testing::OnNextDialog([&](WindowHandle settings) {
      shown = gwtest::octetTexts(settings);
      ui::testing::Click(ui::GetDlgItem(settings, ui::kIdCancel));
    });
    char buffer[50] = {};
    if (row.start) std::strcpy(buffer, row.start);
    EXPECT_EQ(fn_(row.start ? buffer : nullptr, sizeof buffer), 1) << row.shown;
    EXPECT_EQ(shown, row.shown);
    if (row.start) {
      EXPECT_STREQ(buffer, row.start);  // Cancel leaves it
    }
  }
}

TEST_F(GwProbeTest, OkWritesTheAddressWhenItFits) {
  const struct {
    uint32_t size;
    bool nullBuffer;
    int result;
    const char* buffer;
  } rows[] = {{50, false, 0, "10.0.0.7"},          {9, false, 0, "10.0.0.7"},
              {8, false, 2, "1.2.3.4"},            {0x10000 | 50, false, 0, "10.0.0.7"},
              {0x10000 | 8, false, 2, "1.2.3.4"},  {50, true, 2, nullptr}};
  for (const auto& row : rows) {
    ui::testing::OnNextDialog([](WindowHandle settings) {
      const char* octets[] = {"10", "0", "0", "7"};
      for (int i = 0; i < 4; ++i) ui::testing::TypeText(ui::GetDlgItem(settings, kOctet1 + i), octets[i]);
      ui::testing::Click(ui::GetDlgItem(settings, ui::kIdOk));
    });
    char buffer[50] = "1.2.3.4";
    EXPECT_EQ(fn_(row.nullBuffer ? nullptr : buffer, row.size), row.result) << row.size;
    if (row.buffer) {
      EXPECT_STREQ(buffer, row.buffer) << row.size;
    }
  }
}

TEST_F(GwProbeTest, BadOctetsAreRefusedAndTheDialogStaysOpen) {
  const struct {
    int edit;
    const char* text;
    const char* message;
  } rows[] = {{2, "256", discovery::kOutOfRangeMessage},
              {0, "-1", discovery::kOutOfRangeMessage},
              {3, "x", discovery::kNotNumberMessage},
              {1, "", discovery::kNotNumberMessage}};
  for (const auto& row : rows) {
    std::string message;
    std::unique_ptr<gwtest::Watch> watch;
    bool cancelled = false;
    ui::testing::OnNextDialog([&](WindowHandle settings) {
      const WindowHandle edit = ui::GetDlgItem(settings, kOctet1 + row.edit);
      ui::testing::TypeText(edit, row.text);
      ui::testing::OnNextDialog([&](WindowHandle box) {
        message = ui::GetDlgItemText(box, 0xFFFF);
        ui::testing::Click(ui::GetDlgItem(box, ui::kIdOk));
      });
      ui::testing::Click(ui::GetDlgItem(settings, ui::kIdOk));
      // Still open: Cancel ends it.
      watch = std::make_unique<gwtest::Watch>([&, settings] {
        cancelled = true;
        ui::testing::Click(ui::GetDlgItem(settings, ui::kIdCancel));
        return true;
      });
    });
    char buffer[50] = "1.2.3.4";
    EXPECT_EQ(fn_(buffer, sizeof buffer), 1) << row.text;
    EXPECT_EQ(message, row.message) << row.text;
    EXPECT_TRUE(cancelled) << row.text;
    EXPECT_STREQ(buffer, "1.2.3.4");
  }
}

TEST_F(GwProbeTest, SearchListsEachAddressOnceByItsExactText) {
  std::vector<std::string> listed;
  platform::LResult selected = -2;
  ui::testing::OnNextDialog([&](WindowHandle settings) {
    ui::testing::OnNextDialog([&](WindowHandle search) {
      for (uint32_t address : {0xC0A80119u, 0xC0A80102u, 0xC0A80119u})  // .25, .2, .25 again
        ui::SendMessage(search, discovery::kWmDetectedRouter, 0, static_cast<platform::LParam>(address));
      const WindowHandle list = ui::GetDlgItem(search, 10008);
      for (int i = 0; i < ui::SendMessage(list, ui::kLbGetCount, 0, 0); ++i) {
        char text[32] = {};
        ui::SendMessage(list, ui::kLbGetText, i, reinterpret_cast<platform::LParam>(text));
        listed.push_back(text);
      }
      selected = ui::SendMessage(list, ui::kLbGetCurSel, 0, 0);
      ui::testing::Click(ui::GetDlgItem(search, ui::kIdCancel));
    });
    ui::testing::Click(ui::GetDlgItem(settings, 10018));
    ui::testing::Click(ui::GetDlgItem(settings, ui::kIdCancel));
  });
  char buffer[50] = "1.2.3.4";
  EXPECT_EQ(fn_(buffer, sizeof buffer), 1);
  EXPECT_EQ(listed, (std::vector<std::string>{"192.168.1.2", "192.168.1.25"}));
  EXPECT_EQ(selected, 0);  // the last one added
}

TEST_F(GwProbeTest, SearchListsTksimOnceAndOkPicksIt) {
  tktest::ChildProcess sim;
  ASSERT_TRUE(sim.start(TK_TKSIM, {"--discovery", "--address", "127.0.0.2", "--port", "0", "--no-stdin"}));
  std::optional<std::string> line;
  while ((line = sim.readLine()) && !line->starts_with("discovery ")) {
  }
  ASSERT_EQ(line.value_or("(no line)"), "discovery 127.0.0.2:5000");
  setenv("TK_DISCOVERY_TARGET", "127.0.0.2", 1);

  const gwtest::SearchRun run = gwtest::runSearch("1.2.3.4", -1);
  EXPECT_TRUE(run.searchedWhileWaiting);
  EXPECT_EQ(run.listed, std::vector<std::string>{"127.0.0.2"});
  EXPECT_EQ(run.status, "The following routers have been found ...");
  EXPECT_TRUE(run.okFocused);
  EXPECT_EQ(run.octetsAfter, "127.0.0.2");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.buffer, "127.0.0.2");

  sim.kill();
  int answers = 0;
  while ((line = sim.readLine())) answers += *line == "discovery-answer 127.0.0.1:5000";
  EXPECT_GE(answers, 5);  // a request at once and one every second
}

TEST_F(GwProbeTest, SearchWithPortTakenSendsNothingAndFindsNothing) {
  platform::UdpSocket taken;
  ASSERT_TRUE(taken.open("127.0.0.1", discovery::kDiscoveryPort));
  setenv("TK_DISCOVERY_TARGET", "127.0.0.1", 1);  // a request would reach `taken`

  const gwtest::SearchRun run = gwtest::runSearch("10.0.0.7", -1);
  EXPECT_TRUE(run.listed.empty());
  EXPECT_EQ(run.status, "No router has been found ...");
  EXPECT_TRUE(run.okFocused);
  EXPECT_EQ(run.octetsAfter, "10.0.0.7");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.buffer, "10.0.0.7");

  platform::UdpSocket marker;
  ASSERT_TRUE(marker.open("127.0.0.1", 0));
  ASSERT_TRUE(marker.sendTo("marker", 6, "127.0.0.1", discovery::kDiscoveryPort));
  char received[64] = {};
  ASSERT_EQ(taken.receiveFrom(received, sizeof received), 6);  // the first datagram is the marker
  EXPECT_STREQ(received, "marker");
}

}  // namespace
