#pragma once
// Posting and sending to a window of another process (see window_wire.h).
#include "platform/window.h"
#include "platform/window_sent.h"

namespace platform::wnd {

// False when the message was not queued (no such window, process gone).
bool remotePost(WindowHandle window, uint32_t message, WParam wParam, LParam lParam);
// The window procedure's result; 0 when it was not handled. While waiting,
// the calling thread handles the messages sent to its own windows.
LResult remoteSend(WindowHandle window, uint32_t message, WParam wParam, LParam lParam, const CopyDataView& block);

}  // namespace platform::wnd
