#pragma once
// The tapisrv program: one telephony service per root folder.
//
//   tapisrv               starts the service as a detached process and
//                         returns once its socket accepts connections
//   tapisrv --foreground  runs the service in this process, for a service
//                         manager; ends in order on SIGTERM or SIGINT
//   tapisrv --stop        asks the running service to stop, waits for its end
//   tapisrv --status      tells whether a service runs, and its process ID
//   --call-limit-ms MS    (with a start) how long a provider call may take
//                         before the log shows it with its stack
//
// One service per root: the running service holds the named mutex "tapisrv"
// for its whole life (the system releases it when the process dies, so a
// killed service can be started again at once). Its files are in the
// root's runtime folder: tapisrv.sock, tapisrv.pid, tapisrv.log.
//
// Threads: the service's loop runs on the main thread (ServiceServer); the
// providers' threads only wake it; the watchdog of provider calls only logs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tapisrv {

enum class ProgramMode { Start, Foreground, Stop, Status, Help };

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// How long a start waits for the socket, and --stop for the service's end.
inline constexpr uint32_t kStartWaitMs = 10000;
inline constexpr uint32_t kStopWaitMs = 15000;

// The largest --call-limit-ms.
inline constexpr uint32_t kMaxCallLimitMs = 3600000;

struct ProgramOptions {
  ProgramMode mode = ProgramMode::Start;
  // --call-limit-ms: how long a provider call may take before it is logged
  // with its stack (nullopt: the service's default).
  std::optional<uint32_t> callLimitMs;
};

// The arguments without the program name; false with *error saying what is
// wrong for a usage error.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options, std::string* error);
bool ParseProgramMode(const std::vector<std::string>& args, ProgramMode* mode, std::string* error);
std::string ProgramHelp();

// The files of the current root's service.
std::string ServiceSocketPath();
std::string ServicePidPath();
std::string ServiceLogPath();

// The whole program for args (without the program name): its exit code.
int RunTapisrv(const std::vector<std::string>& args);

}  // namespace tapisrv
