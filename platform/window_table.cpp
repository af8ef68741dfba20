#include "platform/window_table.h"

#include <map>
#include <mutex>

#include "platform/window_directory.h"
#include "platform/window_handle.h"

namespace platform::wnd {
namespace {

struct Table {
  std::mutex mutex;
  std::map<std::string, std::pair<std::string, WindowProc>> classes;  // by lower-case name
  std::map<uint64_t, WindowRecord> windows;
};

// Never destroyed: threads (and the receiver of other processes' messages)
// may still use it while the process exits.
Table& table() {
  static Table* t = new Table;
  return *t;
}

// Forgets the windows of a queue whose thread ends, and withdraws them
// from the other processes.
void forgetWindowsOf(const MessageQueue* queue) {
  std::vector<WindowRecord> gone;
  {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (auto it = t.windows.begin(); it != t.windows.end();) {
      if (it->second.owner.get() == queue) {
        gone.push_back(std::move(it->second));
        it = t.windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const WindowRecord& record : gone) unpublishWindow(record.handle, record.runtimeDir);
}

// Holds the thread's queue; at thread end the thread's windows go and the
// queue is closed, which answers the messages still sent to them with 0.
struct ThreadQueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~ThreadQueueHolder() {
    if (!queue) return;
    forgetWindowsOf(queue.get());
    queue->close();
  }
};

thread_local ThreadQueueHolder t_queue;

}  // namespace

std::shared_ptr<MessageQueue> currentQueue() {
  if (!t_queue.queue) t_queue.queue = std::make_shared<MessageQueue>();
  return t_queue.queue;
}

MessageQueue* currentQueueIfAny() { return t_queue.queue.get(); }

bool addClass(std::string_view className, WindowProc proc) {
  if (className.empty() || proc == nullptr) return false;
  Table& t = table();
  std::lock_guard lock(t.mutex);
  return t.classes.emplace(lowerCase(className), std::make_pair(std::string(className), proc)).second;
}

bool removeClass(std::string_view className) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.classes.find(lowerCase(className));
  if (it == t.classes.end()) return false;
  for (const auto& [value, record] : t.windows) {
    if (equalsNoCase(record.className, className)) return false;
  }
  t.classes.erase(it);
  return true;
}

std::optional<WindowProc> classProc(std::string_view className) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.classes.find(lowerCase(className));
  if (it == t.classes.end()) return std::nullopt;
  return it->second.second;
}

void addWindow(const WindowRecord& record) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  t.windows[handleValue(record.handle)] = record;
}

std::optional<WindowRecord> findWindowRecord(WindowHandle window) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.windows.find(handleValue(window));
  if (it == t.windows.end()) return std::nullopt;
  return it->second;
}

bool beginDestroy(WindowHandle window) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.windows.find(handleValue(window));
  if (it == t.windows.end() || it->second.destroying) return false;
  it->second.destroying = true;
  return true;
}

void removeWindow(WindowHandle window) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  t.windows.erase(handleValue(window));
}

}  // namespace platform::wnd
