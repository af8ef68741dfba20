// A serial round trip through a real comm handle: under Wine, the port named
// by TK_TEST_SERIAL_PORT (say COM5) is a pseudo-terminal that
// serial_pty_wine.sh links into the Wine prefix, with a peer on its other
// end that echoes every byte back. Without that variable (a plain run of the
// test program, or real Windows without a loop-back cable) the cases skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/device.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "platform/win_error.h"

namespace {

std::string echoPort() {
  const char* port = std::getenv("TK_TEST_SERIAL_PORT");
  return port ? port : "";
}

#define REQUIRE_ECHO_PORT(name)                                                                  \
  const std::string name = echoPort();                                                            \
  if (name.empty()) GTEST_SKIP() << "no echoing port (TK_TEST_SERIAL_PORT; serial_pty_wine.sh)"

// Receives until count bytes came; a receive returns what is at hand.
std::string receiveAll(platform::SerialPort& port, size_t count) {
  std::string got;
  char buffer[64];
  while (got.size() < count) {
    long error = 0;
    long n = port.receive(buffer, sizeof buffer, &error);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST(WindowsSerialPty, ConfiguresWritesAndReadsTheEcho) {
  REQUIRE_ECHO_PORT(name);
  platform::SerialPort port;
  ASSERT_EQ(port.open(name), platform::kErrorSuccess);
  EXPECT_EQ(port.open(name), platform::kErrorAccessDenied) << "still open";
  for (const uint32_t speed : {19200u, 2400u, 115200u}) {
    ASSERT_EQ(port.configure(speed), platform::kErrorSuccess) << speed;
    platform::SerialSettings settings;
    ASSERT_TRUE(port.settings(&settings));
    EXPECT_EQ(settings.speed, speed);
    EXPECT_EQ(settings.dataBits, 8);
    EXPECT_EQ(settings.parity, 'N');
    EXPECT_EQ(settings.stopBits, speed <= 4800 ? 2 : 1);
  }
  port.setDtr(true);  // a pseudo-terminal has no modem lines: of no account
  port.setRts(false);
  EXPECT_FALSE(port.dsr()) << "no device asserts DSR";
  for (const std::string& text : {std::string("hello"), std::string(300, 'z'), std::string("\x7e\x01\x00\xff", 4)}) {
    ASSERT_EQ(port.write(text.data(), text.size()), platform::kErrorSuccess);
    EXPECT_EQ(receiveAll(port, text.size()), text);
  }
  EXPECT_EQ(port.close(), platform::kErrorSuccess);
  EXPECT_FALSE(port.isOpen());
}

TEST(WindowsSerialPty, CloseWakesABlockedReceive) {
  REQUIRE_ECHO_PORT(name);
  platform::SerialPort port;
  ASSERT_EQ(port.open(name), platform::kErrorSuccess);
  ASSERT_EQ(port.configure(115200), platform::kErrorSuccess);
  long count = -1, error = -1;
  std::thread receiver([&] {
    char buffer[16];
    count = port.receive(buffer, sizeof buffer, &error);
  });
  // Before or while the receive waits: both must end it, with no failure.
  EXPECT_EQ(port.close(), platform::kErrorSuccess);
  receiver.join();
  EXPECT_EQ(count, 0);
  EXPECT_EQ(error, platform::kErrorSuccess);
  EXPECT_FALSE(port.hungUp());
  EXPECT_EQ(port.open(name), platform::kErrorSuccess) << "free again after close";
}

}  // namespace

namespace {

// The port opened as a device: a request the driver holds (the serial
// driver's "wait on mask", which ends when a character comes) is a real
// pending DeviceIoControl. Another request passes it, and close ends it.
TEST(WindowsSerialPty, AsADeviceAPendingRequestLetsOthersPassAndEndsOnClose) {
  REQUIRE_ECHO_PORT(name);
  // The serial driver's requests (buffered method, device type 0x1B).
  constexpr uint32_t kSetWaitMask = 0x001B0044, kWaitOnMask = 0x001B0048, kGetModemStatus = 0x001B0068;
  constexpr uint32_t kCharacterReceived = 0x0001;
  platform::Device device;
  ASSERT_EQ(device.open("\\\\.\\" + name), platform::kErrorSuccess);
  uint32_t bytes = 0;
  ASSERT_EQ(device.control(kSetWaitMask, &kCharacterReceived, 4, nullptr, 0, &bytes), platform::kErrorSuccess);
  long status = -1;
  uint32_t events = 0, got = 99;
  std::thread waiter([&] { status = device.control(kWaitOnMask, nullptr, 0, &events, 4, &got); });
  // No event tells when the request is pending inside the driver: a moment
  // lets it get there.
  platform::sleepMs(100);
  uint32_t lines = 0;
  // Answered (a pseudo-terminal has no modem lines: its status says so)
  // while the wait is pending: not held up behind it.
  EXPECT_NE(device.control(kGetModemStatus, nullptr, 0, &lines, 4, &bytes), platform::kDeviceAborted);
  device.close();
  waiter.join();
  EXPECT_EQ(status, platform::kDeviceAborted) << "6: the wait had not started 100 ms on";
  EXPECT_EQ(got, 0u);
}

}  // namespace
