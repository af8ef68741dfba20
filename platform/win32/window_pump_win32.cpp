// The message loop side of platform/window.h on Windows: GetMessageA,
// PeekMessageA and DispatchMessageA on the calling thread's real queue, and
// msgWaitForMultiple, which waits for platform Waitables (the wait core's
// objects, see platform/wait.cpp) and the queue together: the wait core's
// waiter sleeps in MsgWaitForMultipleObjectsEx on its thread's wait event
// plus QS_ALLINPUT, with MWMO_INPUTAVAILABLE so that input already seen by an
// earlier peek still counts.
//
// Semantics kept from the interface: objects come before input when both are
// ready; a message sent to the thread is handled before msgWaitForMultiple
// returns for it (MsgWaitForMultipleObjectsEx itself only reports it).
// waitMessage is msgWaitForMultiple without objects, so it returns for input
// that is already there (the real WaitMessage waits for new input only).
// Input counts as Windows counts it (QS_ALLINPUT), so the window manager's
// own input to a window of the thread also ends the wait.
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "platform/win32/wait_win32.h"
#include "platform/win32/window_win32.h"
#include "platform/window.h"

namespace platform {
namespace {

Message fromMsg(const MSG& msg) {
  return Message{reinterpret_cast<WindowHandle>(msg.hwnd), msg.message, msg.wParam, msg.lParam};
}

// Handles the messages other threads and processes sent to this thread's
// windows (a peek does that, and leaves posted messages queued); true when
// there were any.
bool serveSentMessages() {
  const uint32_t before = win32::sentMessagesHandled();
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  win32::rethrowProcedureException();
  return win32::sentMessagesHandled() != before;
}

// True when the queue holds input, seen before or not.
bool inputWaiting() {
  return MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

}  // namespace

bool getMessage(Message& message) {
  MSG msg{};
  const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  // A message taken is handed out; an exception of a sent message handled
  // meanwhile comes with the next call (dispatchMessage, after dispatching).
  if (got == -1) {
    win32::rethrowProcedureException();
    // Only for bad arguments, which these are not; ends the loop rather than spinning.
    message = Message{nullptr, kWmQuit, 0, 0};
    return false;
  }
  message = fromMsg(msg);
  return got != FALSE;
}

bool peekMessage(Message& message, bool remove) {
  MSG msg{};
  const BOOL got = PeekMessageA(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE);
  if (!got || !remove) win32::rethrowProcedureException();  // as getMessage: nothing taken is lost
  if (got) message = fromMsg(msg);
  return got != FALSE;
}

bool waitMessage() { return msgWaitForMultiple({}, kInfinite) == kWaitObject0; }

LResult dispatchMessage(const Message& message) {
  if (message.window == nullptr) return 0;
  MSG msg{};
  msg.hwnd = reinterpret_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  const LResult result = DispatchMessageA(&msg);
  win32::rethrowProcedureException();
  return result;
}

uint32_t msgWaitForMultiple(std::span<Waitable* const> objects, uint32_t timeoutMs) {
  // One place stays for the queue, as with MsgWaitForMultipleObjects.
  if (objects.size() >= kMaximumWaitObjects) return kWaitFailed;
  if (std::find(objects.begin(), objects.end(), nullptr) != objects.end()) return kWaitFailed;
  const uint32_t input = kWaitObject0 + static_cast<uint32_t>(objects.size());
  const auto start = std::chrono::steady_clock::now();

  for (;;) {
    const bool handled = serveSentMessages();
    // The objects come first, as they do in the wait itself.
    if (!objects.empty()) {
      const uint32_t r = waitForMultiple(objects, false, 0);
      if (r != kWaitTimeout) return r;
    }
    if (handled) return input;
    if (inputWaiting()) {
      // Perhaps a message sent since the look above: handled before returning.
      serveSentMessages();
      return input;
    }
    uint32_t leftMs = kInfinite;
    if (timeoutMs != kInfinite) {
      using std::chrono::milliseconds;
      const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
      if (elapsed >= timeoutMs) return kWaitTimeout;
      leftMs = timeoutMs - static_cast<uint32_t>(elapsed);
    }
    const uint32_t r = win32::waitForObjectsOrInput(objects, leftMs);
    if (r != input) return r;  // an object, the time-out or a failure
    // Input: sent messages are handled and the objects looked at again above.
  }
}

}  // namespace platform
