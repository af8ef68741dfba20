#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(UdpSocket, SendsReceivesAndCutsLongDatagrams) {
  platform::UdpSocket a, b;
  ASSERT_TRUE(a.open("127.0.0.1", 0));
  ASSERT_TRUE(b.open("127.0.0.1", 0));
  const struct {
    std::string datagram;
    size_t capacity;
    long length;
  } rows[] = {{"hello", 64, 5}, {std::string(300, 'x'), 255, 255}, {"", 8, 0}};
  for (const auto& row : rows) {
    ASSERT_TRUE(a.sendTo(row.datagram.data(), row.datagram.size(), "127.0.0.1", b.localPort()));
    std::string buffer(row.capacity, '\0'), sender;
    uint16_t port = 0;
    EXPECT_EQ(b.receiveFrom(buffer.data(), buffer.size(), &sender, &port), row.length);
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(row.length)), row.datagram.substr(0, row.capacity));
    EXPECT_EQ(sender, "127.0.0.1");
    EXPECT_EQ(port, a.localPort());
  }
}

TEST(UdpSocket, ReportsErrorsAsText) {
  platform::UdpSocket a, b;
  std::string error;
  ASSERT_TRUE(a.open("127.0.0.1", 0));
  EXPECT_FALSE(b.open("127.0.0.1", a.localPort(), &error));
  EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
  EXPECT_FALSE(b.open("no address", 0, &error));
  EXPECT_NE(error.find("no dotted IPv4 address"), std::string::npos) << error;
  EXPECT_FALSE(a.sendTo("x", 1, "300.1.1.1", 5000, &error));
  a.close();
  EXPECT_FALSE(a.sendTo("x", 1, "127.0.0.1", 5000, &error));
  EXPECT_EQ(error, "socket closed");
}

TEST(UdpSocket, CloseWakesABlockedReceive) {
  platform::UdpSocket socket;
  ASSERT_TRUE(socket.open("127.0.0.1", 0));
  long result = 0;
  std::string error;
  std::thread receiver([&] {
    char buffer[16];
    result = socket.receiveFrom(buffer, sizeof buffer, nullptr, nullptr, &error);
  });
  socket.close();  // before or while the receive waits: both must end it
  receiver.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, "socket closed");
  EXPECT_TRUE(socket.isClosed());
}

}  // namespace
