#pragma once
// A second process for the tests of this folder: this test program again,
// running the one case `filter`, with `task` in the environment variable
// `variable` (the case skips itself when that is not set). Its standard
// handles are closed: it reports through its exit code and what it leaves
// in shared objects. Killed, if still running, when the object ends.
#include <windows.h>

#include <string>

namespace tktest {

struct SelfChild {
  PROCESS_INFORMATION info{};

  bool start(const char* filter, const char* variable, const std::string& task) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=" +
                           std::wstring(filter, filter + std::char_traits<char>::length(filter));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // no handles
    SetEnvironmentVariableA(variable, task.c_str());
    BOOL ok = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableA(variable, nullptr);
    return ok;
  }
  // The exit code, or -1 when the process did not end within 20 s.
  int wait() {
    if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<int>(code);
  }
  ~SelfChild() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    WaitForSingleObject(info.hProcess, 20000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
};

}  // namespace tktest
