// Windows, classes, posting, sending, timers and registered messages of
// platform/window.h on the real window manager. The message loop side is in
// window_pump_win32.cpp.
//
// - A WindowHandle is the HWND itself (both pointer-sized), so handles mean
//   the same in every process and other code may hand them to Win32 calls.
// - Every class gets the one common window procedure below (LRESULT CALLBACK:
//   __stdcall on x86); it finds the class's platform procedure through a
//   table keyed by the class atom when the window gets WM_CREATE and keeps it
//   in the window's extra bytes. The creation's WM_NCCREATE and WM_NCCALCSIZE
//   (and WM_GETMINMAXINFO) go to DefWindowProcA: a platform procedure first
//   sees WM_CREATE, with lParam 0 (the real one carries a CREATESTRUCT),
//   and from then on every message, the window manager's own too (WM_SIZE,
//   WM_NCDESTROY, broadcasts to top-level windows, ...), which it hands to
//   defWindowProc (DefWindowProcA) when it does not know them.
// - Classes are registered with the instance of the module that holds this
//   code (the platform layer is linked statically into every deliverable),
//   so each DLL's classes and table are its own.
// - Windows are hidden top-level windows (not message-only: FindWindowA,
//   from any process, sees only top-level windows). They are found per
//   desktop, not per root folder: under one root at a time (as a Windows
//   machine runs the system) that is the same; tests that run at the same
//   time in one Wine prefix use class names of their own.
// - findWindow gives the first window of the class in Z order, which for
//   several windows of one class is usually the newest, not the oldest as
//   with the Linux stand-in.
// - WM_COPYDATA to another process is copied by Windows. To a window of
//   another thread of this process Windows would pass the sender's own block;
//   sendMessage copies it first, so the receiver always has a copy of its
//   own, as the interface promises.
// - Threads: none of its own. A window belongs to the thread that created
//   it; the window manager calls its procedure on that thread.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/window_win32.h"
#include "platform/window.h"

