// Local connections: the socket file's permissions, a second listener
// refused while the first serves, a stale file replaced, peer process IDs,
// whole sends, the send deadline towards a peer that does not read, end of
// stream, and the poller's wake-up and readiness reports.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/local_socket.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/win_error.h"

namespace {

std::string SocketPath(const char* name) {
  EXPECT_TRUE(platform::ensureDirectory(platform::runtimeDir()));
  return platform::runtimeDir() + "/" + name;
}

struct Pair {
  platform::LocalListener listener;
  platform::LocalConnection client;
  platform::LocalConnection server;
};

Pair Connected() {
  Pair p;
  p.listener = platform::LocalListener::listen(SocketPath("t.sock"));
  EXPECT_TRUE(p.listener.valid());
  p.client = platform::LocalConnection::connect(p.listener.path());
  EXPECT_TRUE(p.client.valid());
  p.server = p.listener.accept(5000);
  EXPECT_TRUE(p.server.valid());
  return p;
}

TEST(LocalSocket, ListenerOwnsItsPathAloneAndLeavesNothingBehind) {
  const std::string path = SocketPath("a.sock");
  int error = 0;
  EXPECT_FALSE(platform::LocalConnection::connect(path, &error).valid());
  EXPECT_EQ(error, platform::kErrorFileNotFound);
  {
    platform::LocalListener first = platform::LocalListener::listen(path);
    ASSERT_TRUE(first.valid());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(platform::LocalListener::listen(path, &error).valid());
    EXPECT_EQ(error, platform::kErrorAlreadyExists);
  }
  struct stat st {};
  EXPECT_NE(::stat(path.c_str(), &st), 0) << "the listener removes its socket file";
  EXPECT_FALSE(platform::LocalListener::listen(std::string(200, 'x'), &error).valid());
  EXPECT_EQ(error, platform::kErrorInvalidParameter);
}

TEST(LocalSocket, AStaleSocketFileIsReplaced) {
  const std::string path = SocketPath("stale.sock");
  platform::LocalListener first = platform::LocalListener::listen(path);
  ASSERT_TRUE(first.valid());
  // A listener that ended without removing its file (as after a crash):
  // move its file aside, close it, and put the dead file back.
  ASSERT_EQ(::rename(path.c_str(), (path + ".old").c_str()), 0);
  first.close();
  ASSERT_EQ(::rename((path + ".old").c_str(), path.c_str()), 0);
  platform::LocalListener second = platform::LocalListener::listen(path);
  EXPECT_TRUE(second.valid());
}

TEST(LocalSocket, DataPeerAndEndOfStream) {
  Pair p = Connected();
  EXPECT_EQ(p.server.peerProcessId(), platform::currentProcessId());
  std::vector<uint8_t> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  std::thread writer([&] { EXPECT_TRUE(p.client.send(block.data(), block.size())); });
  std::vector<uint8_t> received;
  uint8_t buffer[65536];
  while (received.size() < block.size()) {
    ASSERT_TRUE(p.server.waitReadable(5000));
    const long n = p.server.receive(buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    received.insert(received.end(), buffer, buffer + n);
  }
  writer.join();
  EXPECT_EQ(received, block);
  p.client.close();
  ASSERT_TRUE(p.server.waitReadable(5000));
  EXPECT_EQ(p.server.receive(buffer, sizeof buffer), 0);
  int error = 0;
  EXPECT_FALSE(p.server.send("x", 1, &error));
  EXPECT_EQ(error, platform::kErrorBrokenPipe);
}

TEST(LocalSocket, APeerThatDoesNotReadStopsSendsWithoutHoldingTheSender) {
  Pair p = Connected();
  std::vector<uint8_t> block(8 << 20);
  const long some = p.server.sendSome(block.data(), block.size());
  EXPECT_GT(some, 0);
  EXPECT_LT(some, static_cast<long>(block.size()));
  EXPECT_EQ(p.server.sendSome(block.data(), block.size()), 0) << "full: nothing taken, no wait";
  int error = 0;
  EXPECT_FALSE(p.server.send(block.data(), block.size(), &error, 200));
  EXPECT_EQ(error, platform::kErrorTimeout);
}

TEST(LocalSocket, PollerReportsWakeListenerAndReadableConnections) {
  Pair p = Connected();
  platform::LocalPoller poller;
  std::vector<const platform::LocalConnection*> connections{&p.server, nullptr};
  auto ready = poller.wait(&p.listener, connections, 50);
  EXPECT_FALSE(ready.woken);
  EXPECT_FALSE(ready.listenerReady);
  EXPECT_TRUE(ready.readable.empty());

  std::thread waker([&] { poller.wake(); });
  ready = poller.wait(&p.listener, connections, 5000);
  waker.join();
  EXPECT_TRUE(ready.woken);
  EXPECT_FALSE(poller.wait(&p.listener, connections, 0).woken) << "a wake-up is reported once";

  ASSERT_TRUE(p.client.send("ab", 2));
  platform::LocalConnection another = platform::LocalConnection::connect(p.listener.path());
  ASSERT_TRUE(another.valid());
  ready = poller.wait(&p.listener, connections, 5000);
  EXPECT_TRUE(ready.listenerReady);
  // The listener and the data may be seen in different rounds.
  if (ready.readable.empty()) ready = poller.wait(nullptr, connections, 5000);
  EXPECT_EQ(ready.readable, std::vector<size_t>{0});
}

}  // namespace
