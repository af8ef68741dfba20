#pragma once
// Helpers of the Win32 core backend (clock, threads, processes, files,
// modules, named mutexes): text between the platform's UTF-8 strings and the
// UTF-16 the W functions take, and the system's text for an error number.
// Paths are UTF-8 in the platform's interface on every system, so one path
// means the same file on both backends. Internal to platform/win32.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace platform::wincore {

inline std::wstring widen(std::string_view utf8) {
  const std::u16string wide = utf8ToWide(utf8);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

inline std::string narrow(std::wstring_view wide) {
  return wideToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// "The system cannot find the file specified." (without the line end), or
// "error N" when the system has no text for the number.
inline std::string errorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n != 0 && buffer != nullptr) text = narrow(std::wstring_view(buffer, n));
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

// The running program's file (GetModuleFileNameW of the process), UTF-8.
inline std::string moduleFilePath(HMODULE module) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return narrow(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

// A file name's folder: what comes before the last separator ('\\' or '/').
inline std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A function of a system module that older systems (or Wine) may lack,
// looked up at run time; nullptr when absent.
template <typename Fn>
Fn systemFunction(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

// True when running under Wine rather than Windows.
inline bool runningUnderWine() {
  return systemFunction<void (*)()>(L"ntdll.dll", "wine_get_version") != nullptr;
}

// The event through which requestProcessStop asks a process that watches
// stop requests (watchStopRequests) to end in order.
inline std::wstring stopEventName(uint32_t processId) {
  return L"Local\\tk.stop." + std::to_wstring(processId);
}

}  // namespace platform::wincore
