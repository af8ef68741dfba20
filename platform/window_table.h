#pragma once
// The window classes and windows of this process, and the message queue of
// each thread. A window belongs to the thread that created it; when that
// thread ends, its windows are forgotten and its queue is closed.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"
#include "platform/window_queue.h"

namespace platform::wnd {

struct WindowRecord {
  WindowHandle handle = nullptr;
  std::string className;
  WindowProc proc = nullptr;
  std::shared_ptr<MessageQueue> owner;
  // Where the window was published for other processes (see window_directory.h).
  std::string runtimeDir;
  bool destroying = false;
};

// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> currentQueue();
// The calling thread's queue, or nullptr when it has none yet.
MessageQueue* currentQueueIfAny();

// Class names are kept as given; lookups ignore case.
bool addClass(std::string_view className, WindowProc proc);
// False when unknown, or when windows of the class still exist (as on Windows).
bool removeClass(std::string_view className);
std::optional<WindowProc> classProc(std::string_view className);

void addWindow(const WindowRecord& record);
std::optional<WindowRecord> findWindowRecord(WindowHandle window);
// Marks the window as being destroyed; false when it is unknown or already so.
bool beginDestroy(WindowHandle window);
void removeWindow(WindowHandle window);

}  // namespace platform::wnd
