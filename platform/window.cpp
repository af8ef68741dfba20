// Windows, classes, posting, sending and timers. The message loop functions
// are in window_pump.cpp, registered message names in window_message_names.cpp.
#include "platform/window.h"

#include "platform/root.h"
#include "platform/window_directory.h"
#include "platform/window_handle.h"
#include "platform/window_remote.h"
#include "platform/window_sent.h"
#include "platform/window_table.h"

namespace platform {

using namespace wnd;

namespace {

bool isOwnProcess(WindowHandle window) { return handleProcessId(window) == ownProcessId(); }

// Sends to a window of another thread of this process and waits for the
// answer, handling what is sent to the calling thread meanwhile.
LResult sendToOtherThread(const WindowRecord& record, uint32_t message, WParam wParam, LParam lParam,
                          const CopyDataView& block) {
  auto sent = std::make_unique<SentMessage>();
  sent->window = record.handle;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  if (block.present) {
    sent->carriesCopyData = true;
    sent->copyDataTag = block.tag;
    sent->copyData.assign(block.bytes.begin(), block.bytes.end());
    sent->lParam = 0;
  }
  auto state = std::make_shared<LocalReplyState>();
  sent->reply = makeLocalReply(state);
  if (!record.owner->deliverSent(std::move(sent))) return 0;

  auto own = currentQueue();
  Waitable* objects[2] = {&state->done, &own->sentSignal()};
  for (;;) {
    if (waitForMultiple(std::span<Waitable* const>(objects, 2), false, kInfinite) == kWaitObject0) break;
    handleSentMessages(*own);
  }
  return state->result;
}

}  // namespace

bool registerClass(std::string_view className, WindowProc proc) {
  if (className.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) return false;
  return addClass(className, proc);
}

bool unregisterClass(std::string_view className) { return removeClass(className); }

WindowHandle createWindow(std::string_view className, std::string_view /*windowName*/) {
  auto proc = classProc(className);
  if (!proc) return nullptr;
  WindowRecord record;
  record.handle = nextWindowHandle();
  record.className = std::string(className);
  record.proc = *proc;
  record.owner = currentQueue();
  record.runtimeDir = runtimeDir();
  addWindow(record);
  // Visible to other processes before WM_CREATE, as a Windows window is
  // found by FindWindow while it handles WM_CREATE.
  if (!publishWindow(record.handle, className, record.runtimeDir)) {
    removeWindow(record.handle);
    return nullptr;
  }
  // -1 from WM_CREATE makes the creation fail; the window is destroyed
  // (with WM_DESTROY, as on Windows).
  if (record.proc(record.handle, kWmCreate, 0, 0) == -1) {
    destroyWindow(record.handle);
    return nullptr;
  }
  return record.handle;
}

bool destroyWindow(WindowHandle window) {
  auto record = findWindowRecord(window);
  if (!record || record->owner.get() != currentQueueIfAny()) return false;
  if (!beginDestroy(window)) return false;
  record->proc(window, kWmDestroy, 0, 0);
  record->owner->killTimers(window);
  removeWindow(window);
  unpublishWindow(window, record->runtimeDir);
  return true;
}

bool isWindow(WindowHandle window) {
  if (window == nullptr) return false;
  if (isOwnProcess(window)) return findWindowRecord(window).has_value();
  return publishedWindowAlive(window);
}

WindowHandle findWindow(std::string_view className) {
  if (className.empty()) return nullptr;
  return findPublishedWindow(className);
}

uint32_t windowProcessId(WindowHandle window) { return isWindow(window) ? handleProcessId(window) : 0; }

bool postMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  // WM_COPYDATA carries a pointer to the sender's memory; like Windows, it
  // can only be sent, never posted.
  if (window == nullptr || message == kWmCopyData) return false;
  if (!isOwnProcess(window)) return remotePost(window, message, wParam, lParam);
  auto record = findWindowRecord(window);
  return record && record->owner->post(Message{window, message, wParam, lParam});
}

void postQuitMessage(int exitCode) { currentQueue()->postQuit(exitCode); }

LResult sendMessage(WindowHandle window, uint32_t message, WParam wParam, LParam lParam) {
  if (window == nullptr) return 0;
  CopyDataView block;
  if (message == kWmCopyData) {
    auto view = readCopyData(lParam);
    if (!view) return 0;
    block = *view;
  }
  if (!isOwnProcess(window)) return remoteSend(window, message, wParam, lParam, block);
  auto record = findWindowRecord(window);
  if (!record) return 0;
  // A window of the calling thread: its procedure is called directly.
  if (record->owner.get() == currentQueueIfAny()) return record->proc(window, message, wParam, lParam);
  return sendToOtherThread(*record, message, wParam, lParam, block);
}

LResult dispatchMessage(const Message& message) {
  if (message.window == nullptr) return 0;
  auto record = findWindowRecord(message.window);
  if (!record) return 0;
  return record->proc(message.window, message.message, message.wParam, message.lParam);
}

LResult defWindowProc(WindowHandle window, uint32_t message, WParam /*wParam*/, LParam /*lParam*/) {
  if (message == kWmClose) destroyWindow(window);
  return 0;
}

uintptr_t setTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  // Id 0 could not be told from failure.
  if (window == nullptr || id == 0 || !isOwnProcess(window)) return 0;
  auto record = findWindowRecord(window);
  if (!record) return 0;
  record->owner->setTimer(window, id, periodMs);
  return id;
}

bool killTimer(WindowHandle window, uintptr_t id) {
  if (window == nullptr || !isOwnProcess(window)) return false;
  auto record = findWindowRecord(window);
  return record && record->owner->killTimer(window, id);
}

}  // namespace platform
