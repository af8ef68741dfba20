// The LAN side of the exchange in-process, over real loopback sockets, with
// a fake clock for keep-alives: framing both ways, keep-alive echoes, one
// client at a time, and the fault injection the commands use.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "exchange/echo_engine.h"
#include "exchange/fault_injector.h"
#include "exchange/lan_exchange.h"
#include "platform/fake_clock.h"
#include "tests/exchange/frame_client.h"
#include "tests/exchange/recording_events.h"

namespace {

using exchange::LanExchange;
using exchangetest::Bytes;
using exchangetest::FrameClient;
using exchangetest::Hex;
using exchangetest::RecordingEvents;
using namespace std::chrono_literals;

// Greets every new connection and counts ticks: the hooks a protocol engine
// gets besides received blocks.
class GreetingEngine : public exchange::EchoEngine {
 public:
  void OnConnected(exchange::BlockSink& out) override { out.SendBlock(Hex("600100")); }
  void OnTick(uint32_t, exchange::BlockSink&) override { ++ticks; }
  std::atomic<int> ticks{0};
};

class LanExchangeTest : public ::testing::Test {
 protected:
  void StartExchange(uint32_t keepaliveMs = 0, exchange::ProtocolEngine* engine = nullptr,
                     exchange::FaultInjector* faults = nullptr, exchange::RequestRefuser* refuser = nullptr) {
    exchange_ = std::make_unique<LanExchange>(engine ? *engine : echo_, events_, clock_);
    exchange_->SetKeepalivePeriod(keepaliveMs);
    exchange_->SetFaults(faults, refuser);
    std::string error;
    ASSERT_TRUE(exchange_->Listen("127.0.0.1", 0, false, &error)) << error;
    ASSERT_TRUE(exchange_->Start());
  }

  // A connected client, after the exchange has reported the connection.
  void Connect(FrameClient& client, size_t connectionNumber = 1) {
    ASSERT_TRUE(client.Connect(exchange_->Port()));
    ASSERT_TRUE(events_.WaitFor("connected", connectionNumber));
  }

  void TearDown() override {
    if (exchange_) exchange_->Stop();
  }

