#include "tapi/service/service_server.h"

#include <algorithm>

#include "platform/wait.h"
#include "platform/win_error.h"

namespace tapisrv {
namespace {

constexpr size_t kReceiveChunk = 64 * 1024;
// New connections taken per round, so a burst of them cannot starve the
// clients already connected.
constexpr int kAcceptsPerRound = 16;

}  // namespace

ServiceServer::ServiceServer(ServiceLog log, const platform::Clock& clock)
    : log_(std::move(log)), clock_(clock), receiveBuffer_(kReceiveChunk) {}

ServiceServer::~ServiceServer() = default;

bool ServiceServer::Listen(const std::string& path, std::string* error) {
  int code = 0;
  listener_ = platform::LocalListener::listen(path, &code);
  if (listener_.valid()) return true;
  if (!error) return false;
  const char* why = code == platform::kErrorInvalidParameter ? "the path is too long for a socket"
                    : code == platform::kErrorAccessDenied   ? "access denied"
                    : code == platform::kErrorAlreadyExists  ? "another server serves it, or it is no socket"
                                                             : "failed";
  *error = "cannot listen at " + path + ": " + why + " (error " + std::to_string(code) + ")";
  return false;
}

void ServiceServer::Wake() { poller_.wake(); }

std::string ServiceServer::Name(ClientId id, const Client& client) const {
  return "client " + std::to_string(id) + " (pid " + std::to_string(client.processId) + "): ";
}

void ServiceServer::Poll(ServerHandler& handler, uint32_t timeoutMs) {
  if (stopped_) return;
  std::vector<ClientId> ids;
  std::vector<const platform::LocalConnection*> connections;
  bool waiting = false;
  for (auto& [id, client] : clients_) {
    waiting = waiting || !client.queue.empty();
    if (!client.closing && client.endReason.empty() && client.queuedBytes <= kMaxQueuedBytes) {
      ids.push_back(id);
      connections.push_back(&client.connection);
    }
  }
  if (waiting) timeoutMs = std::min(timeoutMs, kRetrySendMs);

  if (acceptPaused_) {
    const uint32_t rested = clock_.tickCount() - acceptPausedAt_;
    if (rested >= kAcceptPauseMs) {
      acceptPaused_ = false;
    } else {
      timeoutMs = std::min(timeoutMs, kAcceptPauseMs - rested);
    }
  }
  const bool listening = listener_.valid() && !acceptPaused_;
  platform::LocalPoller::Ready ready = poller_.wait(listening ? &listener_ : nullptr, connections, timeoutMs);
  if (ready.listenerReady) Accept(handler);
  for (size_t index : ready.readable) {
    if (index >= ids.size()) continue;
    auto it = clients_.find(ids[index]);
    if (it != clients_.end()) Receive(handler, it->first, it->second);
  }
  if (ready.woken) handler.OnWake();
  // Ending a connection may queue messages for others (the handler hands
  // its calls over), and sending may end connections: bounded by the
  // number of clients, since each pass removes at least one.
  Flush();
  while (Reap(handler)) Flush();
}

void ServiceServer::Accept(ServerHandler& handler) {
  for (int i = 0; i < kAcceptsPerRound; ++i) {
    int error = 0;
    platform::LocalConnection connection = listener_.accept(0, &error);
    if (!connection.valid()) {
      if (error != platform::kErrorTimeout) {
        log_("cannot accept a connection (error " + std::to_string(error) + "): trying again in " +
             std::to_string(kAcceptPauseMs) + " ms");
        acceptPaused_ = true;
        acceptPausedAt_ = clock_.tickCount();
      }
      return;
    }
    const ClientId id = nextId_++;
    Client& client = clients_[id];
    client.processId = connection.peerProcessId();
    client.connection = std::move(connection);
    handler.OnConnect(id, client.processId);
  }
}

void ServiceServer::Receive(ServerHandler& handler, ClientId id, Client& client) {
  // An earlier client's messages may have ended this one meanwhile.
  if (client.closing || !client.endReason.empty()) return;
  int error = 0;
  const long count = client.connection.receive(receiveBuffer_.data(), receiveBuffer_.size(), &error);
  if (count == 0) return End(client, "disconnected");
  if (count < 0) return End(client, "disconnected (receive failed, error " + std::to_string(error) + ")");
  if (!client.splitter.feed(std::span(receiveBuffer_.data(), static_cast<size_t>(count)))) {
    return End(client, "sent a broken message stream (a header with a length outside " +
                           std::to_string(tapiwire::kHeaderSize) + ".." + std::to_string(tapiwire::kMaxMessageSize) +
                           " or an unknown kind): disconnected");
  }
  // The handler may end this client (or, through a hand-over, queue for
  // others) while its messages are handed on; clients_ keeps its nodes.
  while (!client.closing && client.endReason.empty()) {
    std::optional<std::vector<uint8_t>> message = client.splitter.next();
    if (!message) break;
    handler.OnMessage(id, *message);
  }
}

void ServiceServer::Send(ClientId id, std::vector<uint8_t> message) {
  auto it = clients_.find(id);
  if (it == clients_.end() || !it->second.endReason.empty() || message.empty()) return;
  Client& client = it->second;
  if (client.queue.empty()) client.lastProgress = clock_.tickCount();
  client.queuedBytes += message.size();
  client.queue.push_back(std::move(message));
}

void ServiceServer::Disconnect(ClientId id) {
  auto it = clients_.find(id);
  if (it != clients_.end()) it->second.closing = true;
}

void ServiceServer::End(Client& client, std::string reason) {
  if (client.endReason.empty()) client.endReason = std::move(reason);
}

void ServiceServer::Flush() {
  const uint32_t now = clock_.tickCount();
  for (auto& [id, client] : clients_) {
    if (!client.endReason.empty()) continue;
    bool moved = false;
    while (!client.queue.empty()) {
      const std::vector<uint8_t>& front = client.queue.front();
      int error = 0;
      const long sent = client.connection.sendSome(front.data() + client.sentOfFront,
                                                front.size() - client.sentOfFront, &error);
      if (sent < 0) {
        End(client, "disconnected (send failed, error " + std::to_string(error) + ")");
        break;
      }
      if (sent == 0) break;
      moved = true;
      client.sentOfFront += static_cast<size_t>(sent);
      client.queuedBytes -= static_cast<size_t>(sent);
      if (client.sentOfFront == front.size()) {
        client.queue.pop_front();
        client.sentOfFront = 0;
      }
    }
    if (!client.endReason.empty()) continue;
    if (moved) client.lastProgress = now;
    if (client.queue.empty()) {
      if (client.closing) End(client, "disconnected by the service");
    } else if (now - client.lastProgress >= kStuckSendMs) {
      End(client, "does not read: dropped with " + std::to_string(client.queue.size()) + " messages (" +
                      std::to_string(client.queuedBytes) + " bytes) unsent for " +
                      std::to_string(kStuckSendMs / 1000) + " s");
    }
  }
}

bool ServiceServer::Reap(ServerHandler& handler) {
  std::vector<std::pair<ClientId, bool>> ended;  // id, whether the handler is told
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client& client = it->second;
    if (client.endReason.empty()) {
      ++it;
      continue;
    }
    log_(Name(it->first, client) + client.endReason);
    ended.emplace_back(it->first, !client.closing && !stopped_);
    it = clients_.erase(it);  // closes the connection
  }
  for (const auto& [id, tell] : ended) {
    if (tell) handler.OnDisconnect(id);
  }
  return !ended.empty();
}

