// A plug-in for the module loader tests. Its entry point appends "attach" or
// "detach" to the file named by TK_TEST_MODULE_LOG, so a test can count the
// calls even after the module is gone.
#include <cstdlib>
#include <fstream>

#include "platform/module.h"

namespace {

int g_value = 0;

bool entry(platform::ModuleHandle self, uint32_t reason) {
  const char* log = std::getenv("TK_TEST_MODULE_LOG");
  if (log) {
    std::ofstream out(log, std::ios::app | std::ios::binary);
    out << (reason == platform::kDllProcessAttach ? "attach" : "detach") << ' '
        << (self == platform::moduleFromAddress(reinterpret_cast<const void*>(&entry)) ? "self" : "other") << '\n';
  }
  if (reason == platform::kDllProcessAttach) g_value = 42;
  return std::getenv("TK_TEST_MODULE_REFUSE") == nullptr;
}

}  // namespace

TK_DLL_MAIN(entry)

extern "C" TK_EXPORT int TestModuleValue() { return g_value; }
