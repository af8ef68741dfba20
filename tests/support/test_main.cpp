#include <gtest/gtest.h>

#include <cstdlib>

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
