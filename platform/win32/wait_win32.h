#pragma once
// The Windows side of the wait core (platform/wait.cpp): a waiter sleeps on
// a Win32 auto-reset event it owns, which every state change of an object it
// waits for sets (under the process-wide wait lock). Because the sleep is on
// a kernel object, it can include the thread's message queue:
// msgWaitForMultiple sleeps in MsgWaitForMultipleObjectsEx on that one event
// plus QS_ALLINPUT.
//
// The event lives for one blocking wait (a wait that can end at once makes
// none). It is not kept per thread: a thread_local with a destructor is not
// safe in this static MinGW build (the emulated TLS storage may be freed
// before the destructor runs at thread end), and a thread-exit callback
// would outlive a DLL that is unloaded.
//
// No OS header here: handles are void*.
#include <cstdint>
#include <span>

namespace platform {

class Waitable;

namespace win32 {

enum class Woke { Signaled, Input, TimedOut, Failed };

// A new wait event, nullptr when none could be made; closeWaitEvent ends it.
void* createWaitEvent();
void closeWaitEvent(void* event);
// Sets a waiter's event (called with the wait lock held).
void wakeWaiter(void* event);
// Sleeps until the event is set, the time is up, or (withInput) input for the
// calling thread's message queue is there, including input it has already
// seen (MWMO_INPUTAVAILABLE).
Woke sleepOnWaitEvent(void* event, uint32_t timeoutMs, bool withInput);

// Waits like waitForMultiple(objects, false, timeoutMs), but also ends when
// input for the calling thread's queue is there: then it returns
// kWaitObject0 + objects.size(). Objects are empty or not null (checked by
// the caller); the objects come before input when both are ready.
uint32_t waitForObjectsOrInput(std::span<Waitable* const> objects, uint32_t timeoutMs);
// For the wait core: true once after waitForObjectsOrInput asked for input.
bool takeInputRequest();

}  // namespace win32
}  // namespace platform
