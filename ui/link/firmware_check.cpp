#include "ui/link/firmware_check.h"

#include <mutex>

#include "platform/module.h"
#include "platform/thread.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "ui/link/vnlui_resources.h"

namespace ui::link {

namespace {

// The layer-2 library a passed or failed check leaves loaded.
std::mutex g_libraryLock;
platform::ModuleHandle g_library = nullptr;

void keepLibrary(platform::ModuleHandle module) {
  std::lock_guard<std::mutex> lock(g_libraryLock);
  // The loader hands out the same handle again; one reference is enough.
  if (g_library) platform::freeLibrary(g_library);
  g_library = module;
}

}  // namespace

bool IsAcceptedFirmwareAnswer(std::span<const uint8_t> block) {
  return block.size() >= 10 && block[4] == 0xD0 && block[5] == 0x01 && block[7] == 0x00 && block[8] == 0x01 &&
         block[9] >= 0x30;
}

bool HasFirmwareCheckEntries(const vnl2::Entries& e) {
  return e.openConnection && e.openConnectionExA && e.openConnectionExW && e.closeConnection && e.enableNotification &&
         e.receiveData && e.sendData && e.getState;
}

int32_t RunFirmwareCheck(const vnl2::Entries& e, const FirmwareCheckHooks& hooks) {
  if (!HasFirmwareCheckEntries(e)) return 0;
  auto wait = [&hooks](std::chrono::milliseconds ms) {
    if (hooks.wait) {
      hooks.wait(ms);
    } else {
      platform::sleepMs(static_cast<uint32_t>(ms.count()));
    }
  };
  // A link that cannot be opened (another program holds the service, or it
  // cannot be started) leaves the user's choice as it is.
  if (e.openConnection(kFirmwareCheckService) == 0) return 1;
  e.sendData(kFirmwareCheckService, kFirmwareRequest.data(), static_cast<uint32_t>(kFirmwareRequest.size()));
  bool passed = false;
  std::array<uint8_t, kFirmwareReceiveSize> buffer{};
  for (int poll = 0; poll < kFirmwarePolls; ++poll) {
    wait(kFirmwarePollWait);
    const int32_t got = e.receiveData(kFirmwareCheckService, buffer.data(), kFirmwareReceiveSize);
    if (got == 0) continue;
    // A negative or oversized count is no answer that could be examined.
    passed = got > 0 && static_cast<uint32_t>(got) <= kFirmwareReceiveSize &&
             IsAcceptedFirmwareAnswer(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)));
    break;
  }
  e.sendData(kFirmwareCheckService, kFirmwareClosing.data(), static_cast<uint32_t>(kFirmwareClosing.size()));
  wait(kFirmwareClosingWait);
  e.closeConnection(kFirmwareCheckService);
  wait(kFirmwareCloseWait);
  if (passed) return 1;
  if (hooks.showBox) {
    hooks.showBox(kTextIncompatibleFirmware);
  } else {
    ShowVnluiBox(kTextIncompatibleFirmware);
  }
  return 0;
}

int32_t CheckFirmware(const FirmwareCheckHooks& hooks) {
  platform::ModuleHandle module = platform::loadLibrary("vnl2d32.dll");
  if (!module) {
    if (hooks.showBox) {
      hooks.showBox(kTextMissingDll);
    } else {
      ShowVnluiBox(kTextMissingDll);
    }
    return 0;
  }
  vnl2::Entries entries;
  vnl2::Bind(module, kFirmwareCheckEntries, entries);
  if (!HasFirmwareCheckEntries(entries)) {
    platform::freeLibrary(module);
    return 0;
  }
  const int32_t result = RunFirmwareCheck(entries, hooks);
  keepLibrary(module);
  return result;
}

void ReleaseFirmwareCheckLibrary() { keepLibrary(nullptr); }

void ShowVnluiBox(int textId) {
  platform::ui::MessageBoxW(nullptr, platform::ui::LoadStringW(kVnluiModuleName, textId),
                            platform::ui::LoadStringW(kVnluiModuleName, kTextError), platform::ui::kMbOk);
}

}  // namespace ui::link
