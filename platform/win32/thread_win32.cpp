// The system's part of threads on Windows (thread.cpp holds Thread itself,
// on std::thread, which MinGW-w64's POSIX thread model runs on Windows
// threads).
//
// Ids are the system's (GetCurrentThreadId), so they match what debuggers,
// Toolhelp and OpenThread use. A thread's name goes to SetThreadDescription
// where the system has it (looked up at run time: Windows 10 1607 and later,
// recent Wine) and is also kept by the platform itself (a per-thread copy for
// currentThreadName, a process-wide table for threadCpuTimes), so names work
// on systems without it too. The main thread's name is the program's name,
// as on Linux; other threads not started through Thread have the program's
// name too (Linux threads inherit their creator's, usually that one).
#include "platform/thread.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>

#include "platform/process.h"
#include "platform/thread_internal.h"
#include "platform/win32/core_text_win32.h"
#include "platform/win32/thread_names_win32.h"

namespace platform {
namespace {

std::mutex& namesLock() {
  static std::mutex m;
  return m;
}

std::map<uint32_t, std::string>& names() {
  static auto* table = new std::map<uint32_t, std::string>;  // lives as long as the process
  return *table;
}

// Trivially destructible, so touching it registers no destructor.
struct ThreadName {
  char text[16];
  bool set;
};
thread_local ThreadName t_name;

using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

}  // namespace

void wincore::rememberThreadName(uint32_t threadId, const std::string& name) {
  std::lock_guard lock(namesLock());
  if (name.empty())
    names().erase(threadId);
  else
    names()[threadId] = name;
}

std::string wincore::rememberedThreadName(uint32_t threadId) {
  std::lock_guard lock(namesLock());
  auto it = names().find(threadId);
  return it == names().end() ? std::string() : it->second;
}

void internal::nameThisThread(const std::string& name) {
  const std::string kept = name.substr(0, 15);
  std::memcpy(t_name.text, kept.c_str(), kept.size() + 1);
  t_name.set = true;
  wincore::rememberThreadName(GetCurrentThreadId(), kept);
  static const auto setDescription =
      wincore::systemFunction<SetThreadDescriptionFn>(L"kernel32.dll", "SetThreadDescription");
  if (setDescription != nullptr) setDescription(GetCurrentThread(), wincore::widen(kept).c_str());
}

void internal::forgetThisThreadName() { wincore::rememberThreadName(GetCurrentThreadId(), {}); }

uint32_t currentThreadId() { return GetCurrentThreadId(); }

void sleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

std::string currentThreadName() {
  if (t_name.set) return t_name.text;
  return programBaseName().substr(0, 15);
}

}  // namespace platform