namespace platform {

// The platform's types and numbers are the Windows ones, so values pass
// through unchanged.
static_assert(sizeof(WindowHandle) == sizeof(HWND));
static_assert(sizeof(WParam) == sizeof(WPARAM) && sizeof(LParam) == sizeof(LPARAM));
static_assert(sizeof(LResult) == sizeof(LRESULT));
static_assert(sizeof(CopyDataStruct) == sizeof(COPYDATASTRUCT));
static_assert(offsetof(CopyDataStruct, dwData) == offsetof(COPYDATASTRUCT, dwData));
static_assert(offsetof(CopyDataStruct, cbData) == offsetof(COPYDATASTRUCT, cbData));
static_assert(offsetof(CopyDataStruct, lpData) == offsetof(COPYDATASTRUCT, lpData));
static_assert(kWmCreate == WM_CREATE && kWmDestroy == WM_DESTROY && kWmClose == WM_CLOSE && kWmQuit == WM_QUIT);
static_assert(kWmCopyData == WM_COPYDATA && kWmTimer == WM_TIMER && kWmUser == WM_USER);

namespace {

// Windows keeps atom names (class names, registered messages) of at most 255 characters.
constexpr size_t kMaximumNameLength = 255;
// The largest WM_COPYDATA block, as with the Linux stand-in.
constexpr uint32_t kMaximumCopyData = 64u * 1024 * 1024;
// The smallest timer period Windows keeps (USER_TIMER_MINIMUM).
constexpr uint32_t kMinimumTimerMs = 10;

HWND asHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle asHandle(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

// NULL posts to the calling thread's queue and HWND_BROADCAST reaches every
// top-level window of the desktop: neither is a window of the interface.
bool isSpecialTarget(WindowHandle window) { return window == nullptr || asHwnd(window) == HWND_BROADCAST; }

bool validName(std::string_view name) {
  return !name.empty() && name.size() <= kMaximumNameLength &&
         name.find_first_of(std::string_view("\0\n\r", 3)) == std::string_view::npos;
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The module (EXE or DLL) this code is linked into.
HINSTANCE moduleInstance() {
  static const HINSTANCE instance = [] {
    static const char anchor = 0;
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       &anchor, &module);
    return module;
  }();
  return instance;
}

// The platform procedures of this module's classes.
struct ClassTable {
  std::mutex lock;
  std::map<ATOM, WindowProc> procs;
  std::map<std::string, ATOM> atoms;  // by lower-case name
};

ClassTable& classes() {
  static ClassTable table;
  return table;
}

WindowProc classProcOf(HWND hwnd) {
  const ATOM atom = static_cast<ATOM>(GetClassWord(hwnd, GCW_ATOM));
  ClassTable& table = classes();
  std::lock_guard lock(table.lock);
  auto it = table.procs.find(atom);
  return it == table.procs.end() ? nullptr : it->second;
}

// Both trivially destructible (see wait_win32.h): the kept exception is on
// the heap.
thread_local std::exception_ptr* t_procedureException = nullptr;
thread_local uint32_t t_sentHandled = 0;

LRESULT CALLBACK commonWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<WindowProc>(GetWindowLongPtrA(hwnd, 0));
  if (proc == nullptr) {
    // Until WM_CREATE the window manager sets the window up on its own.
    if (message != WM_CREATE) return DefWindowProcA(hwnd, message, wParam, lParam);
    proc = classProcOf(hwnd);
    if (proc == nullptr) return -1;
    SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(proc));
  }
  if (message == WM_CREATE) lParam = 0;
  if (InSendMessage()) ++t_sentHandled;
  try {
    return proc(asHandle(hwnd), message, wParam, lParam);
  } catch (...) {
    if (!t_procedureException) t_procedureException = new (std::nothrow) std::exception_ptr(std::current_exception());
    return message == WM_CREATE ? -1 : 0;
  }
}

LResult sendCopyData(HWND hwnd, WParam wParam, LParam lParam) {
  // A record is needed, and a length needs data (the receivers read both).
  if (lParam == 0) return 0;
  const auto* record = reinterpret_cast<const CopyDataStruct*>(lParam);
  if (record->cbData > 0 && record->lpData == nullptr) return 0;
  if (record->cbData > kMaximumCopyData) return 0;
  DWORD processId = 0;
  const DWORD threadId = GetWindowThreadProcessId(hwnd, &processId);
  if (threadId == 0) return 0;
  if (processId != GetCurrentProcessId() || threadId == GetCurrentThreadId()) {
    // Another process gets a copy from Windows; the own thread's procedure
    // is called directly, with the caller's record.
    return SendMessageA(hwnd, WM_COPYDATA, wParam, lParam);
  }
  const auto* bytes = static_cast<const std::byte*>(record->lpData);
  std::vector<std::byte> copy(bytes, bytes + record->cbData);
  CopyDataStruct own{record->dwData, record->cbData, copy.empty() ? nullptr : copy.data()};
  return SendMessageA(hwnd, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&own));
}

}  // namespace

void win32::rethrowProcedureException() {
  if (!t_procedureException) return;
  std::exception_ptr kept = std::move(*t_procedureException);
  delete std::exchange(t_procedureException, nullptr);
  std::rethrow_exception(kept);
}

uint32_t win32::sentMessagesHandled() { return t_sentHandled; }

bool registerClass(std::string_view className, WindowProc proc) {
  if (!validName(className) || proc == nullptr) return false;
  const std::string name(className);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = commonWindowProc;
  wc.cbWndExtra = sizeof(LONG_PTR);  // the platform procedure, from WM_CREATE on
  wc.hInstance = moduleInstance();
  wc.lpszClassName = name.c_str();
  ClassTable& table = classes();
  // Held across the registration, so that a window of the class created at
  // once by another thread finds its procedure.
  std::lock_guard lock(table.lock);
  const ATOM atom = RegisterClassExA(&wc);
  if (atom == 0) return false;  // taken (ERROR_CLASS_ALREADY_EXISTS), whatever the case
  table.procs[atom] = proc;
  table.atoms[lowerCase(name)] = atom;
  return true;
}

