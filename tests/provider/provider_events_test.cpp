// The line and call model together with the real event queue: what TAPI's
// callbacks see, on which thread, and in which order.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "tests/provider/started_provider.h"
#include "tests/support/wait_until.h"

namespace {

using kvarsp::OpenLine;
using kvarsp::TspCall;

struct Seen {
  std::string thread;
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD msg;  // 0 for a completion
  DWORD_PTR param1;
};

std::mutex seenMutex;
std::vector<Seen> seen;

void Record(Seen s) {
  std::lock_guard lock(seenMutex);
  seen.push_back(s);
}

void OnCompletion(DRV_REQUESTID id, LONG) { Record({platform::currentThreadName(), nullptr, nullptr, 0, id}); }

HTAPICALL const kTapiCallHandle = reinterpret_cast<HTAPICALL>(uintptr_t{0xCA11});

void OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  // TAPI answers LINE_NEWCALL by writing its handle of the call through dwParam2.
  if (msg == LINE_NEWCALL) *reinterpret_cast<HTAPICALL*>(p2) = kTapiCallHandle;
  Record({platform::currentThreadName(), htLine, htCall, msg, p1});
}

class ProviderEvents : public kvarsp_test::StartedProvider {
 protected:
  ProviderEvents() : StartedProvider(OnCompletion) {}
  void SetUp() override {
    seen.clear();
    StartedProvider::SetUp();
  }

  OpenLine& Open(uintptr_t htLine) { return OpenInModel(0, htLine, OnEvent); }
  std::vector<Seen> WaitForSeen(size_t count) {
    EXPECT_TRUE(tktest::waitUntil(
        [&] {
          std::lock_guard lock(seenMutex);
          return seen.size() >= count;
        },
        std::chrono::milliseconds(5000)));
    std::lock_guard lock(seenMutex);
    return seen;
  }
};

TEST_F(ProviderEvents, OfferedCallReportsItsStatesWithTheHandleTapiGaveIt) {
  ScopedLock lock(&provider.state.lock);
  OpenLine& line = Open(0x100);
  const TspCall* call = provider.state.calls.CreateOfferedCall(line, 0x42, u"", LINECALLORIGIN_EXTERNAL);
  // LINE_NEWCALL has been delivered by the time the call exists.
  EXPECT_EQ(call->htCall, kTapiCallHandle);
  provider.state.calls.SetCallState(*call, LINECALLSTATE_OFFERING, 0);
  lock.Unlock();

  auto events = WaitForSeen(2);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0].msg, LINE_NEWCALL);
  EXPECT_EQ(events[0].param1, reinterpret_cast<DWORD_PTR>(call->hdCall()));
  EXPECT_EQ(events[1].msg, LINE_CALLSTATE);
  EXPECT_EQ(events[1].htCall, kTapiCallHandle);
  for (const Seen& s : events) EXPECT_EQ(s.thread, "Events2Tapi");
}

TEST_F(ProviderEvents, OneOrderAcrossLinesAndCompletions) {
  ScopedLock lock(&provider.state.lock);
  OpenLine& a = Open(0x100);
  OpenLine& b = Open(0x200);
  auto& calls = provider.state.calls;
  const TspCall* callA = calls.CreateCall(a, reinterpret_cast<HTAPICALL>(uintptr_t{0xA}), u"30", 0, 0);
  const TspCall* callB = calls.CreateCall(b, reinterpret_cast<HTAPICALL>(uintptr_t{0xB}), u"31", 0, 0);
  b.lineStateMask = 0;  // b reports no LINE_LINEDEVSTATE at all
  b.addressStateMask = 0;
  a.addressStateMask = 0;
  calls.SetCallState(*callA, LINECALLSTATE_DIALTONE, 0);  // a: CALLSTATE, LINEDEVSTATE
  calls.SetCallState(*callB, LINECALLSTATE_DIALTONE, 0);  // b: CALLSTATE
  provider.state.events.QueueCompletion(a.htLine, 77, 0);
  calls.SetCallState(*callB, LINECALLSTATE_DIALING, 0);  // b: CALLSTATE
  lock.Unlock();

  auto events = WaitForSeen(5);
  std::vector<std::pair<HTAPILINE, DWORD>> order;
  for (const Seen& s : events) order.push_back({s.htLine, s.msg});
  std::vector<std::pair<HTAPILINE, DWORD>> expected = {
      {a.htLine, LINE_CALLSTATE}, {a.htLine, LINE_LINEDEVSTATE}, {b.htLine, LINE_CALLSTATE},
      {nullptr, 0},               {b.htLine, LINE_CALLSTATE},
  };
  EXPECT_EQ(order, expected);
}

TEST_F(ProviderEvents, LinkLossReachesTapiAsOutOfServiceAndClose) {
  ScopedLock lock(&provider.state.lock);
  OpenLine& line = Open(0x100);
  provider.state.calls.LinkLost({});
  lock.Unlock();
  auto events = WaitForSeen(3);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].param1, LINEDEVSTATE_DISCONNECTED);
  EXPECT_EQ(events[1].param1, LINEDEVSTATE_OUTOFSERVICE);
  EXPECT_EQ(events[2].msg, LINE_CLOSE);
  EXPECT_EQ(events[2].htLine, line.htLine);
}

}  // namespace
