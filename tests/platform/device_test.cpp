// The device interface against a fake driver in the test (a Unix socket
// server thread speaking device_wire.h): name resolution, an absent device,
// a write answered while a read is pending, close ending a pending read,
// and a driver that goes away or sends a bad answer.
#include "platform/device.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "platform/device_wire.h"
#include "platform/root.h"
#include "platform/win_error.h"

namespace {

using platform::kDeviceReadBlock;
using platform::kDeviceWriteBlock;

// Serves one connection at $TK_ROOT/dev/VNLUSB1: handle runs for every
// request (code, output capacity, input) and answers as it likes; false hangs up.
class FakeDriver {
 public:
  using Handler = std::function<bool(int fd, uint32_t code, uint32_t capacity, const std::vector<uint8_t>& input)>;
  explicit FakeDriver(Handler handle) : path_(platform::devicePath("\\\\.\\VNLUSB1")) {
    platform::ensureDirectory(platform::rootDir() + "/dev");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 1), 0);
    thread_ = std::thread([this, handle] {
      int fd = ::accept(listener_, nullptr, nullptr);
      uint32_t header[3];
      while (fd >= 0 && ::recv(fd, header, sizeof header, MSG_WAITALL) == sizeof header) {
        std::vector<uint8_t> input(header[1]);
        if ((!input.empty() && ::recv(fd, input.data(), input.size(), MSG_WAITALL) != ssize_t(input.size())) ||
            !handle(fd, header[0], header[2], input))
          break;
      }
      ::close(fd);
    });
  }
  ~FakeDriver() {
    ::shutdown(listener_, SHUT_RDWR);  // ends an accept nobody came to
    thread_.join();
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  static void Answer(int fd, uint32_t code, uint32_t count, std::vector<uint8_t> output = {}) {
    const uint32_t header[3] = {code, 0, count};
    output.insert(output.begin(), reinterpret_cast<const uint8_t*>(header), reinterpret_cast<const uint8_t*>(header + 3));
    EXPECT_EQ(::write(fd, output.data(), output.size()), static_cast<ssize_t>(output.size()));
  }

 private:
  std::string path_;
  int listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::thread thread_;
};

// A read of up to 8 bytes in its own thread, into a buffer with a guard after the capacity.
struct PendingRead {
  explicit PendingRead(platform::Device& device)
      : thread([this, &device] { status = device.control(kDeviceReadBlock, nullptr, 0, buffer, 8, &bytes); }) {}
  uint8_t buffer[16] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  long status = -1;
  uint32_t bytes = 99;
  std::thread thread;
};

TEST(Device, NamesResolveToTheRootsDevFolderUpperCased) {
  const std::string dev = platform::rootDir() + "/dev/";
  const std::pair<const char*, std::string> cases[] = {
      {"\\\\.\\VNLUSB3", dev + "VNLUSB3"}, {"\\\\.\\vnlUsb0", dev + "VNLUSB0"}, {"\\\\.\\", ""},
      {"VNLUSB0", ""},  {"\\\\.\\VNL/USB0", ""}, {"\\\\.\\..", ""}, {"\\\\.\\VNL USB0", ""},
      {"\\\\?\\VNLUSB0", ""}, {"\\\\.\\a\\b", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(platform::devicePath(name), path) << name;
  platform::Device device;
  EXPECT_EQ(device.open("\\\\.\\VNLUSB0"), platform::kErrorFileNotFound) << "absent";
  EXPECT_EQ(device.open("\\\\.\\..\\VNLUSB0"), platform::kErrorFileNotFound) << "refused name";
  EXPECT_EQ(device.control(kDeviceReadBlock, nullptr, 0, nullptr, 0, nullptr), platform::kErrorInvalidHandle);
}

TEST(Device, AWriteIsAnsweredWhileAReadIsPending) {
  // The write is answered only once the read is pending, then the read with the bytes written.
  uint32_t readCapacity = 0;
  std::vector<uint8_t> written;
  FakeDriver driver([&](int fd, uint32_t code, uint32_t capacity, const std::vector<uint8_t>& input) {
    if (code == kDeviceReadBlock) readCapacity = capacity;
    else written = input;
    if (readCapacity && !written.empty()) {
      FakeDriver::Answer(fd, kDeviceWriteBlock, static_cast<uint32_t>(written.size()));
      FakeDriver::Answer(fd, kDeviceReadBlock, static_cast<uint32_t>(written.size()), written);
    }
    return true;
  });
  platform::Device device;
  ASSERT_EQ(device.open("\\\\.\\VNLUSB1"), platform::kErrorSuccess);
  EXPECT_EQ(device.open("\\\\.\\VNLUSB1"), platform::kErrorAccessDenied) << "already open";
  PendingRead read(device);
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  uint32_t count = 0;
  EXPECT_EQ(device.control(kDeviceWriteBlock, data, sizeof data, nullptr, 0, &count), platform::kErrorSuccess);
  EXPECT_EQ(count, 5u);
  read.thread.join();
  EXPECT_EQ(std::pair(read.status, read.bytes), std::pair(platform::kErrorSuccess, 5u));
  EXPECT_EQ(std::memcmp(read.buffer, data, 5), 0);
  EXPECT_EQ(device.control(kDeviceWriteBlock, data, platform::kDeviceMaxTransfer + 1, nullptr, 0, &count),
            platform::kErrorInvalidParameter);
}

TEST(Device, CloseEndsAPendingReadAndTheDevicesEndFailsThem) {
  enum Mode { kHold, kHangUp, kTooLong, kUnknownCode };
  struct Case {
    Mode mode;
    long readStatus;
    long laterStatus;  // of a write after the read ended
  } cases[] = {
      {kHold, platform::kDeviceAborted, platform::kErrorInvalidHandle},  // ended by our close
      {kHangUp, platform::kDeviceGone, platform::kDeviceGone},
      {kTooLong, platform::kDeviceGone, platform::kDeviceGone},
      {kUnknownCode, platform::kDeviceGone, platform::kDeviceGone},
  };
  for (const Case& c : cases) {
    std::promise<void> readPending;
    FakeDriver driver([&](int fd, uint32_t, uint32_t capacity, const std::vector<uint8_t>&) {
      readPending.set_value();
      if (c.mode == kTooLong) FakeDriver::Answer(fd, kDeviceReadBlock, capacity + 1, std::vector<uint8_t>(capacity + 1));
      if (c.mode == kUnknownCode) FakeDriver::Answer(fd, 0x1234, 0);
      return c.mode != kHangUp;
    });
    platform::Device device;
    ASSERT_EQ(device.open("\\\\.\\VNLUSB1"), platform::kErrorSuccess) << c.mode;
    PendingRead read(device);
    ASSERT_EQ(readPending.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.mode;
    if (c.mode == kHold) device.close();
    read.thread.join();
    EXPECT_EQ(std::pair(read.status, read.bytes), std::pair(c.readStatus, 0u)) << c.mode;
    EXPECT_EQ(read.buffer[0] + read.buffer[8], 2 * 0xEE) << c.mode << ": nothing copied, nor beyond the capacity";
    const uint8_t data[1] = {7};
    EXPECT_EQ(device.control(kDeviceWriteBlock, data, 1, nullptr, 0, nullptr), c.laterStatus) << c.mode;
    EXPECT_EQ(device.isOpen(), c.mode != kHold) << c.mode;
    device.close();
  }
}

}  // namespace
