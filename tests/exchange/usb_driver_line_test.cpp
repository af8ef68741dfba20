// The USB link of the exchange in-process: the test plays the link control
// process's device interface on the socket $TK_ROOT/dev/VNLUSBn, speaking the
// requests of platform/device_wire.h, and builds its frames with the control
// process's own codec (layer2_frame.h).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "exchange/command_interpreter.h"
#include "exchange/echo_engine.h"
#include "exchange/serial_exchange.h"
#include "link/control/layer2_frame.h"
#include "platform/device_wire.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"
#include "tests/support/test_root.h"

namespace {

using exchange::SerialExchange;
using exchangetest::Bytes;
using namespace std::chrono_literals;
using platform::kDeviceReadBlock;
using platform::kDeviceWriteBlock;

struct Answer {
  uint32_t code = 0;
  uint32_t status = 0;
  uint32_t count = 0;
  Bytes data;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
  return out << std::hex << "{0x" << a.code << std::dec << ", " << a.status << ", " << a.count << ", "
             << exchange::ToHex(a.data) << "}";
}

void PutLe32(Bytes& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t Le32(const Bytes& in, size_t at) {
  return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// The control process's device interface, on a raw Unix socket.
class DeviceClient {
 public:
  ~DeviceClient() { Close(); }
  bool Connect(const std::string& path) {
    Close();
    ended_ = false;
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = Address(path);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // inLength: what the header says, if not the input's length.
  bool Request(uint32_t code, const Bytes& input, uint32_t capacity, std::optional<uint32_t> inLength = {}) {
    Bytes bytes;
    PutLe32(bytes, code);
    PutLe32(bytes, inLength.value_or(static_cast<uint32_t>(input.size())));
    PutLe32(bytes, capacity);
    bytes.insert(bytes.end(), input.begin(), input.end());
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  bool Write(const Bytes& input) { return Request(kDeviceWriteBlock, input, 0); }
  bool Read(uint32_t capacity = 4096) { return Request(kDeviceReadBlock, {}, capacity); }

  // The next answer, or nullopt at the end of the connection or after 5 s.
  std::optional<Answer> Next() {
    Bytes header = Receive(platform::kDeviceHeaderSize);
    if (header.size() < platform::kDeviceHeaderSize) return std::nullopt;
    Answer answer{Le32(header, 0), Le32(header, 4), Le32(header, 8), {}};
    if (answer.code == kDeviceReadBlock) answer.data = Receive(answer.count);
    return answer;
  }
  // True when the driver closes the connection within 5 s.
  bool Ended() { return !Next() && ended_; }

 private:
  Bytes Receive(size_t count) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (bytes.size() < count && !ended_ && std::chrono::steady_clock::now() < deadline) {
      pollfd in{fd_, POLLIN, 0};
      if (::poll(&in, 1, 20) <= 0) continue;
      uint8_t chunk[4096];
      ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
      if (n <= 0) ended_ = true;
      if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }
  int fd_ = -1;
  bool ended_ = false;
};

const Bytes kServiceRequest = {0x1B, 0x43};
const std::string kCtiAnswer = "\r\nCTI TKSIM 115200\r";

Answer Wrote(size_t count) { return {kDeviceWriteBlock, 0, static_cast<uint32_t>(count), {}}; }
Answer ReadGave(const Bytes& data) { return {kDeviceReadBlock, 0, static_cast<uint32_t>(data.size()), data}; }

class UsbDriverLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(exchange_.OpenUsb(3, &error)) << error;
    ASSERT_TRUE(exchange_.Start());
    ASSERT_TRUE(client_.Connect(path_));
  }

  // Service request and answer, START and UA, each a write then a read.
  void SetUpLink(DeviceClient& client) {
    ASSERT_TRUE(client.Write(kServiceRequest));
    ASSERT_EQ(client.Next(), Wrote(2));
    ASSERT_TRUE(client.Read());
    ASSERT_EQ(client.Next(), ReadGave(Bytes(kCtiAnswer.begin(), kCtiAnswer.end())));
    ASSERT_TRUE(client.Write(layer2::BuildUFrame(layer2::kSTART, 0)));
    ASSERT_EQ(client.Next(), Wrote(6));
    ASSERT_TRUE(client.Read());
    ASSERT_EQ(client.Next(), ReadGave(layer2::BuildUFrame(layer2::kUA, 0)));
    ASSERT_TRUE(exchange_.WaitConnected(5s));
  }

  std::string Run(const std::string& line) { return interpreter_.Execute(line)->line; }

  const std::string path_ = tktest::currentRoot() + "/dev/VNLUSB3";
  exchangetest::RecordingEvents events_;
  exchange::EchoEngine engine_;
  SerialExchange exchange_{engine_, events_};
  exchange::CommandInterpreter interpreter_{exchange_, {}};
  DeviceClient client_;
};

TEST_F(UsbDriverLineTest, ServesTheServiceAnswerAndFramesAndAPendingReadLetsWritesPass) {
  EXPECT_EQ(events_.Lines().front(), "usb " + path_);
  // The read waits for data; the write behind it is answered first.
  ASSERT_TRUE(client_.Read(8));
  ASSERT_TRUE(client_.Write(kServiceRequest));
  EXPECT_EQ(client_.Next(), Wrote(2));
  EXPECT_EQ(client_.Next(), ReadGave(Bytes(kCtiAnswer.begin(), kCtiAnswer.begin() + 8))) << "up to the capacity";
  ASSERT_TRUE(client_.Read());
  EXPECT_EQ(client_.Next(), ReadGave(Bytes(kCtiAnswer.begin() + 8, kCtiAnswer.end())));
  ASSERT_TRUE(client_.Write(layer2::BuildUFrame(layer2::kSTART, 0)));
  EXPECT_EQ(client_.Next(), Wrote(6));
  ASSERT_TRUE(client_.Read());
  EXPECT_EQ(client_.Next(), ReadGave(layer2::BuildUFrame(layer2::kUA, 0)));
  EXPECT_TRUE(exchange_.WaitConnected(5s));

  const Bytes block = layer2::BuildIFrame(0, 0, 0x20, Bytes{1, 2, 3});
  ASSERT_TRUE(client_.Write(block));
  EXPECT_EQ(client_.Next(), Wrote(block.size()));
  ASSERT_TRUE(client_.Read());
  EXPECT_EQ(client_.Next(), ReadGave(layer2::BuildIFrame(1, 0, 0x20, Bytes{1, 2, 3}))) << "the echo";
  EXPECT_NE(Run("status").find(" usb=" + path_ + " plugged=yes device-open=yes"), std::string::npos);

  // The client closing the device takes the link down; the next one starts afresh.
  client_.Close();
  EXPECT_TRUE(exchange_.WaitDisconnected(5s));
  EXPECT_TRUE(events_.WaitFor("device-closed"));
  ASSERT_TRUE(client_.Connect(path_));
  SetUpLink(client_);
}

// Requests the driver refuses: the answer, and whether the connection goes on.
TEST_F(UsbDriverLineTest, RefusesBadRequestsWithAStatus) {
  struct Case {
    uint32_t code;
    uint32_t inLength;
    uint32_t capacity;
    Answer answer;
    bool closes;
  };
  const uint32_t tooLong = platform::kDeviceMaxTransfer + 1;
  const Case cases[] = {
      {0x00220000, 2, 0, {0x00220000, 1, 0, {}}, false},
      {kDeviceReadBlock, 0, 0, {kDeviceReadBlock, 87, 0, {}}, false},
      {kDeviceWriteBlock, tooLong, 0, {kDeviceWriteBlock, 87, 0, {}}, true},
      {kDeviceReadBlock, 0, tooLong, {kDeviceReadBlock, 87, 0, {}}, true},
      {0x12345678, 0xFFFFFFFF, 0, {0x12345678, 87, 0, {}}, true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(client_.Connect(path_));
    ASSERT_TRUE(client_.Request(c.code, c.inLength == 2 ? kServiceRequest : Bytes{}, c.capacity, c.inLength));
    EXPECT_EQ(client_.Next(), c.answer) << c.code;
    if (c.closes) {
      EXPECT_TRUE(client_.Ended()) << c.code;
    } else {
      ASSERT_TRUE(client_.Write(kServiceRequest)) << "the connection goes on";
      EXPECT_EQ(client_.Next(), Wrote(2));
    }
  }
  // A second read while one is pending fails; the first one stays.
  ASSERT_TRUE(client_.Connect(path_));
  ASSERT_TRUE(client_.Read());
  ASSERT_TRUE(client_.Read());
  EXPECT_EQ(client_.Next(), (Answer{kDeviceReadBlock, 31, 0, {}}));
  EXPECT_TRUE(events_.WaitFor("device-refused 0x00220000 status=1"));
}

TEST_F(UsbDriverLineTest, DeviceFaultsZeroWriteFailReadAndUnplug) {
  SetUpLink(client_);
  EXPECT_EQ(Run("zero-write"), "ok zero-write");
  ASSERT_TRUE(client_.Write(layer2::BuildIFrame(0, 0, 0x20, Bytes{7})));
  EXPECT_EQ(client_.Next(), Wrote(0)) << "nothing written";
  ASSERT_TRUE(client_.Read());
  EXPECT_EQ(Run("fail-read"), "ok fail-read");
  EXPECT_EQ(client_.Next(), (Answer{kDeviceReadBlock, 31, 0, {}})) << "the pending read fails";
  EXPECT_FALSE(exchange_.WaitBlock({}, 0ms)) << "the zero write's block never arrived";

  EXPECT_EQ(Run("unplug"), "ok unplug");
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_TRUE(client_.Ended());
  EXPECT_TRUE(exchange_.WaitDisconnected(5s));
  DeviceClient other;
  EXPECT_FALSE(other.Connect(path_));
  EXPECT_EQ(Run("plug"), "ok plug");
  ASSERT_TRUE(other.Connect(path_));
  SetUpLink(other);
  EXPECT_TRUE(events_.WaitFor("plugged"));
}

// The socket file: a second driver is refused while the first serves it, a
// dead driver's file is replaced, and a clean close removes it.
TEST_F(UsbDriverLineTest, ASocketStillServedIsRefusedAStaleOneReplaced) {
  exchange::UsbDriverLine second;
  std::string error;
  EXPECT_FALSE(second.Open(3, &error));
  EXPECT_EQ(error, path_ + " is served by another driver (a running tksim?)");
  DeviceClient refused;
  ASSERT_TRUE(refused.Connect(path_));
  EXPECT_TRUE(refused.Ended()) << "one client at a time";

  exchange_.Close();
  EXPECT_FALSE(std::filesystem::exists(path_));
  // A socket bound and closed: its file stays, as after a driver that died.
  int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = Address(path_);
  ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(dead);
  ASSERT_TRUE(second.Open(3, &error)) << error;
  ASSERT_TRUE(refused.Connect(path_));
  second.Close();
  std::ofstream(tktest::currentRoot() + "/dev/VNLUSB5") << "mine";
  EXPECT_FALSE(second.Open(5, &error));
  EXPECT_EQ(error, tktest::currentRoot() + "/dev/VNLUSB5 exists and is not a socket");
}

}  // namespace
