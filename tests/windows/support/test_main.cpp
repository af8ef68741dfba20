// Test main of the Windows test programs: as on Linux, every test case runs
// under its own fresh root folder (TK_ROOT).
#include <gtest/gtest.h>

namespace tktest {
void installFreshRootListener();
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tktest::installFreshRootListener();
  return RUN_ALL_TESTS();
}
