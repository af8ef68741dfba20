#include "link/control/keepalive_supervision.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/control/link_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kKeepAlive{0xF2, 0x00, 0x07};
const Bytes kData{0x01, 0x02};

TEST(KeepAlivePeriod, DefaultsTo61000AndTakesAPlainNumberOfMilliseconds) {
  EXPECT_EQ(KeepAlivePeriodFromText(nullptr), 61000u);
  EXPECT_EQ(KeepAlivePeriodFromText("250"), 250u);
  for (const char* bad : {"", "0", "-5", "12ms", " 100", "99999999999999999999", "86400001"})
    EXPECT_EQ(KeepAlivePeriodFromText(bad), 61000u) << bad;
}

TEST(KeepAliveSupervision, OnlyBitZeroOfTheKeepaliveValueCounts) {
  EXPECT_TRUE(KeepAliveSupervision(3, 61000).on());
  EXPECT_EQ(KeepAliveSupervision(3, 61000).periodMs(), 61000u);
  EXPECT_TRUE(KeepAliveSupervision(1, 61000).on());
  EXPECT_FALSE(KeepAliveSupervision(2, 61000).on());
  EXPECT_EQ(KeepAliveSupervision(2, 61000).periodMs(), 0u);
}

TEST(KeepAliveSupervision, DoesNotRunBeforeTheFirstKeepAliveWhenThereIsNoTraffic) {
  KeepAliveSupervision s(1, 61000);
  EXPECT_FALSE(s.running());
  // Data frames before the first keep-alive leave it stopped.
  auto d = s.OnFrame(kData);
  EXPECT_FALSE(d.restartTimer);
  EXPECT_FALSE(d.keepAlive);
  EXPECT_FALSE(s.running());
  EXPECT_FALSE(s.seen());
}

TEST(KeepAliveSupervision, KeepAliveFramesAreEchoedAndThenEveryFrameRestartsTheTimer) {
  KeepAliveSupervision s(1, 61000);
  auto k = s.OnFrame(kKeepAlive);
  EXPECT_TRUE(k.keepAlive);
  EXPECT_TRUE(k.restartTimer);
  EXPECT_TRUE(s.seen());
  EXPECT_TRUE(s.running());

  // The timer ran out with the link up: the link is closed.
  EXPECT_TRUE(s.OnTimeout(kLinkInformationTransfer));
  EXPECT_FALSE(s.running());

  // Once seen, data frames restart it too, and are not keep-alives.
  auto d = s.OnFrame(kData);
  EXPECT_TRUE(d.restartTimer);
  EXPECT_FALSE(d.keepAlive);
  // An empty frame restarts it, but is no keep-alive.
  EXPECT_FALSE(s.OnFrame({}).keepAlive);
}

TEST(KeepAliveSupervision, ClientBlocksStartItWhenOn) {
  KeepAliveSupervision on(1, 500);
  EXPECT_TRUE(on.OnClientBlock());
  EXPECT_TRUE(on.running());
  // A time-out outside information transfer does not close the link.
  EXPECT_FALSE(on.OnTimeout(kLinkSetUp));

  KeepAliveSupervision off(0, 500);
  EXPECT_FALSE(off.OnClientBlock());
  EXPECT_FALSE(off.running());
}

TEST(KeepAliveSupervision, WhenOffKeepAliveFramesAreOrdinaryData) {
  KeepAliveSupervision s(0, 61000);
  auto k = s.OnFrame(kKeepAlive);
  EXPECT_FALSE(k.keepAlive);
  EXPECT_FALSE(k.restartTimer);
  EXPECT_FALSE(s.seen());
  EXPECT_FALSE(s.running());
}

}  // namespace
