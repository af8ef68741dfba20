// The exports of VNL2D32: the client half of the VNL2 API, and the two
// functions through which the link control process reports received blocks
// and the state of the link.
#include <atomic>
#include <cstring>
#include <string>

#include "link/api/control_process.h"
#include "link/api/receive_queue.h"
#include "link/api/vnl2_api.h"
#include "link/api/vnl2_library.h"
#include "link/api/vnl2_test_hook.h"
#include "link/common/link_log.h"
#include "platform/codepage.h"
#include "platform/export.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {

constexpr char kNotificationMessage[] = "CTI_LayerII_Event";

platform::WindowHandle AsWindow(uint64_t value) { return reinterpret_cast<platform::WindowHandle>(value); }
uint64_t AsWord(platform::WindowHandle window) { return reinterpret_cast<uint64_t>(window); }

// The words of the area that threads read and write without a common lock
// (in the control process its receive thread queues blocks while its window
// thread reports the link down): each one is read and written whole.
template <typename T>
T LoadWord(const T& word) {
  return std::atomic_ref<T>(const_cast<T&>(word)).load();
}
template <typename T>
void StoreWord(T& word, T value) {
  std::atomic_ref<T>(word).store(value);
}

std::atomic<Vnl2TestHook> g_testHook{nullptr};

// A point of the open and link-down paths that a test may hold a thread at.
void HookPoint(const char* point) {
  if (Vnl2TestHook hook = g_testHook.load()) hook(point);
}

// Holds a lock of the library for a scope; a thread that finds it taken
// passes the test hook's point before it waits.
class LockWaitingAt {
 public:
  LockWaitingAt(platform::NamedMutex& mutex, const char* point) : mutex_(mutex) {
    if (mutex_.lock(0) != platform::NamedMutex::LockResult::Timeout) return;
    HookPoint(point);
    mutex_.lock();
  }
  ~LockWaitingAt() { mutex_.unlock(); }
  LockWaitingAt(const LockWaitingAt&) = delete;
  LockWaitingAt& operator=(const LockWaitingAt&) = delete;

 private:
  platform::NamedMutex& mutex_;
};

unsigned long Hex(platform::WindowHandle window) { return static_cast<unsigned long>(AsWord(window)); }

// Posts a notification of `kind` to the slot's window.
void Notify(Vnl2SharedArea& area, int slot, intptr_t kind) {
  platform::postMessage(AsWindow(LoadWord(area.notifyWindow[slot - 1])), LoadWord(area.messageId),
                        kVnl2ServiceOfSlot[slot], kind);
}

// Marks a service closed and empties its queue. Returns the window to tell
// of it with VNL2_DISCONNECT_IND (notification was on), else 0. The caller
// posts that only after every shared change is made: a client that reacts at
// once (closes, opens again) must find the slot, the open count and the
// control window already as the close leaves them.
uint64_t CloseServiceSlot(Vnl2SharedArea& area, int slot) {
  const uint64_t window = LoadWord(area.notifyEnabled[slot - 1]) ? LoadWord(area.notifyWindow[slot - 1]) : 0;
  StoreWord(area.serviceOpen[slot - 1], 0);
  SetVnl2Holder(area, slot, kVnl2NoHolder);
  StoreWord(area.notifyEnabled[slot - 1], 0);
  StoreWord<uint64_t>(area.notifyWindow[slot - 1], 0);
  NamedMutexLock lock(Vnl2().queueLock());
  RecQueueClear(area.recQueue[slot], area.recIndex[slot]);
  return window;
}

void TellClosed(const Vnl2SharedArea& area, int slot, uint64_t window) {
  if (window == 0) return;
  platform::postMessage(AsWindow(window), LoadWord(area.messageId), kVnl2ServiceOfSlot[slot], VNL2_DISCONNECT_IND);
  LinkLog(kLogTrace, "VNL2_DISCONNECT_IND to %lx", Hex(AsWindow(window)));
}

bool IsOpen(const Vnl2SharedArea& area, int slot) { return slot != 0 && LoadWord(area.serviceOpen[slot - 1]) != 0; }

// Marks a service open for the calling process. Whatever a writer left in
// its queue while it was closed goes.
void MarkOpen(Vnl2SharedArea& area, int slot) {
  {
    NamedMutexLock queue(Vnl2().queueLock());
    RecQueueClear(area.recQueue[slot], area.recIndex[slot]);
  }
  StoreWord(area.serviceOpen[slot - 1], 1);
  SetVnl2Holder(area, slot, platform::currentProcessId());
}

// An open service whose holder process has ended without closing it (killed,
// crashed). Without this check the service would stay open until the link
// ends, which with keep-alive may be never, and a restarted program could
// never open it again. A service without a recorded holder is never taken.
bool HolderGone(const Vnl2SharedArea& area, int slot) {
  const uint32_t holder = Vnl2Holder(area, slot);
  return holder != kVnl2NoHolder && holder != platform::currentProcessId() && !platform::processRunning(holder);
}

