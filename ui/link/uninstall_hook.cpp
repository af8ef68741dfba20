#include "ui/link/uninstall_hook.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/module.h"
#include "platform/thread.h"

namespace ui::link {

namespace {

// TAPI 1.4 has no lineInitializeEx; the hook initialises with lineInitialize then.
constexpr DWORD kApiVersion14 = 0x10004;
constexpr DWORD kFirstListSize = 4096;
// A service that keeps asking for more is not followed for ever.
constexpr int kMaxListCalls = 8;
constexpr DWORD kMaxListSize = 16u << 20;

void TK_WINAPI ignoreLineEvent(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// The file name part of a provider entry: providers may be registered by
// path (tksetup stores the plug-in's absolute path), so what is compared is
// the text after the last folder separator.
std::string_view fileNamePart(std::string_view file) {
  const size_t slash = file.find_last_of("/\\");
  return slash == std::string_view::npos ? file : file.substr(slash + 1);
}

// The permanent id of the first entry whose file name is `wanted` (exactly,
// case-sensitive); 0 when none. Offsets and sizes the list gives are checked
// against the bytes it holds.
DWORD findProvider(const std::vector<DWORD>& words, std::string_view wanted) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(words.data());
  const size_t size = words.size() * sizeof(DWORD);
  LINEPROVIDERLIST list;
  std::memcpy(&list, bytes, sizeof list);
  const size_t used = std::min<size_t>(list.dwUsedSize, size);
  for (DWORD i = 0; i < list.dwNumProviders; ++i) {
    const size_t at = size_t{list.dwProviderListOffset} + size_t{i} * sizeof(LINEPROVIDERENTRY);
    if (at + sizeof(LINEPROVIDERENTRY) > used) break;
    LINEPROVIDERENTRY entry;
    std::memcpy(&entry, bytes + at, sizeof entry);
    if (entry.dwProviderFilenameOffset > used || entry.dwProviderFilenameSize > used - entry.dwProviderFilenameOffset)
      continue;
    std::string_view name(reinterpret_cast<const char*>(bytes + entry.dwProviderFilenameOffset),
                          entry.dwProviderFilenameSize);
    name = name.substr(0, name.find('\0'));
    if (fileNamePart(name) == wanted) return entry.dwPermanentProviderID;
  }
  return 0;
}

// lineGetProviderList into a zero-filled buffer of 4096 bytes, grown to the
// size the service needs; false when a call fails.
bool providerList(const UninstallTapi& tapi, DWORD apiVersion, std::vector<DWORD>& words) {
  DWORD total = kFirstListSize;
  for (int call = 0; call < kMaxListCalls; ++call) {
    words.assign(total / sizeof(DWORD), 0);
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(words.data());
    list->dwTotalSize = total;
    if (tapi.lineGetProviderList(apiVersion, list) < 0) return false;
    if (list->dwNeededSize <= list->dwTotalSize) return true;
    if (list->dwNeededSize > kMaxListSize) return false;
    total = (list->dwNeededSize + sizeof(DWORD) - 1) / sizeof(DWORD) * sizeof(DWORD);
  }
  return false;
}

}  // namespace

int32_t RunUninstallHook(const UninstallTapi& tapi, platform::WindowHandle owner, void* instance,
                         const UninstallOptions& options) {
  const bool extended = options.apiVersion != kApiVersion14;
  if (!(extended ? tapi.lineInitializeExA != nullptr : tapi.lineInitialize != nullptr) || !tapi.lineRemoveProvider ||
      !tapi.lineShutdown)
    return -1;
  const std::string appName = options.appName.empty() ? platform::moduleFileName(nullptr) : options.appName;
  auto* hInstance = static_cast<HINSTANCE>(instance);

  HLINEAPP app = 0;
  LONG result = 0;
  for (int attempt = 0; attempt < kUninstallInitAttempts; ++attempt) {
    DWORD devices = 0;
    if (extended) {
      DWORD version = options.apiVersion;
      LINEINITIALIZEEXPARAMS params{};
      params.dwTotalSize = sizeof params;
      params.dwNeededSize = sizeof params;
      params.dwUsedSize = sizeof params;
      params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
      result = tapi.lineInitializeExA(&app, hInstance, &ignoreLineEvent, appName.c_str(), &devices, &version, &params);
    } else {
      result = tapi.lineInitialize(&app, hInstance, &ignoreLineEvent, appName.c_str(), &devices);
    }
    if (result != LINEERR_REINIT) break;
    // The service is re-initialising; it asks to try again a little later.
    if (options.wait) {
      options.wait(kUninstallReinitWait);
    } else {
      platform::sleepMs(static_cast<uint32_t>(kUninstallReinitWait.count()));
    }
  }
  if (result < 0) return -1;

  // Without the provider list (lineGetProviderList missing or failing) there
  // is no telling whether the provider is registered: that is a failure, not
  // "not registered", or an uninstaller would delete a registered provider.
  std::vector<DWORD> words;
  const bool listed = tapi.lineGetProviderList != nullptr && providerList(tapi, options.apiVersion, words);
  const DWORD id = listed ? findProvider(words, options.providerFile) : 0;
  int32_t outcome = listed ? 0 : -1;
  if (id != 0 && tapi.lineRemoveProvider(id, reinterpret_cast<HWND>(owner)) < 0) outcome = -1;
  tapi.lineShutdown(app);
  return outcome;
}

int32_t UninstInitializeHook(platform::WindowHandle owner, void* instance) {
  platform::ModuleHandle module = platform::loadLibrary("TAPI32");
  if (!module) return -1;
  UninstallTapi tapi;
  platform::getProcAddress(module, "lineInitializeExA", tapi.lineInitializeExA);
  platform::getProcAddress(module, "lineInitialize", tapi.lineInitialize);
  platform::getProcAddress(module, "lineGetProviderList", tapi.lineGetProviderList);
  platform::getProcAddress(module, "lineRemoveProvider", tapi.lineRemoveProvider);
  platform::getProcAddress(module, "lineShutdown", tapi.lineShutdown);
  const int32_t result = RunUninstallHook(tapi, owner, instance, UninstallOptions{});
  platform::freeLibrary(module);
  return result;
}

int32_t UninstUnInitializeHook() { return 0; }

}  // namespace ui::link
