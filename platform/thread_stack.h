#pragma once
// The call stack of another thread of this process, as text: for a watchdog
// that finds a thread stuck and wants to say where.
//
// In: the thread's ID (currentThreadId() of that thread, Thread::id()) and
// how long to wait for it. Out: one text line per frame, innermost first
// ("#0 0x7f12345678 read+0x12 (/lib/x86_64-linux-gnu/libc.so.6+0xf1234)"),
// or why there is none.
//
// How: the capturing thread sends the target a real-time signal carrying a
// pointer to a capture record; the target's handler does nothing but the
// async-signal-safe part (backtrace() into the record, sem_post), and the
// capturing thread names the addresses afterwards (dladdr, demangling), so
// nothing in the target allocates or takes a lock. A thread that blocks the
// signal, or does not run within the wait, yields an error and no frames;
// its late answer goes to a record that is kept (never freed) and is
// ignored. Only exported symbols have names; every frame also gives its
// module and the offset in it, for addr2line. One capture runs at a time
// (callers from several threads wait for each other).
//
// Side effect on the target: a system call it was blocked in may return
// EINTR (those the system restarts after a handler, read() and the like,
// are restarted). Under ThreadSanitizer a thread inside an intercepted
// read() gets the signal only once the call returns, so its stack comes
// too late (waits on locks and condition variables answer at once).
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ThreadStack {
  std::vector<std::string> frames;  // innermost first
  std::string error;                // empty when frames were captured
};

ThreadStack captureThreadStack(uint32_t threadId, uint32_t timeoutMs = 1000);

}  // namespace platform
