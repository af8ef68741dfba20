#pragma once
// Requests to stop the program from outside: Ctrl-C at its terminal or a
// termination request (SIGINT and SIGTERM here; a console control handler on
// Windows). The first request is only recorded, so the program can end in
// order (close its lines, stop its threads); a second one ends it at once.

namespace platform {

// Starts recording stop requests; call once, early.
void watchStopRequests();

// 0 until a stop was requested, then its signal number (a program ending
// because of it exits with 128 + that number).
int stopRequest();

// Called once the first stop request is recorded, so that a program waiting
// for something else wakes up and looks at stopRequest() instead of polling
// it. It runs in a signal handler (on Windows on a thread of the system's),
// so it may only do what is safe there: write to a pipe or an eventfd, set
// an event. A null wake removes it; context is handed to it unchanged.
using StopRequestWake = void (*)(void* context);
void setStopRequestWake(StopRequestWake wake, void* context);

}  // namespace platform
