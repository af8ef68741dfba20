// The pending-transaction table: lookup by RefID, deadlines across the tick
// wrap, the scan's time-outs and link-loss handling, and line aborts.
#include "provider/vnl/pending_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_clock.h"
#include "provider/open_line.h"

namespace {

using kvarsp::PendingRequest;
using kvarsp::PendingRequests;
using kvarsp::TxnContext;
using kvarsp::TxnHandler;

class PendingRequestsTest : public ::testing::Test {
 protected:
  // A handler that notes its name and the entry's RefID.
  TxnHandler Note(const std::string& what) {
    return [this, what](kvarsp::OpenLine*, const kvarsp::TspCall*, PendingRequest& entry) {
      calls.push_back(what + std::to_string(entry.key));
      return 1;
    };
  }
  LONG Register(uint8_t refId, kvarsp::OpenLine* line = nullptr, bool linkLossHandler = false,
                uint32_t timeoutMs = kvarsp::kTxnTimeoutMs) {
    return txns.lVnlTxnRegister(refId, 0, kvarsp::kTxnRegister, nullptr, line, nullptr, timeoutMs, TxnContext{},
                                Note("timeout"), Note("abort"), linkLossHandler ? Note("linkloss") : TxnHandler{});
  }

  platform::FakeClock clock{1000};
  PendingRequests txns{clock};
  std::vector<std::string> calls;
};

TEST_F(PendingRequestsTest, TheNewestEntryOfARefIdWinsAndRemovalRunsItsCompletionOnce) {
  const auto done = [this](const std::string& what) {
    return [this, what](PendingRequest& entry) {
      EXPECT_FALSE(txns.Contains(&entry)) << "unlinked before its completion";
      calls.push_back(what);
    };
  };
  ASSERT_EQ(txns.lVnlTxnRegister(7, 0, kvarsp::kTxnLinkStart, done("older"), nullptr, nullptr, 5000, {}, {}, {}), 0);
  ASSERT_EQ(txns.lVnlTxnRegister(7, 0, kvarsp::kTxnRegister, done("newer"), nullptr, nullptr, 5000, {}, {}, {}), 0);
  PendingRequest* found = txns.pVnlTxnFind(7);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->kind, kvarsp::kTxnRegister);
  EXPECT_EQ(txns.pVnlTxnFind(8), nullptr);

  EXPECT_TRUE(txns.bVnlTxnRemove(found));
  EXPECT_FALSE(txns.bVnlTxnRemove(found));  // already gone
  EXPECT_EQ(calls, std::vector<std::string>{"newer"});
  EXPECT_EQ(txns.pVnlTxnFind(7)->kind, kvarsp::kTxnLinkStart);
}

TEST_F(PendingRequestsTest, TimingAnEntryOutEarlyRunsItsTimeOutHandler) {
  ASSERT_EQ(Register(1), 0);
  PendingRequest* entry = txns.pVnlTxnFind(1);
  EXPECT_TRUE(txns.TimeOut(entry));
  EXPECT_FALSE(txns.TimeOut(entry));
  EXPECT_EQ(calls, std::vector<std::string>{"timeout1"});
}

TEST_F(PendingRequestsTest, AnEntryTimesOutOnTheFirstScanAfterItsDeadline) {
  ASSERT_EQ(Register(1), 0);
  clock.advance(5000);
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_TRUE(calls.empty()) << "exactly the deadline is not past it";
  clock.advance(500);
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_EQ(calls, std::vector<std::string>{"timeout1"});
  EXPECT_EQ(txns.Count(), 0u);
}

TEST_F(PendingRequestsTest, DeadlinesHoldAcrossTheWrapOfTheTickCount) {
  // Started 1 ms before the wrap, its deadline lies beyond it.
  clock.setTick(0xFFFFFFFFu);
  ASSERT_EQ(Register(1), 0);
  clock.advance(1);  // tick 0: the wrap alone is no time-out
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  clock.advance(4000);
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_TRUE(calls.empty());
  clock.advance(1000);
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_EQ(calls, std::vector<std::string>{"timeout1"});
}

TEST_F(PendingRequestsTest, LinkLossEndsOnlyEntriesWithALinkLossHandlerAndAsksTheLinkOnce) {
  ASSERT_EQ(Register(1, nullptr, true), 0);
  ASSERT_EQ(Register(2, nullptr, false), 0);
  ASSERT_EQ(Register(3, nullptr, true), 0);
  int asked = 0;
  txns.vVnlTxnScan(clock.tickCount(), [&] {
    ++asked;
    return false;
  });
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"linkloss3", "linkloss1"}));  // newest first
  ASSERT_EQ(txns.Count(), 1u);
  EXPECT_NE(txns.pVnlTxnFind(2), nullptr) << "waits for its deadline";

  calls.clear();
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_TRUE(calls.empty());
}

TEST_F(PendingRequestsTest, AbortingALineEndsItsEntriesOnly) {
  kvarsp::OpenLine a, b;
  ASSERT_EQ(Register(1, &a), 0);
  ASSERT_EQ(Register(2, &b), 0);
  ASSERT_EQ(Register(3, &a), 0);
  txns.vVnlTxnAbortLine(&a);
  EXPECT_EQ(calls, (std::vector<std::string>{"abort3", "abort1"}));
  ASSERT_EQ(txns.Count(), 1u);
  EXPECT_NE(txns.pVnlTxnFind(2), nullptr);
}

TEST_F(PendingRequestsTest, AHandlerMayRemoveAnotherEntryDuringTheScan) {
  // The time-out of entry 2 removes entry 1, which is due as well: entry 1
  // must not be handled after it is gone.
  ASSERT_EQ(Register(1), 0);
  ASSERT_EQ(txns.lVnlTxnRegister(2, 0, kvarsp::kTxnRegister, nullptr, nullptr, nullptr, 5000, {},
                                 [&](kvarsp::OpenLine*, const kvarsp::TspCall*, PendingRequest&) {
                                   txns.bVnlTxnRemove(txns.pVnlTxnFind(1));
                                   calls.push_back("timeout2");
                                   return 1;
                                 },
                                 {}),
            0);
  clock.advance(5001);
  txns.vVnlTxnScan(clock.tickCount(), [] { return true; });
  EXPECT_EQ(calls, std::vector<std::string>{"timeout2"});
  EXPECT_EQ(txns.Count(), 0u);
}

TEST(TxnKinds, EveryKindNamesItsRequest) {
  for (uint32_t kind = 1; kind <= 19; ++kind) EXPECT_STRNE(kvarsp::TxnKindRequest(kind), "") << kind;
  EXPECT_STREQ(kvarsp::TxnKindRequest(kvarsp::kTxnMakeCall), "VNL_CALLESTABLISH_REQ");
  EXPECT_STREQ(kvarsp::TxnKindRequest(20), "");
}

}  // namespace