  platform::FakeClock clock_{5000};
  exchange::EchoEngine echo_;
  RecordingEvents events_;
  std::unique_ptr<LanExchange> exchange_;
};

TEST_F(LanExchangeTest, ListenReportsItsPortAndRefusesNonLoopbackAddresses) {
  StartExchange();
  EXPECT_NE(exchange_->Port(), 0);
  EXPECT_EQ(events_.Lines().at(0), "listening 127.0.0.1:" + std::to_string(exchange_->Port()));

  LanExchange other(echo_, events_, clock_);
  std::string error;
  for (const char* address : {"10.1.2.3", "0.0.0.0", "192.168.0.1"}) {
    EXPECT_FALSE(other.Listen(address, 0, false, &error)) << address;
    EXPECT_NE(error.find("not a loopback address"), std::string::npos) << error;
  }
  EXPECT_FALSE(other.Listen("localhost", 0, false, &error));
  EXPECT_NE(error.find("not a dotted IPv4 address"), std::string::npos) << error;
  EXPECT_FALSE(other.Start()) << "nothing to serve";
}

TEST_F(LanExchangeTest, EchoesDataFramesWhetherTheyArriveJoinedOrCut) {
  StartExchange();
  FrameClient client;
  Connect(client);

  ASSERT_TRUE(client.SendHex("c500050102030405"));
  EXPECT_EQ(client.ReceiveExactly(8), Hex("c500050102030405"));

  // Two frames in one segment, then a frame whose header is cut after one byte.
  ASSERT_TRUE(client.SendHex("c5000111c5000222 33"));
  EXPECT_EQ(client.ReceiveExactly(9), Hex("c5000111c500022233"));
  ASSERT_TRUE(client.SendHex("c5"));
  ASSERT_TRUE(client.SendHex("000144"));
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c5000144"));

  auto lines = events_.Lines();
  std::vector<std::string> blocks;
  for (const auto& l : lines) {
    if (l.rfind("block ", 0) == 0) blocks.push_back(l);
  }
  EXPECT_EQ(blocks, (std::vector<std::string>{"block 0102030405", "block 11", "block 2233", "block 44"}));
  EXPECT_EQ(exchange_->GetStatus().blocksReceived, 4u);
}

TEST_F(LanExchangeTest, KeepAlivesGoOutOnThePeriodAndTheirEchoesAreChecked) {
  StartExchange(1000);
  FrameClient client;
  Connect(client);

  clock_.advance(1000);
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20001"));
  ASSERT_TRUE(client.SendHex("c50003f20001"));
  ASSERT_TRUE(events_.WaitFor("keepalive-echo ok"));

  clock_.advance(1000);
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20002"));
  ASSERT_TRUE(client.SendHex("c50003f2ffff"));
  ASSERT_TRUE(events_.WaitFor("keepalive-mismatch f2ffff"));

  clock_.advance(1000);
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20003"));
  clock_.advance(1000);  // no echo this time
  ASSERT_TRUE(events_.WaitFor("keepalive-missed f20003"));
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20004")) << "the link stays up without drop-on-missed";
  EXPECT_EQ(exchange_->GetStatus().keepalivesMissed, 1u);

  // An echo is not a block for the engine.
  EXPECT_EQ(events_.Count("block f20001"), 0u);
  EXPECT_EQ(exchange_->GetStatus().blocksReceived, 0u);
}

TEST_F(LanExchangeTest, AMissedEchoClosesTheConnectionWhenAskedTo) {
  StartExchange(500);
  exchange_->SetDropOnMissedKeepalive(true);
  FrameClient client;
  Connect(client);
  clock_.advance(500);
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003f20001"));
  clock_.advance(500);
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(events_.WaitFor("disconnected"));
  EXPECT_EQ(events_.Count("keepalive-drop"), 1u);
}

TEST_F(LanExchangeTest, KeepAliveOffSendsNothingAndAnEchoOutOfTheBlueIsReported) {
  StartExchange(0);
  FrameClient client;
  Connect(client);
  clock_.advance(1000000);
  ASSERT_TRUE(client.SendHex("c50003f20005 c500010a"));
  // The data frame behind it is echoed first thing: no keep-alive came before.
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c500010a"));
  EXPECT_EQ(events_.Count("keepalive-unexpected f20005"), 1u);
}

TEST_F(LanExchangeTest, OneClientAtATimeAndTheNextAfterADisconnect) {
  StartExchange();
  FrameClient first;
  Connect(first);

  FrameClient second;
  ASSERT_TRUE(second.Connect(exchange_->Port()));
  EXPECT_TRUE(second.WaitClosed());
  ASSERT_TRUE(events_.WaitFor("refused-second-connection"));

  ASSERT_TRUE(first.SendHex("c5000101"));
  EXPECT_EQ(first.ReceiveExactly(4), Hex("c5000101")) << "the first client is still served";

  first.Close();
  ASSERT_TRUE(events_.WaitFor("disconnected"));
  FrameClient third;
  Connect(third, 2);
  ASSERT_TRUE(third.SendHex("c5000103"));
  EXPECT_EQ(third.ReceiveExactly(4), Hex("c5000103"));
  EXPECT_EQ(exchange_->GetStatus().connections, 2u);
}

TEST_F(LanExchangeTest, UnknownTagFromTheClientDropsWhatIsBufferedAndTheLinkGoesOn) {
  StartExchange();
  FrameClient client;
  Connect(client);
  ASSERT_TRUE(client.SendHex("c6000100"));
  ASSERT_TRUE(events_.WaitFor("unknown-tag c6 discarded 4"));
  ASSERT_TRUE(client.SendHex("c5000000"));
  ASSERT_TRUE(events_.WaitFor("empty-frame"));
  ASSERT_TRUE(client.SendHex("c5000177"));
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c5000177")) << "nothing was echoed for the bad or empty frame";
}

TEST_F(LanExchangeTest, WithoutAnsweringBlocksAreReportedButNotEchoed) {
  StartExchange();
  FrameClient client;
  Connect(client);
  exchange_->SetAnswering(false);
  ASSERT_TRUE(client.SendHex("c5000101"));
  ASSERT_TRUE(events_.WaitFor("block 01"));
  exchange_->SetAnswering(true);
  ASSERT_TRUE(client.SendHex("c5000102"));
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c5000102")) << "the first block got no answer";
}

TEST_F(LanExchangeTest, SplitSendsTheNextFrameInSeveralSegments) {
  StartExchange();
  FrameClient client;
  Connect(client);
  // A sender pauses between segments, so it runs on a thread of its own; the
  // pause is long enough that the first segment is read on its own.
  auto sendFromAnotherThread = [&](Bytes block) {
    return std::thread([this, block] { EXPECT_TRUE(exchange_->SendBlock(block)); });
  };
  exchange_->SplitNext(3, 300);
  std::thread sender = sendFromAnotherThread(Hex("0102"));
  EXPECT_EQ(client.ReceiveOnce(), Hex("c500"));
  EXPECT_EQ(client.ReceiveExactly(3), Hex("020102"));
  sender.join();

  exchange_->SplitNextAt({1}, 300);
  sender = sendFromAnotherThread(Hex("aa"));
  EXPECT_EQ(client.ReceiveOnce(), Hex("c5"));
  EXPECT_EQ(client.ReceiveExactly(3), Hex("0001aa"));
  sender.join();
}

TEST_F(LanExchangeTest, MergeSendsTwoFramesInOneSegment) {
  StartExchange();
  FrameClient client;
  Connect(client);
  exchange_->MergeNext();
  ASSERT_TRUE(exchange_->SendBlock(Hex("01")));
  ASSERT_TRUE(exchange_->SendBlock(Hex("0203")));
  EXPECT_EQ(client.ReceiveOnce(), Hex("c5000101c500020203"));
}

TEST_F(LanExchangeTest, AFrameHeldForAMergeGoesOutAloneAfterTheHoldTime) {
  StartExchange();
  FrameClient client;
  Connect(client);
  exchange_->MergeNext(200);
  ASSERT_TRUE(exchange_->SendBlock(Hex("01")));
  clock_.advance(200);
  EXPECT_EQ(client.ReceiveExactly(4), Hex("c5000101"));
  EXPECT_TRUE(events_.WaitFor("merge-timeout"));
}

TEST_F(LanExchangeTest, RawBytesUnknownTagsAndDrop) {
  StartExchange();
  EXPECT_FALSE(exchange_->SendBlock(Hex("01"))) << "no connection";
  EXPECT_FALSE(exchange_->Drop());
  FrameClient client;
  Connect(client);
  ASSERT_TRUE(exchange_->SendRaw(Hex("c500")));
  ASSERT_TRUE(exchange_->SendTaggedFrame(0xC6, Hex("00")));
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c500c6000100"));
  EXPECT_FALSE(exchange_->SendBlock(Bytes(0x10000, 0))) << "too long for a frame";

  EXPECT_TRUE(exchange_->Drop());
  EXPECT_FALSE(exchange_->Connected()) << "Drop returns after the close was reported";
  EXPECT_EQ(events_.Count("disconnected"), 1u);
  EXPECT_TRUE(client.WaitClosed());
}

TEST_F(LanExchangeTest, AnEngineCanGreetANewConnectionAndIsTickedWhileConnected) {
  GreetingEngine engine;
  StartExchange(0, &engine);
  FrameClient client;
  Connect(client);
  EXPECT_EQ(client.ReceiveExactly(6), Hex("c50003600100"));
  EXPECT_TRUE(tktest::waitUntil([&] { return engine.ticks > 2; }));
  EXPECT_EQ(exchange_->GetStatus().engine, "echo");
  exchange_.reset();  // before the engine goes out of scope
}

// Answers every block it is asked to refuse with "ff" and the block.
class RecordingRefuser : public exchange::RequestRefuser {
 public:
  bool RefuseRequest(std::span<const uint8_t> block, exchange::BlockSink& out) override {
    std::vector<uint8_t> answer{0xFF};
    answer.insert(answer.end(), block.begin(), block.end());
    return out.SendBlock(answer);
  }
};

// Every block echoed meets the one fault kind of the row (rate 1).
TEST_F(LanExchangeTest, RandomFaultsOnTheWayOutAndOnTheWayIn) {
  struct Row {
    exchange::FaultKind kind;
    const char* echo;   // what the client receives for "c5000142"; empty: nothing
    const char* event;  // the fault's event line
    bool closed;        // the connection is closed
  };
  for (const Row& row : {Row{exchange::FaultKind::Corrupt, "3a000142", "fault corrupt byte=0", false},
                         Row{exchange::FaultKind::Drop, "", "fault drop", false},
                         Row{exchange::FaultKind::Silence, "", "fault silence ms=3000", false},
                         Row{exchange::FaultKind::Refuse, "c50002ff42", "fault refuse", false},
                         Row{exchange::FaultKind::Disconnect, "", "fault disconnect", true}}) {
    const std::string name(exchange::FaultKindName(row.kind));
    SCOPED_TRACE(name);
    exchange::FaultSettings settings;
    settings.rate = 1;
    settings.kinds = exchange::FaultBit(row.kind);
    settings.log = true;
    RecordingEvents events;
    exchange::FaultInjector faults(settings, &events);
    RecordingRefuser refuser;
    LanExchange lan(echo_, events, clock_);
    lan.SetKeepalivePeriod(0);
    lan.SetFaults(&faults, &refuser);
    std::string error;
    ASSERT_TRUE(lan.Listen("127.0.0.1", 0, false, &error)) << error;
    ASSERT_TRUE(lan.Start());
    FrameClient client;
    ASSERT_TRUE(client.Connect(lan.Port()));
    ASSERT_TRUE(client.SendHex("c5000142"));
    ASSERT_TRUE(events.WaitFor(row.event));
    if (row.closed) {
      EXPECT_TRUE(client.WaitClosed());
      EXPECT_TRUE(events.WaitFor("disconnected"));
    } else if (*row.echo != 0) {
      EXPECT_EQ(client.ReceiveExactly(Hex(row.echo).size()), Hex(row.echo));
    } else {
      // The frame was given up before anything was written.
      EXPECT_TRUE(client.ReceiveOnce(0).empty());
    }
    EXPECT_EQ(faults.Total(), 1u);
    EXPECT_NE(lan.StatusText().find(" faults=1 "), std::string::npos) << lan.StatusText();
    lan.Stop();
  }
}

TEST_F(LanExchangeTest, ASilenceSendsNothingUntilItsTimeHasPassed) {
  exchange::FaultSettings settings;
  settings.rate = 1;
  settings.kinds = exchange::FaultBit(exchange::FaultKind::Silence);
  settings.log = true;
  exchange::FaultInjector faults(settings, &events_);
  StartExchange(0, nullptr, &faults);
  FrameClient client;
  Connect(client);
  ASSERT_TRUE(client.SendHex("c5000101"));
  ASSERT_TRUE(events_.WaitFor("fault silence ms=3000"));
  // Within the silence: taken in, not answered, no new fault.
  clock_.advance(settings.silenceMs - 1);
  ASSERT_TRUE(client.SendHex("c5000102"));
  ASSERT_TRUE(events_.WaitFor("block 02"));
  EXPECT_TRUE(client.ReceiveOnce(0).empty());
  EXPECT_EQ(faults.Total(), 1u);
  // After it the next answer meets the next fault (rate 1: another silence).
  clock_.advance(1);
  ASSERT_TRUE(client.SendHex("c5000103"));
  ASSERT_TRUE(events_.WaitFor("fault silence ms=3000", 2));
  EXPECT_EQ(events_.Count("fault silence-end"), 1u);
  EXPECT_EQ(faults.Total(), 2u);
}

TEST_F(LanExchangeTest, WithoutFaultsSetOrAtRateZeroTheStatusLineStaysAsItWas) {
  exchange::FaultInjector off(exchange::FaultSettings{});
  StartExchange(0, nullptr, &off);
  EXPECT_EQ(exchange_->StatusText().find("fault"), std::string::npos) << exchange_->StatusText();
}

}  // namespace
