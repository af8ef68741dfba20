#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace tktest {

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exitCode_) {
    kill();
    wait(std::chrono::seconds(10));
  }
  if (outFd_ >= 0) close(outFd_);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& extraEnv) {
  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls are allowed in a threaded parent.
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : extraEnv) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    if (ownProcessGroup_) setpgid(0, 0);
    dup2(fds[1], STDOUT_FILENO);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  if (ownProcessGroup_) setpgid(pid, pid);  // also here, so that no signal can come before the child's own call
  pid_ = pid;
  outFd_ = fds[0];
  exitCode_.reset();
  return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  return nextLine(std::chrono::steady_clock::now() + timeout, -1);
}

std::optional<std::string> ChildProcess::readLineOrStop(int stopFd) { return nextLine(std::nullopt, stopFd); }

std::optional<std::string> ChildProcess::nextLine(std::optional<std::chrono::steady_clock::time_point> deadline,
                                                  int stopFd) {
  for (;;) {
    if (size_t nl = buffer_.find('\n'); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    if (outFd_ < 0) return std::nullopt;
    int waitMs = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      waitMs = static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
    }
    pollfd p[2] = {{outFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int ready = poll(p, stopFd >= 0 ? 2 : 1, waitMs);
    if (ready < 0 && errno != EINTR && !deadline) return std::nullopt;  // would fail again at once
    if (ready <= 0) continue;
    if (stopFd >= 0 && p[1].revents != 0) return std::nullopt;
    char buf[4096];
    ssize_t n = read(outFd_, buf, sizeof buf);
    if (n <= 0) {
      close(outFd_);
      outFd_ = -1;
      if (buffer_.empty()) return std::nullopt;
      std::string rest = std::move(buffer_);
      buffer_.clear();
      return rest;
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

void ChildProcess::signalGroup(int sig) {
  if (pid_ > 0 && !exitCode_ && ownProcessGroup_) ::kill(-pid_, sig);
}

void ChildProcess::kill() {
  if (pid_ > 0 && !exitCode_) ::kill(pid_, SIGKILL);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (exitCode_ || pid_ <= 0) return exitCode_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (r < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace tktest
