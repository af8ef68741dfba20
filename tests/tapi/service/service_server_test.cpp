// The service's server loop in-process, with a handler double that echoes
// every message to its sender, and real local connections as clients.
#include "tapi/service/service_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "platform/fake_clock.h"
#include "platform/process.h"
#include "platform/root.h"
#include "tapi/service/service_log.h"
#include "tapi/wire/tapi_wire.h"
#include "tests/support/files.h"

namespace {

using tapisrv::ClientId;
using Messages = std::vector<std::vector<uint8_t>>;

class EchoHandler : public tapisrv::ServerHandler {
 public:
  explicit EchoHandler(tapisrv::ServiceServer& server) : server_(server) {}
  void OnConnect(ClientId client, uint32_t processId) override {
    connected[client] = processId;
    for (size_t i = 0; i < floodOnConnect; ++i) server_.Send(client, std::vector<uint8_t>(512 * 1024, 0x55));
  }
  void OnMessage(ClientId client, std::span<const uint8_t> message) override {
    received[client].emplace_back(message.begin(), message.end());
    ++total;
    server_.Send(client, {message.begin(), message.end()});
  }
  void OnDisconnect(ClientId client) override { disconnected.push_back(client); }
  void OnWake() override { ++wakes; }
  void OnStop() override {
    for (const auto& [client, pid] : connected) {
      server_.Send(client, Message(99));
      server_.Disconnect(client);
    }
  }

  static std::vector<uint8_t> Message(uint32_t sequence) {
    return tapiwire::Writer(tapiwire::Kind::Request, sequence).u32(sequence * 3).finish();
  }

  size_t floodOnConnect = 0;
  std::map<ClientId, uint32_t> connected;
  std::map<ClientId, Messages> received;
  size_t total = 0;
  std::vector<ClientId> disconnected;
  int wakes = 0;

 private:
  tapisrv::ServiceServer& server_;
};

class ServiceServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::ensureDirectory(platform::runtimeDir()));
    std::string error;
    ASSERT_TRUE(server_.Listen(path_, &error)) << error;
  }

  // Rounds until cond holds; bounded.
  bool PollUntil(const std::function<bool()>& cond) {
    for (int round = 0; round < 200 && !cond(); ++round) server_.Poll(handler_, 50);
    return cond();
  }

  platform::LocalConnection Connect() {
    platform::LocalConnection c = platform::LocalConnection::connect(path_);
    EXPECT_TRUE(c.valid());
    const size_t before = handler_.connected.size();
    EXPECT_TRUE(PollUntil([&] { return handler_.connected.size() > before; }));
    return c;
  }

  // The whole messages the client gets until the service closes the
  // connection or count messages came; bounded by time.
  static Messages Read(platform::LocalConnection& c, size_t count) {
    tapiwire::Splitter splitter;
    Messages out;
    uint8_t buffer[4096];
    while (out.size() < count && c.waitReadable(5000)) {
      const long n = c.receive(buffer, sizeof buffer);
      if (n <= 0) break;
      splitter.feed(std::span(buffer, static_cast<size_t>(n)));
      while (auto m = splitter.next()) out.push_back(*m);
    }
    return out;
  }

  // Sends message and returns what the client gets back once the service
  // has handled it.
  Messages RoundTrip(platform::LocalConnection& c, const std::vector<uint8_t>& message) {
    const size_t before = handler_.total;
    EXPECT_TRUE(c.send(message.data(), message.size()));
    EXPECT_TRUE(PollUntil([&] { return handler_.total > before; }));
    return Read(c, 1);
  }

  bool Logged(const std::string& part) const {
    return std::any_of(log_.begin(), log_.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
  }

  std::string path_ = platform::runtimeDir() + "/tapisrv.sock";
  platform::FakeClock clock_;
  std::vector<std::string> log_;
  tapisrv::ServiceServer server_{[this](const std::string& line) { log_.push_back(line); }, clock_};
  EchoHandler handler_{server_};
};

TEST_F(ServiceServerTest, MessagesOfTwoClientsStayApart) {
  platform::LocalConnection a = Connect();
  platform::LocalConnection b = Connect();
  const std::vector<uint8_t> fromA = EchoHandler::Message(1), fromB = EchoHandler::Message(2);
  // A's message in two pieces with B's whole one between them.
  ASSERT_TRUE(a.send(fromA.data(), 5));
  ASSERT_TRUE(b.send(fromB.data(), fromB.size()));
  ASSERT_TRUE(PollUntil([&] { return handler_.received.size() == 1; }));
  ASSERT_TRUE(a.send(fromA.data() + 5, fromA.size() - 5));
  ASSERT_TRUE(PollUntil([&] { return handler_.received.size() == 2; }));

  ASSERT_EQ(handler_.connected.size(), 2u);
  const ClientId idA = handler_.connected.begin()->first, idB = std::next(handler_.connected.begin())->first;
  EXPECT_NE(idA, idB);
  EXPECT_EQ(handler_.connected[idA], platform::currentProcessId());
  EXPECT_EQ(handler_.received[idA], Messages{fromA});
  EXPECT_EQ(handler_.received[idB], Messages{fromB});
  EXPECT_EQ(Read(a, 1), Messages{fromA});
  EXPECT_EQ(Read(b, 1), Messages{fromB});
}

