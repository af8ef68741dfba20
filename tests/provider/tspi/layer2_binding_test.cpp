// The provider's layer-2 binding inside the loaded plug-in, over a scripted
// layer-2 library: the connection opened by the link start, the hidden
// window's notifications and receive loop, the 500 ms timer and link loss.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <optional>
#include <vector>

#include "link/api/vnl2_api.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "provider/vnl/codec/vnl_encoder.h"
#include "provider/vnl/codec/vnl_protocol.h"
#include "tests/provider/tspi/provider_fixture.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using namespace kvarsp;

// The scripted library's test controls, found in the very module the provider loaded.
struct ScriptedLayer2 {
  void (*queue)(const uint8_t*, uint32_t) = nullptr;
  int (*notify)(intptr_t) = nullptr;
  uint32_t (*sentCount)() = nullptr;
  uint32_t (*sent)(uint32_t, uint8_t*, uint32_t) = nullptr;
  uint32_t (*queued)() = nullptr;
  platform::ModuleHandle module = nullptr;

  bool Bind() {
    module = platform::loadLibrary("VNLSOCK.DLL");
    return module && platform::getProcAddress(module, "FakeVnl_Queue", queue) &&
           platform::getProcAddress(module, "FakeVnl_Notify", notify) &&
           platform::getProcAddress(module, "FakeVnl_SentCount", sentCount) &&
           platform::getProcAddress(module, "FakeVnl_Sent", sent) &&
           platform::getProcAddress(module, "FakeVnl_Queued", queued);
  }
  ~ScriptedLayer2() {
    if (module) platform::freeLibrary(module);
  }
  std::vector<uint8_t> Sent(uint32_t i) {
    std::vector<uint8_t> block(16384);
    block.resize(sent(i, block.data(), static_cast<uint32_t>(block.size())));
    return block;
  }
  bool WaitSent(uint32_t n) {
    return tktest::waitUntil([&] { return sentCount() >= n; }, 10s);
  }
  void Queue(const vnl::Message& m) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vnl::EncodeMessage(m, false, bytes), vnl::BuildStatus::Ok);
    queue(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
};

vnl::Message Confirmation(uint8_t type, uint8_t refId) {
  vnl::Message m;
  m.type = type;
  m.refId = refId;
  m.Set(vnl::kResult);
  return m;
}

vnl::Message EndIndication(uint8_t refId) {
  vnl::Message m;
  m.type = vnl::kEndInd;
  m.refId = refId;
  return m;
}

class ScriptedBinding : public tktest::ProviderFixture {
 protected:
  void SetUp() override {
    ProviderFixture::SetUp();
    UseLayer2("scripted");
    Configure(tktest::kThreeLines);
    Start();
    ASSERT_TRUE(layer2.Bind());
  }
  // Starts the link through the dialog and answers its VNL_START_REQ.
  void StartLink() {
    auto connect = std::async(std::launch::async, [this] { return Ui(UIREQ_PBX_CONNECT, 0x30).result; });
    ASSERT_TRUE(layer2.WaitSent(1));
    const std::vector<uint8_t> start = layer2.Sent(0);
    // LINK_PROTOCOL_VERSION 0x30, DRIVER_TYPE 16, nothing else.
    ASSERT_EQ(start, (std::vector<uint8_t>{0x00, start[1], 0x00, 0x06, 0x00, 0x01, 0x30, 0x01, 0x01, 0x10}));
    layer2.Queue(Confirmation(vnl::kStartConf, start[1]));
    ASSERT_EQ(layer2.notify(VNL2_DATA_IND), 1);
    ASSERT_EQ(connect.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(connect.get(), 0u);
  }

  ScriptedLayer2 layer2;
};

TEST_F(ScriptedBinding, EveryMessageWaitingBehindOneNotificationIsHandled) {
  StartLink();
  EXPECT_TRUE(TraceHas("VNL Layer 2 Interface Thread started"));
  for (uint8_t refId : {0x41, 0x42, 0x43}) layer2.Queue(EndIndication(refId));
  ASSERT_EQ(layer2.notify(VNL2_DATA_IND), 1);
  ASSERT_TRUE(layer2.WaitSent(4));
  for (uint32_t i = 1; i <= 3; ++i) {
    const std::vector<uint8_t> answer = layer2.Sent(i);
    ASSERT_GE(answer.size(), 2u);
    EXPECT_EQ(answer[0], vnl::kEndResp);
    EXPECT_EQ(answer[1], 0x40 + i);
  }
  EXPECT_TRUE(TraceHas("TK -> PC: VNL_END_IND( RefID: 67, CAUSE: 0 )"));
}

TEST_F(ScriptedBinding, LinkLossEndsTheStartedLink) {
  StartLink();
  ASSERT_EQ(layer2.notify(VNL2_DISCONNECT_IND), 1);
  ASSERT_TRUE(tktest::waitUntil([&] { return TraceHas("VNL2_DISCONNECT_IND"); }));
  // Nobody has the link started any more: the address list is refused at once.
  ASSERT_TRUE(tktest::waitUntil([&] { return Ui(UIREQ_PBX_READ).result == 20u; }));
}

TEST_F(ScriptedBinding, AnUnansweredStartTimesOutOnTheRealTimer) {
  auto connect = std::async(std::launch::async, [this] { return Ui(UIREQ_PBX_CONNECT, 0x30).result; });
  ASSERT_TRUE(layer2.WaitSent(1));
  EXPECT_NE(connect.wait_for(4500ms), std::future_status::ready);
  ASSERT_EQ(connect.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(connect.get(), 3u);
  EXPECT_TRUE(TraceHas("Timeout"));
}

// Dialog request 3 stops the thread while it holds the provider lock. The
// thread, trying that lock for a message it has read, gives up when the stop
// comes; it reads what else is waiting (the unload hands the link lock back
// while it waits) and dispatches none of it. Dialog request 28 broadcasts the
// changed settings under the provider lock: the test's listener, called
// there, plays the dialog that unloads.
TEST_F(ScriptedBinding, AnUnloadUnderTheProviderLockEndsTheThreadWithoutDispatching) {
  StartLink();
  const size_t receivedBefore = TraceCount("TK -> PC: ");
  std::optional<uint32_t> unloaded;
  const int listener = platform::addSettingChangeListener([&](std::u16string_view) {
    for (uint8_t refId : {0x51, 0x52}) layer2.Queue(EndIndication(refId));
    ASSERT_EQ(layer2.notify(VNL2_DATA_IND), 1);
    // The thread reads the first block and waits for the lock (unless a tick
    // got there first; then it reads both after the stop).
    tktest::waitUntil([&] { return layer2.queued() < 2; }, 2s);
    unloaded = Ui(UIREQ_LINK_EXIT).result;
  });
  auto dialog = std::async(std::launch::async, [this] { Ui(UIREQ_NOTIFY_TAPI); });
  if (dialog.wait_for(20s) != std::future_status::ready) {
    ADD_FAILURE() << "the unload and the link interface thread wait for each other";
    std::abort();  // nothing ends that wait
  }
  platform::removeSettingChangeListener(listener);

  EXPECT_EQ(unloaded, 0u);
  EXPECT_TRUE(TraceHas("VNL Layer 2 Interface Thread finished"));
  EXPECT_EQ(layer2.queued(), 0u);
  EXPECT_EQ(TraceCount("TK -> PC: "), receivedBefore + 2);  // the raw lines of both blocks only
  EXPECT_FALSE(TraceHas("VNL_END_IND"));
  EXPECT_EQ(layer2.sentCount(), 1u);  // the start request; no VNL_END_RESP
}

}  // namespace