// The control process of the running link as the area names it, 0 when
// there is none: the link is down, or a start has not finished yet. The
// caller holds the area lock.
uint32_t NamedControlProcess(const Vnl2SharedArea& area) {
  if (LoadWord(area.linkState) == static_cast<int32_t>(kVnl2LinkDown) || LoadWord(area.controlWindow) == 0) return 0;
  return LoadWord(area.processInformation.processId);
}

// Takes the link down: every open service closed and its window told with
// VNL2_DISCONNECT_IND, no control window, an open count of 0. The clients
// hear of the loss only once the area shows no control process: one that
// opens again at once then starts a new one instead of sending to the old
// one. Under the area lock: an open between its check and its mark finishes
// first, and its service is closed with the others.
// With `endedControl`, for a control process that ended without reporting
// the link down: only while the area still names it; false when it does not
// (the link went down in order, or another client got there first).
bool TakeLinkDown(Vnl2SharedArea& area, uint32_t endedControl) {
  uint64_t tell[kVnl2Slots] = {};
  {
    LockWaitingAt areaLock(Vnl2().areaLock(), kVnl2HookLinkDownWaiting);
    if (endedControl != 0) {
      if (NamedControlProcess(area) != endedControl) return false;
      LinkLog(kLogError, "VNL2C64 (pid %u) ended without releasing the link", endedControl);
    }
    if (LoadWord(area.linkState) != static_cast<int32_t>(kVnl2LinkDown)) {
      StoreWord<int32_t>(area.linkState, kVnl2LinkDown);
      for (int slot = 1; slot < static_cast<int>(kVnl2Slots); ++slot)
        if (IsOpen(area, slot)) tell[slot] = CloseServiceSlot(area, slot);
    }
    StoreWord<uint64_t>(area.controlWindow, 0);
    area.openCount = 0;
  }
  for (int slot = 1; slot < static_cast<int>(kVnl2Slots); ++slot) TellClosed(area, slot, tell[slot]);
  return true;
}

// An open of a known service with the open lock held: 1 when the service is
// now open for this process, else 0.
int32_t OpenService(Vnl2SharedArea* area, int slot, uint32_t service, const char* link) {
  {
    // Check and mark under the area lock: a link-down report waits for the
    // mark and then closes the service with the others, or comes first and
    // leaves an open count of 0, which makes this a first open.
    NamedMutexLock areaLock(Vnl2().areaLock());
    if (IsOpen(*area, slot)) {
      if (!HolderGone(*area, slot)) return 0;
      // The new opener takes the service over with its share of the open
      // count; the link and the control process stay as they are.
      LinkLog(kLogWarning, "VNL2_OpenConnection: service 0x%x was held by ended process %u, taken over", service,
              Vnl2Holder(*area, slot));
      CloseServiceSlot(*area, slot);  // its queue emptied; its window is not told
      StoreWord(area->serviceOpen[slot - 1], 1);
      SetVnl2Holder(*area, slot, platform::currentProcessId());
      return 1;
    }
    if (area->openCount != 0) {
      if (!AcceptsLinkName(*area, link)) return 0;
      ++area->openCount;
      HookPoint(kVnl2HookOpenChecked);
      MarkOpen(*area, slot);
      return 1;
    }
    area->openCount = 1;
  }
  // The start waits for the control process without the area lock: the
  // process may report the link down meanwhile (a refusal, a stale one
  // ending).
  HookPoint(kVnl2HookOpenStarting);
  if (!StartControlProcess(*area, link)) return 0;
  HookPoint(kVnl2HookOpenStarted);
  NamedMutexLock areaLock(Vnl2().areaLock());
  if (area->openCount == 0 || LoadWord(area->linkState) == static_cast<int32_t>(kVnl2LinkDown)) {
    // The new link went down before the service was marked: marked now, it
    // would stay open with no control process and no client told.
    LinkLog(kLogError, "VNL2_OpenConnection: link lost while opening service 0x%x", service);
    area->openCount = 0;
    return 0;
  }
  MarkOpen(*area, slot);
  return 1;
}

// A close of a known service with the open lock held.
int32_t CloseService(Vnl2SharedArea* area, int slot) {
  uint64_t window = 0;
  bool last = false;
  {
    NamedMutexLock areaLock(Vnl2().areaLock());
    if (LoadWord(area->linkState) == static_cast<int32_t>(kVnl2LinkDown)) return 1;
    if (!IsOpen(*area, slot)) return 0;
    --area->openCount;
    window = CloseServiceSlot(*area, slot);
    last = area->openCount <= 0;
    if (last) area->openCount = 0;
  }
  TellClosed(*area, slot, window);
  // Waits for the control process with the open lock only: on its way out
  // it reports the link down, which takes the area lock.
  if (last) StopControlProcess(*area);
  return 1;
}

}  // namespace

