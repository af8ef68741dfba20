// VNL2C64 on a serial line for real: a client in this process goes through
// VNL2D32 to the control process, which reaches the simulated exchange
// tksim over a pseudo-terminal paced like a 115200-baud line: the service
// request and answer, the frame protocol's set-up, data both ways, the
// recovery of a corrupted frame, an exchange that falls silent, and the
// DISC that ends the link.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "link/api/vnl2_shared_area.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/window.h"
#include "tests/link/api/vnl2_client.h"
#include "tests/link/control/link_log_capture.h"
#include "tests/link/control/loopback_link.h"
#include "tests/link/control/tksim_peer.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kCti = 0x20;
constexpr unsigned kCom = 5;
constexpr char kControlClass[] = "VNL2ControlProg";

size_t CountKind(const std::vector<tktest::Notification>& seen, intptr_t kind) {
  return static_cast<size_t>(
      std::count_if(seen.begin(), seen.end(), [kind](const tktest::Notification& n) { return n.kind == kind; }));
}

class SerialLinkProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    tktest::InstallLinkControl(TK_VNL2C64_PATH);
    ASSERT_TRUE(vnl2.Load(TK_VNL2D32_PATH)) << platform::lastModuleError();
    ASSERT_TRUE(tksim.StartSerial({"--baud", "115200"}));
    ASSERT_TRUE(tktest::WriteSerialLinkConfiguration(kCom, tksim.serialPath()));
  }
  void TearDown() override {
    tktest::EndLinkControlProcesses();
    area_.reset();
    vnl2.Unload();
  }

  Vnl2SharedArea& Area() {
    if (!area_) area_ = std::make_unique<platform::SharedMemory>("VNL2D32.SharedDa", sizeof(Vnl2SharedArea));
    return *static_cast<Vnl2SharedArea*>(area_->data());
  }
  static uint32_t ControlPid() { return platform::windowProcessId(platform::findWindow(kControlClass)); }

  std::string Receive() {
    std::string buffer(4096, '\0');
    int32_t n = vnl2.receive(kCti, buffer.data(), static_cast<uint32_t>(buffer.size()));
    return n > 0 ? buffer.substr(0, static_cast<size_t>(n)) : "";
  }

  // Opens the telephony service and waits for its connect indication.
  void OpenAndEnable() {
    ASSERT_EQ(vnl2.open(kCti), 1);
    ASSERT_TRUE(tksim.WaitEvent("connected"));
    ASSERT_NE(vnl2.enable(kCti, window.handle()), 0);
    auto seen = window.WaitFor(1);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].kind, VNL2_CONNECT_IND);
  }

  tktest::LinkLogCapture log;
  tktest::Vnl2Functions vnl2;
  tktest::TksimPeer tksim;
  tktest::NotificationWindow window;
  std::unique_ptr<platform::SharedMemory> area_;
};

TEST_F(SerialLinkProcess, BlocksMakeTheRoundTripAndTheLastCloseEndsTheLinkWithDisc) {
  OpenAndEnable();
  EXPECT_EQ(Area().linkState, 1);
  const uint32_t controlPid = ControlPid();
  EXPECT_TRUE(log.Contains("vnl2c64: Varnet connect: 115200 Bps\r\n")) << log.Text();

  // A short block and one of the longest an I-frame carries, each echoed.
  const std::string shortBlock = "hello", longBlock(2038, 'x');
  size_t dataInds = 0;
  for (const std::string* block : {&shortBlock, &longBlock}) {
    ASSERT_EQ(vnl2.send(kCti, block->data(), static_cast<uint32_t>(block->size())), 1);
    auto seen = window.WaitFor(2 + dataInds, 5s);
    ASSERT_EQ(CountKind(seen, VNL2_DATA_IND), ++dataInds);
    EXPECT_EQ(Receive(), *block);
  }
  EXPECT_TRUE(tksim.WaitEvent("block 68656c6c6f"));

  EXPECT_EQ(vnl2.close(kCti), 1);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_TRUE(tksim.WaitEvent("disconnected"));
  EXPECT_TRUE(log.Contains("vnl2c64: SendFrame U-DISC\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("vnl2c64: CheckFrame U-UA\r\n"));
  EXPECT_EQ(Area().linkState, 0);
}

TEST_F(SerialLinkProcess, CorruptedAndLostFramesAreRepeatedAndEveryBlockArrivesOnce) {
  OpenAndEnable();
  // The exchange's next frame (the echo of "one") is damaged on the line,
  // and the frame after that (the echo of "two") does not arrive at all:
  // both are repeated after T1, and each block reaches the client once.
  ASSERT_TRUE(tktest::CommandOk(tksim.Command("corrupt 9")));
  ASSERT_EQ(vnl2.send(kCti, "one", 3), 1);
  auto seen = window.WaitFor(2, 5s);
  ASSERT_EQ(CountKind(seen, VNL2_DATA_IND), 1u);
  EXPECT_EQ(Receive(), "one");

  ASSERT_TRUE(tktest::CommandOk(tksim.Command("drop-frame")));
  ASSERT_EQ(vnl2.send(kCti, "two", 3), 1);
  seen = window.WaitFor(3, 5s);
  ASSERT_EQ(CountKind(seen, VNL2_DATA_IND), 2u);
  EXPECT_EQ(Receive(), "two");

  EXPECT_EQ(CountKind(window.Settle(300ms), VNL2_DATA_IND), 2u) << "no block is handed over twice";
  EXPECT_EQ(Receive(), "");
  EXPECT_EQ(Area().linkState, 1);
}

TEST_F(SerialLinkProcess, AnExchangeThatFallsSilentEndsTheLinkAfterTheRepetitions) {
  OpenAndEnable();
  const uint32_t controlPid = ControlPid();
  ASSERT_TRUE(tktest::CommandOk(tksim.Command("silent on")));
  const auto silent = std::chrono::steady_clock::now();
  ASSERT_EQ(vnl2.send(kCti, "lost", 4), 1);
  // Three repetitions of the I-frame, then three STARTs, 1000 ms apart.
  auto seen = window.WaitFor(2, 15s);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].kind, VNL2_DISCONNECT_IND);
  EXPECT_GE(std::chrono::steady_clock::now() - silent, 6s);
  EXPECT_TRUE(platform::waitForProcessExit(controlPid, 5000));
  EXPECT_TRUE(log.Contains("vnl2c64: SendFrame U-START\r\n")) << log.Text();
}

TEST_F(SerialLinkProcess, AnUnansweredServiceRequestFailsTheOpen) {
  ASSERT_TRUE(tktest::CommandOk(tksim.Command("service-answer off")));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vnl2.open(kCti), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1400ms);  // three requests 500 ms apart
  EXPECT_LT(took, 3000ms);  // well before the library's own deadline
  EXPECT_EQ(Area().openCount, 0);
  const std::string text = log.Text();
  EXPECT_NE(text.find("vnl2c64: RequestService (0x1)\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vnl2c64: Request Service\r\n"), std::string::npos);
}

}  // namespace
