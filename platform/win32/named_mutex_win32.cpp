// Named mutexes on Windows: the system's own mutex objects (CreateMutexW),
// which already have every property the interface promises: owned by a
// thread, recursive for it, released by the system when the owning thread or
// process ends, with WAIT_ABANDONED telling the next owner.
//
// Names: with TK_ROOT set (tests, several roots side by side) the object's
// name is "Local\tk.<hash of the root>.<name encoded as a file name>", so
// each root has its own mutexes as on Linux, and names with any characters
// (backslashes too) stay distinct. Without TK_ROOT the name is used as it
// is, the way the system's programs name their mutexes, unless it holds a
// backslash other than a "Global\" or "Local\" namespace: then it is
// encoded as above under "tk.". lockFilePath() gives the object's name.
//
// Like the Linux backend, every NamedMutex object of one name in a process
// shares one handle and one record of the owning thread and its depth; the
// record serves one rule the system does not have: closing the last object
// releases the mutex when its owner closes it (the system would keep it
// owned until the thread ends). No threads of its own; a free mutex is taken
// and released with one system call each.
#include "platform/named_mutex.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>

#include "platform/text_internal.h"
#include "platform/win32/core_text_win32.h"

namespace platform {

struct NamedMutexState {
  std::string objectName;
  HANDLE handle = nullptr;
  // The owning thread of this process, 0 when none here owns it; written by
  // the owner only, read by others only to learn they are not it.
  std::atomic<DWORD> owner{0};
  uint32_t depth = 0;  // touched by the owner only

  ~NamedMutexState() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

namespace {

std::mutex& registryLock() {
  static std::mutex m;
  return m;
}

std::map<std::string, std::weak_ptr<NamedMutexState>>& openMutexes() {
  static std::map<std::string, std::weak_ptr<NamedMutexState>> map;
  return map;
}

std::string rootFromEnvironment() {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(L"TK_ROOT", buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) return {};
  return wincore::narrow(std::wstring_view(buffer, n));
}

// FNV-1a of the root as Windows compares paths: case and separator spelling
// do not matter, nor trailing separators.
std::string rootHash(std::string root) {
  while (!root.empty() && (root.back() == '\\' || root.back() == '/')) root.pop_back();
  uint64_t hash = 14695981039346656037ull;
  for (char c : internal::asciiLower(root)) hash = (hash ^ static_cast<unsigned char>(c == '/' ? '\\' : c)) * 1099511628211ull;
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (int shift = 60; shift >= 0; shift -= 4) text += hex[(hash >> shift) & 15];
  return text;
}

bool usableAsIs(std::string_view name) {
  for (std::string_view prefix : {"Global\\", "Local\\"}) {
    if (name.substr(0, prefix.size()) == prefix) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  return !name.empty() && name.find('\\') == std::string_view::npos;
}

std::string objectNameOf(std::string_view name) {
  const std::string root = rootFromEnvironment();
  if (!root.empty()) return "Local\\tk." + rootHash(root) + "." + internal::encodeFileName(name);
  if (usableAsIs(name)) return std::string(name);
  return "tk." + internal::encodeFileName(name);
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name) {
  const std::string objectName = objectNameOf(name);
  std::lock_guard lock(registryLock());
  auto& map = openMutexes();
  if (auto it = map.find(objectName); it != map.end()) shared_ = it->second.lock();
  if (!shared_) {
    shared_ = std::make_shared<NamedMutexState>();
    shared_->objectName = objectName;
    shared_->handle = CreateMutexW(nullptr, FALSE, wincore::widen(objectName).c_str());
    map[objectName] = shared_;
  }
}

NamedMutex::~NamedMutex() {
  std::lock_guard lock(registryLock());
  const std::string objectName = shared_->objectName;
  if (shared_.use_count() == 1) {
    // The last object of the name here: its owner releases it by closing
    // it. One that another thread still holds stays held (the handle goes,
    // the system keeps the mutex owned until that thread ends).
    NamedMutexState& s = *shared_;
    if (s.handle != nullptr && s.owner.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
      for (; s.depth > 0; --s.depth) ReleaseMutex(s.handle);
      s.owner.store(0, std::memory_order_relaxed);
    }
  }
  shared_.reset();
  auto& map = openMutexes();
  if (auto it = map.find(objectName); it != map.end() && it->second.expired()) map.erase(it);
}

bool NamedMutex::valid() const { return shared_->handle != nullptr; }

std::string NamedMutex::lockFilePath() const { return shared_->objectName; }

NamedMutex::LockResult NamedMutex::lock(uint32_t timeoutMs) {
  NamedMutexState& s = *shared_;
  if (s.handle == nullptr) return LockResult::Failed;
  const DWORD me = GetCurrentThreadId();
  switch (WaitForSingleObject(s.handle, timeoutMs)) {
    case WAIT_OBJECT_0:
      // The system counts the recursion; the record counts it too, for the
      // release on close.
      if (s.owner.load(std::memory_order_relaxed) == me) {
        ++s.depth;
      } else {
        s.owner.store(me, std::memory_order_relaxed);
        s.depth = 1;
      }
      return LockResult::Acquired;
    case WAIT_ABANDONED:
      // A thread that ended holding it may have had this thread's id.
      s.owner.store(me, std::memory_order_relaxed);
      s.depth = 1;
      return LockResult::Abandoned;
    case WAIT_TIMEOUT:
      return LockResult::Timeout;
    default:
      return LockResult::Failed;
  }
}

bool NamedMutex::unlock() {
  NamedMutexState& s = *shared_;
  if (s.handle == nullptr || !ReleaseMutex(s.handle)) return false;  // not the owner
  if (s.owner.load(std::memory_order_relaxed) == GetCurrentThreadId() && s.depth > 0 && --s.depth == 0)
    s.owner.store(0, std::memory_order_relaxed);
  return true;
}

}  // namespace platform
