#pragma once
// A seam for the tests of VNL2D32's cross-thread and cross-process orders:
// the library calls the installed hook, on the calling thread, at named
// points of its open and link-down paths, so that a test can hold one
// thread at such a point while it lets another one run. Without a hook
// (the normal case) the points cost one load each.
//
// The hook is per process and is set through the export
// VNL2D32_SetTestHook (not part of the VNL2 API; vnlsock does not forward it).

// Points, in the order an open passes them.
// The open lock is held by another thread or process: before waiting for it.
inline constexpr char kVnl2HookOpenWaiting[] = "open-waiting";
inline constexpr char kVnl2HookOpenStarting[] = "open-starting";  // first open: count raised, before the start
inline constexpr char kVnl2HookOpenStarted[] = "open-started";    // first open: started, before the service is marked
inline constexpr char kVnl2HookOpenChecked[] = "open-checked";    // later open: accepted, before the service is marked
// VNL2_LinkInfo kind 0 finds the area lock held by an open or close: before
// waiting for it.
inline constexpr char kVnl2HookLinkDownWaiting[] = "linkdown-waiting";

using Vnl2TestHook = void (*)(const char* point);
using Vnl2SetTestHookFn = void (*)(Vnl2TestHook hook);
inline constexpr char kVnl2SetTestHookName[] = "VNL2D32_SetTestHook";
