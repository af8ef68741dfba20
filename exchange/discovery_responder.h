#pragma once
// tksim's answer to the router search of the link dialog: on UDP port 5000 of
// its address it answers every datagram that holds the request text
// ("detect router in lan by Ondra") with "Ondra router received udpmsg from :"
// and the sender's dotted address, sent back to the sender's address and
// port, and reports each answer as an event ("discovery-answer A:P").
//
// The core (DiscoveryAnswerFor) is sans-IO: datagram and sender in, the
// answer out. DiscoveryResponder owns a socket and one thread that receives
// and answers; Stop (or the destructor) closes the socket, which wakes the
// thread, and joins it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/protocol_engine.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"

namespace exchange {

constexpr uint16_t kDiscoveryPort = 5000;

// The answer to a datagram from `sender`; nullopt when it is no request.
std::optional<std::string> DiscoveryAnswerFor(std::string_view datagram, const std::string& sender);

class DiscoveryResponder {
 public:
  explicit DiscoveryResponder(EventSink& events) : events_(events) {}
  ~DiscoveryResponder() { Stop(); }
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  // Binds the address's port (5000 unless a test picks another; 0 takes a
  // free one) and starts answering. Only 127.0.0.0/8 unless allowNonLoopback.
  bool Start(const std::string& address, bool allowNonLoopback, std::string* error,
             uint16_t port = kDiscoveryPort);
  uint16_t Port() const { return socket_.localPort(); }
  void Stop();

 private:
  void Run();

  EventSink& events_;
  platform::UdpSocket socket_;
  platform::Thread thread_;
};

}  // namespace exchange
