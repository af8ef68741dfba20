#include <gtest/gtest.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
// Qt's font set-up (the dialog tests) leaves fontconfig's configuration
// allocated until the process ends; not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace tktest {
void installFreshRootListener();
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A serial link name that no test linked into its root must not reach the
  // machine's own serial ports; every program a test starts inherits this.
  setenv("TK_SERIAL_SYSTEM_PORTS", "0", 1);
  tktest::installFreshRootListener();
  return RUN_ALL_TESTS();
}
