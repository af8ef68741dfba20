// The USB link's transport against a fake driver in the test (a Unix socket
// server thread speaking device_wire.h at $TK_ROOT/dev/VNLUSB2): the first
// device that opens is used whatever the link name, no device at all, bytes
// both ways, our close ending a blocked receive, and the failures that close
// the device (a write completed with 0 bytes, a failed read).
#include "link/control/usb_transport.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/device_wire.h"
#include "platform/root.h"
#include "platform/win_error.h"
#include "tests/link/control/link_log_capture.h"

namespace {

enum class Driver {
  Echo,       // a write is answered at once; a read first with 0 bytes, then with the bytes written
  ZeroWrite,  // a write completes with 0 bytes
  FailRead,   // a read fails with ERROR_GEN_FAILURE
};

// A socket at $TK_ROOT/dev/<name>, listening or (stale) left by a driver that has gone.
int Listen(const char* name, bool stale = false) {
  platform::ensureDirectory(platform::rootDir() + "/dev");
  const std::string path = platform::devicePath(std::string("\\\\.\\") + name);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(fd, 1), 0);
  if (stale) ::close(fd);
  return stale ? -1 : fd;
}

class FakeDriver {
 public:
  explicit FakeDriver(Driver mode) : listener_(Listen("VNLUSB2")), thread_([this, mode] { Serve(mode); }) {}
  ~FakeDriver() {
    ::shutdown(listener_, SHUT_RDWR);  // ends an accept nobody came to
    thread_.join();
    ::close(listener_);
    ::unlink(platform::devicePath("\\\\.\\VNLUSB2").c_str());
  }

 private:
  void Serve(Driver mode) {
    int fd = ::accept(listener_, nullptr, nullptr);
    uint32_t request[3];
    std::vector<uint8_t> written;
    for (int reads = 0; fd >= 0 && ::recv(fd, request, sizeof request, MSG_WAITALL) == sizeof request;) {
      std::vector<uint8_t> input(request[1]);
      if (!input.empty() && ::recv(fd, input.data(), input.size(), MSG_WAITALL) != ssize_t(input.size())) break;
      const uint32_t count = static_cast<uint32_t>(input.size());
      if (request[0] == platform::kDeviceWriteBlock) {
        written = input;
        Answer(fd, request[0], 0, mode == Driver::ZeroWrite ? 0 : count);
      } else if (mode == Driver::FailRead) {
        Answer(fd, request[0], 31, 0);
      } else if (reads++ == 0) {
        Answer(fd, request[0], 0, 0);  // nothing yet: the transport asks again
      } else if (!written.empty()) {   // else held until our close
        Answer(fd, request[0], 0, static_cast<uint32_t>(written.size()), written);
        written.clear();
      }
    }
    ::close(fd);
  }
  static void Answer(int fd, uint32_t code, uint32_t status, uint32_t count, std::vector<uint8_t> output = {}) {
    const uint32_t header[3] = {code, status, count};
    output.insert(output.begin(), reinterpret_cast<const uint8_t*>(header), reinterpret_cast<const uint8_t*>(header + 3));
    EXPECT_EQ(::write(fd, output.data(), output.size()), static_cast<ssize_t>(output.size()));
  }

  int listener_;
  std::thread thread_;
};

class UsbTransportTest : public ::testing::Test {
 protected:
  tktest::LinkLogCapture log_;
  const uint8_t frame_[3] = {0x7E, 0x01, 0x7E};
  uint8_t buffer_[16] = {};
};

TEST_F(UsbTransportTest, TheFirstDeviceThatOpensIsUsedWhateverTheLinkName) {
  Listen("VNLUSB0", true);  // device 1 is absent
  for (const char* linkName : {"USB", "USB7", static_cast<const char*>(nullptr)}) {
    FakeDriver driver(Driver::Echo);
    UsbTransport transport;
    ASSERT_EQ(transport.Open(linkName), 1);
    EXPECT_EQ(transport.Open(linkName), 0) << "already open";
    EXPECT_TRUE(log_.Contains("Vnl2Usb: CreateFile(\\\\.\\VNLUSB2) Handle ")) << log_.Text();
    EXPECT_EQ(transport.Send(frame_, sizeof frame_), 3);
    ASSERT_EQ(transport.Receive(buffer_, sizeof buffer_), 3) << "asked again after 0 bytes";
    EXPECT_EQ(std::memcmp(buffer_, frame_, 3), 0);
    int received = -1;
    std::thread receiver([&] { received = transport.Receive(buffer_, sizeof buffer_); });
    transport.Close();
    receiver.join();
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(transport.IsClosed());
    EXPECT_EQ(transport.Send(frame_, 1), 0);
  }
  EXPECT_EQ(log_.Text().find("Errorcode"), std::string::npos) << "no failure logged:\n" << log_.Text();
}

TEST_F(UsbTransportTest, NoDeviceFailsTheOpenWithTheLastNameTried) {
  UsbTransport transport;
  EXPECT_EQ(transport.Open("USB"), 0);
  EXPECT_TRUE(log_.Contains("Vnl2Usb: CreateFile(\\\\.\\VNLUSB9) failed, err=2\r\n")) << log_.Text();
  EXPECT_EQ(transport.lastError(), platform::kErrorFileNotFound);
  EXPECT_TRUE(transport.IsClosed());
}

TEST_F(UsbTransportTest, AZeroByteWriteOrAFailedReadClosesTheDevice) {
  const std::pair<Driver, const char*> cases[] = {
      {Driver::ZeroWrite, "SendUsb() - returned Errorcode:0!\r\n"},
      {Driver::FailRead, "ReceiveUsb() - returned Errorcode:31!\r\n"},
  };
  for (const auto& [mode, logLine] : cases) {
    FakeDriver driver(mode);
    UsbTransport transport;
    ASSERT_EQ(transport.Open("USB"), 1);
    EXPECT_EQ(transport.Send(frame_, sizeof frame_), mode == Driver::ZeroWrite ? 0 : 3);
    EXPECT_EQ(transport.Receive(buffer_, sizeof buffer_), 0) << logLine;
    EXPECT_TRUE(transport.IsClosed()) << logLine;
    EXPECT_TRUE(log_.Contains(logLine)) << log_.Text();
  }
}

}  // namespace
