#include "tapi/host/provider_harness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/debug_output.h"
#include "tests/support/harness_violations.h"

namespace {

using tapihost::CallbackRecord;
using tapihost::ProviderHarness;

std::string providerPath(const char* behaviour) {
  return std::string(TK_FAKE_PROVIDER_DIR) + "/fakesp_" + behaviour + ".tsp";
}

constexpr DWORD kVersion = 0x20000;
constexpr DWORD kProviderId = 3;

// Loads and starts a fake provider; shuts it down at the end.
struct Started {
  explicit Started(ProviderHarness& h, const char* behaviour) : h(h) {
    EXPECT_TRUE(h.load(providerPath(behaviour))) << h.loadError();
    DWORD lines = 0, phones = 0;
    EXPECT_EQ(h.enumDevices(kProviderId, &lines, &phones), 0);
    EXPECT_EQ(lines, 1u);
    DWORD options = 0;
    EXPECT_EQ(h.init(kVersion, kProviderId, 0, lines, &options), 0);
    EXPECT_EQ(options, LINETSPIOPTION_NONREENTRANT);
  }
  ProviderHarness& h;
};

TEST(ProviderHarness, RecordsCallbacksInOrderAndAnswersLineNewCall) {
  ProviderHarness h(tktest::failTestOnViolation);
  Started s(h, "good");

  HDRVLINE hdLine = nullptr;
  auto htLine = reinterpret_cast<HTAPILINE>(uintptr_t{0x1000});
  ASSERT_EQ(TSPI_CALL(h, TSPI_lineOpen, DWORD{0}, htLine, &hdLine, kVersion, ProviderHarness::lineEventCallback()), 0);
  auto drop = TSPI_CALL_ASYNC(h, TSPI_lineDrop, HDRVCALL{}, LPCSTR{}, DWORD{0});
  EXPECT_TRUE(drop.accepted());
  EXPECT_EQ(h.waitForCompletion(drop.requestId), 0);
  ASSERT_TRUE(h.waitFor([](const auto& r) { return r.size() >= 4; }));

  auto records = h.records();
  ASSERT_EQ(records.size(), 4u);
  // LINE_CREATE through the line-create callback of TSPI_providerEnumDevices.
  EXPECT_EQ(records[0].kind, CallbackRecord::Kind::LineCreate);
  EXPECT_EQ(records[0].msg, LINE_CREATE);
  EXPECT_EQ(records[0].param1, reinterpret_cast<DWORD_PTR>(ProviderHarness::providerHandle()));
  EXPECT_EQ(records[0].param2, 7u);

  EXPECT_EQ(records[1].msg, LINE_NEWCALL);
  EXPECT_EQ(records[1].htLine, htLine);
  ASSERT_NE(records[1].newHtCall, nullptr);
  // The provider reports the call state on the htCall the host wrote back.
  EXPECT_EQ(records[2].msg, LINE_CALLSTATE);
  EXPECT_EQ(records[2].htCall, records[1].newHtCall);
  EXPECT_EQ(records[2].param1, LINECALLSTATE_OFFERING);
  EXPECT_EQ(records[3].kind, CallbackRecord::Kind::Completion);
  EXPECT_EQ(records[3].requestId, drop.requestId);
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].sequence, i + 1);
  // Everything after start-up came from the provider's own thread.
  for (const auto& r : records) {
    EXPECT_NE(r.threadId, platform::currentThreadId());
    EXPECT_EQ(r.threadId, records[0].threadId);
  }

  // A request the function refused synchronously is never completed.
  auto answer = TSPI_CALL_ASYNC(h, TSPI_lineAnswer, HDRVCALL{}, LPCSTR{}, DWORD{0});
  EXPECT_EQ(answer.result, LINEERR_INVALCALLSTATE);
  EXPECT_FALSE(answer.accepted());

  EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
  EXPECT_TRUE(h.violations().empty());
}

TEST(ProviderHarness, CatchesAProviderThatCompletesARequestTwice) {
  tktest::ViolationCollector collected;
  ProviderHarness h(collected.handler());
  Started s(h, "complete_twice");
  auto drop = TSPI_CALL_ASYNC(h, TSPI_lineDrop, HDRVCALL{}, LPCSTR{}, DWORD{0});
  ASSERT_TRUE(h.waitFor([](const auto& r) { return r.size() >= 3; }));
  EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
  EXPECT_TRUE(collected.anyContains("request ID " + std::to_string(drop.requestId) + " of TSPI_lineDrop completed twice"))
      << testing::PrintToString(collected.messages());
}

