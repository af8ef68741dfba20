#pragma once
// Commands over TCP: a listener on the exchange's (loopback) address that
// serves one client at a time. Each line the client sends is run as a
// command; its result line goes back to the client. Lines longer than
// kMaxLine end the client's connection. A UTF-8 byte order mark before a
// connection's first line is skipped.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/tcp_socket.h"
#include "platform/thread.h"

namespace exchange {

class ControlPort {
 public:
  static constexpr size_t kMaxLine = 1 << 20;
  // Runs one line; returns the result line, or nullopt for no answer.
  using Runner = std::function<std::optional<std::string>(std::string_view line)>;

  ~ControlPort();
  bool Listen(const std::string& address, uint16_t port, std::string* error);
  uint16_t Port() const { return listener_.port(); }
  bool Start(Runner runner);
  void Stop();

 private:
  void Run();
  void Serve(platform::TcpSocket& client);

  platform::TcpListener listener_;
  platform::Thread thread_;
  Runner runner_;
  std::atomic<bool> stopping_{false};
};

}  // namespace exchange
