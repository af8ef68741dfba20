#include "platform/process.h"

#include <pthread.h>
#include <signal.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/command_line_internal.h"

extern char** environ;

namespace platform {
namespace {

// What exitCode() gives while the process runs, as GetExitCodeProcess does.
constexpr int kStillActive = 259;
// The exit code when the end was seen but its status was lost (someone else
// reaped the child, e.g. with SIGCHLD ignored).
constexpr int kUnknownExitCode = -1;

// The caller's environment with the command line for the child in place of
// any inherited one.
std::vector<std::string> childEnvironment(const std::string& line) {
  std::vector<std::string> env;
  const std::string prefix = std::string(kCommandLineVariable) + "=";
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*e);
  }
  env.push_back(prefix + line);
  return env;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kUnknownExitCode;
}

}  // namespace

// Shared by the Process object and the thread that reaps the child, so that
// a child outliving its Process object is still reaped.
struct Process::State {
  std::mutex m;
  std::condition_variable spawned;
  bool spawnDone = false;  // guarded by m; pid then holds the child or 0
  uint32_t pid = 0;
  Process* owner = nullptr;  // guarded by m
  std::atomic<bool> ended{false};
  std::atomic<int> exitCode{kStillActive};

  // Runs on the reaper thread: waits for the spawn, then for the child's end.
  void reap() {
    {
      std::unique_lock lock(m);
      spawned.wait(lock, [this] { return spawnDone; });
      if (pid == 0) return;
    }
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(static_cast<pid_t>(pid), &status, 0);
    } while (r < 0 && errno == EINTR);
    const int code = r == static_cast<pid_t>(pid) ? exitCodeOf(status) : kUnknownExitCode;

    std::lock_guard lock(m);
    exitCode = code;
    if (owner) {
      owner->changeState([this] { ended = true; });
    } else {
      ended = true;
    }
  }

  void publishSpawn(uint32_t childPid) {
    std::lock_guard lock(m);
    pid = childPid;
    spawnDone = true;
    spawned.notify_one();
  }
};

Process::Process(std::shared_ptr<State> state) : state_(std::move(state)) {
  std::lock_guard lock(state_->m);
  state_->owner = this;
}

Process::~Process() {
  std::lock_guard lock(state_->m);
  state_->owner = nullptr;
}

uint32_t Process::id() const { return state_->pid; }

bool Process::running() const { return !state_->ended; }

int Process::exitCode() const { return state_->ended ? state_->exitCode.load() : kStillActive; }

bool Process::wait(uint32_t timeoutMs) { return waitForSingle(*this, timeoutMs) == kWaitObject0; }

bool Process::isSignaledLocked() const { return state_->ended; }

namespace {

// How a child starts: in a process group of its own beside its caller's
// session (createProcess), or detached in a session of its own with its
// standard streams on the null device (createDetachedProcess).
enum class Spawn { OwnGroup, Detached };

std::unique_ptr<Process> spawnProcess(std::string_view programPath, std::string_view commandLine,
                                      std::string* error, Spawn how) {
  auto fail = [&](std::string why) -> std::unique_ptr<Process> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  std::string path = resolveProgramPath(programPath);
  if (path.empty()) return fail("program not found: " + std::string(programPath));
  // Without a command line the program path is the command line, as on Windows.
  std::string line = commandLine.empty() ? quoteProgramName(programPath) : std::string(commandLine);
  if (line.find('\0') != std::string::npos) return fail("the command line contains a zero character");

  std::vector<std::string> args = splitCommandLine(line);
  std::vector<std::string> env = childEnvironment(line);
  std::vector<char*> argv = pointersTo(args);
  std::vector<char*> envp = pointersTo(env);

  // The reaper runs before the child exists, so a child is never left
  // without one when no thread can be started.
  auto state = std::make_shared<Process::State>();
  try {
    std::thread([state] {
      pthread_setname_np(pthread_self(), "process-reaper");
      state->reap();
    }).detach();
  } catch (const std::system_error& e) {
    return fail("cannot start a thread to watch the process: " + std::string(e.what()));
  }

  // The child starts with default signal handling and no blocked signals,
  // whatever this process has set up; only descriptors without close-on-exec
  // are inherited.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  if (how == Spawn::OwnGroup) {
    // A process group of its own: like a program without console on
    // Windows, the child does not get the Ctrl-C that a terminal sends to
    // its caller's group (the link control process must release its link in
    // order when the program that started it is interrupted).
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  } else {
    // A session of its own, with the standard streams on the null device
    // instead of the caller's.
    flags |= POSIX_SPAWN_SETSID;
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Nor any other descriptor the caller let its children inherit: a pipe
    // the caller's caller reads to its end must not stay open for the
    // child's whole life.
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
#endif
  }
  posix_spawnattr_setflags(&attr, flags);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, path.c_str(), &files, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) {
    state->publishSpawn(0);
    return fail("cannot start " + path + ": " + std::strerror(rc));
  }
  auto process = std::make_unique<Process>(state);
  state->publishSpawn(static_cast<uint32_t>(pid));
  return process;
}

}  // namespace

std::unique_ptr<Process> createProcess(std::string_view programPath, std::string_view commandLine, std::string* error) {
  return spawnProcess(programPath, commandLine, error, Spawn::OwnGroup);
}

uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::unique_ptr<Process> createDetachedProcess(std::string_view programPath, std::string_view commandLine,
                                               std::string* error) {
  return spawnProcess(programPath, commandLine, error, Spawn::Detached);
}

// The wake-up is an eventfd: wake() adds to its counter, the wait reads it
// back to 0. The process end comes from a process descriptor, readable once
// the process has ended (whether or not it was reaped yet).
ProcessEndWait::ProcessEndWait() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ProcessEndWait::~ProcessEndWait() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool ProcessEndWait::valid() const { return wakeFd_ >= 0; }

void ProcessEndWait::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  ssize_t n;
  do {
    n = ::write(wakeFd_, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
}

ProcessEndWait::Result ProcessEndWait::wait(uint32_t processId) {
  if (wakeFd_ < 0) return Result::Failed;
  auto consumeWake = [this] {
    uint64_t count = 0;
    return ::read(wakeFd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
  };
  int pidfd = -1;
  int pollMs = -1;
  if (processId != 0) {
    if (processId > static_cast<uint32_t>(INT32_MAX)) return consumeWake() ? Result::Woken : Result::Ended;
#ifdef SYS_pidfd_open
    pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
#else
    errno = ENOSYS;
#endif
    if (pidfd < 0) {
      if (errno == ESRCH) return consumeWake() ? Result::Woken : Result::Ended;
      pollMs = 50;  // no process descriptors: look now and then
    }
  }
  Result result = Result::Failed;
  for (;;) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {pidfd, POLLIN, 0}};
    const int rc = ::poll(fds, pidfd >= 0 ? 2 : 1, pollMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) break;
    if (fds[0].revents & (POLLNVAL | POLLERR)) break;
    if (fds[0].revents & POLLIN) {
      if (consumeWake()) {
        result = Result::Woken;
        break;
      }
      continue;  // another reader took it
    }
    if (pidfd >= 0 && fds[1].revents != 0) {
      result = Result::Ended;
      break;
    }
    if (pidfd < 0 && processId != 0 && !processRunning(processId)) {
      result = Result::Ended;
      break;
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return result;
}

bool requestProcessStop(uint32_t processId) {
  if (processId == 0 || processId > static_cast<uint32_t>(INT32_MAX)) return false;
  return ::kill(static_cast<pid_t>(processId), SIGTERM) == 0;
}

}  // namespace platform
