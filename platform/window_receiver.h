#pragma once
// The receiver of window messages from other processes: one thread per
// process, started with the first published window, that accepts the
// connections of senders (see window_wire.h), reads their requests and puts
// each message into the queue of the thread that owns the window. It never
// waits for a message to be handled: for a sent message a share of the
// connection goes with the message, and the owning thread answers on it
// while the receiver thread goes on reading the connection.
//
// Connections are kept after a request was answered. A request that stops
// half-way is dropped after the idle limit (an idle connection between
// requests is not); when the connection limit is reached, the idle
// connection unused longest is ended to make room (its sender reconnects).
#include <chrono>
#include <cstddef>
#include <string>

namespace platform::wnd {

// Listens under runtimeDir while at least one window published there lives
// (counted); false when the socket cannot be made.
bool acquireReceiver(const std::string& runtimeDir);
void releaseReceiver(const std::string& runtimeDir);

// The limits above (defaults 256 connections, 10 s), for tests; they apply
// from the receiver thread's next round.
void setReceiverLimits(size_t maximumConnections, std::chrono::milliseconds idleLimit);
void resetReceiverLimits();

}  // namespace platform::wnd
