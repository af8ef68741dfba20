// Events and waits of the platform layer, on Windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/wait.h"
#include "tests/support/test_root.h"

namespace {

TEST(WindowsWait, AutoResetEventReleasesOneWaitPerSet) {
  platform::Event event(platform::Event::Reset::Auto);
  std::thread setter([&] { event.set(); });
  EXPECT_EQ(platform::waitForSingle(event, 10000), platform::kWaitObject0);
  setter.join();
  EXPECT_EQ(platform::waitForSingle(event, 0), platform::kWaitTimeout);
}

TEST(WindowsTestMain, EveryCaseHasItsOwnRoot) {
  const char* root = std::getenv("TK_ROOT");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(tktest::currentRoot(), root);
}

}  // namespace
