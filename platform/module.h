#pragma once
// Loading shared modules (plug-ins and libraries) at run time by their
// Windows-style names. "VNLSOCK.DLL" resolves, case-insensitively, to the
// built file "vnlsock.so" (or "libvnlsock.so") in the module search path:
// the folders in TK_MODULE_PATH (colon-separated), the folder of the running
// program, then the system directory. A name with a folder in it is used as
// a path; its file name is still matched case-insensitively.
//
// A module may define an entry point with TK_DLL_MAIN. It plays the part of
// DllMain: it is called with kDllProcessAttach when the module's load count
// in this process goes from 0 to 1, and with kDllProcessDetach just before
// the count returns to 0 and the module is unloaded.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

// Identifies a loaded module: its load address, like an HMODULE.
struct ModuleTag;
using ModuleHandle = ModuleTag*;

constexpr uint32_t kDllProcessDetach = 0;
constexpr uint32_t kDllProcessAttach = 1;

// nullptr on failure; lastModuleError() says why.
ModuleHandle loadLibrary(std::string_view name);
// False for a handle that loadLibrary did not return (or one already freed).
bool freeLibrary(ModuleHandle module);
// nullptr when the module does not export the name.
void* getProcAddress(ModuleHandle module, const char* exportName);
// The module's file path; nullptr gives the running program's.
std::string moduleFileName(ModuleHandle module);
// The module that contains an address (such as one of its own functions);
// nullptr when none does.
ModuleHandle moduleFromAddress(const void* address);

// Looks an export up into a typed function pointer; false (and fn null) when
// the module does not export the name.
template <typename Fn>
bool getProcAddress(ModuleHandle module, const char* exportName, Fn& fn) {
  fn = reinterpret_cast<Fn>(getProcAddress(module, exportName));
  return fn != nullptr;
}

// The file a name resolves to, or "" when there is none.
std::string resolveModulePath(std::string_view name);
// The reason of the last failure on the calling thread.
std::string lastModuleError();

}  // namespace platform

// The module entry the loader calls; see above. fn: bool fn(platform::ModuleHandle, uint32_t reason).
// A false result on attach makes the load fail, as a FALSE DllMain does.
#if defined(_WIN32)
// On Windows the entry is the module's DllMain, which the system's loader
// calls, also when another program loads the module (the telephony service
// loading the provider). Thread attach and detach calls are not passed on,
// nor the detach of a process that is ending (as elsewhere, only a last
// freeLibrary detaches), nor a detach after a refused attach.
#define TK_DLL_MAIN(fn)                                                                              \
  extern "C" int __stdcall DllMain(void* module, unsigned reason, void* reserved) {                \
    static bool attached = false;                                                                  \
    if (reason == ::platform::kDllProcessAttach) {                                                 \
      attached = (fn)(static_cast<::platform::ModuleHandle>(module), reason);                      \
      return attached ? 1 : 0;                                                                     \
    }                                                                                              \
    if (reason == ::platform::kDllProcessDetach && attached && reserved == nullptr) {              \
      attached = false;                                                                            \
      (fn)(static_cast<::platform::ModuleHandle>(module), reason);                                 \
    }                                                                                              \
    return 1;                                                                                      \
  }
#else
#define TK_DLL_MAIN(fn)                                                                    \
  extern "C" TK_EXPORT int TkDllMain(::platform::ModuleHandle module, uint32_t reason) { \
    return (fn)(module, reason) ? 1 : 0;                                                   \
  }
#endif
