#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DebugOutput, WideAndAnsiTextReachTheSinkAsUtf8) {
  std::vector<std::string> seen;
  platform::setDebugOutputSink([&](std::string_view s) { seen.emplace_back(s); });
  platform::outputDebugString(u"Grüße €\r\n");
  platform::outputDebugStringA("Gr\xFC\xDF" "e \x80");
  platform::setDebugOutputSink({});
  platform::outputDebugStringA("not captured");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Grüße €\r\n");
  EXPECT_EQ(seen[1], "Grüße €");
}

}  // namespace
