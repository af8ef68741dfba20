// Processes on Windows: CreateProcessW with the command line as given (the
// child's C runtime splits it, as command_line_internal.h describes), the
// process handle's end as the Process's Waitable state, GetExitCodeProcess.
//
// Threads: each started process has one waiter thread (as the Linux backend
// has one reaper) that waits on the process handle, records the exit code
// and signals the Waitable; it shares the process's State with the Process
// object, so a process outliving its object is still watched, and it closes
// the handle at the end.
//
// Start-up: createProcess gives the child a process group of its own
// (CREATE_NEW_PROCESS_GROUP: a Ctrl+C at the caller's console does not reach
// it, as the Linux child leads its own group) and the caller's standard
// handles, passed explicitly (PROC_THREAD_ATTRIBUTE_HANDLE_LIST) so no other
// inheritable handle of this process leaks into it. createDetachedProcess
// starts it without a console (DETACHED_PROCESS) and with its standard
// handles on the NUL device. Exit codes are the program's own; a process
// ended by TerminateProcess has the code given there (there are no signals,
// so no 128 + signal numbers except those requestProcessStop uses).
//
// requestProcessStop sets the stop event of a program that watches stop
// requests (stop_request_win32.cpp), which then ends in order; a process
// without one is ended at once with exit code 128 + SIGTERM, as the default
// action of SIGTERM ends a Linux process.
//
// ProcessEndWait: the wake-up is an auto-reset event (its handle is kept in
// the int member: handles fit in 32 bits on 64-bit Windows, see
// HandleToLong); a wait is WaitForMultipleObjects on it and the process.
#include "platform/process.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/command_line_internal.h"
#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

constexpr int kStillActive = 259;  // STILL_ACTIVE

}  // namespace

struct Process::State {
  std::mutex m;
  std::condition_variable spawned;
  bool spawnDone = false;   // guarded by m; handle then holds the process or nullptr
  HANDLE handle = nullptr;  // closed with the State
  uint32_t pid = 0;
  Process* owner = nullptr;  // guarded by m
  std::atomic<bool> ended{false};
  std::atomic<int> exitCode{kStillActive};

  ~State() {
    if (handle != nullptr) CloseHandle(handle);
  }

  // Runs on the waiter thread: waits for the start, then for the end.
  void watch() {
    {
      std::unique_lock lock(m);
      spawned.wait(lock, [this] { return spawnDone; });
      if (handle == nullptr) return;
    }
    WaitForSingleObject(handle, INFINITE);
    DWORD code = static_cast<DWORD>(kStillActive);
    if (!GetExitCodeProcess(handle, &code)) code = static_cast<DWORD>(-1);
    std::lock_guard lock(m);
    exitCode = static_cast<int>(code);
    if (owner) {
      owner->changeState([this] { ended = true; });
    } else {
      ended = true;
    }
  }

  void publishSpawn(HANDLE process, uint32_t processId) {
    std::lock_guard lock(m);
    handle = process;
    pid = processId;
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

enum class Spawn { OwnGroup, Detached };

// Inheritable copies of the handles the child gets as its standard streams,
// closed again once it has started.
struct StandardHandles {
  HANDLE handles[3] = {nullptr, nullptr, nullptr};
  std::vector<HANDLE> distinct;

  ~StandardHandles() {
    for (HANDLE h : distinct) CloseHandle(h);
  }

  bool fromCaller() {
    const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
      HANDLE own = GetStdHandle(which[i]);
      if (own == nullptr || own == INVALID_HANDLE_VALUE) continue;
      HANDLE copy = nullptr;
      if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        continue;  // a console handle of older systems cannot be duplicated; the console is shared anyway
      handles[i] = copy;
      distinct.push_back(copy);
    }
    return true;
  }

  bool onNullDevice() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
      if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
      if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
      return false;
    }
    handles[0] = in;
    handles[1] = handles[2] = out;
    distinct = {in, out};
    return true;
  }
};

