#pragma once
// The uninstall hook that vnlui and VNL2U32 export as UninstInitialize: an
// uninstaller calls it before it deletes the installation, and it removes the
// system's telephony provider ("kvarsp64.tsp", the one provider file this
// platform builds) from the telephony service's provider list.
//
// In: the owner window for the telephony service's messages and the caller's
// module instance. Out: 0 when the provider is gone (removed, or not in the
// service's provider list), -1 when the telephony service could not be used,
// its provider list could not be read, or it refused the removal. An entry
// counts when the file name part of its provider file (providers may be
// registered by path) equals "kvarsp64.tsp" exactly, in the same letter case.
// Runs on the caller's thread and blocks it: up to about 20 s when the
// service keeps asking for re-initialisation (four attempts, 5 s apart).
//
// The telephony functions are looked up by name in "TAPI32" and go through a
// table of function pointers, so tests can run the logic against a fake
// table and a wait that does not sleep.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/window.h"
#include "tapi/tapi32.h"

namespace ui::link {

// The API version the hook asks for and the provider file it looks for.
inline constexpr uint32_t kUninstallApiVersion = 0x20000;
inline constexpr const char kUninstallProviderFile[] = "kvarsp64.tsp";
// How often the hook tries to initialise while the service re-initialises,
// and how long it waits after each refused attempt.
inline constexpr int kUninstallInitAttempts = 4;
inline constexpr std::chrono::milliseconds kUninstallReinitWait{5000};

// The telephony functions the hook uses, with TAPI32's own signatures. A null
// entry is a function the library does not export.
struct UninstallTapi {
  decltype(&::lineInitializeExA) lineInitializeExA = nullptr;
  decltype(&::lineInitialize) lineInitialize = nullptr;
  decltype(&::lineGetProviderList) lineGetProviderList = nullptr;
  decltype(&::lineRemoveProvider) lineRemoveProvider = nullptr;
  decltype(&::lineShutdown) lineShutdown = nullptr;
};

// What the hook needs besides the functions: the API version and file name to
// look for, the host program's file name (the application name it registers
// under) and the wait between re-initialisation attempts.
struct UninstallOptions {
  uint32_t apiVersion = kUninstallApiVersion;
  std::string providerFile = kUninstallProviderFile;
  std::string appName;                                  // empty: the running program's file name
  std::function<void(std::chrono::milliseconds)> wait;  // empty: sleep
};

// Runs the hook over a function table (the testable core). 0 or -1 as above.
// The owner is handed to lineRemoveProvider as its HWND.
int32_t RunUninstallHook(const UninstallTapi& tapi, platform::WindowHandle owner, void* instance,
                         const UninstallOptions& options);

// The exported hooks' bodies: load "TAPI32", look the functions up, run the
// hook, unload. UninstUnInitializeHook does nothing and returns 0.
int32_t UninstInitializeHook(platform::WindowHandle owner, void* instance);
int32_t UninstUnInitializeHook();

}  // namespace ui::link
