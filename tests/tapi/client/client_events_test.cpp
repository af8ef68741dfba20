// libtapi32's events: LINE_REPLY with an attachment, the USEEVENT queue and
// its time-out, callback delivery, handles routed to the application that
// holds them, and a service that goes away.
#include <gtest/gtest.h>

#include <thread>

#include "platform/wait.h"
#include "tests/support/wait_until.h"
#include "tests/tapi/client/fake_tapisrv.h"

namespace tktest {
namespace {

using tapiwire::Function;
using tapiwire::Writer;

using ClientEvents = ClientTest;

TEST_F(ClientEvents, ParkReplyWritesTheVarstringBeforeLineReplyIsQueued) {
  const HLINEAPP app = initEvent();
  VARSTRING fixed{};
  fixed.dwStringFormat = STRINGFORMAT_UNICODE;
  const Bytes parked = structureWith(fixed, 64, {{offsetof(VARSTRING, dwStringSize), u"4711"}});
  service.on(Function::Park, [&](uint32_t seq, tapiwire::Reader&) {
    return std::vector<Bytes>{FakeTapiSrv::reply(seq, 7), FakeTapiSrv::event(0, LINE_REPLY, 0, 7, 0, 0, parked)};
  });
  std::vector<uint8_t> buffer(64);
  auto* address = reinterpret_cast<VARSTRING*>(buffer.data());
  address->dwTotalSize = 64;
  EXPECT_EQ(lineParkA(0x10003, LINEPARKMODE_NONDIRECTED, nullptr, address), 7);
  EXPECT_EQ(service.lastBody(Function::Park),
            FakeTapiSrv::body(Function::Park, [](Writer& w) { w.u32(0x10003).u32(2).text(std::nullopt).u32(64); }));
  const LINEMESSAGE reply = next(app);
  EXPECT_EQ(reply.dwMessageID, LINE_REPLY);
  EXPECT_EQ(reply.dwParam1, 7u);
  EXPECT_EQ(reply.dwParam2, 0u);
  EXPECT_EQ(address->dwStringFormat, STRINGFORMAT_ASCII);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + address->dwStringOffset, address->dwStringSize),
            std::string("4711", 5));
  EXPECT_EQ(address->dwTotalSize, 64u);
}

