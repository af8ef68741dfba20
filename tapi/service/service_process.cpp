#include "tapi/service/service_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/local_socket.h"
#include "platform/named_mutex.h"
#include "platform/printable_text.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/stop_request.h"
#include "tapi/service/service_core.h"
#include "tapi/service/service_log.h"
#include "tapi/service/service_server.h"
#include "tapi/wire/tapi_functions.h"

namespace tapisrv {
namespace {

constexpr const char* kMutexName = "tapisrv";
// A service that starts waits this long for the lock, so that a --status
// that holds it for a moment is not taken for a running service.
constexpr uint32_t kLockWaitMs = 1000;
// A service that holds the lock writes its pid file right after; this long
// a query waits for it.
constexpr uint32_t kPidFileWaitMs = 2000;
constexpr uint32_t kStartPollMs = 20;

void PrintError(const std::string& text) {
  std::fprintf(stderr, "tapisrv: %s\n", platform::printableText(text).c_str());
}

void PrintLine(const std::string& text) {
  std::printf("tapisrv: %s\n", platform::printableText(text).c_str());
}

std::optional<uint32_t> ReadPidFile() {
  std::ifstream in(ServicePidPath());
  uint32_t pid = 0;
  if (in >> pid && pid != 0) return pid;
  return std::nullopt;
}

bool WritePidFile(uint32_t pid, std::string* error) {
  // Written aside and renamed, so a reader never sees half a number.
  const std::string path = ServicePidPath();
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << pid << "\n";
    if (!out.flush()) {
      *error = "cannot write " + temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temporary + " to " + path;
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// The log's size now: where what a service starting now writes begins.
std::streamoff LogSize() {
  std::ifstream in(ServiceLogPath(), std::ios::ate);
  return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

// ": " and the last line the log got after from (without its time stamp),
// or "" without one: what a service that ended at its start said last.
std::string LastLogLine(std::streamoff from) {
  std::ifstream in(ServiceLogPath());
  in.seekg(from);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  constexpr size_t kStampSize = 24;  // "2026-12-08 20:37:04.123 "
  return last.size() > kStampSize ? ": " + last.substr(kStampSize) : "";
}

std::string PidText(std::optional<uint32_t> pid) {
  return pid ? "pid " + std::to_string(*pid) : "pid unknown";
}

// Whether a service holds the root's lock, and then its process ID as its
// pid file gives it (nullopt inside when it has not written one yet).
struct Running {
  bool running = false;
  std::optional<uint32_t> pid;
};

std::optional<Running> QueryRunning(std::string* error) {
  Running result;
  {
    platform::NamedMutex mutex(kMutexName);
    switch (mutex.lock(0)) {
      case platform::NamedMutex::LockResult::Acquired:
      case platform::NamedMutex::LockResult::Abandoned:
        mutex.unlock();
        return result;
      case platform::NamedMutex::LockResult::Failed:
        *error = "cannot open the service lock " + mutex.lockFilePath();
        return std::nullopt;
      case platform::NamedMutex::LockResult::Timeout:
        break;
    }
  }
  result.running = true;
  for (uint32_t waited = 0; waited <= kPidFileWaitMs; waited += kStartPollMs) {
    result.pid = ReadPidFile();
    if (result.pid && platform::processRunning(*result.pid)) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(kStartPollMs));
  }
  result.pid.reset();
  return result;
}

// Hands the server's traffic to the core.
class CoreHandler final : public ServerHandler {
 public:
  explicit CoreHandler(ServiceCore& core) : core_(core) {}
  void OnConnect(ClientId client, uint32_t processId) override { core_.OnConnect(client, processId); }
  void OnMessage(ClientId client, std::span<const uint8_t> message) override { core_.OnMessage(client, message); }
  void OnDisconnect(ClientId client) override { core_.OnDisconnect(client); }
  void OnWake() override { core_.ProcessProviderEvents(); }
  void OnStop() override { core_.StopProviders(); }

 private:
  ServiceCore& core_;
};

int RunService(bool toStderr, std::optional<uint32_t> callLimitMs) {
  // A write to a reader that has gone (standard error piped to a program
  // that ended, a provider's socket) fails with an error instead of ending
  // the service; the clients' sockets never raise it anyway.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  const std::string root = platform::rootDir();
  if (!platform::ensureDirectory(platform::runtimeDir())) {
    PrintError("cannot create the runtime folder " + platform::runtimeDir());
    return kExitFailed;
  }
  platform::NamedMutex mutex(kMutexName);
  const platform::NamedMutex::LockResult locked = mutex.lock(kLockWaitMs);
  if (locked == platform::NamedMutex::LockResult::Timeout) {
    std::string error;
    std::optional<Running> running = QueryRunning(&error);
    PrintError("already running for " + root + " (" + PidText(running ? running->pid : std::nullopt) + ")");
    return kExitFailed;
  }
  if (locked == platform::NamedMutex::LockResult::Failed) {
    PrintError("cannot take the service lock " + mutex.lockFilePath());
    return kExitFailed;
  }

  ServiceLogFile log(ServiceLogPath(), toStderr ? stderr : nullptr);
  std::string error;
  if (!log.Open(&error)) {
    PrintError(error);
    mutex.unlock();
    return kExitFailed;
  }
  const uint32_t pid = platform::currentProcessId();
  log.Write("starting for " + root + " (pid " + std::to_string(pid) + ")");
  // A clean stop removes the pid file; one left behind tells of a service
  // that was killed or crashed (its socket file is replaced below).
  if (std::optional<uint32_t> previous = ReadPidFile()) {
    log.Write("the previous service of this root (pid " + std::to_string(*previous) + ") ended without stopping");
  }
  if (!WritePidFile(pid, &error)) {
    log.Write(error);
    mutex.unlock();
    return kExitFailed;
  }

  int exitCode = kExitOk;
  {
    ServiceServer server(log.Sink());
    ServiceCore core(server, log.Sink(), [&server] { server.Wake(); });
    if (callLimitMs) core.SetCallLimitMs(*callLimitMs);
    CoreHandler handler(core);
    const size_t providers = core.StartProviders();
    log.Write(std::to_string(providers) + " provider(s) running, " + std::to_string(core.LineCount()) +
              " line device(s)");
    // Listening last: a client that gets through finds every provider
    // started, and the start of a detached service waits for exactly that.
    if (server.Listen(ServiceSocketPath(), &error)) {
      log.Write("serving at " + ServiceSocketPath());
      // A stop request wakes the loop (Wake writes to an eventfd, which a
      // signal handler may do), so the idle service sleeps until then.
      platform::setStopRequestWake([](void* server) { static_cast<ServiceServer*>(server)->Wake(); }, &server);
      server.Run(handler, [] { return platform::stopRequest() != 0; });
      platform::setStopRequestWake(nullptr, nullptr);
      log.Write("stopped");
    } else {
      log.Write(error);
      core.StopProviders();
      exitCode = kExitFailed;
    }
  }
  std::remove(ServicePidPath().c_str());
  mutex.unlock();
  return exitCode;
}

int StartDetached(std::optional<uint32_t> callLimitMs) {
  const std::string root = platform::rootDir();
  if (!platform::ensureDirectory(platform::runtimeDir())) {
    PrintError("cannot create the runtime folder " + platform::runtimeDir());
    return kExitFailed;
  }
  std::string error;
  std::optional<Running> running = QueryRunning(&error);
  if (!running) {
    PrintError(error);
    return kExitFailed;
  }
  if (running->running) {
    PrintError("already running for " + root + " (" + PidText(running->pid) + ")");
    return kExitFailed;
  }
  const std::string program = platform::currentProgramPath();
  const std::streamoff logStart = LogSize();
  std::unique_ptr<platform::Process> child =
      platform::createDetachedProcess(program,
                                      "\"" + program + "\" --foreground" +
                                          (callLimitMs ? " --call-limit-ms " + std::to_string(*callLimitMs) : ""),
                                      &error);
  if (!child) {
    PrintError(error);
    return kExitFailed;
  }
  for (uint32_t waited = 0; waited < kStartWaitMs; waited += kStartPollMs) {
    if (child->wait(kStartPollMs)) {
      PrintError("the service ended at its start (exit code " + std::to_string(child->exitCode()) + ")" +
                 LastLogLine(logStart) + "; see " + ServiceLogPath());
      return kExitFailed;
    }
    if (platform::LocalConnection::connect(ServiceSocketPath()).valid()) {
      PrintLine("started for " + root + " (pid " + std::to_string(child->id()) + ")");
      return kExitOk;
    }
  }
  platform::requestProcessStop(child->id());
  PrintError("the service (pid " + std::to_string(child->id()) + ") did not accept connections within " +
             std::to_string(kStartWaitMs / 1000) + " s and was asked to stop; see " + ServiceLogPath());
  return kExitFailed;
}

int StopService() {
  const std::string root = platform::rootDir();
  std::string error;
  std::optional<Running> running = QueryRunning(&error);
  if (!running) {
    PrintError(error);
    return kExitFailed;
  }
  if (!running->running) {
    PrintError("not running for " + root);
    return kExitFailed;
  }
  if (!running->pid) {
    PrintError("running for " + root + ", but its process ID is not in " + ServicePidPath());
    return kExitFailed;
  }
  const uint32_t pid = *running->pid;
  if (!platform::requestProcessStop(pid)) {
    PrintError("cannot ask the service (pid " + std::to_string(pid) + ") to stop");
    return kExitFailed;
  }
  if (!platform::waitForProcessExit(pid, kStopWaitMs)) {
    PrintError("the service (pid " + std::to_string(pid) + ") did not end within " +
               std::to_string(kStopWaitMs / 1000) + " s");
    return kExitFailed;
  }
  PrintLine("stopped for " + root + " (pid " + std::to_string(pid) + ")");
  return kExitOk;
}

int ShowStatus() {
  const std::string root = platform::rootDir();
  std::string error;
  std::optional<Running> running = QueryRunning(&error);
  if (!running) {
    PrintError(error);
    return kExitFailed;
  }
  if (!running->running) {
    PrintLine("not running for " + root);
    return kExitFailed;
  }
  PrintLine("running for " + root + " (" + PidText(running->pid) + ")");
  return kExitOk;
}

}  // namespace

std::string ServiceSocketPath() { return platform::runtimeDir() + "/" + tapiwire::kServiceSocketName; }
std::string ServicePidPath() { return platform::runtimeDir() + "/tapisrv.pid"; }
std::string ServiceLogPath() { return platform::runtimeDir() + "/tapisrv.log"; }

namespace {

// MS of --call-limit-ms: decimal digits only, 0 .. kMaxCallLimitMs.
std::optional<uint32_t> ParseLimit(const std::string& text) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long value = std::stoul(text);
  if (value > kMaxCallLimitMs) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options, std::string* error) {
  *options = ProgramOptions{};
  ProgramMode& mode = options->mode;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    ProgramMode given;
    if (arg == "--help") {
      given = ProgramMode::Help;
    } else if (arg == "--foreground") {
      given = ProgramMode::Foreground;
    } else if (arg == "--stop") {
      given = ProgramMode::Stop;
    } else if (arg == "--status") {
      given = ProgramMode::Status;
    } else if (arg == "--call-limit-ms") {
      if (i + 1 == args.size()) {
        *error = "--call-limit-ms needs a value (milliseconds)";
        return false;
      }
      options->callLimitMs = ParseLimit(args[++i]);
      if (!options->callLimitMs) {
        *error = "--call-limit-ms takes milliseconds from 0 to " + std::to_string(kMaxCallLimitMs) + ", not '" +
                 args[i] + "'";
        return false;
      }
      continue;
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
    if (given == ProgramMode::Help) {
      mode = given;
      return true;
    }
    if (mode != ProgramMode::Start && mode != given) {
      *error = "--foreground, --stop and --status exclude each other";
      return false;
    }
    mode = given;
  }
  if (options->callLimitMs && (mode == ProgramMode::Stop || mode == ProgramMode::Status)) {
    *error = "--call-limit-ms goes with starting the service, not with --stop or --status";
    return false;
  }
  return true;
}

bool ParseProgramMode(const std::vector<std::string>& args, ProgramMode* mode, std::string* error) {
  ProgramOptions options;
  const bool ok = ParseProgramOptions(args, &options, error);
  *mode = ok ? options.mode : ProgramMode::Start;
  return ok;
}

std::string ProgramHelp() {
  return "Usage: tapisrv [--foreground] [--call-limit-ms MS] | --stop | --status | --help\n"
         "\n"
         "The telephony service of a root folder (TK_ROOT): it loads every provider of\n"
         "TAPI's provider list, numbers their line devices across providers and serves\n"
         "the applications (libtapi32) over the socket <root>/run/tapisrv.sock.\n"
         "One service runs per root.\n"
         "\n"
         "  (no option)   start the service in the background; returns once it accepts\n"
         "                connections (at most 10 s)\n"
         "  --foreground  run the service in this process, for a service manager; its\n"
         "                log also goes to standard error; SIGTERM or SIGINT (Ctrl-C)\n"
         "                stop it in order (exit code 0)\n"
         "  --stop        ask the running service to stop and wait for its end (at most\n"
         "                15 s)\n"
         "  --status      tell whether the service runs, and its process ID\n"
         "  --call-limit-ms MS\n"
         "                with a start: a provider call (a TSPI function) that has not\n"
         "                returned after MS milliseconds is logged once, with the\n"
         "                provider, the function, how long and the stack of the service\n"
         "                thread, and again when it returns (0 to 3600000; default 5000;\n"
         "                0: not watched)\n"
         "  --help        show this text\n"
         "\n"
         "Files in <root>/run/: tapisrv.sock (the socket, owner-only), tapisrv.pid (the\n"
         "service's process ID), tapisrv.log (the log, time-stamped lines, appended).\n"
         "\n"
         "Exit codes: 0 done (--status: the service runs); 1 failed (the service\n"
         "already runs, does not run for --stop, or could not start; --status: it does\n"
         "not run); 2 usage error.\n";
}

int RunTapisrv(const std::vector<std::string>& args) {
  ProgramOptions options;
  std::string error;
  if (!ParseProgramOptions(args, &options, &error)) {
    PrintError(error + " (try --help)");
    return kExitUsage;
  }
  switch (options.mode) {
    case ProgramMode::Help:
      std::fputs(ProgramHelp().c_str(), stdout);
      return kExitOk;
    case ProgramMode::Foreground:
      platform::watchStopRequests();
      return RunService(true, options.callLimitMs);
    case ProgramMode::Stop:
      return StopService();
    case ProgramMode::Status:
      return ShowStatus();
    case ProgramMode::Start:
      break;
  }
  return StartDetached(options.callLimitMs);
}

}  // namespace tapisrv