std::unique_ptr<Process> spawnProcess(std::string_view programPath, std::string_view commandLine,
                                      std::string* error, Spawn how) {
  auto fail = [&](std::string why) -> std::unique_ptr<Process> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  const std::string path = resolveProgramPath(programPath);
  if (path.empty()) return fail("program not found: " + std::string(programPath));
  // Without a command line the program path is the command line, as on Windows.
  const std::string line = commandLine.empty() ? quoteProgramName(programPath) : std::string(commandLine);
  if (line.find('\0') != std::string::npos) return fail("the command line contains a zero character");
  std::wstring wideLine = wincore::widen(line);
  if (wideLine.size() >= 32767) return fail("the command line is longer than Windows allows (32767 characters)");
  const std::wstring widePath = wincore::widen(path);

  StandardHandles standard;
  if (!(how == Spawn::Detached ? standard.onNullDevice() : standard.fromCaller()))
    return fail("cannot open the null device for " + path + ": " + wincore::errorText(GetLastError()));

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
  if (how == Spawn::Detached) flags |= DETACHED_PROCESS;
  std::vector<char> attributeBuffer;
  BOOL inherit = FALSE;
  if (!standard.distinct.empty()) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard.handles[0];
    startup.StartupInfo.hStdOutput = standard.handles[1];
    startup.StartupInfo.hStdError = standard.handles[2];
    inherit = TRUE;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBuffer.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    if (size != 0 && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, standard.distinct.data(),
                                  standard.distinct.size() * sizeof(HANDLE), nullptr, nullptr)) {
      startup.lpAttributeList = list;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }

  // The waiter thread is made before the process, so a process is never
  // left without one when no thread can be started.
  auto state = std::make_shared<Process::State>();
  try {
    std::thread([state] { state->watch(); }).detach();
  } catch (const std::system_error& e) {
    return fail("cannot start a thread to watch the process: " + std::string(e.what()));
  }

  // A caller without a console does not give a console program a window of
  // its own: like a Linux child without a terminal, it runs without one.
  if (how == Spawn::OwnGroup && GetConsoleWindow() == nullptr) flags |= CREATE_NO_WINDOW;

  PROCESS_INFORMATION info{};
  BOOL ok = CreateProcessW(widePath.c_str(), wideLine.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                           &startup.StartupInfo, &info);
  DWORD why = GetLastError();
  if (!ok && why == ERROR_INVALID_PARAMETER && startup.lpAttributeList != nullptr) {
    // Windows 7 refuses its console pseudo-handles in a handle list: the
    // child then shares the console and inherits nothing.
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = 0;
    ok = CreateProcessW(widePath.c_str(), wideLine.data(), nullptr, nullptr, FALSE,
                        flags & ~static_cast<DWORD>(EXTENDED_STARTUPINFO_PRESENT), nullptr, nullptr,
                        &startup.StartupInfo, &info);
    why = GetLastError();
  }
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!ok) {
    state->publishSpawn(nullptr, 0);
    return fail("cannot start " + path + ": " + wincore::errorText(why));
  }
  CloseHandle(info.hThread);
  auto process = std::make_unique<Process>(state);
  state->publishSpawn(info.hProcess, info.dwProcessId);
  return process;
}

HANDLE wakeEvent(int stored) { return stored == -1 ? nullptr : LongToHandle(stored); }

}  // namespace

std::unique_ptr<Process> createProcess(std::string_view programPath, std::string_view commandLine, std::string* error) {
  return spawnProcess(programPath, commandLine, error, Spawn::OwnGroup);
}

std::unique_ptr<Process> createDetachedProcess(std::string_view programPath, std::string_view commandLine,
                                               std::string* error) {
  return spawnProcess(programPath, commandLine, error, Spawn::Detached);
}

uint32_t currentProcessId() { return GetCurrentProcessId(); }

bool requestProcessStop(uint32_t processId) {
  if (processId == 0) return false;
  const std::wstring name = wincore::stopEventName(processId);
  if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
    const bool ok = SetEvent(event) != 0;
    CloseHandle(event);
    return ok;
  }
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  const bool ok = running && TerminateProcess(process, 128u + SIGTERM) != 0;
  CloseHandle(process);
  return ok;
}

ProcessEndWait::ProcessEndWait() {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  wakeFd_ = event == nullptr ? -1 : HandleToLong(event);
}

ProcessEndWait::~ProcessEndWait() {
  if (HANDLE event = wakeEvent(wakeFd_)) CloseHandle(event);
}

bool ProcessEndWait::valid() const { return wakeFd_ != -1; }

void ProcessEndWait::wake() {
  if (HANDLE event = wakeEvent(wakeFd_)) SetEvent(event);
}

ProcessEndWait::Result ProcessEndWait::wait(uint32_t processId) {
  HANDLE event = wakeEvent(wakeFd_);
  if (event == nullptr) return Result::Failed;
  HANDLE process = nullptr;
  if (processId != 0) {
    process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
      // No such process (any more). An existing one we may not open counts
      // as running: only a wake-up ends the wait then.
      if (GetLastError() != ERROR_ACCESS_DENIED)
        return WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? Result::Woken : Result::Ended;
    }
  }
  // The wake-up first: it wins over an end that happens at the same time.
  const HANDLE handles[2] = {event, process};
  const DWORD r = WaitForMultipleObjects(process != nullptr ? 2 : 1, handles, FALSE, INFINITE);
  if (process != nullptr) CloseHandle(process);
  if (r == WAIT_OBJECT_0) return Result::Woken;
  if (r == WAIT_OBJECT_0 + 1) return Result::Ended;
  return Result::Failed;
}

}  // namespace platform