uint32_t Vnl2WatchedControlProcess() {
  Vnl2SharedArea* area = Vnl2().area();
  if (!area) return 0;
  NamedMutexLock areaLock(Vnl2().areaLock());
  return NamedControlProcess(*area);
}

void Vnl2ControlProcessEnded(uint32_t processId) {
  if (Vnl2SharedArea* area = Vnl2().area()) TakeLinkDown(*area, processId);
}

extern "C" {

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnectionExA(uint32_t service, const char* link) {
  LinkLog(kLogTrace, "VNL2_OpenConnectionExA(0x%x,%s)", service, link ? link : "");
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (!area || slot == 0) return 0;
  LockWaitingAt lock(Vnl2().openLock(), kVnl2HookOpenWaiting);
  const int32_t opened = OpenService(area, slot, service, link);
  if (opened == 1) Vnl2().controlWatch().opened(slot);
  return opened;
}

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_OpenConnection (0x%x)", service);
  return VNL2_OpenConnectionExA(service, "");
}

TK_EXPORT int32_t TK_WINAPI VNL2_OpenConnectionExW(uint32_t service, const char16_t* link) {
  std::string name = link ? platform::wideToAnsi(link) : std::string();
  LinkLog(kLogTrace, "VNL2_OpenConnectionExW(0x%x,%s)", service, name.c_str());
  // Link names are at most 11 characters; a longer one is refused rather
  // than opened under some other name.
  if (name.size() > 11) return 0;
  return VNL2_OpenConnectionExA(service, name.c_str());
}

TK_EXPORT int32_t TK_WINAPI VNL2_CloseConnection(uint32_t service) {
  LinkLog(kLogTrace, "VNL2_CloseConnection (0x%x)", service);
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (!area || slot == 0) return 0;
  NamedMutexLock lock(Vnl2().openLock());
  const int32_t closed = CloseService(area, slot);
  // Whatever the close found (the link may have gone down meanwhile), this
  // process is done with the service; the watch of the control process ends
  // with its last one. The watch never takes the open lock.
  Vnl2().controlWatch().closed(slot);
  return closed;
}

TK_EXPORT int32_t TK_WINAPI VNL2_EnableNotification(uint32_t service, platform::WindowHandle window) {
  LinkLog(kLogTrace, "VNL2_EnableNotification 0x%x ,0x%lx", service, Hex(window));
  Vnl2SharedArea* area = Vnl2().area();
  if (!area) return 0;
  uint32_t id = platform::registerWindowMessage(kNotificationMessage);
  if (id == 0) return 0;
  StoreWord(area->messageId, id);
  int slot = Vnl2SlotOf(service);
  {
    // Under the area lock: a service closed by a link-down report in between
    // would keep the window for its next opener.
    NamedMutexLock areaLock(Vnl2().areaLock());
    if (!IsOpen(*area, slot)) return 0;
    StoreWord(area->notifyWindow[slot - 1], AsWord(window));
    // VNL2_LinkInfo kind 1 may run in the control process at this moment. The
    // store of the flag and the load of the state, like its store of the state
    // and load of the flag, are sequentially consistent, so one of the two sees
    // the other's write: the client hears that the link is up at least once.
    std::atomic_ref<int32_t>(area->notifyEnabled[slot - 1]).store(1);
  }
  if (std::atomic_ref<int32_t>(area->linkState).load() == static_cast<int32_t>(kVnl2LinkUp)) {
    Notify(*area, slot, VNL2_CONNECT_IND);
    LinkLog(kLogTrace, "VNL2_CONNECT_IND to %lx", Hex(window));
  }
  return static_cast<int32_t>(id);
}

TK_EXPORT int32_t TK_WINAPI VNL2_SendData(uint32_t service, const void* data, uint32_t length) {
  LinkLog(kLogTrace, "VNL2_SendData (0x%x,0x%lx,%i)", service,
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)), static_cast<int>(length));
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (!area || slot == 0) return kVnl2SendFailed;
  if (!IsOpen(*area, slot)) return kVnl2SendNotOpen;
  if (!data || length == 0) return kVnl2SendFailed;
  LinkLog(kLogDetail, "SendData Service 0x%x Length %i Address 0x%lx", service, static_cast<int>(length),
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)));
  platform::CopyDataStruct record{0x00010000u | service, length, const_cast<void*>(data)};
  platform::LResult answer =
      platform::sendMessage(AsWindow(LoadWord(area->controlWindow)), platform::kWmCopyData,
                            static_cast<platform::WParam>(LoadWord(area->notifyWindow[slot - 1])),
                            reinterpret_cast<platform::LParam>(&record));
  return answer != 0 ? 1 : kVnl2SendFailed;
}

