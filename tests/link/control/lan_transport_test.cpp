// The LAN link's transport over a real loopback connection to a peer of the
// test: our own close ends a receive blocked in another thread, quietly, and
// later sends fail with the Windows socket error number; a send the peer
// takes nothing of ends at its time limit and closes. (Bytes both ways,
// the peer's close and a refused connection are the process tests'.)
#include "link/control/lan_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"
#include "tests/link/control/deaf_peer.h"
#include "tests/link/control/link_log_capture.h"

namespace {

TEST(LanTransport, ClosingWakesABlockedReceiveQuietlyAndStopsSending) {
  tktest::LinkLogCapture log;
  platform::TcpListener listener = platform::TcpListener::listen("127.0.0.1", 0);
  LanTransport transport;
  ASSERT_EQ(transport.Open("127.0.0.1", listener.port()), 1);
  platform::TcpSocket peer = listener.accept(5000);
  ASSERT_TRUE(peer.valid());
  int received = -1;
  std::thread receiver([&] {
    uint8_t buffer[64];
    received = transport.Receive(buffer, sizeof buffer);
  });
  // The receive may or may not be blocked yet: either way it must end.
  transport.Close();
  receiver.join();
  EXPECT_EQ(received, 0);
  EXPECT_FALSE(log.Contains("Server closed connection")) << "the end was ours";
  EXPECT_EQ(transport.Send(reinterpret_cast<const uint8_t*>("x"), 1), 0);
  EXPECT_TRUE(log.Contains("send() failed: error 10057 !\r\n")) << "WSAENOTCONN\n" << log.Text();
  // The peer sees the connection end.
  uint8_t b;
  EXPECT_TRUE(peer.waitReadable(5000));
  EXPECT_EQ(peer.receive(&b, 1), 0);
  transport.Release();
}

// A send that blocks because the peer takes no bytes holds the send lock;
// the close must not wait for it, and ends it instead.
TEST(LanTransport, ClosingEndsASendBlockedOnAPeerThatTakesNoBytes) {
  tktest::LinkLogCapture log;
  tktest::DeafPeer peer;
  ASSERT_TRUE(peer.listening());
  LanTransport transport;
  ASSERT_EQ(transport.Open("127.0.0.1", peer.port()), 1);
  ASSERT_TRUE(peer.Accept());
  // Far more than the buffers of both ends hold.
  const std::vector<uint8_t> block(16 << 20, 0x55);
  int sent = -1;
  std::thread sender([&] { sent = transport.Send(block.data(), block.size()); });
  ASSERT_TRUE(peer.WaitReadable()) << "the send began";

  auto closed = std::async(std::launch::async, [&] { transport.Close(); });
  const bool ended = closed.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!ended) peer.Hangup();  // frees the send, so that the test can end
  sender.join();
  EXPECT_TRUE(ended) << "Close waited for the blocked send";
  EXPECT_EQ(sent, 0);
  EXPECT_TRUE(log.Contains("send() failed: error 10058 !\r\n")) << "WSAESHUTDOWN\n" << log.Text();
  transport.Release();
}

}  // namespace

// The only thread that could close is the one blocked in the send (the
// window thread sending a client's block): the send time limit ends it, and
// the connection with it, since part of the frame may have gone out. The
// receive side then sees the end, which takes the link down.
TEST(LanTransport, ASendThePeerTakesNoByteOfEndsAtTheLimitAndClosesTheConnection) {
  tktest::LinkLogCapture log;
  tktest::DeafPeer peer;
  ASSERT_TRUE(peer.listening());
  LanTransport transport;
  ASSERT_EQ(transport.Open("127.0.0.1", peer.port(), nullptr, 300), 1);
  ASSERT_TRUE(peer.Accept());
  const std::vector<uint8_t> block(16 << 20, 0x55);
  auto sent = std::async(std::launch::async, [&] { return transport.Send(block.data(), block.size()); });
  const bool ended = sent.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  if (!ended) peer.Hangup();  // frees the send, so that the test can end
  ASSERT_TRUE(ended) << "the send went on past its time limit";
  EXPECT_EQ(sent.get(), 0);
  EXPECT_TRUE(log.Contains("send() failed: error 10060 !\r\n")) << "WSAETIMEDOUT\n" << log.Text();
  EXPECT_TRUE(log.Contains("SendSocket: no byte taken for 300 ms, connection closed\r\n")) << log.Text();
  uint8_t buffer[16];
  EXPECT_EQ(transport.Receive(buffer, sizeof buffer), 0) << "the connection is closed";
  EXPECT_EQ(transport.Send(block.data(), 1), 0);
  EXPECT_TRUE(log.Contains("send() failed: error 10057 !\r\n")) << "WSAENOTCONN\n" << log.Text();
  transport.Release();
}
