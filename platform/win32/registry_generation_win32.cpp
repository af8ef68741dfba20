// registry_generation.h on Windows: a change counter of the session and a
// change notification of the watched root.
//
// The counter is one 64-bit word in the named file mapping
// "Local\TK.RegistryGeneration", mapped once per process and kept for its
// life; every write through the registry API (registry_win32.cpp) raises it
// with an interlocked increment, so a watch in any process of the session
// notices the write at its next call with one memory read, no system call.
//
// Writes that do not go through this API (regedit, reg.exe, other programs,
// a service in another session, whose "Local\" mapping is another one) are
// noticed through RegNotifyChangeKeyValue on the watched root, over its whole
// tree, with an event. The event is looked at (WaitForSingleObject with no
// wait) at most once per kFileCheckIntervalMs, as the other backend looks at
// a hand-edited file, because the machine's root changes all the time on a
// real system. A notification is re-armed before changed() answers true, so
// a reader that reads after a true answer misses nothing.
//
// Threads: before Windows 8, a notification ends when the thread that armed it
// ends, signalling its event: the watch then answers true once (a harmless
// extra read) and arms it again on the calling thread. From Windows 8 on it
// is armed thread-agnostic (REG_NOTIFY_THREAD_AGNOSTIC). A watch belongs to
// one thread at a time (registry_generation.h).
#include <windows.h>

#include <mutex>

#include "platform/registry_generation.h"
#include "platform/win32/registry_win32.h"

namespace platform {

struct RegistryGenerationPage {
  HANDLE mapping = nullptr;
  volatile LONG64* word = nullptr;

  uint64_t load() const { return static_cast<uint64_t>(InterlockedCompareExchange64(word, 0, 0)); }
};

struct RegistryRootNotification {
  HKEY key = nullptr;
  HANDLE event = nullptr;

  RegistryRootNotification() = default;
  RegistryRootNotification(const RegistryRootNotification&) = delete;
  RegistryRootNotification& operator=(const RegistryRootNotification&) = delete;
  ~RegistryRootNotification() {
    if (key) RegCloseKey(key);  // ends the notification
    if (event) CloseHandle(event);
  }

  // Resets the event and asks for the next change below the key.
  bool arm() {
    ResetEvent(event);
    constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    constexpr DWORD kThreadAgnostic = 0x10000000L;  // REG_NOTIFY_THREAD_AGNOSTIC, Windows 8 and later
    if (RegNotifyChangeKeyValue(key, TRUE, kFilter | kThreadAgnostic, event, TRUE) == ERROR_SUCCESS) return true;
    return RegNotifyChangeKeyValue(key, TRUE, kFilter, event, TRUE) == ERROR_SUCCESS;
  }
};

namespace {

// The session's page, mapped on first use and never unmapped; null when it
// cannot be mapped.
std::shared_ptr<RegistryGenerationPage> sessionPage() {
  static std::shared_ptr<RegistryGenerationPage> page = [] {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG64),
                                        L"Local\\TK.RegistryGeneration");
    if (!mapping) return std::shared_ptr<RegistryGenerationPage>();
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG64));
    if (!view) {
      CloseHandle(mapping);
      return std::shared_ptr<RegistryGenerationPage>();
    }
    auto made = std::make_shared<RegistryGenerationPage>();
    made->mapping = mapping;
    made->word = static_cast<volatile LONG64*>(view);
    return made;
  }();
  return page;
}

std::shared_ptr<RegistryRootNotification> notificationOf(RegRoot root) {
  auto made = std::make_shared<RegistryRootNotification>();
  made->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HKEY predefined = root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (!made->event || RegOpenKeyExW(predefined, L"", 0, KEY_NOTIFY | KEY_WOW64_64KEY, &made->key) != ERROR_SUCCESS ||
      !made->arm())
    return nullptr;
  return made;
}

}  // namespace

namespace win32reg {

void bumpGeneration() {
  if (auto page = sessionPage()) InterlockedIncrement64(page->word);
}

}  // namespace win32reg

uint64_t registryGeneration() {
  auto page = sessionPage();
  return page ? page->load() : 0;
}

void bumpRegistryGeneration(const std::string&) { win32reg::bumpGeneration(); }

bool RegistryChangeWatch::notified() {
  if (!notification_) {
    notification_ = notificationOf(file_);
    return true;  // armed now, or still without one: read
  }
  if (WaitForSingleObject(notification_->event, 0) != WAIT_OBJECT_0) return false;
  if (!notification_->arm()) notification_.reset();
  return true;
}

bool RegistryChangeWatch::changed(const Clock& clock) {
  uint32_t now = clock.tickCount();
  if (!started_) {
    started_ = true;
    page_ = sessionPage();
    generation_ = page_ ? page_->load() : 0;
    notification_ = notificationOf(file_);
    lookedAt_ = now;
    return true;
  }
  if (!page_) return true;  // no counter: read every time
  if (uint64_t generation = page_->load(); generation != generation_) {
    generation_ = generation;
    // The write also signalled the notification: take that in now, so it
    // does not answer true once more at the next look.
    notified();
    return true;
  }
  if (now - lookedAt_ < kFileCheckIntervalMs) return false;
  lookedAt_ = now;
  return notified();
}

}  // namespace platform
