#include <gtest/gtest.h>

namespace tktest {
void installFreshRootListener();
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tktest::installFreshRootListener();
  return RUN_ALL_TESTS();
}