bool unregisterClass(std::string_view className) {
  if (!validName(className)) return false;
  ClassTable& table = classes();
  std::lock_guard lock(table.lock);
  // Fails for an unknown class and while windows of it exist (ERROR_CLASS_HAS_WINDOWS).
  if (!UnregisterClassA(std::string(className).c_str(), moduleInstance())) return false;
  auto it = table.atoms.find(lowerCase(className));
  if (it != table.atoms.end()) {
    table.procs.erase(it->second);
    table.atoms.erase(it);
  }
  return true;
}

WindowHandle createWindow(std::string_view className, std::string_view windowName) {
  if (!validName(className)) return nullptr;
  const std::string name(className);
  const std::string title(windowName);
  // Hidden (no WS_VISIBLE), top-level, zero-sized; a tool window stays out
  // of the task bar should anything ever show it.
  HWND hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, name.c_str(), title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              moduleInstance(), nullptr);
  if (hwnd != nullptr && t_procedureException) DestroyWindow(hwnd);
  win32::rethrowProcedureException();
  return asHandle(hwnd);
}

bool destroyWindow(WindowHandle window) {
  if (isSpecialTarget(window)) return false;
  // Fails for a window of another thread (ERROR_ACCESS_DENIED).
  const bool destroyed = DestroyWindow(asHwnd(window)) != FALSE;
  win32::rethrowProcedureException();
  return destroyed;
}

bool isWindow(WindowHandle window) { return !isSpecialTarget(window) && IsWindow(asHwnd(window)); }

WindowHandle findWindow(std::string_view className) {
  if (!validName(className)) return nullptr;
  return asHandle(FindWindowA(std::string(className).c_str(), nullptr));
}

uint32_t windowProcessId(WindowHandle window) {
  if (isSpecialTarget(window)) return 0;
  DWORD processId = 0;
  if (GetWindowThreadProcessId(asHwnd(window), &processId) == 0) return 0;
  return processId;
}

bool postMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  // WM_COPYDATA carries a pointer into the sender's memory: it can only be sent.
  if (isSpecialTarget(window) || message == kWmCopyData) return false;
  // Fails for a window that is gone and when the owner's queue is full
  // (ERROR_NOT_ENOUGH_QUOTA, 10000 messages by default).
  return PostMessageA(asHwnd(window), message, wParam, lParam) != FALSE;
}

void postQuitMessage(int exitCode) { PostQuitMessage(exitCode); }

LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  if (isSpecialTarget(window)) return 0;
  // While it waits, SendMessageA handles the messages sent to this thread.
  const LResult result = message == kWmCopyData ? sendCopyData(asHwnd(window), wParam, lParam)
                                                : SendMessageA(asHwnd(window), message, wParam, lParam);
  win32::rethrowProcedureException();
  return result;
}

LResult defWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  // WM_CLOSE destroys the window; the window manager's own messages get
  // their standard answers.
  const LResult result = DefWindowProcA(asHwnd(window), message, wParam, lParam);
  win32::rethrowProcedureException();
  return result;
}

uint32_t registerWindowMessage(std::string_view name) {
  if (!validName(name)) return 0;
  // A global atom: the same id in every process of the desktop, from 0xC000.
  return RegisterWindowMessageA(std::string(name).c_str());
}

uintptr_t setTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  // Id 0 could not be told from failure. Windows refuses windows of other processes.
  if (isSpecialTarget(window) || id == 0) return 0;
  return SetTimer(asHwnd(window), id, std::max(periodMs, kMinimumTimerMs), nullptr) != 0 ? id : 0;
}

bool killTimer(WindowHandle window, uintptr_t id) {
  return !isSpecialTarget(window) && KillTimer(asHwnd(window), id) != FALSE;
}

}  // namespace platform
