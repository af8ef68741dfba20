// The LAN transport against a peer on a loopback socket of the test.
#include "link/control/lan_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"
#include "tests/link/control/link_log_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FakeHost : public LanLinkHost {
 public:
  int32_t DeliverBlock(uint32_t service, const uint8_t* data, uint32_t length) override {
    delivered.push_back({service, Bytes(data, data + length)});
    return answer;
  }
  void RestartKeepAliveTimer(uint32_t periodMs) override { restarts.push_back(periodMs); }

  struct Block {
    uint32_t service;
    Bytes data;
    bool operator==(const Block&) const = default;
  };
  std::vector<Block> delivered;
  std::vector<uint32_t> restarts;
  int32_t answer = 1;
};

class LanLinkTest : public ::testing::Test {
 protected:
  void Connect(uint32_t keepalive) {
    listener_ = platform::TcpListener::listen("127.0.0.1", 0);
    ASSERT_TRUE(listener_.valid());
    link_ = std::make_unique<LanLink>(host_, KeepAliveSupervision(keepalive, 61000));
    ASSERT_EQ(link_->OpenSocket("127.0.0.1", listener_.port()), 1);
    peer_ = listener_.accept(5000);
    ASSERT_TRUE(peer_.valid());
  }

  // Exactly count bytes from the peer's side, or what came within the time.
  Bytes PeerReads(size_t count) {
    Bytes bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      if (!peer_.waitReadable(100)) continue;
      uint8_t buffer[8192];
      long n = peer_.receive(buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }
  void PeerSends(const Bytes& bytes) { ASSERT_EQ(peer_.send(bytes.data(), bytes.size()), static_cast<long>(bytes.size())); }

  // One receive and the handling of every frame in it, as the receive thread does.
  int ReceiveAndProcess() {
    uint8_t buffer[4096];
    int received = link_->ReceiveSocket(buffer, sizeof buffer);
    std::vector<uint8_t> frame;
    bool found = received > 0 && link_->CheckSocketFrame(frame, buffer, static_cast<size_t>(received));
    while (found) {
      link_->ProcessSocketFrame(&frame);
      found = link_->CheckSocketFrame(frame, nullptr, 0);
    }
    return received;
  }

  tktest::LinkLogCapture log_;
  FakeHost host_;
  platform::TcpListener listener_;
  std::unique_ptr<LanLink> link_;
  platform::TcpSocket peer_;
};

TEST_F(LanLinkTest, AClientBlockGoesOutAsOneTaggedFrame) {
  Connect(0);
  const uint8_t block[] = {0x10, 0x20, 0x30, 0x40, 0x50};
  link_->SendClientBlock(block, sizeof block);
  EXPECT_EQ(PeerReads(8), (Bytes{0xC5, 0x00, 0x05, 0x10, 0x20, 0x30, 0x40, 0x50}));
  EXPECT_TRUE(host_.restarts.empty()) << "keep-alive is off";
}

TEST_F(LanLinkTest, WithKeepAliveOnAClientBlockRestartsTheSupervision) {
  Connect(3);
  link_->SendClientBlock("x", 1);
  EXPECT_EQ(PeerReads(4), (Bytes{0xC5, 0x00, 0x01, 'x'}));
  EXPECT_EQ(host_.restarts, std::vector<uint32_t>{61000});
}

TEST_F(LanLinkTest, WithKeepAliveOnAKeepAliveFrameIsEchoedUnchangedAndNotDelivered) {
  Connect(1);
  PeerSends({0xC5, 0x00, 0x03, 0xF2, 0x12, 0x34});
  EXPECT_EQ(ReceiveAndProcess(), 6);
  EXPECT_EQ(PeerReads(6), (Bytes{0xC5, 0x00, 0x03, 0xF2, 0x12, 0x34}));
  EXPECT_TRUE(host_.delivered.empty());
  EXPECT_EQ(host_.restarts, std::vector<uint32_t>{61000});
  EXPECT_TRUE(link_->supervision().seen());

  // From now on data frames restart the supervision as well, and are delivered.
  PeerSends({0xC5, 0x00, 0x01, 0x07});
  ReceiveAndProcess();
  EXPECT_EQ(host_.delivered, (std::vector<FakeHost::Block>{{0x20, {0x07}}}));
  EXPECT_EQ(host_.restarts.size(), 2u);
}

TEST_F(LanLinkTest, WithKeepAliveOffAKeepAliveFrameIsDeliveredToTheTelephonyService) {
  Connect(2);  // bit 0 clear
  // Two frames in one segment.
  PeerSends({0xC5, 0x00, 0x03, 0xF2, 0x12, 0x34, 0xC5, 0x00, 0x02, 0xAA, 0xBB});
  ReceiveAndProcess();
  EXPECT_EQ(host_.delivered, (std::vector<FakeHost::Block>{{0x20, {0xF2, 0x12, 0x34}}, {0x20, {0xAA, 0xBB}}}));
  EXPECT_TRUE(host_.restarts.empty());
  EXPECT_FALSE(peer_.waitReadable(50)) << "nothing echoed";
}

TEST_F(LanLinkTest, ABlockTheLibraryRefusesIsReportedAsAQueueError) {
  Connect(0);
  host_.answer = -1;
  std::vector<uint8_t> frame{0x01};
  EXPECT_EQ(link_->ProcessSocketFrame(&frame), 0);
  EXPECT_TRUE(log_.Contains("ProcessSocketFrame failed: VNL2_QUEUE_ERROR !\r\n"));
  EXPECT_EQ(link_->ProcessSocketFrame(nullptr), 0);
  EXPECT_TRUE(log_.Contains("ProcessSocketFrame failed: Receiveframe is NULL !\r\n"));
}

TEST_F(LanLinkTest, ABlockLongerThanAFrameCanSayIsNotSentCut) {
  Connect(0);
  Bytes huge(0x10000 + 5, 0x77);
  link_->SendClientBlock(huge.data(), static_cast<uint32_t>(huge.size()));
  link_->SendClientBlock("ok", 2);
  EXPECT_EQ(PeerReads(5), (Bytes{0xC5, 0x00, 0x02, 'o', 'k'}));
  EXPECT_TRUE(log_.Contains("SendSocketFrame failed - block of 65541 bytes too long !\r\n")) << log_.Text();

  // The longest block a frame can carry goes out whole.
  Bytes longest(0xFFFF, 0x42);
  link_->SendClientBlock(longest.data(), static_cast<uint32_t>(longest.size()));
  Bytes got = PeerReads(3 + 0xFFFF);
  ASSERT_EQ(got.size(), 3u + 0xFFFF);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{0xC5, 0xFF, 0xFF}));

  EXPECT_EQ(link_->SendSocketFrame(nullptr, 3), 0);
  EXPECT_TRUE(log_.Contains("SendSocketFrame failed - pData or nDatalen 0 !\r\n"));
}

