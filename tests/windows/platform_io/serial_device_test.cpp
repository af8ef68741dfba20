// Serial ports and the USB device on Windows where no such hardware is
// present (as under Wine, and on a build machine): the names they open, the
// documented errors of an absent port or device, of a handle that is no comm
// port, and of the operations on an object that is not open. A device that is
// there but answers no request is the NUL device.
#include <gtest/gtest.h>

#include <thread>

#include "platform/device.h"
#include "platform/device_wire.h"
#include "platform/serial_port.h"
#include "platform/win_error.h"

namespace {

using platform::kDeviceReadBlock;
using platform::kDeviceWriteBlock;

TEST(WindowsSerialPort, ComNamesOpenTheirDevicePaths) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM7", "\\\\.\\COM7"},   {"com12", "\\\\.\\COM12"}, {"cOm255", "\\\\.\\COM255"},
      {"COM256", ""},            {"COM0", ""},              {"COM07", ""},
      {"COM", ""},               {"ttyS0", ""},             {"/dev/ttyS0", ""},
      {"\\\\.\\COM3", "\\\\.\\COM3"}, {"\\\\.\\", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(platform::serialPortPath(name), path) << name;
  EXPECT_EQ(platform::serialDsrPath("COM7"), "");
}

// COM9 is no port of the test machine (nor of Wine's prefix, which maps only
// the machine's own ttyS ports); a name that is no port never reaches the system.
TEST(WindowsSerialPort, AnAbsentPortAndANonPortFailWithTheirErrors) {
  platform::SerialPort port;
  const std::pair<const char*, long> cases[] = {
      {"COM9", platform::kErrorFileNotFound},
      {"COM0", platform::kErrorFileNotFound},
      {"serial", platform::kErrorFileNotFound},
      {"\\\\.\\NUL", platform::kErrorInvalidHandle},  // opens, but is no comm port
  };
  for (const auto& [name, error] : cases) {
    EXPECT_EQ(port.open(name), error) << name;
    EXPECT_FALSE(port.isOpen()) << name;
    EXPECT_EQ(port.handleValue(), -1) << name;
  }
  EXPECT_EQ(platform::serialErrorText(platform::kErrorFileNotFound), "no such port (error 2)");
}

TEST(WindowsSerialPort, OperationsOnAPortThatIsNotOpen) {
  platform::SerialPort port;
  platform::SerialSettings settings;
  EXPECT_FALSE(port.settings(&settings));
  EXPECT_EQ(port.configure(19200), platform::kErrorInvalidHandle);
  EXPECT_EQ(port.configure(19201), platform::kErrorInvalidParameter);
  EXPECT_EQ(port.write("x", 1), platform::kErrorInvalidHandle);
  long error = -1;
  char byte;
  EXPECT_EQ(port.receive(&byte, 1, &error), 0);
  EXPECT_EQ(error, platform::kErrorSuccess);
  EXPECT_FALSE(port.dsr());
  port.setDtr(true);
  port.setRts(true);
  EXPECT_EQ(port.close(), platform::kErrorSuccess);
  EXPECT_FALSE(port.hungUp());
}

TEST(WindowsDevice, NamesAreUpperCasedDeviceNamesAndOthersNameNoDevice) {
  const std::pair<const char*, const char*> cases[] = {
      {"\\\\.\\VNLUSB3", "\\\\.\\VNLUSB3"}, {"\\\\.\\vnlUsb0", "\\\\.\\VNLUSB0"}, {"\\\\.\\", ""},
      {"VNLUSB0", ""}, {"\\\\.\\VNL/USB0", ""}, {"\\\\.\\..", ""}, {"\\\\.\\VNL USB0", ""},
      {"\\\\?\\VNLUSB0", ""}, {"\\\\.\\a\\b", ""}, {"\\\\.\\pipe\\x", ""},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(platform::devicePath(name), path) << name;
}

// No exchange driver on the test machine: every VNLUSB device is absent.
TEST(WindowsDevice, AbsentDevicesAndANotOpenDeviceFailWithTheirErrors) {
  platform::Device device;
  for (int n = 0; n <= 9; ++n) {
    const std::string name = "\\\\.\\VNLUSB" + std::to_string(n);
    EXPECT_EQ(device.open(name), platform::kErrorFileNotFound) << name;
  }
  EXPECT_EQ(device.open("\\\\.\\..\\VNLUSB0"), platform::kErrorFileNotFound);
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(device.handleValue(), -1);
  uint8_t buffer[8];
  uint32_t bytes = 99;
  EXPECT_EQ(device.control(kDeviceReadBlock, nullptr, 0, buffer, sizeof buffer, &bytes),
            platform::kErrorInvalidHandle);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(device.control(kDeviceWriteBlock, buffer, platform::kDeviceMaxTransfer + 1, nullptr, 0, &bytes),
            platform::kErrorInvalidParameter);
  device.close();
}

// The NUL device opens like any device and refuses the exchange's requests
// with a status of its own, which reaches the caller as it is; nothing is
// written to the caller's buffer and the device stays usable until close.
TEST(WindowsDevice, ADeviceThatRefusesTheRequestsReportsItsStatus) {
  platform::Device device;
  ASSERT_EQ(device.open("\\\\.\\NUL"), platform::kErrorSuccess);
  EXPECT_TRUE(device.isOpen());
  EXPECT_NE(device.handleValue(), -1);
  EXPECT_EQ(device.open("\\\\.\\NUL"), platform::kErrorAccessDenied) << "already open";
  uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  uint32_t bytes = 99;
  const uint8_t data[3] = {1, 2, 3};
  for (int round = 0; round < 2; ++round) {
    long read = device.control(kDeviceReadBlock, nullptr, 0, buffer, sizeof buffer, &bytes);
    EXPECT_NE(read, platform::kErrorSuccess);
    EXPECT_NE(read, platform::kDeviceGone);
    EXPECT_EQ(bytes, 0u);
    EXPECT_NE(device.control(kDeviceWriteBlock, data, sizeof data, nullptr, 0, &bytes), platform::kErrorSuccess);
  }
  EXPECT_EQ(buffer[0], 0xEE);
  device.close();
  EXPECT_FALSE(device.isOpen());
  EXPECT_EQ(device.control(kDeviceReadBlock, nullptr, 0, buffer, sizeof buffer, &bytes),
            platform::kErrorInvalidHandle);
  EXPECT_EQ(device.open("\\\\.\\NUL"), platform::kErrorSuccess) << "open again after close";
}

}  // namespace
