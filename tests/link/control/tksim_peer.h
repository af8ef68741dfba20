#pragma once
// The simulated exchange tksim as a separate process for integration
// tests: it listens on a free loopback port, takes commands over its control
// port and reports its events on standard output. A reader thread takes
// those event lines all along, so that tksim never stalls on a full pipe
// while a test is not waiting for an event.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/tcp_socket.h"
#include "tests/support/child_process.h"

namespace tktest {

// A command's result line was "ok ..." (the line is shown when it was not).
::testing::AssertionResult CommandOk(const std::string& answer);

class TksimPeer {
 public:
  TksimPeer() = default;
  TksimPeer(const TksimPeer&) = delete;
  TksimPeer& operator=(const TksimPeer&) = delete;
  ~TksimPeer();

  // Starts tksim with the echo engine and these further options; false when
  // it did not come up within a few seconds.
  bool Start(const std::vector<std::string>& options = {});
  uint16_t port() const { return port_; }
  // Starts tksim on a new pseudo-terminal (--serial) with these further
  // options; serialPath() is then the terminal's slave (for --usb: the
  // device's socket).
  bool StartSerial(const std::vector<std::string>& options = {});
  const std::string& serialPath() const { return serialPath_; }
  // Starts tksim as the USB device \\.\VNLUSB<device> (--usb).
  bool StartUsb(unsigned device, const std::vector<std::string>& options = {});

  // Runs one command; its result line ("ok ..." or "error ..."), empty when none came.
  std::string Command(const std::string& line);

  // Waits for the next event line that begins with prefix; lines read on the
  // way are kept in events(). False when none came in time.
  bool WaitEvent(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  const std::vector<std::string>& events() const { return events_; }

  // The counter `name` of the status line, or -1.
  long StatusCounter(const std::string& name);

 private:
  void ReadEvents();
  // Starts tksim on a line whose first event is `word` PATH.
  bool StartDevice(std::vector<std::string> args, const std::string& word);
  // Connects to the control port and starts the event reader.
  bool Attach(uint16_t controlPort);

  ChildProcess process_;
  std::thread reader_;
  int stopFd_ = -1;  // eventfd: readable once the reader is to end
  std::mutex m_;
  std::condition_variable arrived_;
  std::deque<std::string> unread_;  // read from tksim, not yet looked at by WaitEvent
  bool ended_ = false;              // tksim's output has ended
  platform::TcpSocket control_;
  std::string controlBuffer_;
  std::vector<std::string> events_;
  uint16_t port_ = 0;
  std::string serialPath_;
};

}  // namespace tktest
