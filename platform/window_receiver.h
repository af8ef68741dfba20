#pragma once
// The receiver of window messages from other processes: one thread per
// process, started with the first published window, that accepts the
// connections of senders (see window_wire.h), reads their requests and puts
// each message into the queue of the thread that owns the window. It never
// waits for a message to be handled: for a sent message the connection goes
// with the message, and the owning thread answers on it.
#include <string>

namespace platform::wnd {

// Listens under runtimeDir while at least one window published there lives
// (counted); false when the socket cannot be made.
bool acquireReceiver(const std::string& runtimeDir);
void releaseReceiver(const std::string& runtimeDir);

}  // namespace platform::wnd
