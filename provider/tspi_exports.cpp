// The TSPI entry points of the provider plug-in.
#include "platform/module.h"

namespace {

bool providerDllMain(platform::ModuleHandle, uint32_t) { return true; }

}  // namespace

TK_DLL_MAIN(providerDllMain)
