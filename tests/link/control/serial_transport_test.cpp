// The serial link's transport on a pseudo-terminal linked as $TK_ROOT/dev/COMn
// (never a real tty): Vnl2Com with the speed text and ControlLines against
// the DSR file, InitV24, bytes both ways, our own close waking a blocked
// receive and the peer's hang-up, with their link log lines.
#include "link/control/serial_transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "platform/root.h"
#include "platform/win_error.h"
#include "tests/link/control/link_log_capture.h"

namespace {

class SerialTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    platform::ensureDirectory(dev_);
    std::filesystem::create_symlink(::ptsname(master_), dev_ + "/COM5");
  }
  void TearDown() override { CloseMaster(); }
  void CloseMaster() { ::close(std::exchange(master_, -1)); }

  tktest::LinkLogCapture log_;
  const std::string dev_ = platform::rootDir() + "/dev";
  int master_ = -1;
};

TEST_F(SerialTransportTest, OpenTakesTheSpeedTextAndChecksDsrWithControlLines) {
  std::filesystem::create_symlink(dev_ + "/gone", dev_ + "/COM9");
  struct Case {
    const char* port;
    const char* speed;
    bool controlLines;
    const char* dsr;  // nullptr: no DSR file
    int opened;
    uint32_t baud;        // read back; 0: not checked
    const char* logLine;  // one of the lines logged
    long lastError;
  } cases[] = {
      {"COM5", "19200", false, nullptr, 1, 19200, "Vnl2com: CreateFile(COM5) Handle ", 0},
      {"COM5", "115200", false, "0", 1, 115200, "Vnl2com: CreateFile(COM5) Handle ", 0},
      {"COM5", "12345", false, nullptr, 1, 0, "Vnl2Com: SetCommState failed, err=87\r\n", 0},
      {"COM5", "19200 ", false, nullptr, 1, 0, "Vnl2Com: SetCommState failed, err=87\r\n", 0},
      {"COM5", "9600", true, "1", 1, 9600, "Vnl2com: CreateFile(COM5) Handle ", 0},
      {"COM5", "9600", true, "0", 0, 0, "Vnl2Com: DSR Check failed, err=0\r\n", kSerialDsrMissing},
      {"COM5", "9600", true, nullptr, 0, 0, "Vnl2Com: DSR Check failed, err=0\r\n", kSerialDsrMissing},
      {"COM9", "9600", false, nullptr, 0, 0, "Vnl2com: CreateFile(COM9) failed, err=2\r\n",
       platform::kErrorFileNotFound},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dev_ + "/COM5.dsr");
    if (c.dsr) tktest::writeFile(dev_ + "/COM5.dsr", c.dsr);
    tktest::writeFile(log_.path(), "");
    SerialTransport transport;
    const std::string what = std::string(c.port) + " " + c.speed + " dsr " + (c.dsr ? c.dsr : "-");
    EXPECT_EQ(transport.Open(c.port, c.speed, c.controlLines), c.opened) << what;
    EXPECT_EQ(transport.IsClosed(), c.opened == 0) << what;
    platform::SerialSettings settings;
    EXPECT_EQ(transport.Settings(&settings), c.opened == 1) << what;
    if (c.baud) {
      EXPECT_EQ(std::pair(settings.speed, settings.stopBits), std::pair(c.baud, 1)) << what;
    }
    EXPECT_TRUE(log_.Contains(c.logLine)) << what << ": " << c.logLine << "\n" << log_.Text();
    EXPECT_EQ(transport.lastError(), c.lastError) << what;
    transport.Close();
  }
}

TEST_F(SerialTransportTest, ReconfigureThenBytesBothWaysThenOurCloseEndsABlockedReceive) {
  SerialTransport transport;
  EXPECT_EQ(transport.Reconfigure("2400"), 0) << "not open";
  ASSERT_EQ(transport.Open("COM5", "19200", false), 1);
  EXPECT_EQ(transport.Open("COM5", "19200", false), 0) << "already open";
  EXPECT_EQ(transport.Reconfigure("2400"), 1);
  platform::SerialSettings settings;
  ASSERT_TRUE(transport.Settings(&settings));
  EXPECT_EQ(std::pair(settings.speed, settings.stopBits), std::pair(2400u, 2));
  EXPECT_TRUE(log_.Contains("InitV24(2400)\r\n")) << log_.Text();
  const uint8_t burst[10] = {0x7E, 0x01, 0x03, 0x10, 0x20, 0x30, 0x40, 0xAB, 0xCD, 0x7E};
  ASSERT_EQ(::write(master_, burst, sizeof burst), 10);
  uint8_t buffer[64];
  ASSERT_EQ(transport.Receive(buffer, sizeof buffer), 10) << "one receive";
  EXPECT_EQ(std::memcmp(buffer, burst, 10), 0);
  EXPECT_EQ(transport.Send(burst + 7, 3), 3);
  uint8_t sent[3];
  ASSERT_EQ(::read(master_, sent, 3), 3);
  EXPECT_EQ(std::memcmp(sent, burst + 7, 3), 0);
  EXPECT_EQ(transport.Send(burst, 0), 0);
  int received = -1;
  // The receive may or may not be waiting yet: either way it must end.
  std::thread receiver([&] { received = transport.Receive(buffer, sizeof buffer); });
  transport.Close();
  receiver.join();
  EXPECT_EQ(received, 0);
  EXPECT_TRUE(transport.IsClosed());
  EXPECT_EQ(transport.Send(burst, 1), 0);
  EXPECT_TRUE(log_.Contains("Vnl2com: WriteFile failed, err=6\r\n")) << log_.Text();
}

TEST_F(SerialTransportTest, ThePeersHangUpEndsTheReceiveAndClosesTheLink) {
  SerialTransport transport;
  ASSERT_EQ(transport.Open("COM5", "19200", false), 1);
  CloseMaster();
  uint8_t buffer[16];
  EXPECT_EQ(transport.Receive(buffer, sizeof buffer), 0);
  EXPECT_TRUE(transport.IsClosed());
  transport.Release();
}

}  // namespace