TEST_F(LanLinkTest, ThePeerClosingEndsTheReceive) {
  Connect(0);
  peer_.close();
  EXPECT_EQ(ReceiveAndProcess(), 0);
  EXPECT_TRUE(log_.Contains("Server closed connection\n\r\n"));
}

TEST_F(LanLinkTest, ClosingWakesABlockedReceiveAndStopsSending) {
  Connect(0);
  int received = -1;
  std::thread receiver([&] { received = ReceiveAndProcess(); });
  // The receive may or may not be blocked yet: either way it must end.
  EXPECT_EQ(link_->CloseSocket(), 1);
  receiver.join();
  EXPECT_EQ(received, 0);
  EXPECT_FALSE(log_.Contains("Server closed connection")) << "the end was ours";
  EXPECT_EQ(link_->SendSocketFrame(reinterpret_cast<const uint8_t*>("x"), 1), 0);
  EXPECT_TRUE(log_.Contains("send() failed: error "));
  EXPECT_TRUE(log_.Contains("SendSocketFrame failed !\r\n"));
  // The peer sees the connection end.
  uint8_t b;
  EXPECT_TRUE(peer_.waitReadable(5000));
  EXPECT_EQ(peer_.receive(&b, 1), 0);
  link_->ReleaseSocket();
}

TEST_F(LanLinkTest, ARefusedConnectionFailsTheOpen) {
  auto listener = platform::TcpListener::listen("127.0.0.1", 0);
  uint16_t port = listener.port();
  listener.close();
  LanLink link(host_, KeepAliveSupervision(1, 61000));
  EXPECT_EQ(link.OpenSocket("127.0.0.1", port), 0);
  EXPECT_TRUE(log_.Contains("connect() failed: ")) << log_.Text();
  EXPECT_EQ(link.SendSocketFrame(reinterpret_cast<const uint8_t*>("x"), 1), 0);
}

}  // namespace
