#pragma once
// Shared between the files of the Windows window backend (window_win32.cpp,
// window_pump_win32.cpp). Not part of the platform interface.
#include <cstdint>

namespace platform::win32 {

// A window procedure of the platform must not let an exception unwind through
// the window manager's frames (that is undefined on Windows). The common
// window procedure keeps the first exception of a thread, answers the message
// with 0 (-1 for WM_CREATE, so the creation fails), and the platform function
// that made the window manager call the procedure throws it again once that
// call has returned: so an exception still reaches the caller of
// dispatchMessage, sendMessage, peekMessage, ..., as on Linux. (getMessage,
// and peekMessage when it took a message, leave it for the next call, so that
// the message taken is not lost.)
void rethrowProcedureException();

// How many messages sent by other threads or processes the calling thread's
// procedures have handled so far (counted by the common window procedure).
uint32_t sentMessagesHandled();

}  // namespace platform::win32
