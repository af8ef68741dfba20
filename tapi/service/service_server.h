#pragma once
// The telephony service's server loop: one thread serves every client. It
// listens at the service's socket (platform::LocalListener), waits on the
// listener, the clients' connections and a wake-up from other threads (the
// providers' threads, through Wake), cuts each connection's bytes into whole
// messages (tapiwire::Splitter) and hands them, the new connections and the
// ends of connections to a ServerHandler: the ServiceCore in tapisrv, a
// double in tests. It is the core's ClientSink: what the core sends a client
// is queued for that connection and sent in order.
//
// No client can hold the others up. Sends never wait: each round hands a
// connection what it takes at once and keeps the rest; a client whose queue
// has not moved for kStuckSendMs is dropped and logged, and a client with
// more than kMaxQueuedBytes unsent is not read from until it catches up.
// A stream that breaks (a header the splitter refuses: a length beyond the
// limit, an unknown kind) ends that connection only, logged with the
// client's process ID.
//
// Logs: every end of a connection is one line ("client <id> (pid <pid>):
// <why>"); the handler logs the connects.
//
// Ends of connections: the handler hears OnDisconnect once for every end it
// did not ask for itself (the peer closed, a broken stream, a failed send, a
// client that does not read). A client the handler ends with Disconnect
// gets what is queued for it first and is then closed without OnDisconnect;
// further messages it sends are ignored. After Stop the handler hears
// nothing more.
//
// Threads: everything runs on the thread that calls Poll/Run/Stop, except
// Wake, which any thread may call.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/local_socket.h"
#include "tapi/service/service_core.h"
#include "tapi/wire/tapi_wire.h"

namespace tapisrv {

// What the server loop reports; every call comes on the loop's thread.
class ServerHandler {
 public:
  virtual ~ServerHandler() = default;
  virtual void OnConnect(ClientId client, uint32_t processId) = 0;
  virtual void OnMessage(ClientId client, std::span<const uint8_t> message) = 0;
  virtual void OnDisconnect(ClientId client) = 0;
  // Wake was called since the last round.
  virtual void OnWake() = 0;
  // The loop ends: answer what is outstanding (the sends still go out).
  virtual void OnStop() = 0;
};

class ServiceServer final : public ClientSink {
 public:
  // A client whose queue has not moved for this long is dropped.
  static constexpr uint32_t kStuckSendMs = 2000;
  // While a queue waits for its connection, the loop retries this often.
  static constexpr uint32_t kRetrySendMs = 10;
  // How long Stop goes on sending what is queued.
  static constexpr uint32_t kFlushMs = 2000;
  static constexpr size_t kMaxQueuedBytes = size_t{4} << 20;
  // After a failed accept (no descriptors left, say) the listener rests this
  // long, so the loop does not spin on a connection it cannot take.
  static constexpr uint32_t kAcceptPauseMs = 100;

  explicit ServiceServer(ServiceLog log, const platform::Clock& clock = platform::systemClock());
  ~ServiceServer() override;
  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Listens at path (mode 0600); false with the reason otherwise.
  bool Listen(const std::string& path, std::string* error);
  // Any thread: the loop calls the handler's OnWake soon.
  void Wake();

  // One round: waits up to timeoutMs for a connection, data or a wake-up and
  // handles what came, then sends what is queued.
  void Poll(ServerHandler& handler, uint32_t timeoutMs);
  // Rounds until stopRequested() holds, then Stop. It is looked at after
  // every round; an idle loop sleeps until something comes, so whoever makes
  // it true calls Wake() as well (the program hands Wake to the platform's
  // stop request).
  void Run(ServerHandler& handler, const std::function<bool()>& stopRequested);
  // Closes the listener (its socket file goes), calls the handler's OnStop,
  // sends what is queued (for at most kFlushMs) and closes every connection.
  void Stop(ServerHandler& handler);

  size_t ClientCount() const { return clients_.size(); }

  // ClientSink: for a client that has gone both do nothing.
  void Send(ClientId client, std::vector<uint8_t> message) override;
  void Disconnect(ClientId client) override;

 private:
  struct Client {
    uint32_t processId = 0;
    platform::LocalConnection connection;
    tapiwire::Splitter splitter;
    std::deque<std::vector<uint8_t>> queue;
    size_t sentOfFront = 0;    // bytes of queue.front() already sent
    size_t queuedBytes = 0;    // unsent bytes in the queue
    uint32_t lastProgress = 0; // tick of the last send that moved the queue
    bool closing = false;      // the handler asked for the end
    std::string endReason;     // non-empty: the connection is over
  };

  void Accept(ServerHandler& handler);
  void Receive(ServerHandler& handler, ClientId id, Client& client);
  // Sends what each connection takes; marks stuck and broken ones.
  void Flush();
  // Closes the connections that are over; true when there were any.
  bool Reap(ServerHandler& handler);
  void End(Client& client, std::string reason);
  std::string Name(ClientId id, const Client& client) const;

  ServiceLog log_;
  const platform::Clock& clock_;
  platform::LocalListener listener_;
  platform::LocalPoller poller_;
  std::map<ClientId, Client> clients_;
  ClientId nextId_ = 1;
  bool stopped_ = false;
  bool acceptPaused_ = false;
  uint32_t acceptPausedAt_ = 0;  // tick of the failed accept
  std::vector<uint8_t> receiveBuffer_;
};

}  // namespace tapisrv
