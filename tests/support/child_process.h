#pragma once
// Starting a second process from a test: its standard output is read line by
// line, it can be killed, and its end is waited for with a deadline.
//
// Reading is meant for one thread at a time. A reader thread that follows
// the output for as long as the child runs uses readLineOrStop: it sleeps
// in poll on the output and a stop descriptor of its owner, without a
// time-out, so a quiet child costs its parent no wake-ups at all.
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tktest {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child that still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program with args; extraEnv is added to (or replaces in) the environment.
  bool start(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& extraEnv = {});

  // The next line of standard output (without line end), or nothing at end of
  // output or when the deadline passes.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The next line, waiting as long as it takes; nothing at end of output or
  // as soon as stopFd (an eventfd or a pipe's reading end of the caller)
  // becomes readable, which it is left to the caller to clear.
  std::optional<std::string> readLineOrStop(int stopFd);
  // True once the whole output has been read (the child closed it).
  bool outputEnded() const { return outFd_ < 0 && buffer_.empty(); }

  // Makes the next started child lead a process group of its own, as a
  // shell's foreground job does, so that signalGroup reaches it and
  // everything it starts in its group (a terminal's Ctrl-C).
  void setOwnProcessGroup(bool own) { ownProcessGroup_ = own; }
  // Sends sig to the child's process group (needs setOwnProcessGroup).
  void signalGroup(int sig);

  // Sends SIGKILL.
  void kill();
  // The exit code (128 + signal for a killed child), or nothing when it did not end in time.
  std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  int pid() const { return pid_; }

 private:
  // The next line; deadline nothing = no time-out; stopFd -1 = none.
  std::optional<std::string> nextLine(std::optional<std::chrono::steady_clock::time_point> deadline, int stopFd);

  int pid_ = -1;
  int outFd_ = -1;
  std::string buffer_;
  std::optional<int> exitCode_;
  bool ownProcessGroup_ = false;
};

}  // namespace tktest
