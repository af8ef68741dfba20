// Windows Sockets behind the platform's socket classes, beyond the tests
// shared with Linux (tcp_socket_test.cpp, udp_socket_test.cpp): an echo over
// loopback, a receive time-out, a shut-down ending a send blocked on a peer
// that reads nothing, and a UDP socket that an ICMP "port unreachable" for an
// earlier datagram does not disturb. Loopback only.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"
#include "platform/udp_socket.h"
#include "platform/win_error.h"

namespace {

TEST(WindowsTcpSocket, EchoesOverLoopbackAndTimesOutAnEmptyWait) {
  platform::TcpListener listener = platform::TcpListener::listen("127.0.0.1", 0);
  ASSERT_TRUE(listener.valid());
  std::thread echo([&] {
    platform::TcpSocket peer = listener.accept(10000);
    char buffer[256];
    long n;
    while ((n = peer.receive(buffer, sizeof buffer)) > 0) peer.send(buffer, static_cast<size_t>(n));
  });
  int error = -1;
  platform::TcpSocket client = platform::TcpSocket::connect("127.0.0.1", listener.port(), &error, 10000);
  ASSERT_TRUE(client.valid());
  EXPECT_EQ(error, 0);
  EXPECT_NE(client.localPort(), 0);
  EXPECT_FALSE(client.waitReadable(20)) << "nothing sent yet";
  for (const std::string text : {"hello", "a longer line of text", "x"}) {
    ASSERT_EQ(client.send(text.data(), text.size(), &error), static_cast<long>(text.size()));
    std::string back;
    char buffer[64];
    while (back.size() < text.size() && client.waitReadable(10000)) {
      long n = client.receive(buffer, sizeof buffer, &error);
      ASSERT_GT(n, 0) << error;
      back.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(back, text);
  }
  client.close();
  echo.join();
  EXPECT_FALSE(client.valid());
}

// Windows does not promise that shutdown() alone ends a blocked send; the
// platform's shutdownBoth must end it (and a blocked receive, shared test).
TEST(WindowsTcpSocket, ShutdownEndsASendBlockedOnAPeerThatReadsNothing) {
  platform::TcpListener listener = platform::TcpListener::listen("127.0.0.1", 0);
  platform::TcpSocket client = platform::TcpSocket::connect("127.0.0.1", listener.port());
  platform::TcpSocket server = listener.accept(10000);
  ASSERT_TRUE(server.valid());
  // Far more than loopback buffers hold: the send blocks until the shutdown.
  std::vector<char> block(64 << 20, 'x');
  long sent = 0;
  int error = 0;
  std::thread sender([&] { sent = client.send(block.data(), block.size(), &error); });
  long received = 0;
  char buffer[4096];
  // Some bytes arrive: the sender is under way (or blocked) before the shutdown.
  ASSERT_TRUE(server.waitReadable(10000));
  received = server.receive(buffer, sizeof buffer);
  EXPECT_GT(received, 0);
  client.shutdownBoth();
  sender.join();
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(error, platform::kWsaShutDown);
}

// Windows reports an earlier datagram's "port unreachable" on the next
// receive of an unconnected socket (WSAECONNRESET); the socket turns that
// report off, so a receive gets the next datagram as on Linux.
TEST(WindowsUdpSocket, AnUnreachablePortDoesNotDisturbTheNextReceive) {
  platform::UdpSocket gone, a, b;
  ASSERT_TRUE(gone.open("127.0.0.1", 0));
  const uint16_t gonePort = gone.localPort();
  gone.close();
  ASSERT_TRUE(a.open("127.0.0.1", 0));
  ASSERT_TRUE(b.open("0.0.0.0", 0));
  EXPECT_TRUE(a.sendTo("lost", 4, "127.0.0.1", gonePort));
  ASSERT_TRUE(b.sendTo("found", 5, "127.0.0.1", a.localPort()));
  char buffer[16];
  std::string sender, error;
  uint16_t port = 0;
  EXPECT_EQ(a.receiveFrom(buffer, sizeof buffer, &sender, &port, &error), 5) << error;
  EXPECT_EQ(std::string(buffer, 5), "found");
  EXPECT_EQ(sender, "127.0.0.1");
  EXPECT_EQ(port, b.localPort());
}

TEST(WindowsUdpSocket, ASecondOpenAndAClosedSocketAreRefused) {
  platform::UdpSocket socket;
  std::string error;
  ASSERT_TRUE(socket.open("127.0.0.1", 0));
  EXPECT_FALSE(socket.open("127.0.0.1", 0, &error));
  EXPECT_EQ(error, "socket already opened");
  socket.close();
  EXPECT_FALSE(socket.isOpen());
  EXPECT_EQ(socket.localPort(), 0);
  char buffer[4];
  EXPECT_EQ(socket.receiveFrom(buffer, sizeof buffer, nullptr, nullptr, &error), -1);
  EXPECT_EQ(error, "socket closed");
  EXPECT_FALSE(socket.open("127.0.0.1", 0, &error)) << "closed for good";
}

}  // namespace
