// VNL2C64 on a USB link for real: a client in this process goes through
// VNL2D32 to the control process, which opens the first device
// \\.\VNLUSB0..9 there is, here tksim's stand-in for the exchange's USB
// driver: the device search, blocks both ways, and each fault of the
// device (a write completed with 0 bytes, a failed read, the device
// unplugged) ending the link, after which the next open starts afresh.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "link/api/vnl2_shared_area.h"
#include "platform/process.h"
#include "platform/window.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/link/control/link_log_capture.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kCti = 0x20;
constexpr char kControlClass[] = "VNL2ControlProg";

class UsbLinkProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH)) << platform::lastModuleError();
    ASSERT_TRUE(tktest::WriteUsbLinkConfiguration());
  }
  void TearDown() override {
    tktest::EndLinkControlProcesses();
    vnl2.Unload();
  }
  static uint32_t ControlPid() { return platform::windowProcessId(platform::findWindow(kControlClass)); }

  // Opens the telephony service, sends a block and waits for its echo.
  void OpenAndEcho(tktest::NotificationWindow& window) {
    ASSERT_EQ(vnl2.open(kCti), 1);
    ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
    auto seen = window.WaitFor(1);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].kind, VNL2_CONNECT_IND);
    ASSERT_EQ(vnl2.send(kCti, "ping", 4), 1);
    seen = window.WaitFor(2);
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[1].kind, VNL2_DATA_IND);
    std::string buffer(64, '\0');
    ASSERT_EQ(vnl2.receive(kCti, buffer.data(), static_cast<uint32_t>(buffer.size())), 4);
    EXPECT_EQ(buffer.substr(0, 4), "ping");
  }

  tktest::LinkLogCapture log;
  tktest::Vnl2Functions vnl2;
};

TEST_F(UsbLinkProcess, WithoutADeviceTheOpenFailsPromptly) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.open(kCti), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  const std::string text = log.Text();
  EXPECT_NE(text.find("vnl2c64: Vnl2Usb: CreateFile(\\\\.\\VNLUSB9) failed, err=2\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vnl2c64: OpenConnection USB failed !\r\n"), std::string::npos);
}

TEST_F(UsbLinkProcess, TheFirstDeviceThereIsCarriesTheLinkUntilTheLastClose) {
  // Devices 0 and 1 are absent; 2 is the exchange.
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.StartUsb(2));
  tktest::NotificationWindow window;
  OpenAndEcho(window);
  EXPECT_TRUE(log.Contains("vnl2c64: Vnl2Usb: CreateFile(\\\\.\\VNLUSB2) Handle ")) << log.Text();
  EXPECT_TRUE(log.Contains("vnl2c64: Varnet connect: 9600 Bps\r\n") ||
              log.Contains("vnl2c64: Varnet connect: 115200 Bps\r\n"));
  const uint32_t controlPid = ControlPid();
  EXPECT_EQ(vnl2.close(kCti), 1);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_TRUE(tksim.WaitEvent("disconnected"));
  EXPECT_TRUE(log.Contains("vnl2c64: SendFrame U-DISC\r\n"));
}

TEST_F(UsbLinkProcess, EachDeviceFaultEndsTheLinkAndTheNextOpenStartsAfresh) {
  tktest::TksimPeer tksim;
  ASSERT_TRUE(tksim.StartUsb(0));
  struct Fault {
    const char* command;
    const char* logged;  // what VNL2C64 logs
    const char* after;   // a command that restores the device, or nullptr
  };
  const Fault faults[] = {
      {"zero-write", "SendUsb() - returned Errorcode:", nullptr},
      {"fail-read", "ReceiveUsb() - ", nullptr},
      {"unplug", "ReceiveUsb() - returned Errorcode:31!", "plug"},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.command);
    tktest::NotificationWindow window;
    OpenAndEcho(window);
    const uint32_t controlPid = ControlPid();
    ASSERT_TRUE(tktest::CommandOk(tksim.Command(fault.command)));
    // The next write or the next read meets the fault (a read may first
    // bring the echo of this block).
    vnl2.send(kCti, "lost", 4);
    auto seen = window.WaitFor(3, 5s);
    if (!seen.empty() && seen.back().kind != VNL2_DISCONNECT_IND) seen = window.WaitFor(4, 5s);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.back().kind, VNL2_DISCONNECT_IND);
    EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
    EXPECT_TRUE(log.Contains(fault.logged)) << log.Text();
    vnl2.close(kCti);
    if (fault.after) {
      ASSERT_TRUE(tktest::CommandOk(tksim.Command(fault.after)));
    }
  }
  // After all of them a new control process runs the link again.
  tktest::NotificationWindow window;
  OpenAndEcho(window);
}

}  // namespace