void ServiceServer::Run(ServerHandler& handler, const std::function<bool()>& stopRequested) {
  while (!stopRequested()) Poll(handler, platform::kInfinite);
  Stop(handler);
}

void ServiceServer::Stop(ServerHandler& handler) {
  if (stopped_) return;
  listener_.close();
  // Connections that ended before the stop are still the handler's to
  // clean up; after OnStop it hears of no end any more.
  while (Reap(handler)) Flush();
  handler.OnStop();
  stopped_ = true;
  const uint32_t start = clock_.tickCount();
  // Bounded twice: by the clock and by the number of rounds, so a clock
  // that stands still cannot keep the service from ending.
  for (uint32_t round = 0; round <= kFlushMs / kRetrySendMs; ++round) {
    Flush();
    const bool waiting = std::any_of(clients_.begin(), clients_.end(), [](const auto& entry) {
      return entry.second.endReason.empty() && !entry.second.queue.empty();
    });
    if (!waiting || clock_.tickCount() - start >= kFlushMs) break;
    poller_.wait(nullptr, {}, kRetrySendMs);
  }
  for (auto& [id, client] : clients_) {
    if (client.endReason.empty() && !client.queue.empty()) {
      End(client, "closed at the service's stop with " + std::to_string(client.queue.size()) + " messages unsent");
    } else {
      End(client, "disconnected at the service's stop");
    }
  }
  Reap(handler);
}

}  // namespace tapisrv
