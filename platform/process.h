#pragma once
// Processes: starting a program with a Windows-style command line, waiting
// for a process with a time-out, and testing whether one runs.
//
// A program path may use Windows spelling: "<system>\VNL2C64.EXE" finds,
// case-insensitively, "vnl2c64.exe" or "vnl2c64" in that folder (a symbolic
// link to the built program will do). The command line is split into
// arguments at blanks (double quotes group, as on Windows), the first being
// the program name; the child also finds the whole line through
// commandLine().
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wait.h"

namespace platform {

// A started child process; signalled (as a Waitable) once it has ended.
class Process : public Waitable {
 public:
  ~Process() override;  // the process goes on running
  uint32_t id() const;
  bool running() const;
  // The exit code once ended (a signal that killed it gives 128 + signal).
  int exitCode() const;
  bool wait(uint32_t timeoutMs = kInfinite);

  struct State;
  explicit Process(std::shared_ptr<State> state);

 private:
  bool isSignaledLocked() const override;
  std::shared_ptr<State> state_;
};

// Starts the program; nullptr on failure, with the reason in *error.
// Environment and working folder are the caller's; the new process leads a
// process group of its own, so signals a terminal sends to the caller's
// group (Ctrl-C) do not reach it.
std::unique_ptr<Process> createProcess(std::string_view programPath, std::string_view commandLine,
                                       std::string* error = nullptr);
// The file a Windows-style program path resolves to, "" when none.
std::string resolveProgramPath(std::string_view programPath);

// For any process id (also one this process did not start).
bool processRunning(uint32_t processId);
// True once the process has ended (at once for one that does not run).
bool waitForProcessExit(uint32_t processId, uint32_t timeoutMs);

uint32_t currentProcessId();
// CPU time (user and kernel) the process has used so far, in milliseconds;
// nothing when there is no such process.
std::optional<uint64_t> processCpuTimeMs(uint32_t processId);
// The running program's command line as it was given to createProcess
// (or the arguments joined by blanks for a program started otherwise).
std::string commandLine();
// The running program's file name without folder and extension ("VNL2C64" style
// names keep their case as the file has it).
std::string programBaseName();

// Starts the program apart from the caller, as a background service starts:
// its standard streams on the null device and a session of its own (no
// controlling terminal), so it outlives the caller, its terminal and any
// pipe the caller's output goes to. Otherwise as createProcess.
std::unique_ptr<Process> createDetachedProcess(std::string_view programPath, std::string_view commandLine,
                                               std::string* error = nullptr);

// Asks a process to end in order, as a service manager does (a termination
// request: SIGTERM here). False when there is no such process or it may not
// be asked.
bool requestProcessStop(uint32_t processId);

// The running program's file, with its folder; "" when unknown.
std::string currentProgramPath();

// Sleeps until a process ends or another thread wakes it, for a thread
// that must hear of the end of a process it did not start (or that some
// other object reaps). One waiting thread at a time; wake() may come from
// any thread, also before the wait, and is then kept for it. No periodic
// wake-ups where the system offers process descriptors (Linux 5.3 and
// later); elsewhere it looks every 50 ms.
class ProcessEndWait {
 public:
  ProcessEndWait();
  ~ProcessEndWait();
  ProcessEndWait(const ProcessEndWait&) = delete;
  ProcessEndWait& operator=(const ProcessEndWait&) = delete;

  // False when no wake-up descriptor could be made; wait() then fails.
  bool valid() const;

  enum class Result { Ended, Woken, Failed };
  // Waits for the process to end (Ended at once for one that does not run)
  // or for a wake() (Woken, which consumes it; a wake-up wins over an end).
  // With process id 0, waits for a wake() only.
  Result wait(uint32_t processId);
  void wake();

 private:
  int wakeFd_ = -1;
};

}  // namespace platform