TEST_F(ClientEvents, GetMessageTakesInOrderAndTimesOut) {
  HANDLE event = nullptr;
  const HLINEAPP app = initEvent(&event);
  auto& ready = *static_cast<platform::Waitable*>(event);
  EXPECT_EQ(platform::waitForSingle(ready, 0), platform::kWaitTimeout);
  for (DWORD state : {LINECALLSTATE_OFFERING, LINECALLSTATE_ACCEPTED, LINECALLSTATE_CONNECTED}) {
    service.send(0, FakeTapiSrv::event(0x10009, LINE_CALLSTATE, 0x42, state, 0, LINECALLPRIVILEGE_OWNER));
  }
  EXPECT_EQ(platform::waitForSingle(ready, 5000), platform::kWaitObject0);
  for (DWORD state : {LINECALLSTATE_OFFERING, LINECALLSTATE_ACCEPTED, LINECALLSTATE_CONNECTED}) {
    const LINEMESSAGE m = next(app);
    EXPECT_EQ(m.hDevice, 0x10009u);
    EXPECT_EQ(m.dwCallbackInstance, 0x42u);
    EXPECT_EQ(m.dwParam1, state);
  }
  EXPECT_EQ(platform::waitForSingle(ready, 0), platform::kWaitTimeout);  // empty: reset
  LINEMESSAGE m{};
  EXPECT_EQ(lineGetMessage(app, &m, 0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(lineGetMessage(app, &m, 20), LINEERR_OPERATIONFAILED);
}

struct Delivered {
  std::mutex mutex;
  std::vector<LINEMESSAGE> messages;
  std::vector<uint32_t> threads;
  platform::Event three{platform::Event::Reset::Manual};
};
Delivered* delivered = nullptr;

void recordMessage(DWORD hDevice, DWORD message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  std::lock_guard<std::mutex> lock(delivered->mutex);
  delivered->messages.push_back(LINEMESSAGE{hDevice, message, instance, p1, p2, p3});
  delivered->threads.push_back(platform::currentThreadId());
  if (delivered->messages.size() == 3) delivered->three.set();
}

TEST_F(ClientEvents, CallbackGetsEveryMessageInOrderOnTheLibrarysThread) {
  Delivered record;
  delivered = &record;
  initCallback(recordMessage);
  for (DWORD id : {LINE_CREATE, LINE_CREATE, LINE_REMOVE}) service.send(0, FakeTapiSrv::event(0, id, 0, id));
  ASSERT_TRUE(record.three.wait(5000));
  std::lock_guard<std::mutex> lock(record.mutex);
  EXPECT_EQ(record.messages[0].dwMessageID, LINE_CREATE);
  EXPECT_EQ(record.messages[2].dwMessageID, LINE_REMOVE);
  EXPECT_NE(record.threads[0], platform::currentThreadId());
  EXPECT_EQ(record.threads[0], record.threads[2]);
}

struct ShutdownInCallback {
  HLINEAPP app = 0;
  LONG result = 1;
  platform::Event done{platform::Event::Reset::Manual};
};
ShutdownInCallback* shutdownInCallback = nullptr;

void shutdownOnClose(DWORD, DWORD message, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (message != LINE_CLOSE) return;
  shutdownInCallback->result = lineShutdown(shutdownInCallback->app);
  shutdownInCallback->done.set();
}

TEST_F(ClientEvents, CallbackMayShutTheApplicationDown) {
  ShutdownInCallback state;
  shutdownInCallback = &state;
  state.app = initCallback(shutdownOnClose);
  forget(state.app);
  service.send(0, FakeTapiSrv::event(0x10002, LINE_CLOSE, 0, 0));
  ASSERT_TRUE(state.done.wait(5000));
  EXPECT_EQ(state.result, 0);
  EXPECT_EQ(lineShutdown(state.app), LINEERR_INVALAPPHANDLE);
}

TEST_F(ClientEvents, CallHandlesGoOnTheConnectionOfTheApplicationHoldingThem) {
  initEvent();
  const HLINEAPP second = initEvent();
  service.on(Function::Answer, [](uint32_t seq, tapiwire::Reader&) { return std::vector<Bytes>{FakeTapiSrv::reply(seq, 3)}; });
  // An incoming call announced to the second application only.
  service.send(1, FakeTapiSrv::event(0x10020, LINE_CALLSTATE, 0, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER));
  EXPECT_EQ(next(second).hDevice, 0x10020u);
  EXPECT_EQ(lineAnswer(0x10020, nullptr, 0), 3);
  EXPECT_EQ(service.last(Function::Answer).second, 1u);
  EXPECT_EQ(lineAnswer(0x10077, nullptr, 0), 3);  // unknown here: the service decides, on the first
  EXPECT_EQ(service.last(Function::Answer).second, 0u);
}

TEST_F(ClientEvents, ServiceLostFailsTheWaitingCallAndAsksForReinit) {
  const HLINEAPP app = initEvent();
  service.on(Function::Open, [](uint32_t seq, tapiwire::Reader&) {
    return std::vector<Bytes>{FakeTapiSrv::reply(seq, 0, [](Writer& w) { w.u32(0x10002); })};
  });
  service.on(Function::MakeCall, [](uint32_t, tapiwire::Reader&) { return std::vector<Bytes>{}; });  // never answers
  HLINE line = 0;
  ASSERT_EQ(lineOpenW(app, 0, &line, 0x20000, 0, 0x77, LINECALLPRIVILEGE_MONITOR, 0, nullptr), 0);
  LONG waited = 0;
  std::thread caller([&] {
    HCALL call = 0;
    waited = lineMakeCallW(line, &call, u"20", 0, nullptr);
  });
  EXPECT_TRUE(waitUntil([&] { return !service.lastBody(Function::MakeCall).empty(); }));
  service.dropClients();
  caller.join();
  EXPECT_EQ(waited, LINEERR_OPERATIONFAILED);
  const LINEMESSAGE reinit = next(app);
  EXPECT_EQ(reinit.dwMessageID, LINE_LINEDEVSTATE);
  EXPECT_EQ(reinit.hDevice, line);
  EXPECT_EQ(reinit.dwCallbackInstance, 0x77u);
  EXPECT_EQ(reinit.dwParam1, LINEDEVSTATE_REINIT);
  LINEDEVSTATUS status{};
  status.dwTotalSize = sizeof status;
  EXPECT_EQ(lineGetLineDevStatusW(line, &status), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(lineShutdown(app), 0);
  forget(app);
}

}  // namespace
}  // namespace tktest