TEST(ProviderHarness, CatchesAProviderThatCallsBackFromInsideATspiCall) {
  tktest::ViolationCollector collected;
  ProviderHarness h(collected.handler());
  Started s(h, "call_inside");
  // The line-create callback already came from inside TSPI_providerEnumDevices.
  EXPECT_TRUE(collected.anyContains("on the thread of TSPI_providerEnumDevices"));
  TSPI_CALL_ASYNC(h, TSPI_lineDrop, HDRVCALL{}, LPCSTR{}, DWORD{0});
  EXPECT_TRUE(collected.anyContains("on the thread of TSPI_lineDrop while that call was running"))
      << testing::PrintToString(collected.messages());
  EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
}

TEST(ProviderHarness, CatchesCallbacksAfterShutdownAndRequestsNeverCompleted) {
  {
    tktest::ViolationCollector collected;
    ProviderHarness h(collected.handler());
    Started s(h, "never_complete");
    TSPI_CALL_ASYNC(h, TSPI_lineDrop, HDRVCALL{}, LPCSTR{}, DWORD{0});
    EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
    EXPECT_TRUE(collected.anyContains("never completed before TSPI_providerShutdown returned"));
  }
  {
    tktest::ViolationCollector collected;
    ProviderHarness h(collected.handler());
    Started s(h, "after_shutdown");
    EXPECT_EQ(h.shutdown(kVersion, kProviderId), 0);
    ASSERT_TRUE(h.waitFor([](const auto& r) { return r.size() >= 2; }));
    EXPECT_TRUE(collected.anyContains("after TSPI_providerShutdown had returned"));
  }
}

TEST(ProviderHarness, MissingExportsAndFilesAreReported) {
  tktest::ViolationCollector collected;
  ProviderHarness h(collected.handler());
  EXPECT_FALSE(h.load("/nonexistent/provider.tsp"));
  EXPECT_FALSE(h.loadError().empty());
  ASSERT_TRUE(h.load(providerPath("good")));
  EXPECT_EQ(TSPI_CALL(h, TSPI_lineClose, HDRVLINE{}), LINEERR_OPERATIONUNAVAIL);
  EXPECT_TRUE(collected.anyContains("does not export TSPI_lineClose"));
}

TEST(ProviderHarness, HarnessesRunSideBySideButNeverOnTheSamePlugin) {
  ProviderHarness first(tktest::failTestOnViolation);
  HTAPILINE endedLine = nullptr;
  {
    ProviderHarness second(tktest::failTestOnViolation);
    EXPECT_NE(first.hProvider(), second.hProvider());
    // Each harness knows its own htLine values, and only those.
    EXPECT_EQ(second.deviceOfHtLine(second.htLineFor(3)), 3u);
    EXPECT_EQ(first.deviceOfHtLine(second.htLineFor(3)), std::nullopt);
    ASSERT_TRUE(first.load(providerPath("good")));
    EXPECT_FALSE(second.load(providerPath("good")));
    EXPECT_THAT(second.loadError(), testing::HasSubstr("fakesp_good.tsp already runs in another harness"));
    EXPECT_TRUE(second.load(providerPath("complete_twice"))) << second.loadError();
    endedLine = second.htLineFor(0);
  }
  // Events naming the line of a harness that has ended go nowhere but to the debug output.
  std::vector<std::string> notes;
  std::mutex notesLock;
  platform::setDebugOutputSink([&](std::string_view text) {
    std::lock_guard lock(notesLock);
    notes.emplace_back(text);
  });
  Started s(first, "good");
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(TSPI_CALL(first, TSPI_lineOpen, DWORD{0}, endedLine, &hdLine, kVersion, ProviderHarness::lineEventCallback()), 0);
  auto drop = TSPI_CALL_ASYNC(first, TSPI_lineDrop, HDRVCALL{}, LPCSTR{}, DWORD{0});
  EXPECT_EQ(first.waitForCompletion(drop.requestId), 0);  // after the events, from the same worker
  EXPECT_EQ(first.shutdown(kVersion, kProviderId), 0);
  platform::setDebugOutputSink({});
  EXPECT_EQ(first.records().size(), 2u);  // LINE_CREATE and the completion
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_THAT(notes[0], testing::HasSubstr("LINE_NEWCALL"));
  EXPECT_THAT(notes[1], testing::HasSubstr("names an htLine no running harness gave out; dropped"));
}

}  // namespace
