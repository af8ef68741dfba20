#pragma once
// The telephony service's core: the providers of TAPI's provider list, each
// in a TelephonyHost of its own, and the applications connected to the
// service, each connection one lineInitializeEx (an "app"). It numbers the
// line devices of all providers for the applications, answers their requests
// (tapi/wire/tapi_functions.h) with the providers' TSPI functions, keeps
// every application's handles (hLineApp, hLine, hCall) apart from the
// providers' and from each other's, and hands each provider event to the
// applications it concerns, as TAPI would.
//
// No sockets here: the server loop (service_server.h) hands in whole
// messages and connection ends, and the core hands messages out through a
// ClientSink. Threads: every method runs on the service thread; the
// providers' own threads only call the wake function given at construction
// (the server then calls ProcessProviderEvents on its thread). The watchdog
// of provider calls has a thread of its own, which only writes to the log
// (so the log function must take lines from any thread).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tapisrv {

using ClientId = uint64_t;

// Where the core's messages go: the server queues them for the connection
// in order; Disconnect ends the connection once its queue is sent.
class ClientSink {
 public:
  virtual ~ClientSink() = default;
  virtual void Send(ClientId client, std::vector<uint8_t> message) = 0;
  virtual void Disconnect(ClientId client) = 0;
};

// One line of the service's log, without its time stamp or line end.
using ServiceLog = std::function<void(const std::string& line)>;

class ServiceCore {
 public:
  // wake may be called from any thread, also with provider locks held: it
  // must only signal the service thread.
  ServiceCore(ClientSink& sink, ServiceLog log, std::function<void()> wake);
  // Stops the providers when StopProviders was not called.
  ~ServiceCore();
  ServiceCore(const ServiceCore&) = delete;
  ServiceCore& operator=(const ServiceCore&) = delete;

  // Loads and starts every provider of TAPI's provider list in the registry
  // store, in list order; one that fails to load or start is logged and
  // skipped. The number of providers running.
  size_t StartProviders();
  // Ends the service in order: waits (bounded) for the outstanding requests
  // so every application gets its LINE_REPLY, tells every application
  // (LINE_LINEDEVSTATE with LINEDEVSTATE_REINIT), closes every line, shuts
  // the providers down in list order, and disconnects the applications.
  void StopProviders();
  // How long StopProviders waits for outstanding requests before it closes
  // the lines (5 s unless set; tests shorten it).
  void SetStopWaitMs(uint32_t ms);
  // A provider call (a TSPI function the service thread calls) that has not
  // returned after this long is logged once, with the provider, the
  // function, how long and the stack of the service thread, and again when
  // it returns (tapihost::CallWatchdog; 5 s unless set, 0: not watched).
  // Set it before StartProviders.
  void SetCallLimitMs(uint32_t ms);

  void OnConnect(ClientId client, uint32_t processId);
  // One whole message the client sent; a malformed one or one that names
  // another client's handles is refused (an error reply, or the connection
  // ends when not even the header holds) and logged, never reaching a
  // provider.
  void OnMessage(ClientId client, std::span<const uint8_t> message);
  // The client's connection ended (lineShutdown, or the process died): its
  // lines are closed and its calls handed to another owner or dropped. Not
  // needed for a connection the core ended itself (ClientSink::Disconnect):
  // the core has let go of that client already.
  void OnDisconnect(ClientId client);
  // Handles what the providers reported since the last time.
  void ProcessProviderEvents();

  // The number of line devices of all running providers.
  uint32_t LineCount() const;
  // What the core holds for its clients now: a service whose clients have
  // all gone holds none of it.
  struct Census {
    size_t clients = 0;
    size_t apps = 0;         // initialised (lineInitializeEx)
    size_t lineOpens = 0;
    size_t callHandles = 0;
    size_t calls = 0;
    size_t pending = 0;      // requests a provider has not completed yet
    friend bool operator==(const Census&, const Census&) = default;
  };
  Census Count() const;
  // Every TSPI contract breach of every provider so far (also logged).
  std::vector<std::string> Violations() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tapisrv
