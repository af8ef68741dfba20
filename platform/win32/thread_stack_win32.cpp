// The call stack of another thread of this process, on Windows (x64).
//
// How: the target is suspended (SuspendThread), its registers read
// (GetThreadContext), and its stack unwound with the system's unwind tables
// (RtlLookupFunctionEntry + RtlVirtualUnwind, no allocation, no locks of the
// C runtime) into a fixed array; the thread is resumed before anything is
// named. Every step is checked against the thread's stack bounds (from its
// thread information block), so a damaged stack ends the walk instead of
// reading wild memory. The calling thread unwinds itself from
// RtlCaptureContext. Frames are named "#n ADDRESS (module+0xOFFSET)": MinGW
// programs carry no symbols the system can read, so the module and the
// offset (for addr2line) are what can be given. The time-out is not needed
// here: a suspended thread answers at once, whatever it does.
//
// Side effects on the target: none but the pause. One capture runs at a time.
// On x86 (32-bit) the walk is not available: the result says so.
#include "platform/thread_stack.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "platform/win32/core_text_win32.h"

namespace platform {
namespace {

#if defined(_M_X64) || defined(__x86_64__)

constexpr int kMaxFrames = 64;

std::string hex(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string describeFrame(int index, uintptr_t address) {
  std::string line = "#" + std::to_string(index) + " " + hex(address);
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(address), &module))
    return line + " ??";
  std::string path = wincore::moduleFilePath(module);
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  return line + " (" + name + "+" + hex(address - reinterpret_cast<uintptr_t>(module)) + ")";
}

struct StackBounds {
  uintptr_t low = 0, high = 0;
  bool contains(uintptr_t sp) const { return sp >= low && sp < high; }
};

// The stack of a thread of this process, from its thread information block.
StackBounds boundsOf(HANDLE thread) {
  struct BasicInformation {
    LONG exitStatus;
    PVOID tebBase;
    PVOID clientId[2];
    ULONG_PTR affinity;
    LONG priority, basePriority;
  } info{};
  using QueryFn = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  static const auto query = wincore::systemFunction<QueryFn>(L"ntdll.dll", "NtQueryInformationThread");
  StackBounds bounds;
  if (query == nullptr || query(thread, 0 /* ThreadBasicInformation */, &info, sizeof info, nullptr) != 0 ||
      info.tebBase == nullptr)
    return bounds;
  const auto* tib = static_cast<const NT_TIB*>(info.tebBase);
  bounds.low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  bounds.high = reinterpret_cast<uintptr_t>(tib->StackBase);
  return bounds;
}

// Unwinds from context into frames; no allocation, no locks but the
// system's function table lookup.
int unwind(CONTEXT context, const StackBounds& bounds, uintptr_t* frames) {
  int count = 0;
  while (count < kMaxFrames && context.Rip != 0) {
    frames[count++] = context.Rip;
    if (!bounds.contains(context.Rsp)) break;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (function == nullptr) {
      // A leaf function: the return address is on top of the stack.
      context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
      context.Rsp += 8;
    } else {
      PVOID handlerData = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData, &establisher,
                       nullptr);
    }
  }
  return count;
}

#endif

}  // namespace

ThreadStack captureThreadStack(uint32_t threadId, uint32_t /*timeoutMs*/) {
  ThreadStack stack;
#if defined(_M_X64) || defined(__x86_64__)
  static std::mutex captureLock;
  std::lock_guard lock(captureLock);
  uintptr_t frames[kMaxFrames];
  int count = 0;
  if (threadId == GetCurrentThreadId()) {
    CONTEXT context{};
    RtlCaptureContext(&context);
    count = unwind(context, boundsOf(GetCurrentThread()), frames);
  } else {
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (thread == nullptr || GetProcessIdOfThread(thread) != GetCurrentProcessId()) {
      if (thread != nullptr) CloseHandle(thread);
      stack.error = "no thread " + std::to_string(threadId) + " in this process";
      return stack;
    }
    const StackBounds bounds = boundsOf(thread);
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
      stack.error = "cannot suspend thread " + std::to_string(threadId) + ": " + wincore::errorText(GetLastError());
      CloseHandle(thread);
      return stack;
    }
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    const bool haveContext = GetThreadContext(thread, &context) != 0;
    const DWORD why = GetLastError();
    if (haveContext) count = unwind(context, bounds, frames);
    ResumeThread(thread);
    CloseHandle(thread);
    if (!haveContext) {
      stack.error = "cannot read the registers of thread " + std::to_string(threadId) + ": " + wincore::errorText(why);
      return stack;
    }
  }
  for (int i = 0; i < count; ++i) stack.frames.push_back(describeFrame(i, frames[i]));
  if (stack.frames.empty()) stack.error = "thread " + std::to_string(threadId) + " gave no frames";
#else
  stack.error = "the stack of thread " + std::to_string(threadId) + " is not available on this system (x86)";
#endif
  return stack;
}

}  // namespace platform
