#pragma once
// The parts of a thread's start and end that belong to the system: naming
// the calling thread for debuggers and currentThreadName, and forgetting the
// name when it ends. thread.cpp calls them from the new thread; the POSIX
// versions are in thread.cpp, the Win32 ones in win32/thread_win32.cpp.
// Internal to the platform layer.
#include <string>

namespace platform::internal {

// Names the calling thread; at most 15 characters are kept.
void nameThisThread(const std::string& name);
// Called by a thread that named itself, just before it ends.
void forgetThisThreadName();

}  // namespace platform::internal
