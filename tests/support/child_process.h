#pragma once
// Starting a second process from a test: its standard output is read line by
// line, it can be killed, and its end is waited for with a deadline.
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
  int pid_ = -1;
  int outFd_ = -1;
  std::string buffer_;
  std::optional<int> exitCode_;
  bool ownProcessGroup_ = false;
};

}  // namespace tktest
