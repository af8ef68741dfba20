// Questions about any process by its id on Windows: whether it runs
// (OpenProcess and a zero wait on its handle; one that exists but may not be
// opened counts as running), waiting for its end (a wait on its handle), its
// CPU time (GetProcessTimes, in 100 ns units) and its threads' CPU times
// (a Toolhelp snapshot of the system's threads, GetThreadTimes each).
// Thread names come from GetThreadDescription where the system has it, else
// from the names threads of this process gave through Thread::start. Ended
// processes whose handles are still open somewhere count as ended. No state.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>

#include "platform/process.h"
#include "platform/process_query.h"
#include "platform/win32/core_text_win32.h"
#include "platform/win32/thread_names_win32.h"

namespace platform {
namespace {

uint64_t hundredNs(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

std::optional<uint64_t> cpuTime100Ns(uint32_t processId) {
  if (processId == 0) return std::nullopt;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return std::nullopt;
  FILETIME created, exited, kernel, user;
  std::optional<uint64_t> total;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) total = hundredNs(kernel) + hundredNs(user);
  CloseHandle(process);
  return total;
}

std::string threadName(HANDLE thread, uint32_t threadId, bool ownProcess) {
  using GetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto getDescription =
      wincore::systemFunction<GetThreadDescriptionFn>(L"kernel32.dll", "GetThreadDescription");
  std::string name;
  if (getDescription != nullptr && thread != nullptr) {
    PWSTR text = nullptr;
    if (SUCCEEDED(getDescription(thread, &text)) && text != nullptr) {
      name = wincore::narrow(text);
      LocalFree(text);
    }
  }
  if (name.empty() && ownProcess) name = wincore::rememberedThreadName(threadId);
  return name;
}

}  // namespace

std::optional<uint64_t> processCpuTimeMs(uint32_t processId) {
  const std::optional<uint64_t> t = cpuTime100Ns(processId);
  if (!t) return std::nullopt;
  return *t / 10000;
}

std::optional<uint64_t> processCpuTimeNs(uint32_t processId) {
  const std::optional<uint64_t> t = cpuTime100Ns(processId);
  if (!t) return std::nullopt;
  return *t * 100;
}

std::vector<ThreadCpuTime> threadCpuTimes(uint32_t processId) {
  std::vector<ThreadCpuTime> threads;
  if (processId == 0 || !processRunning(processId)) return threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  const bool own = processId == GetCurrentProcessId();
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;  // ended meanwhile
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      ThreadCpuTime t;
      t.threadId = entry.th32ThreadID;
      t.cpuNs = (hundredNs(kernel) + hundredNs(user)) * 100;
      t.name = threadName(thread, t.threadId, own);
      threads.push_back(std::move(t));
    }
    CloseHandle(thread);
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  std::sort(threads.begin(), threads.end(),
            [](const ThreadCpuTime& a, const ThreadCpuTime& b) { return a.threadId < b.threadId; });
  return threads;
}

bool processRunning(uint32_t processId) {
  if (processId == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

bool waitForProcessExit(uint32_t processId, uint32_t timeoutMs) {
  if (processId == 0) return true;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return true;  // no such process
    // One we may not wait on: look now and then.
    const DWORD start = GetTickCount();
    while (processRunning(processId)) {
      if (timeoutMs != kInfinite && GetTickCount() - start >= timeoutMs) return false;
      Sleep(5);
    }
    return true;
  }
  const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

}  // namespace platform