TEST_F(ServiceServerTest, ABrokenStreamEndsThatClientOnly) {
  struct Case {
    const char* what;
    uint32_t length;
    uint32_t kind;
  };
  const Case cases[] = {
      {"length above the limit", tapiwire::kMaxMessageSize + 1, 1},
      {"length below the header", tapiwire::kHeaderSize - 1, 1},
      {"unknown kind", tapiwire::kHeaderSize, 7},
  };
  platform::LocalConnection good = Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::LocalConnection bad = Connect();
    const ClientId badId = handler_.connected.rbegin()->first;
    const uint32_t header[3] = {c.length, c.kind, 1};
    ASSERT_TRUE(bad.send(header, sizeof header));
    ASSERT_TRUE(PollUntil([&] { return !handler_.disconnected.empty(); }));
    EXPECT_EQ(handler_.disconnected, std::vector{badId});
    EXPECT_TRUE(Logged("client " + std::to_string(badId) + " (pid " + std::to_string(platform::currentProcessId()) +
                       "): sent a broken message stream"));
    EXPECT_TRUE(Read(bad, 1).empty());  // closed by the service
    handler_.disconnected.clear();

    EXPECT_EQ(RoundTrip(good, EchoHandler::Message(7)), Messages{EchoHandler::Message(7)});
  }
  EXPECT_EQ(server_.ClientCount(), 1u);
}

TEST_F(ServiceServerTest, AClientThatDoesNotReadIsDroppedAfterTwoSecondsAndTheOthersGoOn) {
  handler_.floodOnConnect = 16;  // 8 MiB: more than any connection buffers
  platform::LocalConnection deaf = Connect();
  const ClientId deafId = handler_.connected.begin()->first;
  handler_.floodOnConnect = 0;
  platform::LocalConnection other = Connect();
  clock_.advance(tapisrv::ServiceServer::kStuckSendMs - 1);
  server_.Poll(handler_, 0);
  EXPECT_TRUE(handler_.disconnected.empty());

  clock_.advance(1);
  ASSERT_TRUE(PollUntil([&] { return !handler_.disconnected.empty(); }));
  EXPECT_EQ(handler_.disconnected, std::vector{deafId});
  EXPECT_TRUE(Logged("client " + std::to_string(deafId) + " (pid " + std::to_string(platform::currentProcessId()) +
                     "): does not read: dropped with"));
  EXPECT_EQ(RoundTrip(other, EchoHandler::Message(3)), Messages{EchoHandler::Message(3)});
}

TEST_F(ServiceServerTest, AWakeReachesTheHandlerAndAStopSendsWhatItQueuesBeforeClosing) {
  platform::LocalConnection a = Connect();
  platform::LocalConnection b = Connect();
  std::thread waker([this] { server_.Wake(); });
  EXPECT_TRUE(PollUntil([&] { return handler_.wakes == 1; }));
  waker.join();

  server_.Stop(handler_);
  EXPECT_FALSE(platform::LocalConnection::connect(path_).valid());  // the socket file is gone
  for (platform::LocalConnection* c : {&a, &b}) {
    EXPECT_EQ(Read(*c, 2), Messages{EchoHandler::Message(99)});  // then the end
  }
  EXPECT_TRUE(handler_.disconnected.empty());  // the handler ended them itself
  EXPECT_EQ(server_.ClientCount(), 0u);
}

TEST(ServiceLogFile, AppendsStampedPrintableLinesAndCopiesThemToStandardError) {
  platform::FakeClock clock;
  clock.advance(3723004);  // 01:02:03.004
  ASSERT_TRUE(platform::ensureDirectory(platform::runtimeDir()));
  const std::string path = platform::runtimeDir() + "/tapisrv.log";
  std::FILE* copy = std::tmpfile();
  ASSERT_NE(copy, nullptr);
  tapisrv::ServiceLogFile log(path, copy, clock);
  std::string error;
  ASSERT_TRUE(log.Open(&error)) << error;
  log.Write("client 1 (pid 2): connected");
  log.Sink()("name \x1b[2J\nforged");
  EXPECT_EQ(tktest::readFile(path),
            "2024-01-01 01:02:03.004 client 1 (pid 2): connected\n"
            "2024-01-01 01:02:03.004 name \\x1b[2J\\nforged\n");
  std::rewind(copy);
  char text[256] = {};
  EXPECT_GT(std::fread(text, 1, sizeof text - 1, copy), 0u);
  EXPECT_STREQ(text, "tapisrv: client 1 (pid 2): connected\ntapisrv: name \\x1b[2J\\nforged\n");
  std::fclose(copy);
  EXPECT_FALSE(tapisrv::ServiceLogFile(platform::runtimeDir() + "/missing/x.log", nullptr).Open(&error));
  EXPECT_EQ(error, "cannot write the log file " + platform::runtimeDir() + "/missing/x.log");
}

}  // namespace