TK_EXPORT int32_t TK_WINAPI VNL2_ReceiveData(uint32_t service, void* buffer, uint32_t size) {
  LinkLog(kLogTrace, "VNL2_ReceiveData (0x%x,0x%lx,%i)", service,
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buffer)), static_cast<int>(size));
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (!area || !buffer || size == 0 || !IsOpen(*area, slot)) return 0;
  uint32_t copied = 0;
  {
    NamedMutexLock lock(Vnl2().queueLock());
    copied = RecQueueTake(area->recQueue[slot], area->recIndex[slot], buffer, size);
  }
  if (copied == 0) return 0;
  LinkLog(kLogDetail, "ReceiveData %i %lx", static_cast<int>(copied),
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buffer)));
  return static_cast<int32_t>(copied);
}

TK_EXPORT void TK_WINAPI VNL2_GetState(uint32_t service, VNL2_STATE* state) {
  LinkLog(kLogTrace, "VNL2_GetState (0x%x,0x%lx)", service,
          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(state)));
  if (!state) return;
  std::memset(state, 0, sizeof *state);
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (area && IsOpen(*area, slot)) {
    NamedMutexLock lock(Vnl2().queueLock());
    state->State = 1;
    int32_t index = area->recIndex[slot];
    if (index >= 0) {
      state->RecQueue = static_cast<uint16_t>(RecQueueCount(index));
      state->Length = static_cast<uint16_t>(area->recQueue[slot].blocks[0].length);
    }
  }
  LinkLog(kLogDetail, "GetState State %x Service:%x, RecQueue %x, Length %i", state->State, service,
          state->RecQueue, state->Length);
}

TK_EXPORT int32_t TK_WINAPI VNL2_CopyRecData(uint32_t service, const void* data, uint32_t length) {
  Vnl2SharedArea* area = Vnl2().area();
  int slot = Vnl2SlotOf(service);
  if (!area || !IsOpen(*area, slot)) return -1;
  // A block without data would look like an empty queue to the reader and
  // hold up every later block of the service.
  if (!data || length == 0 || length > kRecBlockData) {
    LinkLog(kLogWarning, "CopyRecData Service: %x, block of %u bytes refused", service, length);
    return -1;
  }
  {
    NamedMutexLock lock(Vnl2().queueLock());
    // Checked again under the lock: a close in between empties the queue.
    if (!IsOpen(*area, slot)) return -1;
    if (!RecQueueAppend(area->recQueue[slot], area->recIndex[slot], data, length)) return -1;
    LinkLog(kLogDetail, "CopyRecData Service: %x, RecQueue %x, Length %i, Data * %lx", service,
            static_cast<unsigned>(area->recIndex[slot]), static_cast<int>(length),
            static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)));
  }
  if (LoadWord(area->notifyEnabled[slot - 1])) {
    LinkLog(kLogTrace, "VNL2_DATA_IND to 0x%lx", Hex(AsWindow(LoadWord(area->notifyWindow[slot - 1]))));
    Notify(*area, slot, VNL2_DATA_IND);
  }
  return 1;
}

TK_EXPORT int32_t TK_WINAPI VNL2_LinkInfo(uint32_t kind) {
  LinkLog(kLogDetail, "VNL2_Linkinfo (0x%x)", kind);
  Vnl2SharedArea* area = Vnl2().area();
  if (!area) return 0;
  switch (kind) {
    case kVnl2LinkDown:
      TakeLinkDown(*area, 0);
      return 1;
    case kVnl2LinkUp:
      std::atomic_ref<int32_t>(area->linkState).store(kVnl2LinkUp);  // see VNL2_EnableNotification
      for (int slot = 1; slot < static_cast<int>(kVnl2Slots); ++slot) {
        if (IsOpen(*area, slot) && std::atomic_ref<int32_t>(area->notifyEnabled[slot - 1]).load()) {
          Notify(*area, slot, VNL2_CONNECT_IND);
          LinkLog(kLogTrace, "VNL2_CONNECT_IND to %lx", Hex(AsWindow(LoadWord(area->notifyWindow[slot - 1]))));
        }
      }
      return 1;
    case kVnl2LinkAcknowledged:
      LinkLog(kLogDetail, "Varnet ACK");
      StoreWord<int32_t>(area->linkState, kVnl2LinkAcknowledged);
      return 1;
    case kVnl2LinkRefused:
      LinkLog(kLogDetail, "Varnet NACK");
      StoreWord<int32_t>(area->linkState, kVnl2LinkRefused);
      return 1;
    default:
      return 0;
  }
}

// Not part of the VNL2 API: the seam of vnl2_test_hook.h.
TK_EXPORT void VNL2D32_SetTestHook(Vnl2TestHook hook) { g_testHook.store(hook); }

}  // extern "C"
