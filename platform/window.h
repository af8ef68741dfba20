#pragma once
// Stand-in for the Windows window manager, as far as the system uses it:
// window classes with window procedures, hidden windows owned by the thread
// that created them, a message queue per thread with GetMessage /
// PeekMessage / DispatchMessage semantics, posted (queued) and sent
// (synchronous) messages, also between processes, WM_COPYDATA that copies
// its block into the receiving process, registered window messages that
// have the same id in every process, per-window timers, and finding a
// window by class from any process under the same root folder.
//
// A sent message is handled on the thread that owns the window: that thread
// handles it while it is in getMessage, peekMessage, waitMessage or
// msgWaitForMultiple. A message sent or posted to a window whose process is
// gone fails promptly (zero result, false); nothing hangs.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/wait.h"

namespace platform {

// A window, like an HWND: pointer-sized, meaningful in every process.
struct WindowTag;
using WindowHandle = WindowTag*;

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

// Window messages with their Windows numbers.
constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmCopyData = 0x004A;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmUser = 0x0400;

// The record WM_COPYDATA carries (lParam points to it), with the 64-bit
// Windows layout: dwData, cbData, lpData.
struct CopyDataStruct {
  uintptr_t dwData;
  uint32_t cbData;
  void* lpData;
};

using WindowProc = LResult (*)(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

struct Message {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

// Classes are per process; names compare without regard to case. False when
// the name is taken (registerClass) or unknown (unregisterClass), and, as on
// Windows, from unregisterClass while windows of the class exist.
bool registerClass(std::string_view className, WindowProc proc);
bool unregisterClass(std::string_view className);

// Creates a window of a registered class, owned by the calling thread; its
// procedure gets WM_CREATE (lParam 0) before this returns; the window can
// already be found from other processes then. Windows are never shown.
// nullptr when the class is unknown, or when the procedure answers WM_CREATE
// with -1 (the window then gets WM_DESTROY and is gone, as on Windows).
WindowHandle createWindow(std::string_view className, std::string_view windowName = {});
// Sends WM_DESTROY to the procedure, kills the window's timers and forgets
// the window. Only the owning thread may destroy a window.
bool destroyWindow(WindowHandle window);
bool isWindow(WindowHandle window);  // exists (in any process)
// The first window of the class in any process under this root; nullptr when none.
WindowHandle findWindow(std::string_view className);
// The process that owns the window, 0 when none.
uint32_t windowProcessId(WindowHandle window);

// Queued: returns at once. False when the window does not exist, for
// WM_COPYDATA (which can only be sent, as on Windows), or when the owner's
// queue already holds 10000 messages (the Windows limit).
bool postMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);
// Posts to the calling thread's own queue without a window (like PostThreadMessage to itself).
void postQuitMessage(int exitCode);
// Synchronous: returns the window procedure's result. For WM_COPYDATA the
// block lParam points to is copied to the receiver, which sees a
// CopyDataStruct of its own that is valid while it handles the message
// (blocks of up to 64 MiB; a null record, or one with a length but no data, is
// not sent).
// 0 when the window does not exist or its process or thread is gone. While
// waiting, the calling thread handles the messages sent to its own windows.
// A window's thread that ends without destroying it takes the window along:
// messages sent to it are answered 0, later posts fail.
LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// Waits for a message for the calling thread (handling sent messages and
// timers meanwhile); false when it is WM_QUIT (then message.wParam is the exit code).
bool getMessage(Message& message);
// Takes the next posted message, if any, without waiting (handling sent
// messages and due timers first). With remove false the message stays queued.
bool peekMessage(Message& message, bool remove = true);
// Waits until input is there for the calling thread (a posted message, the
// quit request or a due timer), handling sent messages meanwhile; does not
// take the input. True when input is there.
bool waitMessage();
// Calls the window procedure of message.window; 0 for no window.
LResult dispatchMessage(const Message& message);
// Default handling: WM_CLOSE destroys the window; everything else gives 0.
LResult defWindowProc(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);

// Like MsgWaitForMultipleObjects with QS_ALLINPUT: waits for one of the
// objects or for input (a posted message, a due timer or a sent message,
// which is handled before returning). Input that was already waiting counts
// too (as with MWMO_INPUTAVAILABLE), so a message left in the queue is not
// overlooked. Objects come before input when both are ready. Returns
// kWaitObject0 + index for an object, kWaitObject0 + objects.size() for
// input, kWaitTimeout, or kWaitFailed (a null object, or more than
// kMaximumWaitObjects - 1 of them).
uint32_t msgWaitForMultiple(std::span<Waitable* const> objects, uint32_t timeoutMs);

// The same id for the same name (case-insensitive) in every process under
// this root, from 0xC000; 0 on failure (also for an empty name, one longer
// than 255 characters, or one with a line break or zero byte).
uint32_t registerWindowMessage(std::string_view name);

// Timers of a window, WM_TIMER with wParam = the id, generated when the
// owner's queue has nothing else; setting an existing id restarts it.
// Any thread of the window's process may set and kill them. Periods below
// 10 ms count as 10 ms (as on Windows). Returns the id, 0 on failure (also
// for id 0, which could not be told from it).
uintptr_t setTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
bool killTimer(WindowHandle window, uintptr_t id);

}  // namespace platform
