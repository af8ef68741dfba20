#pragma once
// The names threads gave themselves through Thread::start, by thread id, for
// threadCpuTimes on systems whose threads carry no description. Internal to
// platform/win32 (thread_win32.cpp keeps the table).
#include <cstdint>
#include <string>

namespace platform::wincore {

// An empty name forgets the thread (it ends).
void rememberThreadName(uint32_t threadId, const std::string& name);
std::string rememberedThreadName(uint32_t threadId);

}  // namespace platform::wincore
