#pragma once
// The simulated exchange of a soak run: tksim as a child process on a free
// loopback port (LAN) or on a new pseudo-terminal (serial), with its random
// faults switched on, the vnl engine and every called party answering at
// once. Its event lines are read and thrown away all along (only the first
// lines, which name its port or line and its control port, are looked at),
// so a run of hours neither fills the pipe nor grows in memory; its state
// and fault counts come from the 'status' command over the control port.
//
// Threads: one reader thread drains the output; Command is for one thread
// at a time.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"
#include "tests/support/child_process.h"

namespace soak {

class SoakExchange {
 public:
  enum class Link { Lan, Serial };

  SoakExchange() = default;
  SoakExchange(const SoakExchange&) = delete;
  SoakExchange& operator=(const SoakExchange&) = delete;
  // Asks tksim to quit and waits for it (killed after a few seconds).
  ~SoakExchange();

  // tksimOptions: the engine, exchange configuration and fault options.
  // False with *error when tksim did not come up.
  bool Start(Link link, const std::vector<std::string>& tksimOptions, std::string* error);
  uint16_t Port() const { return port_; }                       // LAN
  const std::string& SerialPath() const { return serialPath_; }  // serial
  int Pid() const { return process_.pid(); }

  // One command's result line ("ok ..." / "error ..."); empty when none came.
  std::string Command(const std::string& line);
  // A counter NAME=N of the status line; nothing when it is not there.
  std::optional<uint64_t> StatusCounter(const std::string& name);

  // Ends tksim ('quit', then SIGKILL after a few seconds); its exit code.
  std::optional<int> Stop();

 private:
  void Drain();

  tktest::ChildProcess process_;
  std::thread reader_;
  int stopFd_ = -1;
  platform::TcpSocket control_;
  std::string controlBuffer_;
  uint16_t port_ = 0;
  std::string serialPath_;
  bool stopped_ = false;
};

}  // namespace soak
