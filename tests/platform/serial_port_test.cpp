// The serial port on pseudo-terminals only (never a real tty): COM name
// resolution, the error numbers of a failed open, the line settings read
// back, and close ending a blocked write. (The DSR file, a burst in one
// receive, close waking a receive and a hang-up are the serial transport's
// tests.)
#include "platform/serial_port.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/root.h"
#include "platform/win_error.h"
#include "tests/support/files.h"

namespace {

// A pseudo-terminal whose slave is linked as $TK_ROOT/dev/<name>.
struct Pty {
  explicit Pty(const std::string& name) : master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    EXPECT_GE(master, 0);
    EXPECT_EQ(::grantpt(master), 0);
    EXPECT_EQ(::unlockpt(master), 0);
    platform::ensureDirectory(platform::rootDir() + "/dev");
    std::filesystem::create_symlink(::ptsname(master), platform::rootDir() + "/dev/" + name);
  }
  ~Pty() { ::close(master); }
  int master;
};

TEST(SerialPort, ComNamesResolveToTheRootsLinkElseToTheUart) {
  Pty linked("COM7");
  const std::string dev = platform::rootDir() + "/dev/";
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {
      {"COM7", dev + "COM7"}, {"com7", dev + "COM7"},       {"COM1", "/dev/ttyS0"}, {"cOm255", "/dev/ttyS254"},
      {"COM256", ""},         {"COM0", ""},                 {"COM07", ""},          {"COM", ""},
      {"COM1x", ""},          {"/dev/pts/9", "/dev/pts/9"}, {"ttyS0", ""},
  };
  // Only resolved here, never opened: the machine's own ports stay untouched.
  unsetenv("TK_SERIAL_SYSTEM_PORTS");
  for (const Case& c : cases) EXPECT_EQ(platform::serialPortPath(c.name), c.path) << c.name;
  // As in every other test: a COM name without a link in the root stays in the root.
  setenv("TK_SERIAL_SYSTEM_PORTS", "0", 1);
  EXPECT_EQ(platform::serialPortPath("COM1"), dev + "COM1");
  EXPECT_EQ(platform::serialPortPath("COM7"), dev + "COM7");
  EXPECT_EQ(platform::serialDsrPath("com7"), dev + "COM7.dsr");
  EXPECT_EQ(platform::serialDsrPath("/dev/pts/9"), "");
}

TEST(SerialPort, FailedOpensReportWindowsErrors) {
  Pty linked("COM3");
  platform::ensureDirectory(platform::rootDir() + "/dev");
  std::filesystem::create_symlink(platform::rootDir() + "/nothing", platform::rootDir() + "/dev/COM9");
  const std::string plainFile = platform::rootDir() + "/plain";
  tktest::writeFile(plainFile, "x");
  platform::SerialPort first;
  ASSERT_EQ(first.open("COM3"), platform::kErrorSuccess);
  struct Case {
    std::string name;
    long error;
  } cases[] = {
      {"COM3", platform::kErrorAccessDenied},  // in use, even for root
      {"COM9", platform::kErrorFileNotFound},  {"relative", platform::kErrorFileNotFound},
      {plainFile, platform::kErrorInvalidHandle},
  };
  for (const Case& c : cases) {
    platform::SerialPort port;
    EXPECT_EQ(port.open(c.name), c.error) << c.name;
    EXPECT_FALSE(port.isOpen()) << c.name;
  }
  first.close();
  EXPECT_EQ(first.open("COM3"), platform::kErrorSuccess) << "closing frees the port";
}

TEST(SerialPort, SpeedsSetRaw8BitsNoParityAndTwoStopBitsUpTo4800) {
  Pty pty("COM2");
  platform::SerialPort port;
  ASSERT_EQ(port.open("COM2"), platform::kErrorSuccess);
  struct Case {
    uint32_t speed;
    long error;
    uint32_t readSpeed;  // after the call
    int stopBits;
  } cases[] = {
      {19200, 0, 19200, 1}, {2400, 0, 2400, 2},    {4800, 0, 4800, 2},    {9600, 0, 9600, 1},
      {1200, 0, 1200, 2},   {115200, 0, 115200, 1}, {12345, 87, 115200, 1}, {0, 87, 115200, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(port.configure(c.speed), c.error) << c.speed;
    platform::SerialSettings s;
    ASSERT_TRUE(port.settings(&s));
    EXPECT_EQ(std::tuple(s.speed, s.dataBits, s.parity, s.stopBits), std::tuple(c.readSpeed, 8, 'N', c.stopBits))
        << c.speed;
  }
}

TEST(SerialPort, CloseEndsABlockedWrite) {
  Pty pty("COM6");
  platform::SerialPort port;
  ASSERT_EQ(port.open("COM6"), platform::kErrorSuccess);
  ASSERT_EQ(port.configure(115200), platform::kErrorSuccess);
  // Nobody reads the master: the write fills the line and waits for room.
  std::vector<uint8_t> flood(1 << 20, 0x55);
  long written = -1;
  std::thread writer([&] { written = port.write(flood.data(), flood.size()); });
  // The write may or may not be waiting yet: either way it must end, unfinished.
  EXPECT_EQ(port.close(), platform::kErrorSuccess);
  writer.join();
  EXPECT_NE(written, platform::kErrorSuccess);
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
